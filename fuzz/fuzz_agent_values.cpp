// What the agent reads from its settings files and the server, on arbitrary bytes: the value
// rules (integers, 32-bit values, flags, the stamps' readable mirrors) and the decisions taken on
// such values (the shot timing, the eligibility chain), the override list (a list it made reads
// back as the same slots), the version list, the check question, the error-page test and its
// message, and the progress and rate texts of a transfer whose blocks and clock come from the
// input.
#include <cstdint>
#include <cstring>
#include <string>

#include "autoupdate/StubAURules.h"
#include "autoupdate/StubGlobRules.h"
#include "inet/CommUtils.h"
#include "util/HashText.h"
#include "util/Utils.h"

namespace {

// Little-endian bytes from `at` on; missing bytes read as 0.
uint64_t BytesAt(const uint8_t* data, size_t size, size_t at, size_t count)
{
    uint64_t value = 0;
    for (size_t i = 0; i < count && at + i < size; ++i)
        value |= static_cast<uint64_t>(data[at + i]) << (8 * i);
    return value;
}

int64_t Int64At(const uint8_t* data, size_t size, size_t at)
{
    return static_cast<int64_t>(BytesAt(data, size, at, 8));
}

int32_t Int32At(const uint8_t* data, size_t size, size_t at)
{
    return static_cast<int32_t>(static_cast<uint32_t>(BytesAt(data, size, at, 4)));
}

void ValueRules(const std::string& text, const uint8_t* data, size_t size)
{
    const int64_t number = IntegerValue(text, -7);
    // A value that reads as a number reads the same from its own decimal text.
    if (IntegerValue(text, 1) == IntegerValue(text, 2) && IntegerValue(IntToStr(number), 3) != number)
        __builtin_trap();
    if (Low32(number) != static_cast<int32_t>(static_cast<uint32_t>(number)))
        __builtin_trap();
    if (FlagValue(text) != (text == "1"))
        __builtin_trap();
    // '06-DEC-2026 05:40:54': any stamp, even one no clock gives, has a mirror of that form.
    for (const int64_t stamp : {number, Int64At(data, size, 0)}) {
        const std::string mirror = MirrorText(stamp);
        if (mirror.size() != 20 || mirror[2] != '-' || mirror[6] != '-' || mirror[11] != ' ')
            __builtin_trap();
    }
}

void OverrideList(const std::string& text)
{
    SettingOverrides overrides;
    overrides.Apply(text);
    const std::string list = overrides.List();
    SettingOverrides again;
    again.Apply(list);
    if (again.List() != list)
        __builtin_trap();
}

// The timing and the eligibility chain on stamps, intervals and versions as a file may hold them.
void Decisions(const std::string& text, const uint8_t* data, size_t size)
{
    const uint8_t bits = size > 0 ? data[0] : 0;
    ShotTimingInputs timing;
    timing.autoProbe = (bits & 1) != 0;
    timing.forcedCheck = (bits & 2) != 0;
    timing.testMode = (bits & 4) != 0;
    timing.storedInterval = Int64At(data, size, 1);
    timing.lastProbe = Int64At(data, size, 9);
    timing.now = Int64At(data, size, 17);
    const int status = ShotTimeStatus(timing);
    if (status < 0 || status > 2 || (timing.forcedCheck && status != 1))
        __builtin_trap();

    EligibilityInputs in;
    in.infoDownloaded = (bits & 8) != 0;
    in.requestedCheck = (bits & 16) != 0;
    in.versionOriginal = Int32At(data, size, 25);
    in.stampOriginal = Int32At(data, size, 29);
    in.reAskInterval = Int64At(data, size, 1);
    in.reAskLast = Int64At(data, size, 9);
    in.now = Int64At(data, size, 17);
    in.versionNew = Int32At(data, size, 33);
    in.stampNew = Int32At(data, size, 37);
    in.validVersions = text;
    const int32_t code = EligibilityCode(in, [&] { return SizeWithinMargin(Int32At(data, size, 41), in.versionNew); });
    if (code < 0 || code > 6 || EligibilityReason(code).empty())
        __builtin_trap();
    (void)ReAskDue(in.reAskLast, in.reAskInterval, in.now);
    (void)VersionValid(text, Low32(IntegerValue(text, 0)));
}

void Texts(const std::string& text, size_t size)
{
    (void)CheckQuestionText(text, text, text, text, (size & 1) != 0, text);
    (void)DownloadFailureText((size & 2) != 0, text, "s3", "s4", "s5");
    const bool page = IsErrorPageText(text);
    const std::string message = ErrorPageMessage(page, text, text, "fallback", (size & 4) != 0);
    if (!page && message != "fallback")
        __builtin_trap();
}

// A transfer: total and done from the first 16 bytes, then one block per 6 bytes (its byte
// count and the milliseconds since the one before), so that the five-block window fills, the
// clock wraps and the 500 ms refresh is crossed.
void Transfer(const uint8_t* data, size_t size)
{
    const int64_t total = Int64At(data, size, 0);
    int64_t done = Int64At(data, size, 8);
    const uint8_t bits = size > 0 ? data[0] : 0;
    TBytesRate rate((bits & 1) != 0, (bits & 2) != 0);
    uint32_t tick = static_cast<uint32_t>(BytesAt(data, size, 4, 4));
    for (size_t at = 16, blocks = 0; at + 6 <= size && blocks < 256; at += 6, ++blocks) {
        const int32_t block = Int32At(data, size, at);
        tick += static_cast<uint32_t>(BytesAt(data, size, at + 4, 2));
        done = static_cast<int64_t>(static_cast<uint64_t>(done) + static_cast<uint64_t>(static_cast<int64_t>(block)));
        const std::string progress = rate.ProgressText(total, done, block, tick);
        if (progress.empty())
            __builtin_trap();
        if (blocks % 16 == 15)
            rate.Reset();
    }
    TBytesRate plain(false, false);
    for (uint32_t step = 0; step < 6; ++step)
        (void)plain.RateText(Int32At(data, size, 8), tick + step * 600u);
}

}  // namespace

// A published digest, as the INFO file or a web installer holds it: empty (none), "!" (refuses
// every file) or the 64 lower-case digits that the computed digest must equal.
void PublishedDigest(const std::string& text)
{
    const std::string read = PublishedSha256(text);
    if (!read.empty() && read != "!" && (read.size() != 64 || read.find_first_not_of("0123456789abcdef") != std::string::npos))
        __builtin_trap();
    if (Sha256Accepts(text, read) != (read.empty() || read != "!"))
        __builtin_trap();
    if (Sha256Accepts(text, "!") != read.empty())
        __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    ValueRules(text, data, size);
    OverrideList(text);
    Decisions(text, data, size);
    Texts(text, size);
    Transfer(data, size);
    PublishedDigest(text);
    return 0;
}
