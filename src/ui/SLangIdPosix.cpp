#include <cstdlib>

#include "ui/SLangId.h"

std::string UserLanguageName()
{
    // The locale variables in their order of precedence stand in for the Windows thread locale.
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(var);
        if (value && *value)
            return LanguageNameForId(PrimaryLanguageIdFromPosixLocale(value));
    }
    return LanguageNameForId(PrimaryLanguageIdFromPosixLocale(""));
}
