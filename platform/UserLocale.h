#pragma once

#include "platform/Win32.h"

#include <juce_core/juce_core.h>

/** The user's language and the system's locales as Windows language identifiers: what
    GetUserDefaultLangID and EnumSystemLocalesA report on this platform.
*/
class UserLocale
{
public:
    /** "de_CH.UTF-8" gives 0x0807, "pt_BR" 0x0416; "C" and "POSIX" give English (0x0409); a
        language without a Windows identifier gives LOCALE_CUSTOM_UNSPECIFIED (0x1000).
    */
    static LANGID languageIdFor (const juce::String& localeName);

    /** The locale messages are shown in: LC_ALL, else LC_MESSAGES, else LANG. */
    static juce::String getMessageLocaleName();

    /** What `locale -a` lists. */
    static juce::StringArray getInstalledLocaleNames();

    static LANGID getUserLanguageId();

    /** The identifiers of the installed locales that have one, each once, in the order listed. */
    static juce::Array<LANGID> getInstalledLanguageIds();

    static constexpr LANGID customUnspecified = 0x1000;

    /** Stands in for the system while it exists: the user's language and the installed
        locales (as `locale -a` would name them) are the given ones.
    */
    class ScopedOverride
    {
    public:
        ScopedOverride (LANGID userLanguage, const juce::StringArray& installedLocales);
        ~ScopedOverride();

        LANGID userLanguage;
        juce::StringArray installedLocales;

    private:
        ScopedOverride* previous;

        JUCE_DECLARE_NON_COPYABLE (ScopedOverride)
    };
};
