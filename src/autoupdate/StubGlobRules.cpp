#include "autoupdate/StubGlobRules.h"

#include <cmath>

#include "util/USUB.h"
#include "util/Utils.h"

int64_t LocalSecondsFromDateTime(double dateTime)
{
    // A clock value that is no number, or one beyond what 64-bit seconds hold, has no llround
    // result to rely on; such a stamp is as good as none.
    const double seconds = dateTime * 86400.0;
    if (!std::isfinite(seconds) || seconds >= 9.2e18 || seconds <= -9.2e18)
        return 0;
    return std::llround(seconds);
}

std::string MirrorText(int64_t localSeconds)
{
    // DateTimeStamp rounds the date-time to whole milliseconds before it splits off the seconds;
    // a whole second count divided by 86400 comes back within far less than a millisecond over
    // the whole calendar it covers, so the mirror shows exactly the stored second.
    return DateTimeStamp(static_cast<double>(localSeconds) / 86400.0);
}

int64_t IntegerValue(const std::string& text, int64_t def)
{
    int64_t value = 0;
    return TryParseInt64(text, value) ? value : def;
}

int32_t Low32(int64_t value)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value) & 0xFFFFFFFFu));
}

bool FlagValue(const std::string& text)
{
    return text == "1";
}

bool SettingOverrides::Flag(size_t k, bool fromFile) const
{
    const uint8_t slot = Slot(k);
    return slot == NotSet ? fromFile : slot == 1;
}

std::string SettingOverrides::List() const
{
    std::string list = "|";
    for (const uint8_t slot : slots_)
        list += IntToStr(slot) + "|";
    return list;
}

void SettingOverrides::Apply(const std::string& list)
{
    // ItemInt hands back the default for a missing, empty, non-numeric or beyond-32-bit item, so
    // only a usable number changes its slot; of that number only the low byte fits.
    for (size_t k = 0; k < SlotCount; ++k)
        slots_[k] = static_cast<uint8_t>(SUB::ItemInt(list, static_cast<int32_t>(k), slots_[k]) & 0xFF);
}
