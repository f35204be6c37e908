// The tour's rendered screens, looked at pixel by pixel.
#include "ImageChecks.h"
#include "ScreenFixture.h"

#include "style/ZizarButton.h"

using namespace imagechecks;

namespace
{
bool isBackground (juce::Colour c) { return c.getRed() == 234 && c.getGreen() == 234 && c.getBlue() == 234; }

// The warning sign's yellow, allowing for the blend of scaled pixels.
bool isSignYellow (juce::Colour c)
{
    return c.getRed() > 200 && c.getGreen() > 180 && c.getBlue() < 110 && c.getRed() - c.getBlue() > 120;
}
} // namespace

class ScreenPixels : public ScreenFixture
{
};

TEST_F (ScreenPixels, LightGreyBackgroundOnEveryScreen)
{
    open();
    for (const auto& shot : screentour::shots())
    {
        const auto image = shoot (shot.name);
        ASSERT_EQ (image.getWidth(), 420) << shot.name;
        ASSERT_EQ (image.getHeight(), 170) << shot.name;

        for (auto [x, y] : { std::pair { 2, 2 }, { 417, 2 }, { 2, 167 }, { 417, 167 }, { 10, 120 }, { 150, 160 }, { 410, 60 } })
            EXPECT_TRUE (isBackground (image.getPixelAt (x, y))) << shot.name << " at " << x << "," << y;
    }
}

TEST_F (ScreenPixels, WarningSignInsideItsSquareOnExactlyThreeScreens)
{
    open();
    for (auto [w, h] : { std::pair { 420, 170 }, { 560, 240 } })
    {
        screen->setSize (w, h);
        const juce::Rectangle<int> square (20, 15, 64, 64);

        for (const auto& shot : screentour::shots())
        {
            SCOPED_TRACE (juce::String (shot.name) + " at " + juce::String (w));
            const auto image = shoot (shot.name);
            const bool withSign = juce::String (shot.name) == "not-found" || juce::String (shot.name) == "failed"
                                  || juce::String (shot.name) == "file-error";

            const auto yellow = boundsOf (image, image.getBounds(), isSignYellow);
            if (! withSign)
            {
                EXPECT_TRUE (yellow.isEmpty());
                continue;
            }

            ASSERT_FALSE (yellow.isEmpty());
            EXPECT_TRUE (square.contains (yellow));

            // Left of the texts (x 105) and above the buttons only the sign is drawn, and it
            // fills its square: apex at the top, base along the bottom.
            const auto drawn = boundsOf (image, { 0, 0, 105, h - 45 }, [] (juce::Colour c) { return ! isBackground (c); });
            EXPECT_TRUE (square.contains (drawn)) << drawn.toString();
            EXPECT_LE (drawn.getX(), 21);
            EXPECT_GE (drawn.getRight(), 83);
            EXPECT_LE (drawn.getY(), 16);
            EXPECT_GE (drawn.getBottom(), 78);

            // The exclamation mark is black in the middle of the sign.
            EXPECT_LT (rgbAt (image, 52, 45).r, 60);
        }
    }
}

TEST_F (ScreenPixels, ButtonFacesAndBevels)
{
    open();
    auto image = shoot ("language");

    // OK at (300, 130), Cancel at (190, 130), each 100 x 20.
    for (int x0 : { 300, 190 })
    {
        SCOPED_TRACE (x0);
        EXPECT_TRUE (isRgb (image, x0 + 6, 140, 234, 234, 234));
        EXPECT_TRUE (isRgb (image, x0 + 50, 130, 255, 255, 255, 3)); // top
        EXPECT_TRUE (isRgb (image, x0, 140, 255, 255, 255, 3));      // left
        EXPECT_TRUE (isRgb (image, x0 + 99, 140, 0, 0, 0, 3));       // right
        EXPECT_TRUE (isRgb (image, x0 + 50, 149, 0, 0, 0, 3));       // bottom
        EXPECT_TRUE (isRgb (image, x0 + 50, 129, 234, 234, 234));    // nothing outside
        EXPECT_TRUE (isRgb (image, x0 + 50, 150, 234, 234, 234));
    }

    okButton().setState (juce::Button::buttonDown);
    image = screen->createComponentSnapshot (screen->getLocalBounds(), true, 1.0f);
    okButton().setState (juce::Button::buttonNormal);

    EXPECT_TRUE (isRgb (image, 306, 140, 234, 234, 234));
    EXPECT_TRUE (isRgb (image, 350, 130, 0, 0, 0, 3));
    EXPECT_TRUE (isRgb (image, 300, 140, 0, 0, 0, 3));
    EXPECT_TRUE (isRgb (image, 399, 140, 255, 255, 255, 3));
    EXPECT_TRUE (isRgb (image, 350, 149, 255, 255, 255, 3));
    // Cancel stays raised.
    EXPECT_TRUE (isRgb (image, 240, 130, 255, 255, 255, 3));
    EXPECT_TRUE (isRgb (image, 240, 149, 0, 0, 0, 3));
}

TEST_F (ScreenPixels, ProgressBarFill)
{
    open();
    // The bar at (20, 75, 380, 20): background 8, fill from x 22 over (380 - 4) x progress
    // pixels, rows 77 to 92.
    auto isDark = [] (const juce::Image& image, int x, int y) { return isRgb (image, x, y, 8, 8, 8); };
    auto isFill = [] (const juce::Image& image, int x, int y) { return rgbAt (image, x, y).r > 90; };

    const auto empty = shoot ("updating-000");
    for (int x : { 22, 100, 300, 397 })
        EXPECT_TRUE (isDark (empty, x, 78)) << x;
    EXPECT_TRUE (isDark (empty, 20, 75));

    const auto half = shoot ("updating-050"); // 188 pixels: x 22 to 209
    EXPECT_TRUE (isDark (half, 21, 78));
    EXPECT_TRUE (isFill (half, 22, 78));
    EXPECT_TRUE (isFill (half, 208, 78));
    EXPECT_TRUE (isDark (half, 211, 78));
    EXPECT_TRUE (isDark (half, 300, 78));
    EXPECT_TRUE (isDark (half, 100, 76));
    EXPECT_TRUE (isFill (half, 100, 77));
    EXPECT_TRUE (isFill (half, 100, 92));
    EXPECT_TRUE (isDark (half, 100, 93));
    EXPECT_GT (rgbAt (half, 30, 77).r, rgbAt (half, 30, 86).r + 30); // lighter at the top

    const auto full = shoot ("updating-100"); // 376 pixels: x 22 to 397
    EXPECT_TRUE (isFill (full, 22, 78));
    EXPECT_TRUE (isFill (full, 397, 78));
    EXPECT_TRUE (isDark (full, 398, 78));
    EXPECT_TRUE (isDark (full, 399, 78));

    // The percentage in white in the middle of the bar.
    for (const auto* image : { &empty, &half, &full })
    {
        const auto white = boundsOf (*image, { 20, 75, 380, 20 },
                                     [] (juce::Colour c) { return c.getRed() > 200 && c.getBlue() > 200 && c.getGreen() > 200; });
        ASSERT_FALSE (white.isEmpty());
        EXPECT_NEAR (white.getCentreX(), 210, 3);
        EXPECT_NEAR (white.getCentreY(), 85, 3);
    }
}
