// ulvdemoengine: a small setup engine for the sample setup. Started by the launcher from the work
// folder, it installs the files unpacked beside it into the product's folder, writes the
// product's ".original" file there and reports completion by deleting the token atom. Its
// settings file "DemoEngine.ini" lies beside it:
//
//   [Install]
//   TargetDir=C:\Program Files\Sample Product   where the files go (made when missing)
//   ProductName=Sample Product
//   Version=1.0.0                                shown in the .original file
//   VersionNumber=100                            the version as the update agent compares it
//   OriginalFile=SampleProduct.original          the .original file's name in TargetDir
//   [AutoUpdate] and [MsgBox]                    copied key by key into the .original file: the
//                                                update agent's texts and box settings
//
// Everything beside the engine is installed, subfolders included, except the engine itself and
// its settings file. While it works it keeps its dialog window (class ".SDialog_Class_Name." +
// the "/TH_ID=" suffix), so the launcher waits for it; each installed file is reported as a
// trace line. Exit code 0 when every file was installed, 1 otherwise.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "util/CommandLine.h"
#include "util/Files.h"
#include "util/Handles.h"
#include "util/UDebug.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

// Relative names of the files below `folder` (prefix `relative`), subfolders first visited.
void CollectFiles(const std::string& folder, const std::string& relative, std::vector<std::string>& names)
{
    WIN32_FIND_DATAA fd{};
    UniqueFindHandle find(FindFirstFileA((folder + "\\*").c_str(), &fd));
    if (!find)
        return;
    do {
        const std::string name = fd.cFileName;
        if (name == "." || name == "..")
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                CollectFiles(folder + "\\" + name, relative + name + "\\", names);
        } else {
            names.push_back(relative + name);
        }
    } while (FindNextFileA(find.Get(), &fd));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    const std::string tail = CommandTailOf(GetCommandLineA(), ExePath());
    const std::string suffix = SwitchValueIn(tail, "/TH_ID=");
    const std::string source = ExeFolder(false);
    const std::string ini = ExeFolder(true) + "DemoEngine.ini";
    const std::string target = SetTrailingBackslash(
        ReadIniString(ini, "Install", "TargetDir", "C:\\Program Files\\Sample Product"), false);
    const std::string product = ReadIniString(ini, "Install", "ProductName", "Sample Product");
    const std::string version = ReadIniString(ini, "Install", "Version", "1.0.0");
    const std::string versionNumber = ReadIniString(ini, "Install", "VersionNumber", "100");
    const std::string originalName = ReadIniString(ini, "Install", "OriginalFile", "SampleProduct.original");

    // The dialog the launcher waits for, kept for the length of the installation.
    const std::string dialogClass = ".SDialog_Class_Name." + suffix;
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.lpszClassName = dialogClass.c_str();
    RegisterClassA(&wc);
    const HWND dialog = CreateWindowExA(0, dialogClass.c_str(), (product + " Setup").c_str(), WS_OVERLAPPEDWINDOW,
                                        80, 80, 360, 120, nullptr, nullptr, instance, nullptr);

    TracePid(" DemoEngine: installing " + product + " " + version + " into " + target);
    std::vector<std::string> names;
    CollectFiles(source, "", names);
    const std::string self = UpperCase(ExePath().substr(source.size() + 1));
    bool allDone = ForceDirectories(target);
    for (const auto& name : names) {
        if (UpperCase(name) == self || SameText(name, "DemoEngine.ini"))
            continue;
        const std::string to = target + "\\" + name;
        ForceDirectories(to.substr(0, to.find_last_of('\\')));
        const bool copied = CopyFileA((source + "\\" + name).c_str(), to.c_str(), FALSE) != FALSE;
        allDone = allDone && copied;
        TracePid(" DemoEngine: " + std::string(copied ? "installed " : "FAILED ") + name);
    }

    const std::string original = target + "\\" + originalName;
    WriteIniString(original, "General", "ProductName", product);
    WriteIniString(original, "General", "Version", version);
    WriteIniString(original, "OriginalSetup", "ProgramName", product);
    WriteIniString(original, "OriginalSetup", "VersionOriginal", versionNumber);
    WriteIniString(original, "Directories", "TargetDir", target);
    // The agent's texts and dialog settings, as the setup's author wrote them for this product.
    for (const char* section : {"AutoUpdate", "MsgBox"}) {
        std::vector<char> keys(32768);
        const DWORD n = GetPrivateProfileSectionA(section, keys.data(), static_cast<DWORD>(keys.size()), ini.c_str());
        for (const char* entry = keys.data(); entry < keys.data() + n && *entry != '\0'; entry += strlen(entry) + 1) {
            const std::string line = entry;
            const size_t equals = line.find('=');
            if (equals != std::string::npos)
                WriteIniString(original, section, line.substr(0, equals), line.substr(equals + 1));
        }
    }
    TracePid(" DemoEngine: wrote " + original);

    if (dialog)
        DestroyWindow(dialog);
    // Deleting the token atom tells the launcher that the setup completed.
    if (allDone) {
        if (const ATOM atom = GlobalFindAtomA(("AutoUpdateAtomTokenByUlvane" + suffix).c_str()))
            GlobalDeleteAtom(atom);
    }
    TracePid(std::string(" DemoEngine: ") + (allDone ? "completed" : "incomplete"));
    return allDone ? 0 : 1;
}
