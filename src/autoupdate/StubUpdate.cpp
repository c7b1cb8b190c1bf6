#include <windows.h>

#include "autoupdate/StubUpdate.h"

#include "autoupdate/DownloadFileAU.h"
#include "autoupdate/StubAUState.h"
#include "autoupdate/StubAURules.h"
#include "autoupdate/StubGlob.h"
#include "pack/PackX.h"
#include "pack/StubRun.h"
#include "setup/StubSetup.h"
#include "ui/UMsgBox.h"
#include "util/PathText.h"
#include "util/Common.h"
#include "util/Files.h"
#include "util/Process.h"
#include "util/UDebug.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

UpdateTexts ReadUpdateTexts()
{
    UpdateTexts t;
    t.s11 = AutoUpdateText("s11", "");
    t.s12 = AutoUpdateText("s12", "");
    t.s13 = AutoUpdateText("s13", "");
    t.s14 = AutoUpdateText("s14", "");
    t.s15 = AutoUpdateText("s15", "");
    t.s16 = AutoUpdateText("s16", "");
    t.s17 = AutoUpdateText("s17", "");
    t.s18 = AutoUpdateText("s18", "");
    t.s19 = AutoUpdateText("s19", "");
    t.s20 = AutoUpdateText("s20", "");
    return t;
}

// A forced notice only tells (mode 2: no close command); otherwise the user decides.
bool NoticeOrQuestion(bool force, const std::string& text)
{
    if (force) {
        ShowAttention(2, text, MsgBoxTitle("Attention"), MsgBoxButtons(), MsgBoxCharSet());
        return true;
    }
    return AskYesNo(0, text, MsgBoxTitle("Confirm"), MsgBoxButtons(), MsgBoxCharSet());
}

// The product ended by the method the INFO file names (its exact text); every method but "Don't
// Shut Down" then waits, without a limit, until the program no longer runs.
void ShutDownProduct(const std::string& program, const std::string& method, const UpdateTexts& texts)
{
    if (method == "Issue a Message Box") {
        const std::string text = ShutDownNoticeText(texts, program);
        TraceLine("s1=" + text + "<");
        while (IsProcessRunning(program))
            ShowAttention(0, text, MsgBoxTitle("Attention"), MsgBoxButtons(), MsgBoxCharSet());
    }
    TraceLine(" ==== PerformAutoUpdate-8 ====");
    if (method == "Using WM_CLOSE")
        CloseProcessWindow(program, true);
    else if (method == "Using WM_QUIT")
        QuitProcessWindow(program, true);
    else if (method == "Using Terminate Process")
        TerminateProcessByPath(program, true);
    if (method != "Don't Shut Down")
        WaitWhileProcessRuns(program, 0);
}

// Steps from the download notice to the product's restart; false as soon as one ends the update.
bool DownloadAndInstall()
{
    TraceLine(" ==== PerformAutoUpdate-5 ====");
    const UpdateTexts texts = ReadUpdateTexts();
    const bool asked = RequestedCheck() != 1;  // the user's own check skips the questions
    bool go = true;
    if (RequestConfirmationBeforeDownload() && asked) {
        const bool force = RequestConfirmationBeforeDownloadForce();
        go = NoticeOrQuestion(force, DownloadNoticeText(texts, RequestConfirmationBeforeInstall(), force,
                                                        InfoProgramName()));
        WaitPumping(0, 500);
    }
    if (!go)
        return false;

    TraceLine(" ==== PerformAutoUpdate-6 ====");
    SetAgentState(2);
    NotifyMonitor(41, 1);
    std::string error;
    const bool ok = DownloadFileAU(DownloadURL_UPDATE(), NameOfUpdateFile(), KindUpdateFile, error);
    NotifyMonitor(41, 2);
    go = ok;
    if (ok && RequestConfirmationBeforeInstall() && asked) {
        const bool force = RequestConfirmationBeforeInstallForce();
        go = NoticeOrQuestion(force, InstallNoticeText(texts, force, InfoProgramName()));
        WaitPumping(0, 100);
    }
    if (!go)
        return false;

    TraceLine(" ==== PerformAutoUpdate-7 ====");
    SetInstallFolders(OriginalDirectory("TargetDir"), OriginalDirectory("SharedDir"),
                      OriginalDirectory("AuxiliaryDir"));
    const std::string program = ExpandPathMacros(RunningProcess(), "\\", true, true);
    const bool wasRunning = IsProcessRunning(program);
    const std::string method = ShutDownMethod();
    LogLine("Shut Down Process() - START  (" + program + ")  Method: " + method);
    ShutDownProduct(program, method, texts);
    TraceLine(" ==== PerformAutoUpdate-9 ====");
    LogLine("Shut Down Process() - END");
    const bool shutDown = wasRunning && !IsProcessRunning(program);
    const bool restart = RestartProcess() && shutDown;

    const std::string setupFile = ExeFolder(true) + FileNamePart(NameOfUpdateFile());
    const std::string extra = "/OriginalInfoFile=\"" + InfoFilePath() + "\"";
    SetAgentState(3);
    NotifyMonitor(42, 1);
    TraceLine(" ==== PerformAutoUpdate-10 ====");
    const std::string workFolder = SetupWorkFolder();
    const bool result = LaunchSetupEngine(workFolder, setupFile, OwnFileInfo().AgentExeName(), extra, !BackgroundUpdate());
    DeleteFolderTree(workFolder, true);
    TraceLine(" ==== PerformAutoUpdate-11 ====");
    NotifyMonitor(42, 2);
    if (result)
        WriteVersionOriginal(VersionNew());
    DeleteFileA(setupFile.c_str());

    const FinishNotice notice =
        FinishNoticeOf(texts, result, InformFinish(), RequestedCheck() == 1, restart, InfoProgramName());
    bool answer = true;
    if (notice.show && notice.question)
        answer = AskYesNo(1, notice.text, MsgBoxTitle("Confirm"), MsgBoxButtons(), MsgBoxCharSet());
    else if (notice.show)
        ShowAttention(1, notice.text, MsgBoxTitle("Attention"), MsgBoxButtons(), MsgBoxCharSet());
    TraceLine(" ==== PerformAutoUpdate-12 ====");
    TraceLine(BoolText(restart) + " " + BoolText(answer) + " >" + program + "<");
    if (restart && answer)
        WinExec(QuotedProgram(program).c_str(), SW_SHOW);
    return result;
}

}  // namespace

bool PerformAutoUpdate()
{
    LogLine("PerformAutoUpdate() - START");
    bool result = false;
    TraceLine(" ==== PerformAutoUpdate-4 ====");
    if (!DownloadURL_UPDATE().empty() && !NameOfUpdateFile().empty())
        result = DownloadAndInstall();
    TraceLine(" ==== PerformAutoUpdate-13 ====");
    LogLine("PerformAutoUpdate() - END    Result=" + BoolText(result));
    return result;
}
