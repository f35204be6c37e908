// ZizarButton and BtnLookAndFeel, drawn into images.
#include "ImageChecks.h"

#include "style/BtnLookAndFeel.h"
#include "style/ZizarButton.h"

#include <gtest/gtest.h>

using namespace imagechecks;

namespace
{
const juce::Colour face (234, 234, 234);

juce::Image snapshot (juce::Component& c)
{
    return c.createComponentSnapshot (c.getLocalBounds(), true, 1.0f);
}

// A button set up as the updater's screen sets up its two.
struct ScreenButton : ZizarButton
{
    explicit ScreenButton (const juce::String& text, int width = 100, int height = 20) : ZizarButton ("OK")
    {
        const int bold = juce::Font::bold;
        setFontStyle (bold);
        setColour (juce::TextButton::buttonColourId, face);
        setColour (juce::TextButton::buttonOnColourId, face);
        setText (text);
        setSize (width, height);
    }
};

bool isDark (juce::Colour c) { return c.getAlpha() > 128 && c.getBrightness() < 0.4f; }

// The text of a button h pixels high drawn with a font of the given height.
juce::Image expectedText (int height, float fontHeight, const juce::String& text)
{
    ScreenButton reference (text, 100, height);
    juce::Image image (juce::Image::ARGB, 100, height, true);
    juce::Graphics g (image);
    reference.getLookAndFeel().drawButtonBackground (g, reference, face, false, false);
    g.setFont (juce::Font ("<Sans-Serif>", fontHeight, juce::Font::bold));
    g.setColour (juce::Colour (0xff101010));
    g.drawFittedText (text, 4, 4, 92, height - 8, juce::Justification::centred, 1, 0.7f);
    return image;
}

bool sameImage (const juce::Image& a, const juce::Image& b)
{
    if (a.getBounds() != b.getBounds())
        return false;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                return false;
    return true;
}
} // namespace

TEST (ZizarButton, StartsBlackAndConnectedOnEveryEdge)
{
    ZizarButton button ("Cancel");

    EXPECT_EQ (button.getName(), "Cancel");
    EXPECT_EQ (button.findColour (juce::TextButton::buttonColourId, false), juce::Colour (0xff000000));
    EXPECT_EQ (button.findColour (juce::TextButton::buttonOnColourId, false), juce::Colour (0xff000000));
    EXPECT_EQ (button.getConnectedEdgeFlags(), 15);
    EXPECT_EQ (button.getFontName(), "<Sans-Serif>");
    EXPECT_EQ (button.getFontStyle(), 0);
    EXPECT_NE (dynamic_cast<BtnLookAndFeel*> (&button.getLookAndFeel()), nullptr);
}

TEST (ZizarButton, FontNameAndStyleAreStoredOnly)
{
    ZizarButton button ("OK");
    button.setFontName ("Some Font");
    const int bold = juce::Font::bold;
    button.setFontStyle (bold);

    EXPECT_EQ (button.getFontName(), "Some Font");
    EXPECT_EQ (button.getFontStyle(), juce::Font::bold);
}

TEST (ZizarButton, SetTextChangesTheTextAndKeepsAnEqualOne)
{
    ZizarButton button ("OK");
    button.setText ("Start");
    EXPECT_EQ (button.getButtonText(), "Start");
    button.setText ("Start");
    EXPECT_EQ (button.getButtonText(), "Start");
    button.setText ("Close");
    EXPECT_EQ (button.getButtonText(), "Close");
}

TEST (ZizarButton, RaisedFaceWithWhiteTopLeftAndBlackBottomRight)
{
    ScreenButton button ("");
    const auto image = snapshot (button);

    EXPECT_TRUE (isRgb (image, 50, 10, 234, 234, 234));
    EXPECT_TRUE (isRgb (image, 10, 10, 234, 234, 234));
    EXPECT_TRUE (isRgb (image, 50, 0, 255, 255, 255, 3)); // top edge
    EXPECT_TRUE (isRgb (image, 0, 10, 255, 255, 255, 3)); // left edge
    EXPECT_TRUE (isRgb (image, 99, 10, 0, 0, 0, 3));      // right edge
    EXPECT_TRUE (isRgb (image, 50, 19, 0, 0, 0, 3));      // bottom edge

    // Connected on every edge: square corners, so every corner pixel is covered.
    for (auto [x, y] : { std::pair { 0, 0 }, { 99, 0 }, { 0, 19 }, { 99, 19 } })
        EXPECT_GT (alphaAt (image, x, y), 200) << x << "," << y;
}

TEST (ZizarButton, PressedSwapsTheBevelColours)
{
    ScreenButton button ("");
    button.setState (juce::Button::buttonDown);
    const auto image = snapshot (button);

    EXPECT_TRUE (isRgb (image, 50, 10, 234, 234, 234));
    EXPECT_TRUE (isRgb (image, 50, 0, 0, 0, 0, 3));
    EXPECT_TRUE (isRgb (image, 0, 10, 0, 0, 0, 3));
    EXPECT_TRUE (isRgb (image, 99, 10, 255, 255, 255, 3));
    EXPECT_TRUE (isRgb (image, 50, 19, 255, 255, 255, 3));
}

TEST (ZizarButton, MouseOverAndDisabledLeaveTheFaceAlone)
{
    ScreenButton button ("");
    const auto normal = snapshot (button);

    button.setState (juce::Button::buttonOver);
    const auto over = snapshot (button);
    button.setState (juce::Button::buttonNormal);
    button.setEnabled (false);
    const auto disabled = snapshot (button);

    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 100; ++x)
        {
            ASSERT_EQ (over.getPixelAt (x, y), normal.getPixelAt (x, y)) << x << "," << y;
            ASSERT_EQ (disabled.getPixelAt (x, y), normal.getPixelAt (x, y)) << x << "," << y;
        }
}

TEST (ZizarButton, ToggleStateChoosesTheOnColour)
{
    ScreenButton button ("");
    button.setColour (juce::TextButton::buttonColourId, juce::Colour (0xffff0000));
    button.setColour (juce::TextButton::buttonOnColourId, juce::Colour (0xff0000ff));

    EXPECT_TRUE (isRgb (snapshot (button), 50, 10, 255, 0, 0));
    button.setToggleState (true, juce::dontSendNotification);
    EXPECT_TRUE (isRgb (snapshot (button), 50, 10, 0, 0, 255));
}

TEST (ZizarButton, TextIsDarkCentredAndMovesOnePixelWhilePressed)
{
    ScreenButton button ("Start");
    const auto up = snapshot (button);
    button.setState (juce::Button::buttonDown);
    const auto down = snapshot (button);

    // Inside the bevel only the text is dark.
    const juce::Rectangle<int> inner (3, 3, 94, 14);
    const auto upText = boundsOf (up, inner, isDark);
    const auto downText = boundsOf (down, inner, isDark);

    ASSERT_FALSE (upText.isEmpty());
    EXPECT_EQ (downText, upText.translated (1, 1));
    EXPECT_NEAR (upText.getCentreX(), 50, 2);
    EXPECT_NEAR (upText.getCentreY(), 10, 2);

    for (int y = upText.getY(); y < upText.getBottom(); ++y)
        for (int x = upText.getX(); x < upText.getRight(); ++x)
            ASSERT_EQ (down.getPixelAt (x + 1, y + 1), up.getPixelAt (x, y)) << x << "," << y;

    // The text colour is 0xFF101010: its darkest pixels are that grey, not black.
    int darkest = 255;
    for (int y = upText.getY(); y < upText.getBottom(); ++y)
        for (int x = upText.getX(); x < upText.getRight(); ++x)
            darkest = std::min (darkest, rgbAt (up, x, y).r);
    EXPECT_EQ (darkest, 16);
}

TEST (ZizarButton, FontIsFourFifthsOfTheHeightUpToThirteen)
{
    for (auto [height, fontHeight] : { std::pair { 20, 13.0f }, { 40, 13.0f }, { 17, 13.0f }, { 15, 12.0f }, { 10, 8.0f } })
    {
        ScreenButton button ("Hg", 100, height);
        const auto image = snapshot (button);

        EXPECT_TRUE (sameImage (image, expectedText (height, fontHeight, "Hg"))) << "height " << height;
        EXPECT_FALSE (sameImage (image, expectedText (height, fontHeight - 1.0f, "Hg"))) << "height " << height;
    }
}

TEST (ZizarButton, TooSmallForTheOutlineDrawsNoFace)
{
    for (auto [w, h] : { std::pair { 100, 2 }, { 2, 20 }, { 1, 1 } })
    {
        ScreenButton button ("OK", w, h);
        const auto image = snapshot (button);
        EXPECT_EQ (countOf (image, image.getBounds(), [] (juce::Colour c) { return c.getAlpha() != 0; }), 0)
            << w << " x " << h;
    }
}

TEST (BtnLookAndFeel, DrawsNothingWhenTheBoxIsNoLargerThanTheOutline)
{
    BtnLookAndFeel look;
    juce::TextButton button;
    button.setConnectedEdges (0); // indents of 1.25 on every side

    auto draw = [&] (int w, int h) {
        button.setSize (w, h);
        juce::Image image (juce::Image::ARGB, w, h, true);
        juce::Graphics g (image);
        look.drawButtonBackground (g, button, face, false, false);
        return countOf (image, image.getBounds(), [] (juce::Colour c) { return c.getAlpha() != 0; });
    };

    EXPECT_EQ (draw (5, 20), 0); // box 2.5 wide
    EXPECT_EQ (draw (20, 5), 0); // box 2.5 high
    EXPECT_GT (draw (6, 20), 0); // box 3.5 wide
    EXPECT_GT (draw (20, 6), 0);
}

TEST (BtnLookAndFeel, RoundsOnlyCornersWhoseEdgesAreFree)
{
    BtnLookAndFeel look;
    juce::TextButton button;
    button.setSize (60, 30);

    auto draw = [&] (int edges, bool down) {
        button.setConnectedEdges (edges);
        juce::Image image (juce::Image::ARGB, 60, 30, true);
        juce::Graphics g (image);
        look.drawButtonBackground (g, button, face, false, down);
        return image;
    };

    // Nothing connected: all four corners rounded, the edges' middles drawn.
    auto free = draw (0, false);
    for (auto [x, y] : { std::pair { 1, 1 }, { 58, 1 }, { 1, 28 }, { 58, 28 } })
        EXPECT_EQ (alphaAt (free, x, y), 0) << x << "," << y;
    EXPECT_TRUE (isRgb (free, 1, 15, 255, 255, 255, 3));
    EXPECT_TRUE (isRgb (free, 30, 1, 255, 255, 255, 3));
    EXPECT_TRUE (isRgb (free, 58, 15, 0, 0, 0, 3));
    EXPECT_TRUE (isRgb (free, 30, 28, 0, 0, 0, 3));
    EXPECT_TRUE (isRgb (free, 30, 15, 234, 234, 234));

    // Connected on the left: the left corners are square, the right ones still round.
    auto left = draw (juce::Button::ConnectedOnLeft, false);
    EXPECT_GT (alphaAt (left, 0, 1), 200);
    EXPECT_GT (alphaAt (left, 0, 28), 200);
    EXPECT_EQ (alphaAt (left, 58, 1), 0);
    EXPECT_EQ (alphaAt (left, 58, 28), 0);

    // Connected at the top: the top corners are square.
    auto top = draw (juce::Button::ConnectedOnTop, false);
    EXPECT_GT (alphaAt (top, 1, 0), 200);
    EXPECT_GT (alphaAt (top, 58, 0), 200);
    EXPECT_EQ (alphaAt (top, 1, 28), 0);
    EXPECT_EQ (alphaAt (top, 58, 28), 0);

    // Pressed: the same shape, the strokes swapped.
    auto pressed = draw (0, true);
    EXPECT_TRUE (isRgb (pressed, 1, 15, 0, 0, 0, 3));
    EXPECT_TRUE (isRgb (pressed, 58, 15, 255, 255, 255, 3));
    EXPECT_EQ (alphaAt (pressed, 1, 1), 0);
}
