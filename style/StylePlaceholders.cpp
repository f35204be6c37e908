// Placeholder drawing until the button, progress bar and image code lands.
#include "style/BtnLookAndFeel.h"
#include "style/ImageLoader.h"
#include "style/ProgressLookAndFeel.h"
#include "style/ZizarButton.h"

ZizarButton::ZizarButton (const juce::String& name) : juce::Button (name)
{
    lookAndFeel = new BtnLookAndFeel();
    setLookAndFeel (lookAndFeel);
}

ZizarButton::~ZizarButton()
{
    setLookAndFeel (nullptr);
    delete lookAndFeel;
    lookAndFeel = nullptr;
}

void ZizarButton::setFontName (const juce::String& name) { fontName = name; }
void ZizarButton::setFontStyle (const int& style) { fontStyle = style; }

void ZizarButton::setText (const juce::String& text)
{
    if (text == getButtonText())
        repaint();
    else
        setButtonText (text);
}

void ZizarButton::paintButton (juce::Graphics& g, bool over, bool down)
{
    getLookAndFeel().drawButtonBackground (g, *this, findColour (juce::TextButton::buttonColourId), over, down);
    g.setColour (juce::Colour (0xff101010));
    g.drawFittedText (getButtonText(), getLocalBounds().reduced (4), justification, 1, 0.7f);
}

void BtnLookAndFeel::drawButtonBackground (juce::Graphics& g, juce::Button& b, const juce::Colour& colour, bool, bool)
{
    g.setColour (colour);
    g.fillRect (b.getLocalBounds());
}

void ProgressLookAndFeel::drawProgressBar (juce::Graphics& g, juce::ProgressBar& bar, int width, int height, double progress, const juce::String&)
{
    g.fillAll (bar.findColour (juce::ProgressBar::backgroundColourId));
    g.setColour (juce::Colour (0xff646464));
    g.fillRect (2.0f, 2.0f, (float) (width - 4) * (float) juce::jlimit (0.0, 1.0, progress), (float) height - 4.0f);
}

namespace
{
ImageLoader* imageLoader = nullptr;
}

void ImageLoader::createInstance()
{
    if (imageLoader == nullptr)
        imageLoader = new ImageLoader();
}

ImageLoader* ImageLoader::getInstance()
{
    createInstance();
    return imageLoader;
}

void ImageLoader::deleteInstance()
{
    delete imageLoader;
    imageLoader = nullptr;
}

ImageLoader::ImageLoader() = default;
ImageLoader::~ImageLoader() = default;
juce::Image* ImageLoader::getImage (int) { return nullptr; }
juce::Image ImageLoader::decodePicture (const void*, std::size_t) { return {}; }
