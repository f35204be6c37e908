#pragma once

#include <juce_graphics/juce_graphics.h>

namespace testsupport
{
/** The visible characters of a composed screen, for finding texts whatever the line breaks. */
inline juce::String visibleText (juce::GlyphArrangement& layout)
{
    juce::String s;
    for (int i = 0; i < layout.getNumGlyphs(); ++i)
        if (! layout.getGlyph (i).isWhitespace())
            s << juce::String::charToString (layout.getGlyph (i).getCharacter());
    return s;
}
} // namespace testsupport
