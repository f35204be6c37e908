#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Draws the progress bar as a grey gradient with white centred text. */
class ProgressLookAndFeel : public juce::LookAndFeel_V2
{
public:
    ProgressLookAndFeel() = default;
    ~ProgressLookAndFeel() override = default;

    void drawProgressBar (juce::Graphics&, juce::ProgressBar&, int width, int height,
                          double progress, const juce::String& textToShow) override;
};
