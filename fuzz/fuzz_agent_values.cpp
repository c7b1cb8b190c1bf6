// What the agent reads from its settings files and the server, on arbitrary bytes: the value
// rules, the override list (a list it made reads back as the same slots), the stamps' readable
// mirrors, the error-page test and its message, and the progress and rate texts.
#include <cstdint>
#include <cstring>
#include <string>

#include "autoupdate/StubAURules.h"
#include "autoupdate/StubGlobRules.h"
#include "inet/CommUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int64_t number = IntegerValue(text, -7);
    (void)Low32(number);
    (void)FlagValue(text);
    (void)MirrorText(number);

    SettingOverrides overrides;
    overrides.Apply(text);
    const std::string list = overrides.List();
    SettingOverrides again;
    again.Apply(list);
    if (again.List() != list)
        __builtin_trap();

    (void)VersionValid(text, Low32(number));
    (void)CheckQuestionText(text, text, text, text, (size & 1) != 0, text);
    (void)DownloadFailureText((size & 2) != 0, text, "s3", "s4", "s5");
    const bool page = IsErrorPageText(text);
    (void)ErrorPageMessage(page, text, text, "fallback", (size & 4) != 0);

    int64_t a = 0, b = 0;
    std::memcpy(&a, data, size < 8 ? size : 8);
    if (size > 8)
        std::memcpy(&b, data + 8, size < 16 ? size - 8 : 8);
    TBytesRate rate((a & 1) != 0, (a & 2) != 0);
    for (int tick = 0; tick < 3; ++tick) {
        (void)rate.ProgressText(a, b, static_cast<int32_t>(b), static_cast<uint32_t>(a) + tick * 1000u);
        (void)rate.RateText(static_cast<int32_t>(a), static_cast<uint32_t>(b) + tick * 500u);
    }
    return 0;
}
