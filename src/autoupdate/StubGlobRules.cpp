#include "autoupdate/StubGlobRules.h"

#include <cmath>

#include "util/USUB.h"
#include "util/Utils.h"

int64_t LocalSecondsFromDateTime(double dateTime)
{
    return std::llround(dateTime * 86400.0);
}

std::string MirrorText(int64_t localSeconds)
{
    // From whole seconds: a stamp is an integer count, and the date-time form of it must not
    // round a second up into a "60".
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
    for (size_t k = 0; k < SlotCount; ++k) {
        int64_t value = 0;
        // Whatever number an item holds, its low byte is the slot's; what is no number leaves it.
        if (TryParseInt64(SUB::Item(list, static_cast<int32_t>(k), ""), value))
            slots_[k] = static_cast<uint8_t>(static_cast<uint64_t>(value) & 0xFF);
    }
}
