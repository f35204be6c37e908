// The national-language calls over the POSIX locale: the user's language from LC_ALL,
// LC_MESSAGES or LANG, the installed locales from `locale -a`.
#include "platform/UserLocale.h"

#include <cstdio>

LANGID GetUserDefaultLangID()
{
    return UserLocale::getUserLanguageId();
}

BOOL EnumSystemLocalesA (LOCALE_ENUMPROCA callback, DWORD)
{
    if (callback == nullptr)
        return 0;

    for (const auto id : UserLocale::getInstalledLanguageIds())
    {
        // A locale identifier is its language identifier with the default sort order.
        char text[9];
        std::snprintf (text, sizeof (text), "%08X", (unsigned int) id);
        if (callback (text) == 0)
            break;
    }
    return 1;
}
