#pragma once

// Small helpers for tests that look at rendered pixels.

#include <juce_graphics/juce_graphics.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <functional>

namespace imagechecks
{
struct Rgb
{
    int r, g, b;
};

inline Rgb rgbAt (const juce::Image& image, int x, int y)
{
    const auto c = image.getPixelAt (x, y);
    return { c.getRed(), c.getGreen(), c.getBlue() };
}

inline int alphaAt (const juce::Image& image, int x, int y)
{
    return image.getPixelAt (x, y).getAlpha();
}

inline bool isRgb (const juce::Image& image, int x, int y, int r, int g, int b, int tolerance = 0)
{
    const auto c = rgbAt (image, x, y);
    return std::abs (c.r - r) <= tolerance && std::abs (c.g - g) <= tolerance && std::abs (c.b - b) <= tolerance;
}

/** The smallest rectangle holding every pixel inside area that matches; empty if none. */
inline juce::Rectangle<int> boundsOf (const juce::Image& image, juce::Rectangle<int> area,
                                      const std::function<bool (juce::Colour)>& matches)
{
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    area = area.getIntersection (image.getBounds());

    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (matches (image.getPixelAt (x, y)))
            {
                left = std::min (left, x);
                right = std::max (right, x + 1);
                top = std::min (top, y);
                bottom = std::max (bottom, y + 1);
            }

    if (left > right)
        return {};
    return { left, top, right - left, bottom - top };
}

inline int countOf (const juce::Image& image, juce::Rectangle<int> area, const std::function<bool (juce::Colour)>& matches)
{
    int n = 0;
    area = area.getIntersection (image.getBounds());
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (matches (image.getPixelAt (x, y)))
                ++n;
    return n;
}
} // namespace imagechecks
