// The list-string operations on arbitrary texts, keys and indexes. Besides not crashing, a few
// properties must hold: SetItem's result holds the new item where it was put (items are joined
// with NUL on the way, so the property is checked for texts without NUL).
#include <cstdint>
#include <string>

#include "util/USUB.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int32_t index = static_cast<int8_t>(data[0]);
    const size_t split = data[1] % (size - 1) + 2 > size ? size : data[1] % (size - 1) + 2;
    const std::string list(reinterpret_cast<const char*>(data) + 2, split - 2);
    const std::string text(reinterpret_cast<const char*>(data) + split, size - split);

    (void)SUB::Count(list);
    (void)SUB::Item(list, index, "d");
    (void)SUB::ItemInt(list, index, 7);
    (void)SUB::Value(list, text, "m", "e");
    (void)SUB::PickSeparator(std::string(1, '\0') + text);

    const std::string changed = SUB::SetItem(list, index, text);
    const bool noNul = text.find('\0') == std::string::npos && list.find('\0') == std::string::npos;
    if (index >= 0 && noNul && !changed.empty() && changed[0] != '\0' && !text.empty() &&
        SUB::Item(changed, index, "") != text)
        __builtin_trap();
    return 0;
}
