#pragma once
// The language-name table: Windows language identifiers and the names that container language
// entries are called by.
#include <string>

// "|AFRIKAANS    = 54|...|SERBIAN(CYRILIC)     = 3098|"
const std::string& LanguageNames();
// The name of the first row whose text contains the identifier (two digits at least), such as
// "ENGLISH" for 9; empty when no row does.
std::string LanguageNameForId(int languageId);
// The name of the user's language: the primary language of the locale the process started with.
std::string UserLanguageName();
// The Windows primary language identifier for a POSIX locale name such as "de_DE.UTF-8";
// 9 (English) for "C", "POSIX" or an unknown or empty name.
int PrimaryLanguageIdFromPosixLocale(const std::string& locale);

// The built-in English text of a key of the container's language entries ("s0" to "s8",
// "s10" to "s12", "Error", "Attention", "Confirm", "BtnText", "Charset", "FontSize",
// "FontName"); empty for any other key. A translation in the container replaces it.
const std::string& LauncherTextDefault(const std::string& key);
