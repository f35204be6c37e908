#pragma once

#include <juce_core/juce_core.h>

/** The text tables name their fonts as Windows knows them ("Arial", "MS UI Gothic",
    "Microsoft YaHei"). Windows finds them by those names where they are installed (MS UI
    Gothic is an optional feature outside Japan: then the script's own system font stands in);
    on Linux fontconfig serves the nearest installed font for the name and the language.
*/
class SystemFonts
{
public:
    /** Text in this language (an ISO code, "zh-cn") is drawn with the font of this name; on
        a system without it, with the system's font for that language's script. */
    static void serve (const juce::String& fontName, const juce::String& language);

    /** Whether a font takes the glyphs it lacks from the fallback font
        (Font::setFallbackFontName). JUCE's typefaces on Linux do; its Windows ones do not, so
        there a language's name is drawn in that language's own font instead. */
    static bool glyphsFallBack();
};
