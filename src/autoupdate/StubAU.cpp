#include <windows.h>

#include "autoupdate/StubAU.h"

#include "autoupdate/DownloadFileAU.h"
#include "autoupdate/StubAURules.h"
#include "autoupdate/StubAUState.h"
#include "autoupdate/StubInformDlg.h"
#include "autoupdate/StubUpdate.h"
#include "autoupdate/StubGlob.h"
#include "inet/InetHTTP.h"
#include "pack/PackX.h"
#include "pack/StubRun.h"
#include "setup/SetupText.h"
#include "setup/StubSetup.h"
#include "ui/UMsgBox.h"
#include "util/Files.h"
#include "util/PathText.h"
#include "util/UDebug.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

int32_t g_timerCount = -3;
int32_t g_countdown = -1;
bool g_busy = false;
bool g_forcedCheck = false;
bool g_justDownloadInfo = false;
bool g_autoProbe = true;

// Raised on entry, cleared on every way out, so that a tick dispatched from inside a wait of the
// running tick returns at once.
class BusyGuard {
public:
    BusyGuard() { g_busy = true; }
    ~BusyGuard() { g_busy = false; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;
};

}  // namespace

int32_t AgentTimerCount() { return g_timerCount; }
void SetAgentTimerCount(int64_t count) { g_timerCount = static_cast<int32_t>(count); }
int32_t AgentCountdown() { return g_countdown; }
void SetAgentCountdown(int32_t countdown) { g_countdown = countdown; }
void AgentTick()
{
    if (g_busy) {
        // A stop that arrives during a check ends a running download after its current block
        // rather than after the whole file; the first tick after the check then ends the agent.
        if (g_countdown == 0)
            SetDownloadAbortFlag(true);
        return;
    }
    BusyGuard busy;
    if (g_justDownloadInfo) {
        TraceLine("-------------- JustDownloadInfoFile ---------------");
        g_justDownloadInfo = false;
        JustDownloadInfoFile();
        SetAgentState(0);
        return;
    }
    SetMsgBoxFont(MsgBoxFontName(), MsgBoxFontSize(), MsgBoxCharSet());
    SetAgentState(0);
    if (RequestedCheck() == 2)
        SetRequestedCheck(1);
    if (RequestedCheck() == 1)
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
        if (status > 0 && (RequestedCheck() == 1 || AskBeforeEveryCheck()))
            ConfirmCheck(status);
        if (status > 0)
            PerformShot();
        if (RequestedCheck() == 1)
            SetRequestedCheck(0);
    }
    SetAgentState(0);
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
        in.testMode = TestMode();
    }
    g_forcedCheck = false;
    return ::ShotTimeStatus(in);
}

void ConfirmCheck(int& status)
{
    CheckTestMode(true);
    const std::string address = TestMode() ? TestModeURL() : OwnFileInfo().UpdateUrl();
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
    SetAgentState(1);
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
    in.requestedCheck = RequestedCheck() == 1;
    const int32_t code = EligibilityCode(in, [] {
        const bool inform = IsAutoInform();
        const int32_t expected = inform ? SizeOfInformFile() : SizeOfUpdateFile();
        const std::string name = FileNamePart(inform ? NameOfInformFile() : NameOfUpdateFile());
        const std::string folder = TestMode() ? TestModeURL() : DownloadURL_UPDATE();
        int32_t actual = -1;
        std::string path = folder + "\\" + name;
        if (FileExists(path)) {
            const int64_t size = FileSizeByName(path);
            actual = size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
        } else if (!TestMode() && InternetConnected()) {
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

    if (RequestedCheck() == 1) {
        WaitPumping(0, 1000);
        ShowWindow(StubWindow(), SW_HIDE);
        if (!ok) {
            std::string connectionError;
            const bool connected = InternetConnected(connectionError);
            TracePid(" TestMode=" + BoolText(TestMode()) + " InternetConnected=" + BoolText(connected));
            if (!TestMode() && !connected)
                ShowAgentError(NoConnectionMessage(AutoUpdateText("s2", ""), connectionError));
            else if (!TestMode() && !infoError.empty())
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
        return AgentState();
    case 30:
        g_countdown = value;
        return 0;
    case 31:
        g_forcedCheck = true;
        if (g_timerCount < 1)
            g_timerCount = 1;
        if (value == 2)
            SetRequestedCheck(2);
        return 0;
    case 32:
        g_justDownloadInfo = true;
        return 0;
    default:
        return 0;
    }
}
