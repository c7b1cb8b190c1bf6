#pragma once
// Text, number, date-stamp and scrambler helpers shared by every subsystem. Portable: no
// <windows.h>. Texts are 8-bit strings, positions count from 1 (0 = not found), ignoring case
// upper-cases only a-z, trimming removes characters of codes 0 to 32. None of these fails:
// each gives the documented default instead.
#include <cstdint>
#include <string>

// --- basics -------------------------------------------------------------------------------
std::string UpperCase(std::string text);                       // a-z only
std::string Trim(const std::string& text);                     // codes 0..32 at both ends
bool SameText(const std::string& a, const std::string& b);     // equal ignoring case
// Optional sign and decimal digits, nothing else, within 64 bits; false otherwise.
bool TryParseInt64(const std::string& text, int64_t& value);
int64_t StrToInt64Def(const std::string& text, int64_t def);
std::string IntToStr(int64_t value);

// --- search and compare ---------------------------------------------------------------------
std::string TextBefore(const std::string& text, const std::string& sep, const std::string& def);
std::string TextAfter(const std::string& text, const std::string& sep, const std::string& def);
int PosCI(const std::string& sub, const std::string& text);
int PosFrom(const std::string& sub, const std::string& text, int start, bool ignoreCase);
int LastPos(const std::string& sub, const std::string& text);
int EndPosCI(const std::string& sub, const std::string& text);   // 1: text ends with sub
bool EndsWith(const std::string& suffix, const std::string& text, bool ignoreCase);
bool StartsWith(const std::string& prefix, const std::string& text, bool ignoreCase);
bool SameTrimmedText(const std::string& a, const std::string& b);

// --- replacing, quotes, padding -------------------------------------------------------------
std::string ReplaceText(const std::string& text, const std::string& search, const std::string& repl);
std::string ReplaceTextCI(const std::string& text, const std::string& search, const std::string& repl);
std::string ReplaceChar(const std::string& text, char from, char to);
std::string StripQuotes(const std::string& text, char quote, bool bothEndsAlways, bool once);
std::string TrimAndStripQuotes(const std::string& text, bool bothEndsAlways);
std::string ReverseText(const std::string& text);
std::string PadLeft(const std::string& text, int width, char pad);
std::string ZeroPad(int64_t value, int width);
std::string BoolText(bool value);                                // "TRUE" / "FALSE"
std::string ChooseText(bool condition, const std::string& ifTrue, const std::string& ifFalse);
std::string ExpandEscapes(const std::string& text);              // "\\n", "\\t", <P>, <T>

// --- numbers --------------------------------------------------------------------------------
std::string AddThousandsSeparators(const std::string& number);
std::string FormatKB(int64_t bytes);
std::string FormatMB(int64_t bytes);
// `value` in fixed notation with `decimals` decimals (0 to 9) and "." as the decimal point.
std::string FixedDecimals(double value, int decimals);
int64_t BaseToInt(const std::string& text, int base);            // no validation, wraps
int64_t HexToInt(const std::string& text);                       // optional "0x"
std::string HexEncode(const std::string& bytes, bool blanks, bool prefix);
std::string HexDecode(const std::string& text);
int64_t Min64(int64_t a, int64_t b);
int64_t Max64(int64_t a, int64_t b);
int64_t Clamp64(int64_t value, int64_t low, int64_t high);

// --- randomness and the text scrambler (one process-wide generator, reseeded on each call) ---
int64_t RandomInRange(int64_t low, int64_t high);
std::string RandomNumberText(int64_t low, int64_t high);
std::string ScrambleText(const std::string& text, bool scramble, bool hex);

// --- date stamps: days since 30 December 1899, the fraction being the time of day -----------
std::string DateStamp(double dateTime);                                       // 05-JAN-2024
std::string DateTimeStamp(double dateTime, char timeSep = ':');               // + 13:45:10
std::string LogTimeStamp(double dateTime, char dateSep = '/', char timeSep = ':');  // dd/mm/yy HH:NN:SS
