#pragma once
// The agent's decisions as plain functions of plain values: whether a check is due, the question
// before a check, whether a publication applies (the eligibility chain), and the texts the user
// is shown about a check or a failed download. StubAU reads the files, the clock and the registry,
// calls these, and acts.
#include <cstdint>
#include <functional>
#include <string>

// --- timing --------------------------------------------------------------------------------------
struct ShotTimingInputs {
    bool autoProbe = true;        // automatic checks still allowed in this process
    bool forcedCheck = false;     // a check was asked for by command
    int64_t storedInterval = 0;   // "ProbeSecondsInterval" as stored (0: once more, -1: never)
    int64_t lastProbe = 0;        // "ProbeSecondsLast"
    int64_t now = 0;              // the current local seconds
    bool testMode = false;        // test mode checks every 5 seconds whatever is stored
};
// 0 no check, 1 a check is due, 2 the one check that an interval of 0 still allows.
int ShotTimeStatus(const ShotTimingInputs& in);

// Test mode is on when "TestMode" is "1" and "TestModeDate" is `today` ('06-DEC-2026').
bool TestModeWanted(const std::string& testModeValue, const std::string& testModeDate, const std::string& today);

// The question before a check: "s22" + "s23" + "s24" + the test-mode note, every "PROG_NAME"
// replaced by `programName`; "s23" is left out when `address` is shorter than 2 characters or
// has ":" as its second character, the note when test mode is off.
std::string CheckQuestionText(const std::string& s22, const std::string& s23, const std::string& s24,
                              const std::string& address, bool testMode, const std::string& programName);
extern const char TestModeNote[];  // "<P><P><T><B>PLEASE NOTE</B> - You are now running in <B>Test Mode</B>!"

// --- eligibility ---------------------------------------------------------------------------------
struct EligibilityInputs {
    bool infoDownloaded = false;
    // the .original file
    int32_t versionOriginal = 0;
    int32_t stampOriginal = 0;
    int64_t reAskInterval = 0;
    int64_t reAskLast = 0;
    // the INFO file
    int32_t versionNew = 0;
    int32_t stampNew = 0;
    std::string validVersions;
    // the moment and the request
    int64_t now = 0;
    bool requestedCheck = false;
};
// The re-ask time has come: `now` is past last + interval and the interval is above 0.
bool ReAskDue(int64_t reAskLast, int64_t reAskInterval, int64_t now);
// `validVersions` is empty, or its comma-separated items include `versionOriginal` exactly.
bool VersionValid(const std::string& validVersions, int32_t versionOriginal);
// The size on the server (-1 unknown) is within 100 bytes of the published one.
bool SizeWithinMargin(int32_t actual, int32_t expected);
// The most bytes an update or inform file published with `published` bytes may arrive with: the
// size test's margin and no more, so a body that keeps growing is cut off there.
uint64_t PublishedDownloadLimit(int32_t published);
// The most an INFO file may hold: it is read into memory, and a few kilobytes is its usual size.
constexpr uint64_t InfoFileLimit = 1048576;
// The number of tests passed, 0 to 6 (6: the publication applies). `sizeMatches` is asked only
// when the first five tests passed.
int32_t EligibilityCode(const EligibilityInputs& in, const std::function<bool()>& sizeMatches);
// "Error downloading .INFO file" ... "OK": the reason text of a code.
std::string EligibilityReason(int32_t code);

// --- what the user is told -----------------------------------------------------------------------
// After a requested check that found nothing: "s21", in the developer diagnostics mode followed
// by "<P><P>(" code " - " reason ")   ".
std::string NothingFoundText(const std::string& s21, bool developerMode, int32_t code, const std::string& reason);
// A failed download of an update or inform file from `source`: "s3" after an abort; "s4" +
// "<P><P>" + source for a local or network path; "s5" + "<P><P>" + source for an address.
std::string DownloadFailureText(bool aborted, const std::string& source, const std::string& s3,
                                const std::string& s4, const std::string& s5);

// --- the update step -----------------------------------------------------------------------------
// The texts "s11" to "s20" of the .original section "AutoUpdate".
struct UpdateTexts {
    std::string s11, s12, s13, s14, s15, s16, s17, s18, s19, s20;
};
// Before the download: "s11" + "s12", or "s13" when the installation will be asked for too; with
// the forced notice "s18" or "s19" instead. Every "PROG_NAME" replaced by `programName`.
std::string DownloadNoticeText(const UpdateTexts& t, bool confirmInstall, bool downloadForce,
                               const std::string& programName);
// Before the installation: "s14", or "s20" for the forced notice; "PROG_NAME" replaced.
std::string InstallNoticeText(const UpdateTexts& t, bool installForce, const std::string& programName);
// The notice while the product still runs: "s15", "PROG_NAME" replaced by the program's file name.
std::string ShutDownNoticeText(const UpdateTexts& t, const std::string& program);
// What the user is told when the update has finished. `question`: whether to start the product
// again (first + second); otherwise a notice of the first part alone. `show` false: nothing.
struct FinishNotice {
    bool show = false;
    bool question = false;
    std::string text;
};
FinishNotice FinishNoticeOf(const UpdateTexts& t, bool setupCompleted, bool informFinish, bool requestedCheck,
                            bool restart, const std::string& programName);
// A command line that starts `program` alone: quoted when it holds a blank, so that a product
// under 'C:\Program Files\...' starts and no 'C:\Program.exe' runs in its place.
std::string QuotedProgram(const std::string& program);

// --- the inform page -----------------------------------------------------------------------------
// The text face of the inform dialog: "Verdana" for an empty face or the default "Tahoma".
std::string InformTextFace(const std::string& fontName);
// The places of the inform dialog's parts in a client area of `width` x `height`; without an
// address the text fills it and there is no button, line or band.
struct InformLayout {
    int textLeft = 0, textTop = 0, textWidth = 0, textHeight = 0;
    int buttonLeft = 0, buttonTop = 0, buttonWidth = 0, buttonHeight = 0;
    int lineY = 0;     // the separator line, from the left edge to the right one
    int bandTop = 0;   // the button band, down to the bottom
};
InformLayout InformLayoutOf(int width, int height, bool withAddress);
// The dialog's outer rectangle, centred on a screen of the given size.
struct WindowPlace {
    int left = 0, top = 0;
};
WindowPlace CentredPlace(int screenWidth, int screenHeight, int width, int height);
