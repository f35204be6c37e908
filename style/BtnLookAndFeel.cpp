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

    // The arc in the square of side 2 cs whose top-left corner is (a, b); angles run
    // clockwise from twelve o'clock. The path's current point is joined to the arc.
    void arc (juce::Path& p, float a, float b, float from, float to) const
    {
        p.addArc (a, b, 2.0f * cs, 2.0f * cs, from, to, false);
    }

    juce::Path outline() const
    {
        constexpr auto pi = juce::MathConstants<float>::pi;
        juce::Path p;

        if (topLeft)
        {
            p.startNewSubPath (x, y + cs);
            arc (p, x, y, 1.5f * pi, 2.0f * pi);
        }
        else
        {
            p.startNewSubPath (x, y);
        }

        if (topRight)
        {
            p.lineTo (x + w - cs, y);
            arc (p, x + w - 2.0f * cs, y, 0.0f, 0.5f * pi);
        }
        else
        {
            p.lineTo (x + w, y);
        }

        if (bottomRight)
        {
            p.lineTo (x + w, y + h - cs);
            arc (p, x + w - 2.0f * cs, y + h - 2.0f * cs, 0.5f * pi, pi);
        }
        else
        {
            p.lineTo (x + w, y + h);
        }

        if (bottomLeft)
        {
            p.lineTo (x + cs, y + h);
            arc (p, x, y + h - 2.0f * cs, pi, 1.5f * pi);
        }
        else
        {
            p.lineTo (x, y + h);
        }

        p.closeSubPath();
        return p;
    }

    // Left and top edges.
    juce::Path light() const
    {
        constexpr auto pi = juce::MathConstants<float>::pi;
        juce::Path p;

        if (bottomLeft)
        {
            p.startNewSubPath (x + cs, y + h);
            arc (p, x, y + h - 2.0f * cs, pi, 1.5f * pi);
        }
        else
        {
            p.startNewSubPath (x, y + h);
        }

        if (topLeft)
        {
            p.lineTo (x, y + cs);
            arc (p, x, y, 1.5f * pi, 2.0f * pi);
        }
        else
        {
            p.lineTo (x, y);
        }

        p.lineTo (topRight ? x + w - cs : x + w, y);
        return p;
    }

    // Right and bottom edges.
    juce::Path dark() const
    {
        constexpr auto pi = juce::MathConstants<float>::pi;
        juce::Path p;

        if (topRight)
        {
            p.startNewSubPath (x + w - cs, y);
            arc (p, x + w - 2.0f * cs, y, 0.0f, 0.5f * pi);
        }
        else
        {
            p.startNewSubPath (x + w, y);
        }

        if (bottomRight)
        {
            p.lineTo (x + w, y + h - cs);
            arc (p, x + w - 2.0f * cs, y + h - 2.0f * cs, 0.5f * pi, pi);
        }
        else
        {
            p.lineTo (x + w, y + h);
        }

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
