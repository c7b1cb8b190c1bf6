#include <windows.h>

#include "setup/StubSetup.h"

#include "pack/PackX.h"
#include "stub/Stub.h"
#include "util/Files.h"
#include "util/Handles.h"
#include "util/UDebug.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

// The time-of-day half of the file's DOS date-time (local time); 0 when it cannot be read.
unsigned FileDosTime(const std::string& path)
{
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FILETIME written{}, local{};
    WORD dosDate = 0, dosTime = 0;
    if (!file || !GetFileTime(file.Get(), nullptr, nullptr, &written) || !FileTimeToLocalFileTime(&written, &local) ||
        !FileTimeToDosDateTime(&local, &dosDate, &dosTime))
        return 0;
    return dosTime;
}

}  // namespace

std::string SetupWorkFolderName(const std::string& tempFolder, unsigned dosTime)
{
    return SetTrailingBackslash(tempFolder, true) + "SETUP_" + IntToStr(dosTime & 0xFFFF);
}

std::string SetupWorkFolder()
{
    static const std::string folder = [] {
        const std::string name = SetupWorkFolderName(TempFolder(true), FileDosTime(ExePath()));
        DeleteFolderTree(name, true);
        ForceDirectories(name);
        return name;
    }();
    return folder;
}

void StartSetup()
{
    // Until the launch flow unpacks and runs the engine, the launcher reports what its container
    // holds and ends.
    const TGFileInfo& info = OwnFileInfo();
    TracePid(" StartSetup: container=" + BoolText(info.HasMagic()) + " FilesCount=" + IntToStr(info.FilesCount()) +
             " HeaderCount=" + IntToStr(info.Trailer().HeaderCount) + " InternetSetup=" +
             BoolText(info.InternetSetup()) + " SpanCopyToTemp=" + BoolText(info.SpanCopyToTemp()) +
             " SpanCdLvl=" + IntToStr(SwitchInt("/SpanCdLvl=", 1)));
    PostQuitMessage(0);
}
