#pragma once

// Draws text whose font this system cannot find in the default sans-serif typeface, and
// leaves every font that is found alone. Without it such text has no glyphs at all (no
// size, nothing drawn), which hides the layout that tests and the screen tour look at.
// Installed as the default look-and-feel for its lifetime; whatever default was in
// place keeps serving the fonts it knows.

#include <juce_gui_basics/juce_gui_basics.h>

#include <set>

class FontStandIn : public juce::LookAndFeel_V4
{
public:
    FontStandIn()
        : previous (&juce::LookAndFeel::getDefaultLookAndFeel())
    {
        juce::LookAndFeel::setDefaultLookAndFeel (this);
        juce::Typeface::clearTypefaceCache();
    }

    ~FontStandIn() override
    {
        // Someone may have installed a default of their own meanwhile: keep theirs.
        if (&juce::LookAndFeel::getDefaultLookAndFeel() == this)
            juce::LookAndFeel::setDefaultLookAndFeel (previous);
        juce::Typeface::clearTypefaceCache();
    }

    juce::Typeface::Ptr getTypefaceForFont (const juce::Font& font) override
    {
        // A face that was not found has no name and no glyphs of its own.
        auto typeface = previous->getTypefaceForFont (font);
        if (typeface != nullptr && typeface->getName().isNotEmpty())
            return typeface;

        replacedNames.insert (font.getTypefaceName());
        juce::Font sans (juce::Font::getDefaultSansSerifFontName(), font.getHeight(), font.getStyleFlags());
        return juce::Font::getDefaultTypefaceForFont (sans);
    }

    /** The font names that were not found and were drawn in the stand-in. */
    const std::set<juce::String>& replaced() const { return replacedNames; }

private:
    juce::LookAndFeel* previous;
    std::set<juce::String> replacedNames;
};
