#include "style/BtnLookAndFeel.h"

namespace
{
constexpr float connectedIndent = 0.1f;
constexpr float freeIndent = 1.25f;
constexpr float outlineThickness = 2.5f;
constexpr float cornerSize = -1.0f; // automatic: half the shorter side

struct Bevel
{
    float x, y, w, h, cs;
    bool topLeft, topRight, bottomLeft, bottomRight; // which corners are rounded

    enum Corner
    {
        topLeftCorner,
        topRightCorner,
        bottomRightCorner,
        bottomLeftCorner
    };

    // Goes round a corner clockwise: to the start of its arc and along it when the corner
    // is rounded, else to the corner itself. The first corner of a path starts it.
    void turn (juce::Path& p, Corner corner, bool first) const
    {
        constexpr auto pi = juce::MathConstants<float>::pi;
        const bool rounded[] = { topLeft, topRight, bottomRight, bottomLeft };
        const juce::Point<float> sharp[] = { { x, y }, { x + w, y }, { x + w, y + h }, { x, y + h } };
        const juce::Point<float> entry[] = { { x, y + cs }, { x + w - cs, y }, { x + w, y + h - cs }, { x + cs, y + h } };
        // The arc lies in the square of side 2 cs whose top-left corner is this; its angles
        // run clockwise from twelve o'clock.
        const juce::Point<float> square[] = { { x, y }, { x + w - 2.0f * cs, y }, { x + w - 2.0f * cs, y + h - 2.0f * cs }, { x, y + h - 2.0f * cs } };
        const float from = (1.5f + 0.5f * (float) corner) * pi;

        const auto point = rounded[corner] ? entry[corner] : sharp[corner];
        if (first)
            p.startNewSubPath (point);
        else
            p.lineTo (point);

        if (rounded[corner])
            p.addArc (square[corner].x, square[corner].y, 2.0f * cs, 2.0f * cs, from, from + 0.5f * pi, false);
    }

    juce::Path outline() const
    {
        juce::Path p;
        turn (p, topLeftCorner, true);
        turn (p, topRightCorner, false);
        turn (p, bottomRightCorner, false);
        turn (p, bottomLeftCorner, false);
        p.closeSubPath();
        return p;
    }

    // Left and top edges.
    juce::Path light() const
    {
        juce::Path p;
        turn (p, bottomLeftCorner, true);
        turn (p, topLeftCorner, false);
        p.lineTo (topRight ? x + w - cs : x + w, y);
        return p;
    }

    // Right and bottom edges.
    juce::Path dark() const
    {
        juce::Path p;
        turn (p, topRightCorner, true);
        turn (p, bottomRightCorner, false);
        p.lineTo (bottomLeft ? x + cs : x, y + h);
        return p;
    }
};
} // namespace

void BtnLookAndFeel::drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour& backgroundColour,
                                           bool /*isMouseOverButton*/, bool isButtonDown)
{
    const bool left = button.isConnectedOnLeft();
    const bool right = button.isConnectedOnRight();
    const bool top = button.isConnectedOnTop();
    const bool bottom = button.isConnectedOnBottom();

    const float indentLeft = left ? connectedIndent : freeIndent;
    const float indentRight = right ? connectedIndent : freeIndent;
    const float indentTop = top ? connectedIndent : freeIndent;
    const float indentBottom = bottom ? connectedIndent : freeIndent;

    Bevel bevel;
    bevel.x = indentLeft;
    bevel.y = indentTop;
    bevel.w = (float) button.getWidth() - indentLeft - indentRight;
    bevel.h = (float) button.getHeight() - indentTop - indentBottom;

    if (outlineThickness >= bevel.w || outlineThickness >= bevel.h)
        return;

    bevel.cs = cornerSize >= 0.0f ? cornerSize : juce::jmin (bevel.w / 2.0f, bevel.h / 2.0f);
    bevel.topLeft = ! (left || top);
    bevel.topRight = ! (right || top);
    bevel.bottomLeft = ! (left || bottom);
    bevel.bottomRight = ! (right || bottom);

    g.setColour (backgroundColour);
    g.fillPath (bevel.outline());

    const juce::PathStrokeType stroke (outlineThickness, juce::PathStrokeType::mitered, juce::PathStrokeType::butt);
    const juce::Colour white (0xffffffff);
    const juce::Colour black (0xff000000);

    g.setColour (isButtonDown ? black : white);
    g.strokePath (bevel.light(), stroke);

    g.setColour (isButtonDown ? white : black);
    g.strokePath (bevel.dark(), stroke);
}

void BtnLookAndFeel::drawFocusOutline (juce::Graphics& g, juce::Button& button)
{
    // One pixel wide, a pixel of face inside the bevel and just outside the text's box, in
    // the text's colour: about 15:1 against the light grey face.
    const auto box = button.getLocalBounds().reduced (3);
    if (box.getWidth() < 3 || box.getHeight() < 3)
        return;

    g.setColour (juce::Colour (0xff101010));
    g.drawRect (box, 1);
}
