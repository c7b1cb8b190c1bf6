#pragma once
// List strings: a small list held in one text whose first character is its delimiter.
// '|a|b|' holds the items 'a' and 'b'; items count from 0; key=value items are looked up
// ignoring case. SUB only groups the operations: it has no state and is never instantiated.
#include <cstdint>
#include <string>

class SUB {
public:
    SUB() = delete;

    // Number of items; 0 for an empty list or one whose first and last characters differ.
    static int32_t Count(const std::string& list);
    // Item `index`; `def` when the index is out of range or the item is empty.
    static std::string Item(const std::string& list, int32_t index, const std::string& def);
    // Item as a 32-bit decimal number; `def` when missing, empty or not a number.
    static int32_t ItemInt(const std::string& list, int32_t index, int32_t def);
    // Value of the first item 'key=value' (key compared ignoring case); `ifMissing` when
    // there is no such item or the list is not closed, `ifEmpty` when the value is empty.
    static std::string Value(const std::string& list, const std::string& key,
                             const std::string& ifMissing, const std::string& ifEmpty);
    // The list with item `index` replaced (growing with empty items as needed); the whole
    // list changes its delimiter when the new text holds the old one.
    static std::string SetItem(const std::string& list, int32_t index, const std::string& text);
    // `joined` starts with NUL and separates items with NUL; every NUL is replaced by the
    // first character of "|*^!~@#$&\xFF" that occurs nowhere in it. Unchanged when all occur.
    static std::string PickSeparator(const std::string& joined);

    static constexpr const char* SeparatorSet = "|*^!~@#$&\xFF";
};
