#include <windows.h>

#include "ui/SLangId.h"

namespace {
// The thread's locale as the process started with it; later changes are not followed.
const LANGID g_startLanguage = LANGIDFROMLCID(GetThreadLocale());
}  // namespace

std::string UserLanguageName()
{
    return LanguageNameForId(PRIMARYLANGID(g_startLanguage));
}
