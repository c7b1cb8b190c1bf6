#include "util/Utils.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <random>
#include <string_view>
#include <vector>

#include "util/SteadyClock.h"

std::string UpperCase(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string Trim(const std::string& text)
{
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 32)
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32)
        --e;
    return text.substr(b, e - b);
}

bool SameText(const std::string& a, const std::string& b)
{
    return UpperCase(a) == UpperCase(b);
}

bool TryParseInt64(const std::string& text, int64_t& value)
{
    if (text.empty())
        return false;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (*first == '+')
        ++first;  // from_chars takes '-' but not '+'
    if (first == last || *first == '+')
        return false;
    int64_t v = 0;
    const auto res = std::from_chars(first, last, v, 10);
    if (res.ec != std::errc() || res.ptr != last)
        return false;
    value = v;
    return true;
}

int64_t StrToInt64Def(const std::string& text, int64_t def)
{
    int64_t v = 0;
    return TryParseInt64(text, v) ? v : def;
}

std::string IntToStr(int64_t value)
{
    return std::to_string(value);
}

bool SameTrimmedText(const std::string& a, const std::string& b)
{
    return UpperCase(Trim(a)) == UpperCase(Trim(b));
}

std::string ZeroPad(int64_t value, int width)
{
    std::string s = std::to_string(value);
    if (static_cast<int>(s.size()) < width)
        s.insert(0, static_cast<size_t>(width) - s.size(), '0');
    return s;
}

std::string BoolText(bool value)
{
    return value ? "TRUE" : "FALSE";
}

namespace {

int ToPos(size_t index)
{
    if (index == std::string::npos)
        return 0;
    // Positions are int; a text beyond that range is held at the largest one.
    return static_cast<int>(std::min<size_t>(index, static_cast<size_t>(INT_MAX) - 1)) + 1;
}

// Replaces every occurrence of `search` found in `work` (a copy of `text` of the same length,
// possibly upper-cased) by `repl` in `text`. The scan continues after each occurrence, so
// inserted text is never searched again and removing an occurrence cannot join its
// neighbours into a new one.
std::string ReplaceAll(const std::string& text, const std::string& work, const std::string& search,
                       const std::string& repl)
{
    if (search.empty())
        return text;
    size_t pos = work.find(search);
    if (pos == std::string::npos)
        return text;
    std::string result;
    result.reserve(text.size());
    size_t from = 0;
    while (pos != std::string::npos) {
        result.append(text, from, pos - from);
        result += repl;
        from = pos + search.size();
        pos = work.find(search, from);
    }
    result.append(text, from, std::string::npos);
    return result;
}

uint64_t ClockSeed()
{
    // Nanoseconds, so that two draws a few microseconds apart get different seeds; the
    // splitmix64 finaliser spreads neighbouring counts over the whole seed space.
    uint64_t z = SteadyClockNanoseconds();
    z += 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

const char* const ScrambleMarker = "Scrambled=01";
constexpr size_t ScrambleMarkerLength = 12;

// Position-dependent XOR with the key: odd positions (counted from 1) use (i + k), even ones
// (i - k), both modulo 256. Applying it twice with the same key restores the text.
std::string ScrambleBytes(const std::string& text, unsigned key)
{
    std::string out = text;
    for (size_t n = 0; n < out.size(); ++n) {
        const uint64_t i = static_cast<uint64_t>(n) + 1;
        const uint64_t mask = (i % 2 == 1) ? i + key : i + 256 - key;
        out[n] = static_cast<char>(static_cast<unsigned char>(out[n]) ^ (mask & 0xFF));
    }
    return out;
}

constexpr std::array<const char*, 13> MonthNames = {
    "", "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

struct CivilTime {
    int64_t year;
    int month, day, hour, minute, second;
};

// Splits a day count since 30 December 1899 (fraction = time of day) into calendar fields.
// The value is first rounded to whole milliseconds, so that 13:45:10 stored as an inexact
// fraction does not show as 13:45:09. Values outside the years 1 to 9999 are held at the
// nearest end of that range; a NaN counts as day 0.
CivilTime SplitDateTime(double dateTime)
{
    constexpr int64_t FirstDay = -693593;  // 1 January 0001
    constexpr int64_t EndDay = 2958466;    // 1 January 10000, the first day out of range
    constexpr int64_t MsPerDay = 86400000;
    double v = std::isnan(dateTime) ? 0.0 : dateTime;
    v = std::clamp(v, static_cast<double>(FirstDay), static_cast<double>(EndDay));
    const int64_t ms = std::clamp<int64_t>(std::llround(v * static_cast<double>(MsPerDay)),
                                           FirstDay * MsPerDay, EndDay * MsPerDay - 1);
    int64_t days = ms / MsPerDay;
    int64_t msOfDay = ms % MsPerDay;
    if (msOfDay < 0) {
        msOfDay += MsPerDay;
        --days;
    }

    // Civil date from a day count (proleptic Gregorian), counted here from 1 March 0000.
    const int64_t z = days - 25569 + 719468;  // 30 Dec 1899 is day -25569 from 1 Jan 1970
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);

    const int64_t secs = msOfDay / 1000;
    return CivilTime{y, static_cast<int>(m), static_cast<int>(d), static_cast<int>(secs / 3600),
                     static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60)};
}

std::string TimeText(const CivilTime& t, char timeSep)
{
    return ZeroPad(t.hour, 2) + timeSep + ZeroPad(t.minute, 2) + timeSep + ZeroPad(t.second, 2);
}

std::string FormatUnits(int64_t bytes, double unit)
{
    return AddThousandsSeparators(FixedDecimals(static_cast<double>(bytes) / unit, 1));
}

}  // namespace

namespace {

// A non-negative whole number of any size, in 32-bit limbs, the lowest first; no leading zero limbs.
using BigNumber = std::vector<uint32_t>;

void MultiplySmall(BigNumber& n, uint32_t factor)
{
    uint64_t carry = 0;
    for (uint32_t& limb : n) {
        const uint64_t product = static_cast<uint64_t>(limb) * factor + carry;
        limb = static_cast<uint32_t>(product);
        carry = product >> 32;
    }
    if (carry)
        n.push_back(static_cast<uint32_t>(carry));
}

void ShiftLeft(BigNumber& n, unsigned bits)
{
    if (n.empty())
        return;
    n.insert(n.begin(), bits / 32, 0);
    const unsigned rest = bits % 32;
    if (rest == 0)
        return;
    uint32_t carry = 0;
    for (uint32_t& limb : n) {
        const uint32_t next = limb >> (32 - rest);
        limb = (limb << rest) | carry;
        carry = next;
    }
    if (carry)
        n.push_back(carry);
}

bool BitSet(const BigNumber& n, size_t bit)
{
    return bit / 32 < n.size() && ((n[bit / 32] >> (bit % 32)) & 1) != 0;
}

bool AnyBitBelow(const BigNumber& n, size_t bit)
{
    for (size_t i = 0; i < n.size() && i * 32 < bit; ++i) {
        const size_t below = bit - i * 32;  // bits of this limb that lie below `bit`
        const uint32_t mask = below >= 32 ? 0xFFFFFFFFu : (1u << below) - 1;
        if (n[i] & mask)
            return true;
    }
    return false;
}

BigNumber ShiftRight(const BigNumber& n, size_t bits)
{
    BigNumber out;
    const size_t skip = bits / 32, rest = bits % 32;
    for (size_t i = skip; i < n.size(); ++i) {
        uint32_t limb = n[i] >> rest;
        if (rest && i + 1 < n.size())
            limb |= n[i + 1] << (32 - rest);
        out.push_back(limb);
    }
    while (!out.empty() && out.back() == 0)
        out.pop_back();
    return out;
}

void AddOne(BigNumber& n)
{
    for (uint32_t& limb : n)
        if (++limb != 0)
            return;
    n.push_back(1);
}

std::string DecimalDigits(BigNumber n)
{
    std::string reversed;
    while (!n.empty()) {
        uint64_t rest = 0;
        for (size_t i = n.size(); i-- > 0;) {
            const uint64_t part = (rest << 32) | n[i];
            n[i] = static_cast<uint32_t>(part / 1000000000u);
            rest = part % 1000000000u;
        }
        while (!n.empty() && n.back() == 0)
            n.pop_back();
        // Nine digits per round, fewer in the highest round: no leading zeros.
        for (int k = 0; k < 9 && (!n.empty() || rest != 0); ++k) {
            reversed += static_cast<char>('0' + rest % 10);
            rest /= 10;
        }
    }
    if (reversed.empty())
        return "0";
    return std::string(reversed.rbegin(), reversed.rend());
}

}  // namespace

std::string FixedDecimals(double value, int decimals)
{
    // What the C library's "%.*f" gives (the point always "."), worked out here exactly: the
    // binary value is scaled by a power of ten in whole-number arithmetic and rounded half to
    // even. The C library's formatter would bring its floating-point machinery into every stub.
    const int places = decimals < 0 ? 0 : decimals > 9 ? 9 : decimals;
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const int exponentField = static_cast<int>((bits >> 52) & 0x7FF);
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    if (exponentField == 0x7FF)
        return fraction ? "nan" : negative ? "-inf" : "inf";

    // value = mantissa * 2^exponent
    const uint64_t mantissa = exponentField == 0 ? fraction : fraction | (uint64_t{1} << 52);
    const int exponent = (exponentField == 0 ? 1 : exponentField) - 1075;
    BigNumber scaled;
    if (mantissa != 0)
        scaled = {static_cast<uint32_t>(mantissa), static_cast<uint32_t>(mantissa >> 32)};
    while (!scaled.empty() && scaled.back() == 0)
        scaled.pop_back();
    for (int k = 0; k < places; ++k)
        MultiplySmall(scaled, 10);
    if (exponent >= 0) {
        ShiftLeft(scaled, static_cast<unsigned>(exponent));
    } else {
        const size_t shift = static_cast<size_t>(-exponent);
        const bool half = BitSet(scaled, shift - 1);
        const bool beyondHalf = AnyBitBelow(scaled, shift - 1);
        scaled = ShiftRight(scaled, shift);
        if (half && (beyondHalf || BitSet(scaled, 0)))
            AddOne(scaled);
    }

    std::string digits = DecimalDigits(scaled);
    if (digits.size() <= static_cast<size_t>(places))
        digits.insert(0, static_cast<size_t>(places) + 1 - digits.size(), '0');
    if (places > 0)
        digits.insert(digits.size() - static_cast<size_t>(places), 1, '.');
    return negative ? "-" + digits : digits;
}

// --- search and compare ---------------------------------------------------------------------

std::string TextBefore(const std::string& text, const std::string& sep, const std::string& def)
{
    const size_t p = sep.empty() ? std::string::npos : text.find(sep);
    return p == std::string::npos ? def : text.substr(0, p);
}

std::string TextAfter(const std::string& text, const std::string& sep, const std::string& def)
{
    const size_t p = sep.empty() ? std::string::npos : text.find(sep);
    return p == std::string::npos ? def : text.substr(p + sep.size());
}

int PosCI(const std::string& sub, const std::string& text)
{
    if (sub.empty())
        return 0;
    return ToPos(UpperCase(text).find(UpperCase(sub)));
}

int PosFrom(const std::string& sub, const std::string& text, int start, bool ignoreCase)
{
    if (sub.empty())
        return 0;
    if (start > 1 && text.size() < static_cast<size_t>(start))
        return 0;
    const size_t from = start > 1 ? static_cast<size_t>(start) - 1 : 0;
    if (ignoreCase)
        return ToPos(UpperCase(text).find(UpperCase(sub), from));
    return ToPos(text.find(sub, from));
}

int LastPos(const std::string& sub, const std::string& text)
{
    if (sub.empty())
        return 0;
    return ToPos(text.rfind(sub));
}

int EndPosCI(const std::string& sub, const std::string& text)
{
    if (sub.empty())
        return 0;
    return ToPos(ReverseText(UpperCase(text)).find(ReverseText(UpperCase(sub))));
}

bool EndsWith(const std::string& suffix, const std::string& text, bool ignoreCase)
{
    if (suffix.size() > text.size())
        return false;
    const std::string tail = text.substr(text.size() - suffix.size());
    return ignoreCase ? SameText(tail, suffix) : tail == suffix;
}

bool StartsWith(const std::string& prefix, const std::string& text, bool ignoreCase)
{
    if (prefix.empty() || prefix.size() > text.size())
        return false;
    const std::string head = text.substr(0, prefix.size());
    return ignoreCase ? SameText(head, prefix) : head == prefix;
}

// --- replacing, quotes, padding -------------------------------------------------------------

std::string ReplaceText(const std::string& text, const std::string& search, const std::string& repl)
{
    return ReplaceAll(text, text, search, repl);
}

std::string ReplaceTextCI(const std::string& text, const std::string& search, const std::string& repl)
{
    // Upper-casing keeps every length, so positions found in the upper-cased copy are valid
    // in the text and the untouched parts keep their letter case.
    return ReplaceAll(text, UpperCase(text), UpperCase(search), repl);
}

std::string ReplaceChar(const std::string& text, char from, char to)
{
    std::string out = text;
    if (from != to)
        for (char& c : out)
            if (c == from)
                c = to;
    return out;
}

std::string StripQuotes(const std::string& text, char quote, bool bothEndsAlways, bool once)
{
    if (text.size() == 1 && text[0] == quote)
        return std::string();
    if (text.size() < 2 || !(bothEndsAlways || (text.front() == quote && text.back() == quote)))
        return text;
    // Leading quotes first, then trailing ones from what is left.
    size_t b = 0;
    if (once)
        b = text[0] == quote ? 1 : 0;
    else
        while (b < text.size() && text[b] == quote)
            ++b;
    size_t e = text.size();
    if (once) {
        if (e > b && text[e - 1] == quote)
            --e;
    } else {
        while (e > b && text[e - 1] == quote)
            --e;
    }
    return text.substr(b, e - b);
}

std::string TrimAndStripQuotes(const std::string& text, bool bothEndsAlways)
{
    return StripQuotes(Trim(text), '"', bothEndsAlways, false);
}

std::string ReverseText(const std::string& text)
{
    return std::string(text.rbegin(), text.rend());
}

std::string PadLeft(const std::string& text, int width, char pad)
{
    // 64-bit so that the absolute value of the most negative int is representable.
    int64_t w = width;
    std::string out = text;
    if (w < -2) {
        w = -w;
        if (static_cast<int64_t>(out.size()) > w) {
            out.resize(static_cast<size_t>(w - 1));
            out += '.';
        }
    }
    if (w > static_cast<int64_t>(out.size()))
        out.insert(0, static_cast<size_t>(w) - out.size(), pad);
    return out;
}

std::string ChooseText(bool condition, const std::string& ifTrue, const std::string& ifFalse)
{
    return condition ? ifTrue : ifFalse;
}

std::string ExpandEscapes(const std::string& text)
{
    std::string out = ReplaceText(text, "\\\\n", "\r\n");
    out = ReplaceText(out, "\\\\t", "\t");
    out = ReplaceTextCI(out, "<P>", "\r\n");
    return ReplaceTextCI(out, "<T>", "\t");
}

// --- numbers --------------------------------------------------------------------------------

std::string AddThousandsSeparators(const std::string& number)
{
    // The integer part runs from after an optional sign up to the first "." (or the end).
    const size_t dot = number.find('.');
    const size_t end = dot == std::string::npos ? number.size() : dot;
    const size_t begin = (!number.empty() && (number[0] == '-' || number[0] == '+')) ? 1 : 0;
    std::string out = number;
    for (size_t digits = 3; end > begin && end - begin > digits; digits += 3)
        out.insert(end - digits, 1, ',');
    return out;
}

std::string FormatKB(int64_t bytes)
{
    return FormatUnits(bytes, 1024.0);
}

std::string FormatMB(int64_t bytes)
{
    return FormatUnits(bytes, 1048576.0);
}

int64_t BaseToInt(const std::string& text, int base)
{
    // A digit's value is its index here; any other character counts as -1.
    static constexpr std::string_view Digits = "0123456789ABCDEF";
    const std::string t = Trim(UpperCase(text));
    // Unsigned arithmetic wraps around without undefined behaviour.
    uint64_t result = 0, weight = 1;
    const uint64_t b = static_cast<uint64_t>(static_cast<int64_t>(base));
    for (size_t n = t.size(); n-- > 0;) {
        const size_t hit = Digits.find(t[n]);
        const int64_t digit = hit == std::string_view::npos ? -1 : static_cast<int64_t>(hit);
        result += static_cast<uint64_t>(digit) * weight;
        weight *= b;
    }
    return static_cast<int64_t>(result);
}

int64_t HexToInt(const std::string& text)
{
    std::string t = Trim(text);
    if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
        t.erase(0, 2);
    return BaseToInt(t, 16);
}

std::string HexEncode(const std::string& bytes, bool blanks, bool prefix)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    const char* const sep = blanks ? " " : "";
    std::string out;
    for (size_t n = 0; n < bytes.size(); ++n) {
        const auto b = static_cast<unsigned char>(bytes[n]);
        if (prefix)
            out += "0x";
        out += Digits[b >> 4];
        out += Digits[b & 0x0F];
        out += sep;
        if ((n + 1) % 8 == 0)
            out += sep;
    }
    return out;
}

std::string HexDecode(const std::string& text)
{
    std::string out;
    size_t start = 0;  // counted from 0 here: pairs start at 0, 2, 4, ...
    do {
        const int64_t v = HexToInt(text.substr(std::min(start, text.size()), 2));
        out += static_cast<char>(static_cast<unsigned char>(static_cast<uint64_t>(v) & 0xFF));
        start += 2;
    } while (start + 1 < text.size());
    return out;
}

int64_t Min64(int64_t a, int64_t b)
{
    return a < b ? a : b;
}

int64_t Max64(int64_t a, int64_t b)
{
    return a > b ? a : b;
}

int64_t Clamp64(int64_t value, int64_t low, int64_t high)
{
    if (value < low)
        value = low;
    if (value > high)
        value = high;
    return value;
}

// --- randomness and the text scrambler ------------------------------------------------------

int64_t RandomInRange(int64_t low, int64_t high)
{
    if (high <= low)
        return low;
    // The span is taken as unsigned so that the widest range (all of int64) has no overflow.
    const uint64_t span = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
    // A generator of its own for every draw, seeded from the monotonic clock, so that the numbers
    // do not repeat from one run to the next; with nothing shared, threads need no lock.
    std::mt19937_64 engine(ClockSeed());
    const uint64_t offset = std::uniform_int_distribution<uint64_t>(0, span)(engine);
    return static_cast<int64_t>(static_cast<uint64_t>(low) + offset);
}

std::string RandomNumberText(int64_t low, int64_t high)
{
    return IntToStr(RandomInRange(low, high));
}

std::string ScrambleText(const std::string& text, bool scramble, bool hex)
{
    if (text.empty())
        return std::string();
    std::string t = (!scramble && hex) ? HexDecode(text) : text;
    const bool scrambled = t.compare(0, ScrambleMarkerLength, ScrambleMarker) == 0;
    if (scramble && !scrambled) {
        // The key travels as a printable character right after the marker.
        const auto key = static_cast<unsigned>(RandomInRange(33, 122));
        t = std::string(ScrambleMarker) + static_cast<char>(key) + ScrambleBytes(t, key);
    } else if (!scramble && scrambled) {
        // The marker alone (no key character) carries an empty text.
        if (t.size() <= ScrambleMarkerLength)
            return std::string();
        const unsigned key = static_cast<unsigned char>(t[ScrambleMarkerLength]);
        t = ScrambleBytes(t.substr(ScrambleMarkerLength + 1), key);
    }
    if (scramble && hex)
        t = HexEncode(t, false, false);
    return t;
}

// --- date stamps ----------------------------------------------------------------------------

std::string DateStamp(double dateTime)
{
    const CivilTime t = SplitDateTime(dateTime);
    return ZeroPad(t.day, 2) + '-' + MonthNames[static_cast<size_t>(t.month)] + '-' + ZeroPad(t.year, 4);
}

std::string DateTimeStamp(double dateTime, char timeSep)
{
    return DateStamp(dateTime) + ' ' + TimeText(SplitDateTime(dateTime), timeSep);
}

std::string LogTimeStamp(double dateTime, char dateSep, char timeSep)
{
    const CivilTime t = SplitDateTime(dateTime);
    return ZeroPad(t.day, 2) + dateSep + ZeroPad(t.month, 2) + dateSep + ZeroPad(t.year % 100, 2) + ' ' +
           TimeText(t, timeSep);
}
