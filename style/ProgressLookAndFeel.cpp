#include "style/ProgressLookAndFeel.h"

void ProgressLookAndFeel::drawProgressBar (juce::Graphics& g, juce::ProgressBar& bar, int width, int height,
                                           double progress, const juce::String& textToShow)
{
    g.fillAll (bar.findColour (juce::ProgressBar::backgroundColourId));

    juce::ColourGradient gradient (juce::Colour (0xffa7a7a7), 2.0f, 2.0f,
                                   juce::Colour (0xff6c6c6c), 2.0f, (float) (height - 4), false);
    gradient.addColour (0.5, juce::Colour (0xff646464));

    // An indeterminate (negative) progress draws no bar.
    const double track = (double) (width - 4);
    const double filled = juce::jlimit (0.0, juce::jmax (0.0, track), track * progress);

    if (filled > 0.0)
    {
        g.setGradientFill (gradient);
        g.fillRect (juce::Rectangle<float> (2.0f, 2.0f, (float) filled, (float) (height - 4)));
    }

    if (textToShow.isNotEmpty())
    {
        g.setColour (juce::Colour (0xffffffff));
        g.setFont (juce::Font ((float) height * 0.8f, juce::Font::plain));
        g.drawText (textToShow, 0, 0, width, height, juce::Justification::centred, false);
    }
}
