#pragma once

#include <juce_graphics/juce_graphics.h>

#include <map>
#include <memory>

namespace juce
{
class LookAndFeel;
}

/** Serves fonts by the names the screens ask for ("Arial", "Microsoft YaHei", ...) from
    the fonts this system has, chosen by fontconfig for the name and its languages.
    JUCE on Linux knows only the exact family names of the .ttf and .otf files it finds, and
    draws a character a font lacks as that font's box; served fonts leave such characters to
    the fallback font. The default sans-serif font is served too, so that the fallback works
    for it as well.
*/
class FontResolver : private juce::DeletedAtShutdown
{
public:
    struct Match
    {
        juce::String file;
        int faceIndex = 0;
        juce::String family;
        juce::String style;
    };

    /** fontconfig's choice for a family in the given languages ("zh-cn"); false when it
        has none.
    */
    static bool findMatch (const juce::String& family, const juce::StringArray& languages,
                           bool bold, bool italic, Match& result);

    /** From now on a font of this name is the family's best match in its languages (every
        language it was served for, in that order).
    */
    static void serve (const juce::String& fontName, const juce::String& language);

    /** The typeface served for the font, or null when its name is not served. This is what
        JUCE gets whenever it looks a font up by name.
    */
    static juce::Typeface::Ptr getTypefaceFor (const juce::Font& font);

    ~FontResolver() override;

private:
    FontResolver();

    /** Created by the first serve, after Desktop, so that Desktop outlives it at shutdown;
        deleted with JUCE's other singletons.
    */
    static FontResolver* instance;

    juce::Typeface::Ptr typefaceFor (const juce::Font& font);
    juce::String familyToMatch (const juce::String& fontName);

    juce::CriticalSection lock;
    std::map<juce::String, juce::StringArray> servedLanguages;
    std::map<juce::String, juce::Typeface::Ptr> typefaces;
    juce::String defaultSansFamily;
    std::unique_ptr<juce::LookAndFeel> hook;

    JUCE_DECLARE_NON_COPYABLE (FontResolver)
};
