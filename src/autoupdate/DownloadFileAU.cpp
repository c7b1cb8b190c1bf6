#include <windows.h>

#include "autoupdate/DownloadFileAU.h"

#include "autoupdate/StubAURules.h"
#include "autoupdate/StubAUState.h"
#include "autoupdate/StubGlob.h"
#include "inet/CommUtils.h"
#include "inet/InetHTTP.h"
#include "inet/UProgBar.h"
#include "pack/PackToken.h"
#include "pack/StubRun.h"
#include "setup/StubSetup.h"
#include "ui/UMsgBox.h"
#include "util/FileHash.h"
#include "util/Files.h"
#include "util/HashText.h"
#include "util/PathText.h"
#include "util/UDebug.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

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

void ShowAgentError(const std::string& text)
{
    ShowError(0, text, MsgBoxTitle("Error"), MsgBoxButtons(), MsgBoxCharSet());
}

bool DownloadFileAU(const std::string& address, const std::string& file, uint8_t kind, std::string& error)
{
    bool success = false;
    std::string content;
    error.clear();
    std::string localPath;
    const std::string name = FileNamePart(file);
    const std::string folder = TestMode() ? TestModeURL() : address;
    std::string source = folder + "\\" + name;
    TracePid(" DownloadFileAU: " + source);
    LogLine("TestMode=" + BoolText(TestMode()));
    LogLine("Download START: " + source);

    const bool show = kind == KindUpdateFile && RequestConfirmationBeforeDownload() && RequestedCheck() != 1;
    if (show)
        ShowWindow(StubWindow(), SW_SHOW);
    SetStatusText(StubStatusLabel(), DownloadLabel(kind), MsgBoxFontName(), MsgBoxCharSet(), MsgBoxFontSize());

    // Nothing larger than its publication allows is taken in, from a server or a folder.
    const uint64_t limit = kind == KindInfoFile    ? InfoFileLimit
                           : kind == KindUpdateFile ? PublishedDownloadLimit(SizeOfUpdateFile())
                                                    : PublishedDownloadLimit(SizeOfInformFile());
    bool fetched = false;  // something arrived to be judged
    if (FileExists(source)) {
        // A local or network folder (and the test mode's folder).
        const int64_t size = FileSizeByName(source);
        if (size > 0 && static_cast<uint64_t>(size) > limit) {
            error = DownloadTooLargeText(source, limit);
        } else if (kind == KindInfoFile) {
            content = ReadFilePart(source, 0, 0);
            fetched = true;
        } else if (size > 0) {
            // Copied rather than read: an update can be far larger than memory wants to hold.
            localPath = ExeFolder(true) + name;
            fetched = CopyFileA(source.c_str(), localPath.c_str(), FALSE) != FALSE;
            if (!fetched)
                error = source + " --- " + LastErrorText();
        }
        if (show)
            AnimateLocalCopy();
    } else if (!TestMode() && InternetConnected()) {
        WaitPumping(0, 500);
        source = folder + "/" + name;
        SetDownloadAbortFlag(false);
        if (kind != KindInfoFile)
            localPath = ExeFolder(true) + name;
        HTTP_DownloadFile_Incremental(RequestedCheck() == 1 ? StubWindow() : nullptr, source, localPath, error,
                                      &SharedProgBar(StubProgress), content, limit);
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
        // A published hash is checked first: a file that is not the published one is not even
        // looked into. Either refusal costs the file.
        const std::string published = kind == KindUpdateFile ? SHA256OfUpdateFile() : SHA256OfInformFile();
        std::string refusal;
        if (!published.empty() && !Sha256Accepts(published, FileSha256(localPath)))
            refusal = "Bad SHA-256 Hash!";
        else if (!UpdateTokenMatches(OwnFileInfo(), localPath,
                                     kind == KindUpdateFile ? TokenKindSetup : TokenKindInformPage))
            refusal = "Bad Secret Token!";
        success = refusal.empty();
        if (!success) {
            const std::string message = ErrorPageText(localPath, "", source, refusal, false);
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
