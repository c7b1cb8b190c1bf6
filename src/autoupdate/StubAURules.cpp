#include "autoupdate/StubAURules.h"

#include <limits>

#include "util/PathText.h"
#include "util/USUB.h"
#include "util/Utils.h"

const char TestModeNote[] = "<P><P><T><B>PLEASE NOTE</B> - You are now running in <B>Test Mode</B>!";

namespace {

// a + b, held at the ends of the 64-bit range instead of wrapping: a stamp or interval read
// from a file can be anything.
int64_t SaturatingAdd(int64_t a, int64_t b)
{
    if (b > 0 && a > std::numeric_limits<int64_t>::max() - b)
        return std::numeric_limits<int64_t>::max();
    if (b < 0 && a < std::numeric_limits<int64_t>::min() - b)
        return std::numeric_limits<int64_t>::min();
    return a + b;
}

constexpr char EligibilityReasons[] =
    "|Error downloading .INFO file|Error reading .ORIGINAL file|Too early for retesting|New version is not higher "
    "then old version|\"Valid for version\" mismatch|Download file size error|OK|";

}  // namespace

int ShotTimeStatus(const ShotTimingInputs& in)
{
    if (!in.autoProbe && !in.forcedCheck)
        return 0;
    const int64_t interval = in.testMode ? 5 : in.storedInterval;
    int status = in.now >= SaturatingAdd(in.lastProbe, interval) ? 1 : 0;
    if (in.storedInterval == 0 && status == 1)
        status = 2;
    if (in.storedInterval == -1)
        status = 0;
    if (in.forcedCheck)
        status = 1;
    return status;
}

bool TestModeWanted(const std::string& testModeValue, const std::string& testModeDate, const std::string& today)
{
    return testModeValue == "1" && testModeDate == today;
}

std::string CheckQuestionText(const std::string& s22, const std::string& s23, const std::string& s24,
                              const std::string& address, bool testMode, const std::string& programName)
{
    // The middle part names the server: a folder path ('C:\...') is no server to name.
    const bool serverAddress = address.size() >= 2 && address[1] != ':';
    const std::string text = s22 + (serverAddress ? s23 : std::string()) + s24 + (testMode ? TestModeNote : "");
    return ReplaceText(text, "PROG_NAME", programName);
}

bool ReAskDue(int64_t reAskLast, int64_t reAskInterval, int64_t now)
{
    if (now <= SaturatingAdd(reAskLast, reAskInterval))
        return false;
    return reAskInterval > 0;
}

bool VersionValid(const std::string& validVersions, int32_t versionOriginal)
{
    if (validVersions.empty())
        return true;
    return ("," + validVersions + ",").find("," + IntToStr(versionOriginal) + ",") != std::string::npos;
}

bool SizeWithinMargin(int32_t actual, int32_t expected)
{
    const int64_t difference = static_cast<int64_t>(actual) - static_cast<int64_t>(expected);
    return (difference < 0 ? -difference : difference) < 100;
}

uint64_t PublishedDownloadLimit(int32_t published)
{
    return static_cast<uint64_t>(published > 0 ? published : 0) + 99;
}

int32_t EligibilityCode(const EligibilityInputs& in, const std::function<bool()>& sizeMatches)
{
    if (!in.infoDownloaded)
        return 0;
    if (in.versionOriginal <= 0)
        return 1;
    if (!(in.stampNew != in.stampOriginal || ReAskDue(in.reAskLast, in.reAskInterval, in.now) || in.requestedCheck))
        return 2;
    if (!(in.versionNew > in.versionOriginal))
        return 3;
    if (!VersionValid(in.validVersions, in.versionOriginal))
        return 4;
    if (!sizeMatches || !sizeMatches())
        return 5;
    return 6;
}

std::string EligibilityReason(int32_t code)
{
    return SUB::Item(EligibilityReasons, code, "");
}

std::string NothingFoundText(const std::string& s21, bool developerMode, int32_t code, const std::string& reason)
{
    if (!developerMode)
        return s21;
    return s21 + "<P><P>(" + IntToStr(code) + " - " + reason + ")   ";
}

std::string DownloadFailureText(bool aborted, const std::string& source, const std::string& s3,
                                const std::string& s4, const std::string& s5)
{
    if (aborted)
        return s3;
    const bool pathSource = (source.size() >= 2 && source[1] == ':') || source.rfind("\\\\", 0) == 0;
    return (pathSource ? s4 : s5) + "<P><P>" + source;
}

std::string DownloadNoticeText(const UpdateTexts& t, bool confirmInstall, bool downloadForce,
                               const std::string& programName)
{
    std::string second = confirmInstall ? t.s13 : t.s12;
    if (downloadForce)
        second = confirmInstall ? t.s19 : t.s18;
    return ReplaceText(t.s11 + second, "PROG_NAME", programName);
}

std::string InstallNoticeText(const UpdateTexts& t, bool installForce, const std::string& programName)
{
    return ReplaceText(installForce ? t.s20 : t.s14, "PROG_NAME", programName);
}

std::string ShutDownNoticeText(const UpdateTexts& t, const std::string& program)
{
    return ReplaceText(t.s15, "PROG_NAME", FileNamePart(program));
}

FinishNotice FinishNoticeOf(const UpdateTexts& t, bool setupCompleted, bool informFinish, bool requestedCheck,
                            bool restart, const std::string& programName)
{
    FinishNotice notice;
    if (!setupCompleted || !(informFinish || requestedCheck))
        return notice;
    notice.show = true;
    notice.question = restart;
    // "s17" is shown as written: only the first part names the product.
    const std::string first = ReplaceText(t.s16, "PROG_NAME", programName);
    notice.text = restart ? first + t.s17 : first;
    return notice;
}

std::string QuotedProgram(const std::string& program)
{
    if (program.find(' ') == std::string::npos || (program.size() >= 2 && program.front() == '"'))
        return program;
    return "\"" + program + "\"";
}

std::string InformTextFace(const std::string& fontName)
{
    return fontName.empty() || fontName == "Tahoma" ? "Verdana" : fontName;
}

InformLayout InformLayoutOf(int width, int height, bool withAddress)
{
    InformLayout layout;
    layout.textLeft = 3;
    layout.textWidth = width - 3;
    layout.textHeight = withAddress ? height - 43 : height;
    if (withAddress) {
        layout.buttonLeft = (width - 160) / 2;
        layout.buttonTop = height - 33;
        layout.buttonWidth = 160;
        layout.buttonHeight = 25;
        layout.lineY = height - 43;
        layout.bandTop = height - 42;
    }
    return layout;
}

WindowPlace CentredPlace(int screenWidth, int screenHeight, int width, int height)
{
    // The size comes from the INFO file and can be any 32-bit value: the difference is taken in
    // 64 bits, and its half always fits back.
    const auto half = [](int64_t screen, int64_t size) { return static_cast<int>((screen - size) / 2); };
    return {half(screenWidth, width), half(screenHeight, height)};
}
