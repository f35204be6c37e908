// ProgressLookAndFeel drawn into images.
#include "ImageChecks.h"

#include "style/ProgressLookAndFeel.h"

#include <gtest/gtest.h>

using namespace imagechecks;

namespace
{
constexpr int barWidth = 200;
constexpr int barHeight = 20;

struct Bar
{
    Bar()
    {
        bar.setColour (juce::ProgressBar::backgroundColourId, juce::Colour (8, 8, 8));
        bar.setColour (juce::ProgressBar::foregroundColourId, juce::Colour (61, 61, 61));
        bar.setSize (barWidth, barHeight);
    }

    juce::Image draw (double progress, const juce::String& text = {})
    {
        juce::Image image (juce::Image::ARGB, barWidth, barHeight, true);
        juce::Graphics g (image);
        look.drawProgressBar (g, bar, barWidth, barHeight, progress, text);
        return image;
    }

    double value = 0.0;
    juce::ProgressBar bar { value };
    ProgressLookAndFeel look;
};

bool isBackground (const juce::Image& image, int x, int y) { return isRgb (image, x, y, 8, 8, 8); }
bool isFilled (const juce::Image& image, int x, int y) { return rgbAt (image, x, y).r > 60; }
bool isWhite (juce::Colour c) { return c.getRed() > 200 && c.getGreen() > 200 && c.getBlue() > 200; }
} // namespace

TEST (ProgressLookAndFeel, NothingButTheBackgroundAtZeroOrBelow)
{
    Bar b;
    for (double progress : { 0.0, -0.5, -1.0 })
    {
        const auto image = b.draw (progress);
        for (int y = 0; y < barHeight; ++y)
            for (int x = 0; x < barWidth; ++x)
                ASSERT_TRUE (isBackground (image, x, y)) << progress << " at " << x << "," << y;
    }
}

TEST (ProgressLookAndFeel, FillsFromTwoPixelsInToTheProgressedLength)
{
    Bar b;

    const auto half = b.draw (0.5); // (200 - 4) x 0.5 = 98 pixels, x 2 to 100
    EXPECT_TRUE (isBackground (half, 1, 10));
    EXPECT_TRUE (isFilled (half, 2, 10));
    EXPECT_TRUE (isFilled (half, 99, 10));
    EXPECT_TRUE (isBackground (half, 100, 10));
    EXPECT_TRUE (isBackground (half, 50, 1));
    EXPECT_TRUE (isFilled (half, 50, 2));
    EXPECT_TRUE (isFilled (half, 50, 17));
    EXPECT_TRUE (isBackground (half, 50, 18));

    for (double progress : { 1.0, 1.5, 100.0 })
    {
        const auto full = b.draw (progress); // limited to 196 pixels, x 2 to 198
        EXPECT_TRUE (isFilled (full, 197, 10)) << progress;
        EXPECT_TRUE (isBackground (full, 198, 10)) << progress;
        EXPECT_TRUE (isBackground (full, 199, 10)) << progress;
        EXPECT_TRUE (isBackground (full, 1, 10)) << progress;
    }
}

TEST (ProgressLookAndFeel, GradientRunsLightToDarkerFromTheTop)
{
    Bar b;
    const auto image = b.draw (1.0);

    // Stops 167 at y 2, 100 half way to y 16, 108 from y 16 on; all channels equal.
    for (int y = 2; y < 18; ++y)
    {
        const auto c = rgbAt (image, 100, y);
        EXPECT_EQ (c.r, c.g);
        EXPECT_EQ (c.g, c.b);
    }
    EXPECT_NEAR (rgbAt (image, 100, 2).r, 167, 6);
    EXPECT_NEAR (rgbAt (image, 100, 9).r, 100, 4);
    EXPECT_NEAR (rgbAt (image, 100, 17).r, 108, 1);
    EXPECT_GT (rgbAt (image, 100, 3).r, rgbAt (image, 100, 8).r);
    EXPECT_LT (rgbAt (image, 100, 9).r, rgbAt (image, 100, 15).r);

    // The same in every column.
    for (int x = 2; x < 198; ++x)
        ASSERT_EQ (image.getPixelAt (x, 5), image.getPixelAt (100, 5)) << x;
}

TEST (ProgressLookAndFeel, TextIsWhiteAndCentred)
{
    Bar b;
    const auto image = b.draw (0.0, "50%");
    const auto text = boundsOf (image, image.getBounds(), isWhite);

    ASSERT_FALSE (text.isEmpty());
    EXPECT_NEAR (text.getCentreX(), barWidth / 2, 2);
    EXPECT_NEAR (text.getCentreY(), barHeight / 2, 3);
    // 0.8 x 20 = 16-pixel font: digits about 11 pixels high.
    EXPECT_GE (text.getHeight(), 9);
    EXPECT_LE (text.getHeight(), 16);
}

TEST (ProgressLookAndFeel, EmptyTextDrawsNoText)
{
    Bar b;
    const auto image = b.draw (0.5, {});
    EXPECT_EQ (countOf (image, image.getBounds(), isWhite), 0);
}
