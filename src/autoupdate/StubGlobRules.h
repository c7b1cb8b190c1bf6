#pragma once
// The reading and writing rules of the agent's two settings files (the .original file beside the
// agent, the INFO file the publisher puts on the server), as plain functions: values as the
// private-profile functions hand them over go in, what the agent works with comes out. The
// file access itself is StubGlob's.
#include <array>
#include <cstdint>
#include <string>

// A local date-time (days since 30 December 1899, the time of day as the fraction) as the
// agent's time stamp: times 86400, rounded to the nearest second.
int64_t LocalSecondsFromDateTime(double dateTime);
// The readable mirror of a time stamp, as '06-DEC-2026 05:40:54'.
std::string MirrorText(int64_t localSeconds);

// An integer value: its decimal text, `def` when it is empty or no valid 64-bit decimal integer.
int64_t IntegerValue(const std::string& text, int64_t def);
// The low 32 bits of an integer value, as a signed number.
int32_t Low32(int64_t value);
// A flag is set exactly when the value is the text "1" ("true", "yes" and "01" are not).
bool FlagValue(const std::string& text);

// Eight one-byte slots that override some flags of the INFO file; 255 means "not set".
class SettingOverrides {
public:
    static constexpr uint8_t NotSet = 255;
    static constexpr size_t SlotCount = 8;

    uint8_t Slot(size_t k) const { return k < SlotCount ? slots_[k] : NotSet; }
    void SetSlot(size_t k, uint8_t value)
    {
        if (k < SlotCount)
            slots_[k] = value;
    }
    // The flag as the agent sees it: the file's value while slot k is not set, else slot k == 1.
    bool Flag(size_t k, bool fromFile) const;
    // '|255|255|255|255|255|255|255|255|': every slot, in order, as unsigned decimal.
    std::string List() const;
    // Applies a list made by List(): item k, read as a 32-bit number with the slot's value as
    // default, gives slot k its low byte; a missing or non-numeric item leaves its slot alone.
    void Apply(const std::string& list);

private:
    std::array<uint8_t, SlotCount> slots_{NotSet, NotSet, NotSet, NotSet, NotSet, NotSet, NotSet, NotSet};
};

// Slots of SettingOverrides.
enum OverrideSlot : size_t {
    SlotAskBeforeCheck = 0,  // no INFO key: ask before every automatic check (set only when 1)
    SlotConfirmDownload = 1,
    SlotConfirmInstall = 2,
    SlotBackgroundUpdate = 3,
    SlotInformFinish = 4,
    SlotRestartProcess = 5,
    SlotConfirmDownloadForce = 6,
    SlotConfirmInstallForce = 7,
};
