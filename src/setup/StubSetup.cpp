#include <windows.h>

#include "setup/StubSetup.h"

#include <array>
#include <exception>

#include "inet/CommUtils.h"
#include "inet/InetHTTP.h"
#include "inet/UProgBar.h"
#include "pack/PackToken.h"
#include "pack/PackX.h"
#include "pack/StubRun.h"
#include "pack/UnPack.h"
#include "setup/SetupText.h"
#include "ui/UMsgBox.h"
#include "util/FileHash.h"
#include "util/Files.h"
#include "util/HashText.h"
#include "util/Process.h"
#include "util/UDebug.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

constexpr char DefaultButtons[] = "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|";
// The error text of a download the user declined: it stops the flow like an error but is not shown.
constexpr char DeclinedMarker[] = "!";
constexpr char SpanDiskKey[] = "HKEY_CURRENT_USER\\Software\\Dravocel\\Ulvane\\SpanDisk";

// The alternative temporary root and work folder: chosen and made at most once per process.
bool g_alternativeProbed = false;
std::string g_alternativeRoot;
bool g_alternativeMade = false;
std::string g_alternativeWorkFolder;

// The status label's font; the label uses it until the next SetStatusText replaces it.
UniqueGdiObject g_statusFont;

std::string SettingsFileBeside(const std::string& fileName)
{
    return fileName.empty() ? std::string() : ExeFolder(true) + fileName;
}

// The free bytes a probe file could be written next to on a fixed drive; 0 when the drive is no
// fixed disk or refuses the probe.
double ProbeDrive(char drive)
{
    const std::string root = std::string(1, drive) + ":\\";
    if (GetDriveTypeA(root.c_str()) != DRIVE_FIXED)
        return 0;
    const std::string temp = root + "TEMP";
    // An existing TEMP folder is never the probe: only what the probe made is deleted again.
    const std::string probe = FolderExists(temp) ? temp + "\\TEMP" + RandomNumberText(10000, 100000) : temp;
    ForceDirectories(probe);
    WriteTextFile(probe + "\\~aa.tmp", "aa", 0, false);
    const double available = FileExists(probe + "\\~aa.tmp") ? DiskFreeBytes(probe) : 0;
    DeleteFolderTree(probe, false);
    return available > 0 ? available : 0;
}

// Deletes the shortcut a completed setup no longer wants, when the INFO file asks for it.
void RemoveShortcut(const std::string& infoFile, const std::string& flagKey, const std::string& link)
{
    if (ReadIniString(infoFile, "NewSetup", flagKey, "0") == "1" && !link.empty() && FileExists(link))
        DeleteFileA(link.c_str());
}

// Starts the engine and waits for it and its dialog window; true when it deleted the token atom.
bool RunEngine(const TGFileInfo& reader, const std::string& workFolder, const std::string& mainFile,
               const std::string& extraSwitches, bool foreground)
{
    EngineCommandInput in;
    in.workFolder = workFolder;
    in.mainFile = mainFile;
    in.extraSwitches = extraSwitches;
    in.tokenSuffix = TokenSuffix(GetCurrentThreadId());
    in.ownPath = ExePath();
    // A setup that runs as an update: launched from an agent's container, or itself one.
    in.updateContainer = reader.ThisIs_AutoUpdateProg() || ThisIs_AutoUpdateProg();
    const std::string commandLine =
        EngineCommandLine(in, [](unsigned char c) { return IsDBCSLeadByte(c) != FALSE; });

    // Read before the engine runs: the engine may rewrite the .original file.
    const std::string original = OriginalFilePath();
    const std::string startUpLink = ReadIniString(original, "UnInstall", "StartUpLink", "");
    const std::string checkLink = ReadIniString(original, "UnInstall", "CheckforNewUpdateLink", "");

    TracePid(" ==== WinExec(Engine.exe) >>" + commandLine + "<<");
    const std::string atomName = TokenAtomPrefix + in.tokenSuffix;
    UniqueGlobalAtom atom(GlobalAddAtomA(atomName.c_str()));
    const UniqueKernelHandle process = StartProcess(commandLine, foreground ? SW_SHOW : SW_HIDE);
    const std::string startError = process ? std::string() : LastErrorText();  // before other calls reset it
    ShowWindow(StubWindow(), SW_HIDE);
    WaitPumping(0, 1000);
    if (process) {
        WaitForProcessEnd(process.Get());
        DWORD code = 0;
        SetStubExitCode(GetExitCodeProcess(process.Get(), &code) ? static_cast<int>(code) : 0);
    } else {
        // A setup whose engine never ran has failed, even though there is no engine code to pass on.
        TracePid(" ==== Engine not started: " + startError);
        SetStubExitCode(static_cast<int>(ExitCodeEngineNotStarted));
    }
    WaitWhileWindowExists(EngineDialogClassPrefix + in.tokenSuffix, "");
    WaitPumping(0, 1000);

    const bool completed = GlobalFindAtomA(atomName.c_str()) == 0;
    if (completed)
        atom.Release();  // the engine deleted it; its number may already name another program's atom
    else
        atom.Reset();
    if (completed) {
        const std::string info = InfoFilePath();
        RemoveShortcut(info, "RemoveStartUpShortcut", startUpLink);
        RemoveShortcut(info, "RemoveCheckForNewUpdateShortcut", checkLink);
    }
    return completed;
}

}  // namespace

std::string SetupWorkFolderName(const std::string& tempFolder, unsigned dosTime)
{
    return SetTrailingBackslash(tempFolder, true) + "SETUP_" + IntToStr(dosTime & 0xFFFF);
}

std::string SetupWorkFolder()
{
    static const std::string folder = [] {
        const std::string name = SetupWorkFolderName(TempFolder(true), FileDosDate(ExePath()) & 0xFFFF);
        DeleteFolderTree(name, true);
        ForceDirectories(name);
        return name;
    }();
    return folder;
}

std::string InfoFilePath()
{
    return SettingsFileBeside(OwnFileInfo().InfoFileName());
}

std::string OriginalFilePath()
{
    return OwnFileInfo().InfoFileName().empty() ? std::string() : SettingsFileBeside(OwnFileInfo().OriginalFileName());
}

void RunInternetSetup(const TGFileInfo& own)
{
    std::string location = own.DownloadUrl();
    if (own.InstallAgent() && !own.AgentExeName().empty())
        WriteAgentCopy(own.AgentExeName());
    // A copy of the setup file beside the stub (a CD, a network share) spares the download.
    if (!own.AlwaysDownload() && FileExists(ExeFolder(true) + own.DownloadFileName()))
        location = ExeFolder(false);
    DownloadAndLaunchSetup(SetupWorkFolder(), location, own.DownloadFileName());
}

void WriteAgentCopy(const std::string& agentFileName)
{
    const std::string image = AgentCopyImage(ReadFilePart(ExePath(), 0, 0));
    WriteTextFile(SetupWorkFolder() + "\\" + agentFileName, image, FileDosDate(ExePath()), false);
}

void DownloadAndLaunchSetup(const std::string& workFolder, const std::string& location, const std::string& fileName)
{
    const TGFileInfo& own = OwnFileInfo();
    const std::string buttons = own.LangString("BtnText", DefaultButtons);
    const int charset = own.LangCharset();
    std::string error;
    bool downloaded = false;
    const std::string localCandidate = SetTrailingBackslash(location, true) + fileName;
    const std::string address = location + "/" + fileName;
    const bool hidden = SwitchPresent("/hide") || own.HiddenSetup();
    uint32_t failureCode = 0;

    std::string setupFile;
    if (FileExists(localCandidate)) {
        setupFile = localCandidate;
    } else {
        SetStatusText(StubStatusLabel(), own.LangString("s10", "Downloading File..."), own.LangFontName(), charset,
                      own.LangFontSize());
        if (own.ConfirmDownload() && !hidden) {
            const std::string question = DownloadQuestion(
                own.LangString("s11", "<b>INTERNET DOWNLOAD</b><p><p>Ulvane will download the Setup File from the "
                                      "Internet...<p>Please make sure your Internet connection is properly "
                                      "set.<p><p>Continue with Setup?<p><P>Size: <SIZE> MB<P>"),
                own.DownloadSize());
            if (!AskYesNo(0, question, own.LangString("Confirm", "Confirm"), buttons, charset))
                error = DeclinedMarker;
        }
        // Asked even after a No: a user without a connection learns why nothing could happen.
        std::string detail;
        if (!InternetConnected(detail)) {
            error = NoConnectionMessage(own.LangString("s12", "No valid Internet Connection.<p>Can not Download File!"),
                                        detail);
            failureCode = ExitCodeDownloadFailed;
        }
        SetDownloadAbortFlag(false);
        setupFile = TempFolder(true) + fileName;
        TProgBar& bar = SharedProgBar(StubProgress);
        if (error.empty()) {
            std::string unused;
            HTTP_DownloadFile_Incremental(hidden ? nullptr : StubWindow(), address, setupFile, error, &bar, unused,
                                          PinnedDownloadLimit(own.DownloadSha256(), own.DownloadSize()));
            downloaded = error.empty();
            if (!downloaded)
                failureCode = ExitCodeDownloadFailed;
        }
        WaitPumping(0, 300);
        StubProgress(0, 10, 0, 1);
        WaitPumping(0, 700);
    }

    // A pinned setup must be the very file its web installer was built for, before anything else
    // is read from it; a copy beside the launcher is held to it as well.
    if (error.empty() && !own.DownloadSha256().empty() && !Sha256Accepts(own.DownloadSha256(), FileSha256(setupFile))) {
        error = ErrorPageText(setupFile, "", address, "Bad SHA-256 Hash!", false);
        failureCode = ExitCodeForeignSetup;
    }
    if (error.empty()) {
        const TGFileInfo setup(setupFile);
        if (!DownloadTokensMatch(own, setup)) {
            // A server's error page saved under the setup's name is told apart from another
            // product's setup: the user can do something about the first.
            error = ErrorPageText(setupFile, "", address, "Bad Secret Token!", false);
            failureCode = ExitCodeForeignSetup;
        }
    }
    if (error.empty())
        LaunchSetupEngine(workFolder, setupFile, "", CommandTail(), !hidden);
    if (downloaded)
        DeleteFileA(setupFile.c_str());
    if (failureCode != 0)
        SetStubExitCode(static_cast<int>(failureCode));
    TracePid(" ==== DownloadAndLaunchSetup: " + (error.empty() ? std::string("OK") : error));
    if (!error.empty() && error != DeclinedMarker)
        ShowError(0, error, own.LangString("Error", "Error"), buttons, charset);
}

void StartSetup()
{
    const TGFileInfo& own = OwnFileInfo();
    const std::string agentFileName = own.InstallAgent() ? own.AgentExeName() : std::string();
    if (own.InternetSetup()) {
        RunInternetSetup(own);
    } else {
        // The launcher's temporary copy reads the disk files beside the launcher the user started.
        const std::string firstDisk = SwitchValue("/SpanDiskFName1=");
        const std::string containerFile = firstDisk.empty() ? ExePath() : firstDisk;
        const bool hidden = SwitchPresent("/hide") || own.HiddenSetup();
        LaunchSetupEngine(SetupWorkFolder(), containerFile, agentFileName, CommandTail(), !hidden);
    }
    DeleteFolderTree(SetupWorkFolder(), false);
    PostQuitMessage(0);
}

bool LaunchSetupEngine(const std::string& workFolder, const std::string& containerFile,
                       const std::string& agentFileName, const std::string& extraSwitches, bool foreground)
{
    const TGFileInfo reader(containerFile);
    // A file without a readable container (no trailer where it should be, a wrong magic, header
    // strings beyond the file) has nothing to unpack and nothing to ask about; it is told like a
    // failed checksum: the setup file is not what it should be.
    const bool hasContainer = reader.HasMagic();
    bool completed = false;
    std::string folder = workFolder;

    if (reader.ShowExtractProgress())
        ShowWindow(StubActivityBar(), SW_SHOW);
    SetStatusText(StubStatusLabel(), reader.LangString("s1", "Extracting Files..."), reader.LangFontName(),
                  reader.LangCharset(), reader.LangFontSize());
    if (!HasRoomInTempFolder(folder, containerFile) && ChooseAlternativeTempRoot() && !AlternativeWorkFolder().empty())
        folder = AlternativeWorkFolder();
    TraceLine("========= ForegroundOp=" + BoolText(foreground) + " ==========");

    if (!foreground || !hasContainer || ConfirmTempDrive(folder, containerFile, reader)) {
        const std::string diskPrompt =
            reader.LangString("s8", "Please insert <B>DISK #<DISK_NUM></B> and press OK to continue");
        const std::string attention = reader.LangString("Attention", "Attention");
        const std::string buttons = reader.LangString("BtnText", DefaultButtons);
        const int charset = reader.LangCharset();
        if (foreground)
            ShowWindow(StubWindow(), SW_SHOW);
        WaitPumping(1, 1000);

        bool checksumOk = false;
        bool whole = false;
        std::string mainFile;
        std::string unpackError;
        bool unpackFailed = false;
        try {
            if (hasContainer)
                whole = UnpackPayload(containerFile, folder, agentFileName, checksumOk, StubProgress, diskPrompt,
                                      attention, buttons, charset, ForcePromptEnabled(), mainFile);
        } catch (const std::exception& e) {
            // A record that does not inflate (EZLibError, with zlib's text) or anything else that
            // stops the unpacking half-way: reported below, and the work folders still go.
            unpackFailed = true;
            unpackError = e.what();
        } catch (...) {
            unpackFailed = true;
            unpackError = "Unknown error";
        }
        WaitPumping(0, 1000);

        if (unpackFailed) {
            ShowError(0, containerFile + "<P><P>Unable to extract the Setup File!<P><P>" + unpackError,
                      reader.LangString("Error", "Error"), buttons, charset);
            SetStubExitCode(static_cast<int>(ExitCodeUnpackError));
        } else if (!checksumOk) {
            const std::string badChecksum =
                reader.LangString("s7", "Bad CRC!<P>This indicates that your setup file might be corrupted...");
            ShowError(0, badChecksum, reader.LangString("Error", "Error"), buttons, charset);
            SetStubExitCode(static_cast<int>(ExitCodeBadChecksum));
        } else if (!whole) {
            // The unpacking said why (a damaged disk file, a file it could not write), or the user
            // cancelled a disk prompt: nothing is started on an incomplete payload, and the exit
            // code must not say the setup ran.
            SetStubExitCode(static_cast<int>(ExitCodeIncompleteSetup));
        } else if (!mainFile.empty()) {
            completed = RunEngine(reader, folder, mainFile, extraSwitches, foreground);
        }
    }

    DeleteAlternativeWorkFolder();
    TracePid(" ==== LaunchSetupEngine: Completed=" + BoolText(completed) + " ExitCode=" +
             IntToStr(static_cast<uint32_t>(StubExitCode())));
    return completed;
}

bool HasRoomInTempFolder(const std::string& folder, const std::string& containerFile)
{
    const TGFileInfo info(containerFile);
    return HasRoom(info.SpaceRequired(folder), DiskFreeBytes(folder)) && FolderExists(folder);
}

bool ConfirmTempDrive(const std::string& workFolder, const std::string& /*containerFile*/, const TGFileInfo& reader)
{
    TempDriveTexts texts;
    texts.s2 = reader.LangString("s2", "Ulvane will extract files to your Temp Drive (<DRIVE>)<P>");
    texts.s3 = reader.LangString("s3", "Limited Free Space on your Temp Drive! (<DRIVE>)<P>");
    texts.s4 = reader.LangString("s4", "<P>Estimated space required on your Temp drive is: <T>  <SPACE_REQ> MB<P>");
    texts.s5 = reader.LangString("s5", "Free space available on your Temp drive is: <T>  <SPACE_AVAIL> MB<P>");
    texts.s6 = reader.LangString("s6", "<P>Continue with Setup?<P>");
    const std::string message = TempDriveMessage(reader.ShowTempDriveInfo(), reader.SpaceRequired(workFolder),
                                                 DiskFreeBytes(workFolder), workFolder, texts);
    if (message.empty())
        return true;
    return AskYesNo(0, message, reader.LangString("Confirm", "Confirm"), reader.LangString("BtnText", DefaultButtons),
                    reader.LangCharset());
}

bool ChooseAlternativeTempRoot()
{
    if (!g_alternativeProbed) {
        g_alternativeProbed = true;
        std::array<double, AlternativeDrives.size()> available{};
        for (size_t k = 0; k < AlternativeDrives.size(); ++k)
            available[k] = ProbeDrive(AlternativeDrives[k]);
        const std::string temp = TempFolder(false);
        const char best = ChooseAlternativeDrive(temp.empty() ? '\0' : temp[0], available);
        if (best != '\0')
            g_alternativeRoot = AlternativeTempRoot(best, FolderExists(std::string(1, best) + ":\\TEMP"));
    }
    return !g_alternativeRoot.empty();
}

std::string AlternativeWorkFolder()
{
    if (!g_alternativeMade && !g_alternativeRoot.empty()) {
        g_alternativeMade = true;
        // A random name that is taken belongs to another setup running right now far more likely
        // than to a leftover: look for a free one first, and clear a taken one only as a last resort.
        std::string name;
        for (int attempt = 0; attempt < 20; ++attempt) {
            name = g_alternativeRoot + "_" + RandomNumberText(10000, 100000);
            if (!FolderExists(name))
                break;
        }
        DeleteFolderTree(name, true);
        if (ForceDirectories(name))
            g_alternativeWorkFolder = name;
    }
    return g_alternativeWorkFolder;
}

void DeleteAlternativeWorkFolder()
{
    if (!g_alternativeWorkFolder.empty())
        DeleteFolderTree(g_alternativeWorkFolder, false);
}

void SetStatusText(HWND label, const std::string& text, const std::string& fontName, int charset, int fontSize)
{
    if (!label)
        return;
    const bool rightToLeft = charset == 177 || charset == 178;
    SetWindowLongPtrA(label, GWL_EXSTYLE, rightToLeft ? WS_EX_RTLREADING : 0);
    SetWindowLongPtrA(label, GWL_STYLE, WS_CHILD | WS_VISIBLE | (rightToLeft ? SS_RIGHT : 0));
    UniqueGdiObject font(CreateFontA(-PointsToPixels(fontSize), 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE,
                                     static_cast<DWORD>(charset & 0xFF), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, fontName.c_str()));
    if (font) {
        SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
        g_statusFont = std::move(font);  // the label has the new one: the old one may go
    }
    SetWindowTextA(label, text.c_str());
}

bool ForcePromptEnabled()
{
    return ReadRegistryString(SpanDiskKey, "ForcePrompt", "0", RegistryView64) == "1";
}

UniqueKernelHandle StartProcess(const std::string& commandLine, uint16_t showMode)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = showMode;
    PROCESS_INFORMATION info{};
    std::string line = commandLine;  // the system may write into the text it is given
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return UniqueKernelHandle();
    const UniqueKernelHandle thread(info.hThread);
    return UniqueKernelHandle(info.hProcess);
}

void WaitForProcessEnd(HANDLE process)
{
    // The process's own state, not its exit code: an engine that ends with code 259 (the value
    // that also means "still active") must not keep the launcher waiting for ever. A handle that
    // cannot be waited on ends the wait as well.
    do {
        WaitPumping(0, 500);
    } while (WaitForSingleObject(process, 0) == WAIT_TIMEOUT);
}
