#include "platform/linux/FontResolver.h"

#include "platform/linux/OutlineTypeface.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <fontconfig/fontconfig.h>

namespace
{
// JUCE looks every font up through the default look-and-feel, whichever component draws.
class ServingLookAndFeel final : public juce::LookAndFeel_V4
{
public:
    juce::Typeface::Ptr getTypefaceForFont (const juce::Font& font) override
    {
        if (auto served = FontResolver::getTypefaceFor (font))
            return served;

        return juce::LookAndFeel_V4::getTypefaceForFont (font);
    }
};

bool isBoldStyle (const juce::String& style)
{
    return style.containsIgnoreCase ("Bold");
}

bool isItalicStyle (const juce::String& style)
{
    return style.containsIgnoreCase ("Italic") || style.containsIgnoreCase ("Oblique");
}

juce::String styleName (bool bold, bool italic)
{
    if (bold && italic)
        return "Bold Italic";
    if (bold)
        return "Bold";
    if (italic)
        return "Italic";
    return "Regular";
}

juce::String typefaceKey (const juce::String& fontName, bool bold, bool italic)
{
    return fontName + "\n" + styleName (bold, italic);
}
} // namespace

FontResolver* FontResolver::instance = nullptr;

FontResolver::FontResolver()
    : hook (std::make_unique<ServingLookAndFeel>())
{
    juce::LookAndFeel::setDefaultLookAndFeel (hook.get());
    juce::Typeface::clearTypefaceCache();
}

FontResolver::~FontResolver()
{
    // Desktop was created before this object, so it is still there.
    if (&juce::LookAndFeel::getDefaultLookAndFeel() == hook.get())
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);

    if (instance == this)
        instance = nullptr;
}

bool FontResolver::findMatch (const juce::String& family, const juce::StringArray& languages,
                              bool bold, bool italic, Match& result)
{
    FcPattern* pattern = FcPatternCreate();
    if (pattern == nullptr)
        return false;

    FcPatternAddString (pattern, FC_FAMILY, reinterpret_cast<const FcChar8*> (family.toRawUTF8()));
    for (const auto& language : languages)
        FcPatternAddString (pattern, FC_LANG, reinterpret_cast<const FcChar8*> (language.toRawUTF8()));
    FcPatternAddInteger (pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger (pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool (pattern, FC_SCALABLE, FcTrue);

    FcConfigSubstitute (nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute (pattern);

    FcResult outcome = FcResultNoMatch;
    FcPattern* matched = FcFontMatch (nullptr, pattern, &outcome);
    FcPatternDestroy (pattern);

    if (matched == nullptr)
        return false;

    FcChar8* file = nullptr;
    FcChar8* matchedFamily = nullptr;
    FcChar8* matchedStyle = nullptr;
    int index = 0;

    const bool found = FcPatternGetString (matched, FC_FILE, 0, &file) == FcResultMatch && file != nullptr;
    if (found)
    {
        if (FcPatternGetInteger (matched, FC_INDEX, 0, &index) != FcResultMatch)
            index = 0;

        result.file = juce::String::fromUTF8 (reinterpret_cast<const char*> (file));
        result.faceIndex = index;
        result.family = FcPatternGetString (matched, FC_FAMILY, 0, &matchedFamily) == FcResultMatch
                            ? juce::String::fromUTF8 (reinterpret_cast<const char*> (matchedFamily))
                            : juce::String();
        result.style = FcPatternGetString (matched, FC_STYLE, 0, &matchedStyle) == FcResultMatch
                           ? juce::String::fromUTF8 (reinterpret_cast<const char*> (matchedStyle))
                           : juce::String();
    }

    FcPatternDestroy (matched);
    return found;
}

void FontResolver::serve (const juce::String& fontName, const juce::String& language)
{
    if (fontName.isEmpty())
        return;

    // Created first, Desktop is deleted after the resolver at shutdown.
    juce::Desktop::getInstance();
    if (instance == nullptr)
        instance = new FontResolver();

    auto* resolver = instance;
    bool changed = false;

    {
        const juce::ScopedLock sl (resolver->lock);
        auto& languages = resolver->servedLanguages[fontName];

        if (language.isNotEmpty() && ! languages.contains (language))
        {
            languages.add (language);
            changed = true;

            for (auto it = resolver->typefaces.begin(); it != resolver->typefaces.end();)
                it = it->first.startsWith (fontName + "\n") ? resolver->typefaces.erase (it) : std::next (it);
        }
    }

    if (changed)
        juce::Typeface::clearTypefaceCache();
}

juce::Typeface::Ptr FontResolver::getTypefaceFor (const juce::Font& font)
{
    auto* resolver = instance;
    return resolver != nullptr ? resolver->typefaceFor (font) : nullptr;
}

juce::String FontResolver::familyToMatch (const juce::String& fontName)
{
    if (fontName != juce::Font::getDefaultSansSerifFontName())
        return fontName;

    // The family JUCE itself would take, so that only the fallback behaviour changes.
    if (defaultSansFamily.isEmpty())
    {
        const juce::Font sans (juce::Font::getDefaultSansSerifFontName(), juce::Font::getDefaultStyle(), 15.0f);
        if (auto face = juce::Font::getDefaultTypefaceForFont (sans))
            defaultSansFamily = face->getName();
        if (defaultSansFamily.isEmpty())
            defaultSansFamily = "sans-serif";
    }
    return defaultSansFamily;
}

juce::Typeface::Ptr FontResolver::typefaceFor (const juce::Font& font)
{
    const auto fontName = font.getTypefaceName();
    const auto style = font.getTypefaceStyle();
    const bool bold = isBoldStyle (style);
    const bool italic = isItalicStyle (style);

    const juce::ScopedLock sl (lock);

    const auto served = servedLanguages.find (fontName);
    if (served == servedLanguages.end() && fontName != juce::Font::getDefaultSansSerifFontName())
        return nullptr;

    const auto key = typefaceKey (fontName, bold, italic);
    const auto known = typefaces.find (key);
    if (known != typefaces.end())
        return known->second;

    juce::Typeface::Ptr typeface;
    Match match;
    const auto languages = served != servedLanguages.end() ? served->second : juce::StringArray();

    if (findMatch (familyToMatch (fontName), languages, bold, italic, match))
        typeface = OutlineTypeface::create (juce::File (match.file), match.faceIndex, fontName, styleName (bold, italic)).get();

    // A failed match stays failed: JUCE's own lookup takes over without asking again.
    typefaces[key] = typeface;
    return typeface;
}
