#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Draws a button's face with a bevel: light top-left and dark bottom-right edges,
    swapped while the button is down.
*/
class BtnLookAndFeel : public juce::LookAndFeel_V2
{
public:
    BtnLookAndFeel() = default;
    ~BtnLookAndFeel() override = default;

    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour& backgroundColour,
                               bool isMouseOverButton, bool isButtonDown) override;

    /** The keyboard focus: a dark rectangle inside the bevel, around the text. */
    void drawFocusOutline (juce::Graphics&, juce::Button&);
};
