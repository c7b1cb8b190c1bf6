#include <windows.h>

#include "autoupdate/StubAU.h"

#include "autoupdate/StubAURules.h"
#include "autoupdate/StubInformDlg.h"
#include "autoupdate/StubUpdate.h"
#include "autoupdate/StubGlob.h"
#include "inet/CommUtils.h"
#include "inet/InetHTTP.h"
#include "inet/UProgBar.h"
#include "pack/PackToken.h"
#include "pack/PackX.h"
#include "pack/StubRun.h"
#include "setup/SetupText.h"
#include "setup/StubSetup.h"
#include "ui/UMsgBox.h"
#include "util/Files.h"
#include "util/UDebug.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

constexpr char TestModeKey[] = "HKEY_CURRENT_USER\\Software\\Dravocel\\Ulvane\\AutoUpdate";

int32_t g_timerCount = -3;
int32_t g_countdown = -1;
int32_t g_state = 0;
bool g_busy = false;
bool g_forcedCheck = false;
int32_t g_requestedCheck = 0;
bool g_justDownloadInfo = false;
bool g_autoProbe = true;
bool g_testMode = false;
std::string g_testModeUrl;
DWORD g_testModeTick = 0;

// Raised on entry, cleared on every way out, so that a tick dispatched from inside a wait of the
// running tick returns at once.
class BusyGuard {
public:
    BusyGuard() { g_busy = true; }
    ~BusyGuard() { g_busy = false; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;
};

bool FileExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string FileNamePart(const std::string& path)
{
    const size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

void ShowAgentError(const std::string& text)
{
    ShowError(0, text, MsgBoxTitle("Error"), MsgBoxButtons(), MsgBoxCharSet());
}

// The bars of a copy from a folder, which has no transfer to follow: ten steps of 300 ms.
void AnimateLocalCopy()
{
    StubProgress(0, 10, 0, 1);
    for (int step = 0; step < 10; ++step) {
        StubProgress(1, 0, 0, 0);
        WaitPumping(0, 300);
    }
    StubProgress(0, 0, 0, 1);
}

std::string DownloadLabel(uint8_t kind)
{
    switch (kind) {
    case KindInfoFile:
        return AutoUpdateText("s31", "Downloading INFO File...");
    case KindUpdateFile:
        return AutoUpdateText("s32", "Downloading UPDATE File...");
    default:
        return AutoUpdateText("s33", "Downloading INFORM File...");
    }
}

}  // namespace

int32_t AgentTimerCount() { return g_timerCount; }
void SetAgentTimerCount(int64_t count) { g_timerCount = static_cast<int32_t>(count); }
int32_t AgentCountdown() { return g_countdown; }
void SetAgentCountdown(int32_t countdown) { g_countdown = countdown; }
int32_t AgentState() { return g_state; }
void SetAgentState(int32_t state) { g_state = state; }
int32_t RequestedCheck() { return g_requestedCheck; }
bool TestMode() { return g_testMode; }
std::string TestModeURL() { return g_testModeUrl; }

bool CheckTestMode(bool force)
{
    const DWORD now = GetTickCount();
    if (force || now - g_testModeTick > 30000) {
        g_testMode = TestModeWanted(ReadRegistryString(TestModeKey, "TestMode", "0"),
                                    ReadRegistryString(TestModeKey, "TestModeDate", ""), DateStamp(NowDateTime()));
        g_testModeUrl = ReadRegistryString(TestModeKey, "TestModeURL", "");
    }
    g_testModeTick = now;
    return g_testMode;
}

void AgentTick()
{
    if (g_busy)
        return;
    BusyGuard busy;
    if (g_justDownloadInfo) {
        TraceLine("-------------- JustDownloadInfoFile ---------------");
        g_justDownloadInfo = false;
        JustDownloadInfoFile();
        g_state = 0;
        return;
    }
    SetMsgBoxFont(MsgBoxFontName(), MsgBoxFontSize(), MsgBoxCharSet());
    g_state = 0;
    if (g_requestedCheck == 2)
        g_requestedCheck = 1;
    if (g_requestedCheck == 1)
        g_timerCount = 0;
    // A countdown of n ends the agent on the (n+1)-th tick.
    if (g_countdown == 0)
        PostQuitMessage(0);
    if (g_countdown >= 0)
        --g_countdown;
    ++g_timerCount;
    TracePid(" AutoUpdateTimerCount=" + IntToStr(g_timerCount));
    if (g_timerCount > 0) {
        CheckTestMode(false);
        int status = ShotTimeStatus();
        TracePid(" ShotTimeStatus=" + IntToStr(status));
        if (status == 2)
            g_autoProbe = false;
        if (status > 0 && (g_requestedCheck == 1 || AskBeforeEveryCheck()))
            ConfirmCheck(status);
        if (status > 0)
            PerformShot();
        if (g_requestedCheck == 1)
            g_requestedCheck = 0;
    }
    g_state = 0;
}

int ShotTimeStatus()
{
    ShotTimingInputs in;
    in.autoProbe = g_autoProbe;
    in.forcedCheck = g_forcedCheck;
    if (g_autoProbe || g_forcedCheck) {
        in.storedInterval = ProbeSecondsInterval();
        in.lastProbe = ProbeSecondsLast();
        in.now = LocalSeconds();
        in.testMode = g_testMode;
    }
    g_forcedCheck = false;
    return ::ShotTimeStatus(in);
}

void ConfirmCheck(int& status)
{
    CheckTestMode(true);
    const std::string address = g_testMode ? g_testModeUrl : OwnFileInfo().UpdateUrl();
    const std::string s22 = AutoUpdateText("s22", "");
    const std::string s23 = AutoUpdateText("s23", "");
    const std::string s24 = AutoUpdateText("s24", "");
    const bool testMode = CheckTestMode(true);
    const std::string text = CheckQuestionText(s22, s23, s24, address, testMode, OriginalProgramName());
    if (!AskYesNo(1, text, MsgBoxTitle("Confirm"), MsgBoxButtons(), MsgBoxCharSet()))
        status = 0;  // "ProbeSecondsLast" stays: while the check is due, the next tick asks again
}

void PerformShot()
{
    TracePid(" Fire  " + DateTimeStamp(NowDateTime()));
    CheckTestMode(true);
    bool ok = false;
    g_state = 1;
    NotifyMonitor(40, 1);
    std::string infoError;
    const bool infoOk = DownloadFileAU(OwnFileInfo().UpdateUrl(), InfoFilePath(), KindInfoFile, infoError);
    NotifyMonitor(40, 2);
    WriteProbeSecondsLast(LocalSeconds());

    EligibilityInputs in;
    in.infoDownloaded = infoOk;
    in.versionOriginal = VersionOriginal();
    in.stampOriginal = StampOriginal();
    in.reAskInterval = ReAskSecondsInterval();
    in.reAskLast = ReAskSecondsLast();
    in.versionNew = VersionNew();
    in.stampNew = StampNew();
    in.validVersions = ValidVersions();
    in.now = LocalSeconds();
    in.requestedCheck = g_requestedCheck == 1;
    const int32_t code = EligibilityCode(in, [] {
        const bool inform = IsAutoInform();
        const int32_t expected = inform ? SizeOfInformFile() : SizeOfUpdateFile();
        const std::string name = FileNamePart(inform ? NameOfInformFile() : NameOfUpdateFile());
        const std::string folder = g_testMode ? g_testModeUrl : DownloadURL_UPDATE();
        int32_t actual = -1;
        std::string path = folder + "\\" + name;
        if (FileExists(path)) {
            const int64_t size = FileSizeByName(path);
            actual = size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
        } else if (!g_testMode && InternetConnected()) {
            path = folder + "/" + name;
            actual = HTTP_GetFileSize(path);
        }
        const bool matches = SizeWithinMargin(actual, expected);
        if (!matches) {
            LogLine("  InfoSize=" + IntToStr(expected));
            LogLine("  HttpSize=" + IntToStr(actual));
            LogLine("  URL=" + path);
        }
        return matches;
    });
    const std::string reason = EligibilityReason(code);
    TracePid(" GetOkToPerformAU=" + IntToStr(code));
    LogLine("GetOkToPerformAU = " + IntToStr(code) + " - " + reason);

    if (code == 6) {
        TracePid(" ==== PerformShot-1 ====");
        ok = true;
        WriteReAskSecondsLast(LocalSeconds());
        WriteStampOriginal(StampNew());
        if (IsAutoInform()) {
            PerformAutoInform();
        } else if (PerformAutoUpdate()) {
            // The update may have replaced the agent's own files: go on from a fresh copy.
            ReStartAutoUpdateExe();
        }
        TracePid(" ==== PerformShot-2 ====");
    }

    if (g_requestedCheck == 1) {
        WaitPumping(0, 1000);
        ShowWindow(StubWindow(), SW_HIDE);
        if (!ok) {
            std::string connectionError;
            const bool connected = InternetConnected(connectionError);
            TracePid(" TestMode=" + BoolText(g_testMode) + " InternetConnected=" + BoolText(connected));
            if (!g_testMode && !connected)
                ShowAgentError(NoConnectionMessage(AutoUpdateText("s2", ""), connectionError));
            else if (!g_testMode && !infoError.empty())
                ShowAgentError(infoError);
            else
                ShowAttention(1, NothingFoundText(AutoUpdateText("s21", ""), DeveloperMode(), code, reason),
                              MsgBoxTitle("Attention"), MsgBoxButtons(), MsgBoxCharSet());
        }
    }
}

bool JustDownloadInfoFile()
{
    NotifyMonitor(40, 1);
    std::string error;
    const bool result = DownloadFileAU(OwnFileInfo().UpdateUrl(), InfoFilePath(), KindInfoFile, error);
    NotifyMonitor(40, 2);
    return result;
}

bool DownloadFileAU(const std::string& address, const std::string& file, uint8_t kind, std::string& error)
{
    bool success = false;
    std::string content;
    error.clear();
    std::string localPath;
    const std::string name = FileNamePart(file);
    const std::string folder = g_testMode ? g_testModeUrl : address;
    std::string source = folder + "\\" + name;
    TracePid(" DownloadFileAU: " + source);
    LogLine("TestMode=" + BoolText(g_testMode));
    LogLine("Download START: " + source);

    const bool show = kind == KindUpdateFile && RequestConfirmationBeforeDownload() && g_requestedCheck != 1;
    if (show)
        ShowWindow(StubWindow(), SW_SHOW);
    SetStatusText(StubStatusLabel(), DownloadLabel(kind), MsgBoxFontName(), MsgBoxCharSet(), MsgBoxFontSize());

    bool fetched = false;  // something arrived to be judged
    if (FileExists(source)) {
        // A local or network folder (and the test mode's folder).
        if (kind == KindInfoFile) {
            content = ReadFilePart(source, 0, 0);
            fetched = true;
        } else if (FileSizeByName(source) > 0) {
            // Copied rather than read: an update can be far larger than memory wants to hold.
            localPath = ExeFolder(true) + name;
            fetched = CopyFileA(source.c_str(), localPath.c_str(), FALSE) != FALSE;
            if (!fetched)
                error = source + " --- " + LastErrorText();
        }
        if (show)
            AnimateLocalCopy();
    } else if (!g_testMode && InternetConnected()) {
        WaitPumping(0, 500);
        source = folder + "/" + name;
        SetDownloadAbortFlag(false);
        if (kind != KindInfoFile)
            localPath = ExeFolder(true) + name;
        HTTP_DownloadFile_Incremental(g_requestedCheck == 1 ? StubWindow() : nullptr, source, localPath, error,
                                      &SharedProgBar(StubProgress), content);
        fetched = error.empty();
        WaitPumping(0, 500);
    }
    if (show)
        ShowWindow(StubWindow(), SW_HIDE);
    LogLine("Download END:   " + source);

    if (kind == KindInfoFile) {
        if (error.empty() && !content.empty())
            error = ErrorPageText("", content, source, "", true);
        success = error.empty() && !content.empty();
        // Always written, even empty: a check that got nothing must not leave the previous
        // publication to be read as if it had just arrived.
        WriteTextFile(ExeFolder(true) + name, content, 0, false);
        if (!error.empty() && error[0] == '3')
            error.clear();
        return success;
    }

    // An update or inform file that is nowhere to be found is a failed download, not a file whose
    // token could be compared.
    if (error.empty() && !fetched)
        error = source + " --- File Not Found !";
    if (error.empty()) {
        success = true;
        if (!UpdateTokenMatches(OwnFileInfo(), localPath,
                                kind == KindUpdateFile ? TokenKindSetup : TokenKindInformPage)) {
            success = false;
            const std::string message = ErrorPageText(localPath, "", source, "Bad Secret Token!", false);
            DeleteFileA(localPath.c_str());
            LogLine("ERROR: " + message);
            ShowAgentError(message);
        }
    }
    if (!error.empty() && source.size() > 2 && RequestConfirmationBeforeDownload()) {
        const std::string message = DownloadFailureText(DownloadAbortFlag(), source,
                                                        AutoUpdateText("s3", "File Download Aborted!"),
                                                        AutoUpdateText("s4", "File not Found!"),
                                                        AutoUpdateText("s5", "Unable to Download File!"));
        LogLine("ATTENTION: " + message);
        ShowAttention(0, message, MsgBoxTitle("Attention"), MsgBoxButtons(), MsgBoxCharSet());
    }
    return success;
}

void ReStartAutoUpdateExe()
{
    LogLine(".. ReStartAutoUpdateExe() - Start");
    if (g_countdown <= 0) {
        // Quoted: an agent under 'C:\Program Files\...' would otherwise not restart, and a planted
        // 'C:\Program.exe' would run in its place.
        const std::string commandLine = "\"" + ExeFolder(true) + OwnFileInfo().AgentExeName() +
                                        "\" /_ZZ=99 /WAIT=10 /TRANSIENT=" + Overrides().List();
        LogLine(".. WinExec - " + commandLine);
        WinExec(commandLine.c_str(), SW_HIDE);
        WaitPumping(0, 1000);
        LogLine(".. PostMessage(WM_DESTROY)");
        PostMessageA(StubWindow(), WM_DESTROY, 0, 0);
    }
    LogLine(".. ReStartAutoUpdateExe() - End");
}

int32_t AgentCommandResult(int32_t code, int32_t value)
{
    int32_t result = 0;
    if (SettingsCommand(code, value, result))
        return result;
    switch (code) {
    case 7:
        return g_state;
    case 30:
        g_countdown = value;
        return 0;
    case 31:
        g_forcedCheck = true;
        if (g_timerCount < 1)
            g_timerCount = 1;
        if (value == 2)
            g_requestedCheck = 2;
        return 0;
    case 32:
        g_justDownloadInfo = true;
        return 0;
    default:
        return 0;
    }
}
