// The agent's reading rules and decisions: settings values, time stamps and their mirrors, the
// override slots and their list, shot timing, the check question, the eligibility chain and the
// texts the user is told.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "autoupdate/StubAURules.h"
#include "autoupdate/StubGlobRules.h"

namespace {
constexpr int64_t Day = 86400;
constexpr int64_t Jan2000 = 3155846400;  // 1 January 2000 00:00 in local seconds
}  // namespace

TEST(StubGlobRules, StampsAndMirrors)
{
    EXPECT_EQ(LocalSecondsFromDateTime(36526.0), Jan2000);  // the date-time value of 01-JAN-2000
    EXPECT_EQ(LocalSecondsFromDateTime(36526.0 + 0.5 / Day), Jan2000 + 1);  // rounded, not cut
    EXPECT_EQ(MirrorText(Jan2000), "01-JAN-2000 00:00:00");
    EXPECT_EQ(MirrorText(Jan2000 + 13 * 3600 + 45 * 60 + 59), "01-JAN-2000 13:45:59");
    EXPECT_EQ(MirrorText(Jan2000 - 1), "31-DEC-1999 23:59:59");
    EXPECT_EQ(LocalSecondsFromDateTime(std::nan("")), 0);  // a broken clock is no moment
    EXPECT_EQ(LocalSecondsFromDateTime(1e300), 0);
}

TEST(StubGlobRules, ValuesAsTheFilesHoldThem)
{
    const struct {
        const char* text;
        int64_t integer;
        bool flag;
    } cases[] = {
        {"", 7, false},       {"abc", 7, false},  {"12", 12, false},     {"-1", -1, false},
        {"1", 1, true},       {"01", 1, false},   {"true", 7, false},    {"yes", 7, false},
        {"0", 0, false},      {"4294967297", 4294967297, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IntegerValue(c.text, 7), c.integer) << c.text;
        EXPECT_EQ(FlagValue(c.text), c.flag) << c.text;
    }
    EXPECT_EQ(Low32(4294967297), 1);  // a version beyond 32 bits keeps its low half
    EXPECT_EQ(Low32(4294967295), -1);
    EXPECT_EQ(Low32(Jan2000), static_cast<int32_t>(static_cast<uint32_t>(Jan2000)));
}

TEST(StubGlobRules, OverrideSlotsAndTheirList)
{
    SettingOverrides overrides;
    EXPECT_EQ(overrides.List(), "|255|255|255|255|255|255|255|255|");
    EXPECT_TRUE(overrides.Flag(SlotConfirmInstall, true));  // unset: the file decides
    EXPECT_FALSE(overrides.Flag(SlotConfirmInstall, false));
    overrides.SetSlot(SlotConfirmInstall, 0);
    EXPECT_FALSE(overrides.Flag(SlotConfirmInstall, true));
    overrides.SetSlot(SlotConfirmInstall, 1);
    EXPECT_TRUE(overrides.Flag(SlotConfirmInstall, false));
    overrides.SetSlot(SlotConfirmInstall, 2);  // only 1 means yes
    EXPECT_FALSE(overrides.Flag(SlotConfirmInstall, true));
    overrides.SetSlot(99, 1);  // beyond the slots: nothing
    EXPECT_EQ(overrides.Slot(99), SettingOverrides::NotSet);

    SettingOverrides applied;
    applied.SetSlot(2, 7);
    applied.Apply("|1|0|x|");
    EXPECT_EQ(applied.List(), "|1|0|7|255|255|255|255|255|");
    applied.Apply("|300|");  // the low byte of a larger number
    EXPECT_EQ(applied.Slot(0), 44);
    applied.Apply("|4294967297|");  // no 32-bit number: the slot stays
    EXPECT_EQ(applied.Slot(0), 44);
    applied.Apply("");
    EXPECT_EQ(applied.List(), "|44|0|7|255|255|255|255|255|");

    // The list a copy hands to its successor reads back as the same slots.
    SettingOverrides next;
    next.Apply(applied.List());
    EXPECT_EQ(next.List(), applied.List());
}

TEST(StubAURules, ShotTimeStatus)
{
    const int64_t now = Jan2000 + 100 * Day;
    const struct {
        bool autoProbe, forced, testMode;
        int64_t interval, last;
        int expected;
    } cases[] = {
        {true, false, false, Day, now - Day, 1},          // exactly a day ago: due
        {true, false, false, Day, now - Day + 1, 0},      // a second short
        {true, false, false, 0, now, 2},                  // 0: the one check that is left
        {true, false, false, -1, 0, 0},                   // -1: never by itself
        {true, true, false, -1, now, 1},                  // but a check asked for runs
        {false, false, false, Day, 0, 0},                 // automatic checks spent
        {false, true, false, Day, now, 1},
        {true, false, true, Day, now - 5, 1},             // test mode: every 5 seconds
        {true, false, true, Day, now - 4, 0},
        {true, false, true, 0, now - 5, 2},
        {true, false, true, -1, now - 5, 0},
        {true, false, false, INT64_MAX, now, 0},          // no overflow past the end of time
        {true, false, false, Day, INT64_MAX, 0},
    };
    for (const auto& c : cases) {
        ShotTimingInputs in;
        in.autoProbe = c.autoProbe;
        in.forcedCheck = c.forced;
        in.testMode = c.testMode;
        in.storedInterval = c.interval;
        in.lastProbe = c.last;
        in.now = now;
        EXPECT_EQ(ShotTimeStatus(in), c.expected) << c.interval << " " << now - c.last;
    }
}

TEST(StubAURules, TestModeAndTheCheckQuestion)
{
    EXPECT_TRUE(TestModeWanted("1", "10-DEC-2026", "10-DEC-2026"));
    EXPECT_FALSE(TestModeWanted("1", "09-DEC-2026", "10-DEC-2026"));
    EXPECT_FALSE(TestModeWanted("0", "10-DEC-2026", "10-DEC-2026"));

    const std::string a = "Check PROG_NAME ", b = "at the server ", c = "now? (PROG_NAME)";
    EXPECT_EQ(CheckQuestionText(a, b, c, "http://h", false, "Sample"), "Check Sample at the server now? (Sample)");
    EXPECT_EQ(CheckQuestionText(a, b, c, "C:\\updates", false, "Sample"), "Check Sample now? (Sample)");
    EXPECT_EQ(CheckQuestionText(a, b, c, "x", false, "Sample"), "Check Sample now? (Sample)");
    EXPECT_EQ(CheckQuestionText(a, b, c, "\\\\srv\\sh", true, "S"),
              std::string("Check S at the server now? (S)") + TestModeNote);
    EXPECT_STREQ(TestModeNote, "<P><P><T><B>PLEASE NOTE</B> - You are now running in <B>Test Mode</B>!");
}

TEST(StubAURules, EligibilityTests)
{
    EXPECT_FALSE(ReAskDue(Jan2000, 3600, Jan2000 + 3600));  // the time must be strictly past
    EXPECT_TRUE(ReAskDue(Jan2000, 3600, Jan2000 + 3601));
    EXPECT_FALSE(ReAskDue(0, 0, Jan2000));                  // 0: never again by time
    EXPECT_FALSE(ReAskDue(INT64_MAX, 3600, Jan2000));

    const struct {
        const char* list;
        int32_t version;
        bool valid;
    } versions[] = {{"", 9, true},      {"3,4,7", 3, true}, {"3,4,7", 7, true}, {"3,4,7", 5, false},
                    {"3, 4", 3, true},  {"3, 4", 4, false}, {"12", 2, false},   {"12", 12, true}};
    for (const auto& v : versions)
        EXPECT_EQ(VersionValid(v.list, v.version), v.valid) << v.list << " " << v.version;

    EXPECT_TRUE(SizeWithinMargin(1000099, 1000000));
    EXPECT_FALSE(SizeWithinMargin(1000100, 1000000));
    EXPECT_TRUE(SizeWithinMargin(-1, 0));  // unknown against unpublished
    EXPECT_FALSE(SizeWithinMargin(INT32_MIN, INT32_MAX));
    EXPECT_FALSE(SizeWithinMargin(INT32_MAX, -1));

    // A download is cut off exactly where the size test would refuse it anyway.
    for (const int32_t published : {0, 1, 1000000, INT32_MAX - 99}) {
        const uint64_t limit = PublishedDownloadLimit(published);
        EXPECT_TRUE(SizeWithinMargin(static_cast<int32_t>(limit), published)) << published;
        EXPECT_FALSE(SizeWithinMargin(static_cast<int32_t>(limit + 1), published)) << published;
    }
    EXPECT_EQ(PublishedDownloadLimit(INT32_MAX), uint64_t{INT32_MAX} + 99);  // no 32-bit overflow
    EXPECT_EQ(PublishedDownloadLimit(-5), 99u);  // a damaged size allows next to nothing
}

TEST(StubAURules, EligibilityChain)
{
    EligibilityInputs base;
    base.infoDownloaded = true;
    base.versionOriginal = 2;
    base.stampOriginal = 5;
    base.stampNew = 6;
    base.versionNew = 3;
    base.now = Jan2000;

    struct Case {
        const char* what;
        void (*change)(EligibilityInputs&);
        bool sizeOk;
        int32_t code;
    };
    const Case cases[] = {
        {"download failed", [](EligibilityInputs& in) { in.infoDownloaded = false; }, true, 0},
        {"no installed version", [](EligibilityInputs& in) { in.versionOriginal = 0; }, true, 1},
        {"negative installed version", [](EligibilityInputs& in) { in.versionOriginal = -3; }, true, 1},
        {"same stamp, no re-ask", [](EligibilityInputs& in) { in.stampNew = 5; }, true, 2},
        {"same stamp, re-ask due",
         [](EligibilityInputs& in) {
             in.stampNew = 5;
             in.reAskInterval = 60;
             in.reAskLast = Jan2000 - 61;
         },
         true, 6},
        {"same stamp, asked for", [](EligibilityInputs& in) { in.stampNew = 5; in.requestedCheck = true; }, true, 6},
        {"not newer", [](EligibilityInputs& in) { in.versionNew = 2; }, true, 3},
        {"not for this version", [](EligibilityInputs& in) { in.validVersions = "12"; }, true, 4},
        {"size differs", [](EligibilityInputs&) {}, false, 5},
        {"applies", [](EligibilityInputs&) {}, true, 6},
    };
    for (const Case& c : cases) {
        EligibilityInputs in = base;
        c.change(in);
        int asked = 0;
        const int32_t code = EligibilityCode(in, [&] {
            ++asked;
            return c.sizeOk;
        });
        EXPECT_EQ(code, c.code) << c.what;
        // The size is asked only once everything else passed: it may cost a request to the server.
        EXPECT_EQ(asked, code >= 5 ? 1 : 0) << c.what;
    }
    EXPECT_EQ(EligibilityReason(0), "Error downloading .INFO file");
    EXPECT_EQ(EligibilityReason(2), "Too early for retesting");
    EXPECT_EQ(EligibilityReason(3), "New version is not higher then old version");
    EXPECT_EQ(EligibilityReason(4), "\"Valid for version\" mismatch");
    EXPECT_EQ(EligibilityReason(6), "OK");
    EXPECT_EQ(EligibilityReason(7), "");
}

TEST(StubAURules, WhatTheUserIsTold)
{
    EXPECT_EQ(NothingFoundText("No update.", false, 3, "New version is not higher then old version"), "No update.");
    EXPECT_EQ(NothingFoundText("No update.", true, 3, "New version is not higher then old version"),
              "No update.<P><P>(3 - New version is not higher then old version)   ");
    const std::string s3 = "Aborted!", s4 = "Not found!", s5 = "Unable!";
    EXPECT_EQ(DownloadFailureText(true, "http://h/f", s3, s4, s5), "Aborted!");
    EXPECT_EQ(DownloadFailureText(false, "C:\\dir\\f", s3, s4, s5), "Not found!<P><P>C:\\dir\\f");
    EXPECT_EQ(DownloadFailureText(false, "\\\\srv\\sh\\f", s3, s4, s5), "Not found!<P><P>\\\\srv\\sh\\f");
    EXPECT_EQ(DownloadFailureText(false, "http://h/f", s3, s4, s5), "Unable!<P><P>http://h/f");
}

TEST(StubAURules, UpdateNotices)
{
    UpdateTexts t;
    t.s11 = "New PROG_NAME. ";
    t.s12 = "[12]";
    t.s13 = "[13]";
    t.s14 = "Install PROG_NAME?";
    t.s15 = "Close PROG_NAME!";
    t.s16 = "PROG_NAME updated.";
    t.s17 = " Start PROG_NAME?";
    t.s18 = "[18]";
    t.s19 = "[19]";
    t.s20 = "Installing PROG_NAME.";
    const struct {
        bool confirmInstall, downloadForce;
        const char* text;
    } downloads[] = {
        {false, false, "New Sample. [12]"},
        {true, false, "New Sample. [13]"},
        {false, true, "New Sample. [18]"},
        {true, true, "New Sample. [19]"},
    };
    for (const auto& c : downloads)
        EXPECT_EQ(DownloadNoticeText(t, c.confirmInstall, c.downloadForce, "Sample"), c.text);
    EXPECT_EQ(InstallNoticeText(t, false, "Sample"), "Install Sample?");
    EXPECT_EQ(InstallNoticeText(t, true, "Sample"), "Installing Sample.");
    EXPECT_EQ(ShutDownNoticeText(t, "C:\\Program Files\\Sample\\Prog.exe"), "Close Prog.exe!");

    const struct {
        bool completed, informFinish, requested, restart;
        bool show, question;
        const char* text;
    } finishes[] = {
        {false, true, true, true, false, false, ""},  // a failed setup: nothing to tell
        {true, false, false, true, false, false, ""},
        {true, true, false, false, true, false, "Sample updated."},
        {true, false, true, false, true, false, "Sample updated."},  // the user's own check is told
        {true, true, false, true, true, true, "Sample updated. Start PROG_NAME?"},  // "s17" as written
    };
    for (const auto& c : finishes) {
        const FinishNotice notice = FinishNoticeOf(t, c.completed, c.informFinish, c.requested, c.restart, "Sample");
        EXPECT_EQ(notice.show, c.show) << c.text;
        EXPECT_EQ(notice.question, c.question) << c.text;
        EXPECT_EQ(notice.text, c.text);
    }

    EXPECT_EQ(QuotedProgram("C:\\Program Files\\Sample\\Prog.exe"), "\"C:\\Program Files\\Sample\\Prog.exe\"");
    EXPECT_EQ(QuotedProgram("C:\\Sample\\Prog.exe"), "C:\\Sample\\Prog.exe");
    EXPECT_EQ(QuotedProgram("\"C:\\A B\\Prog.exe\""), "\"C:\\A B\\Prog.exe\"");
}

TEST(StubAURules, InformDialogLayout)
{
    EXPECT_EQ(InformTextFace(""), "Verdana");
    EXPECT_EQ(InformTextFace("Tahoma"), "Verdana");
    EXPECT_EQ(InformTextFace("Arial"), "Arial");

    const InformLayout with = InformLayoutOf(351, 300, true);
    EXPECT_EQ((std::vector<int>{with.textLeft, with.textTop, with.textWidth, with.textHeight}),
              (std::vector<int>{3, 0, 348, 257}));
    EXPECT_EQ((std::vector<int>{with.buttonLeft, with.buttonTop, with.buttonWidth, with.buttonHeight}),
              (std::vector<int>{95, 267, 160, 25}));
    EXPECT_EQ(with.lineY, 257);
    EXPECT_EQ(with.bandTop, 258);
    const InformLayout without = InformLayoutOf(351, 300, false);
    EXPECT_EQ(without.textHeight, 300);
    EXPECT_EQ(without.buttonWidth, 0);
    EXPECT_EQ(InformLayoutOf(100, 30, true).buttonLeft, -30);  // narrower than the button: rounded toward zero

    EXPECT_EQ(CentredPlace(1280, 1024, 360, 360).left, 460);
    EXPECT_EQ(CentredPlace(1280, 1024, 361, 360).left, 459);
    EXPECT_EQ(CentredPlace(300, 200, 361, 360).top, -80);
    // Any size an INFO file holds: the place is still the half of the difference.
    EXPECT_EQ(CentredPlace(1280, 1024, INT32_MIN, INT32_MAX).left, 1073742464);
    EXPECT_EQ(CentredPlace(1280, 1024, INT32_MIN, INT32_MAX).top, -1073741311);
}
