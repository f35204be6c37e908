#include "platform/UserLocale.h"

#include "base/Utf8Text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
UserLocale::ScopedOverride* currentOverride = nullptr;

struct NamedId
{
    const char* name;
    LANGID id;
};

// Primary language identifiers by ISO 639 code.
const NamedId primaryLanguages[] = {
    { "ar", 0x01 }, { "bg", 0x02 }, { "ca", 0x03 }, { "zh", 0x04 }, { "cs", 0x05 }, { "da", 0x06 }, { "de", 0x07 }, { "el", 0x08 }, { "en", 0x09 }, { "es", 0x0A }, { "fi", 0x0B }, { "fr", 0x0C }, { "he", 0x0D }, { "hu", 0x0E }, { "is", 0x0F }, { "it", 0x10 }, { "ja", 0x11 }, { "ko", 0x12 }, { "nl", 0x13 }, { "nb", 0x14 }, { "no", 0x14 }, { "nn", 0x14 }, { "pl", 0x15 }, { "pt", 0x16 }, { "rm", 0x17 }, { "ro", 0x18 }, { "ru", 0x19 }, { "hr", 0x1A }, { "sr", 0x1A }, { "bs", 0x1A }, { "sk", 0x1B }, { "sq", 0x1C }, { "sv", 0x1D }, { "th", 0x1E }, { "tr", 0x1F }, { "ur", 0x20 }, { "id", 0x21 }, { "uk", 0x22 }, { "be", 0x23 }, { "sl", 0x24 }, { "et", 0x25 }, { "lv", 0x26 }, { "lt", 0x27 }, { "tg", 0x28 }, { "fa", 0x29 }, { "vi", 0x2A }, { "hy", 0x2B }, { "az", 0x2C }, { "eu", 0x2D }, { "mk", 0x2F }, { "af", 0x36 }, { "ka", 0x37 }, { "fo", 0x38 }, { "hi", 0x39 }, { "mt", 0x3A }, { "ga", 0x3C }, { "ms", 0x3E }, { "kk", 0x3F }, { "ky", 0x40 }, { "sw", 0x41 }, { "uz", 0x43 }, { "tt", 0x44 }, { "bn", 0x45 }, { "pa", 0x46 }, { "gu", 0x47 }, { "ta", 0x49 }, { "te", 0x4A }, { "kn", 0x4B }, { "ml", 0x4C }, { "mr", 0x4E }, { "mn", 0x50 }, { "cy", 0x52 }, { "km", 0x53 }, { "lo", 0x54 }, { "gl", 0x56 }, { "si", 0x5B }, { "am", 0x5E }, { "ne", 0x61 }, { "fy", 0x62 }, { "ps", 0x63 }, { "fil", 0x64 }
};

// Full identifiers where the country is not the language's first one.
const NamedId localeIds[] = {
    { "en_US", 0x0409 }, { "en_GB", 0x0809 }, { "en_AU", 0x0C09 }, { "en_CA", 0x1009 }, { "en_NZ", 0x1409 }, { "en_IE", 0x1809 }, { "en_ZA", 0x1C09 }, { "en_JM", 0x2009 }, { "en_BZ", 0x2809 }, { "en_TT", 0x2C09 }, { "en_ZW", 0x3009 }, { "en_PH", 0x3409 }, { "en_IN", 0x4009 }, { "en_MY", 0x4409 }, { "en_SG", 0x4809 }, { "fr_FR", 0x040C }, { "fr_BE", 0x080C }, { "fr_CA", 0x0C0C }, { "fr_CH", 0x100C }, { "fr_LU", 0x140C }, { "fr_MC", 0x180C }, { "de_DE", 0x0407 }, { "de_CH", 0x0807 }, { "de_AT", 0x0C07 }, { "de_LU", 0x1007 }, { "de_LI", 0x1407 }, { "es_ES", 0x0C0A }, { "es_MX", 0x080A }, { "es_GT", 0x100A }, { "es_CR", 0x140A }, { "es_PA", 0x180A }, { "es_DO", 0x1C0A }, { "es_VE", 0x200A }, { "es_CO", 0x240A }, { "es_PE", 0x280A }, { "es_AR", 0x2C0A }, { "es_EC", 0x300A }, { "es_CL", 0x340A }, { "es_UY", 0x380A }, { "es_PY", 0x3C0A }, { "es_BO", 0x400A }, { "es_SV", 0x440A }, { "es_HN", 0x480A }, { "es_NI", 0x4C0A }, { "es_PR", 0x500A }, { "es_US", 0x540A }, { "it_IT", 0x0410 }, { "it_CH", 0x0810 }, { "nl_NL", 0x0413 }, { "nl_BE", 0x0813 }, { "ru_RU", 0x0419 }, { "ru_MD", 0x0819 }, { "pt_BR", 0x0416 }, { "pt_PT", 0x0816 }, { "zh_TW", 0x0404 }, { "zh_CN", 0x0804 }, { "zh_HK", 0x0C04 }, { "zh_SG", 0x1004 }, { "zh_MO", 0x1404 }, { "ko_KR", 0x0412 }, { "ja_JP", 0x0411 }, { "nb_NO", 0x0414 }, { "nn_NO", 0x0814 }, { "sv_FI", 0x081D }, { "sr_RS", 0x241A }, { "bs_BA", 0x141A }, { "ar_IQ", 0x0801 }, { "ar_EG", 0x0C01 }
};

// A language's identifier when the country is missing or unknown.
const NamedId languageDefaults[] = {
    { "zh", 0x0804 }, { "es", 0x0C0A }, { "nn", 0x0814 }, { "sr", 0x241A }, { "bs", 0x141A }
};

LANGID lookUp (const NamedId* table, size_t count, const juce::String& name)
{
    for (size_t i = 0; i < count; ++i)
        if (name == table[i].name)
            return table[i].id;
    return 0;
}

template <size_t count>
LANGID lookUp (const NamedId (&table)[count], const juce::String& name)
{
    return lookUp (table, count, name);
}

bool isPortableLocale (const juce::String& name)
{
    return name.isEmpty() || name == "C" || name == "POSIX" || name.startsWith ("C.") || name.startsWith ("C@");
}

juce::String environment (const char* name)
{
    const char* value = std::getenv (name);
    return value != nullptr ? stringFromUntrustedUtf8 (value, std::strlen (value)) : juce::String();
}
} // namespace

LANGID UserLocale::languageIdFor (const juce::String& localeName)
{
    const auto name = localeName.trim();
    if (isPortableLocale (name))
        return 0x0409;

    // language[_territory][.codeset][@modifier]
    const auto base = name.upToFirstOccurrenceOf ("@", false, false).upToFirstOccurrenceOf (".", false, false);
    const auto language = base.upToFirstOccurrenceOf ("_", false, false).toLowerCase();
    const auto territory = base.fromFirstOccurrenceOf ("_", false, false).toUpperCase();

    if (const auto full = lookUp (localeIds, language + "_" + territory))
        return full;

    const auto primary = lookUp (primaryLanguages, language);
    if (primary == 0)
        return customUnspecified;

    if (const auto fallback = lookUp (languageDefaults, language))
        return fallback;

    return (LANGID) (0x0400 | primary);
}

juce::String UserLocale::getMessageLocaleName()
{
    for (auto* variable : { "LC_ALL", "LC_MESSAGES", "LANG" })
    {
        const auto value = environment (variable);
        if (value.isNotEmpty())
            return value;
    }
    return {};
}

juce::StringArray UserLocale::getInstalledLocaleNames()
{
    if (currentOverride != nullptr)
        return currentOverride->installedLocales;

    juce::StringArray names;

    // Not through juce::ChildProcess: JUCE 7.0.5 closes its pipe twice, and in a process
    // with threads (the device library's) the second close takes whatever descriptor has
    // just been given that number.
    std::string output;
    bool listed = false;
    if (auto* lister = popen ("locale -a 2>/dev/null", "re"))
    {
        char chunk[4096];
        std::size_t count = 0;
        while ((count = std::fread (chunk, 1, sizeof (chunk), lister)) > 0)
            output.append (chunk, count);
        listed = pclose (lister) == 0;
    }

    if (listed)
    {
        names.addLines (juce::String::fromUTF8 (output.data(), (int) output.size()));
    }
    else
    {
        // Without the locale tool, the compiled locales that are not in the archive.
        for (const auto& entry : juce::RangedDirectoryIterator (juce::File ("/usr/lib/locale"), false, "*",
                                                                juce::File::findDirectories))
            names.add (entry.getFile().getFileName());
    }

    names.trim();
    names.removeEmptyStrings();
    return names;
}

LANGID UserLocale::getUserLanguageId()
{
    if (currentOverride != nullptr)
        return currentOverride->userLanguage;

    return languageIdFor (getMessageLocaleName());
}

juce::Array<LANGID> UserLocale::getInstalledLanguageIds()
{
    juce::Array<LANGID> ids;

    for (const auto& name : getInstalledLocaleNames())
    {
        if (isPortableLocale (name.trim()))
            continue;

        const auto id = languageIdFor (name);
        if (id != customUnspecified)
            ids.addIfNotAlreadyThere (id);
    }
    return ids;
}

UserLocale::ScopedOverride::ScopedOverride (LANGID user, const juce::StringArray& installed)
    : userLanguage (user), installedLocales (installed), previous (currentOverride)
{
    currentOverride = this;
}

UserLocale::ScopedOverride::~ScopedOverride()
{
    currentOverride = previous;
}
