#include "style/ZizarButton.h"

#include "style/BtnLookAndFeel.h"

ZizarButton::ZizarButton (const juce::String& name)
    : juce::Button (name)
{
    lookAndFeel = new BtnLookAndFeel();
    setLookAndFeel (lookAndFeel);

    setColour (juce::TextButton::buttonColourId, juce::Colour (0xff000000));
    setColour (juce::TextButton::buttonOnColourId, juce::Colour (0xff000000));

    setConnectedEdges (ConnectedOnLeft | ConnectedOnRight | ConnectedOnTop | ConnectedOnBottom);
}

ZizarButton::~ZizarButton()
{
    // The look-and-feel must not be in use by the component when it goes.
    setLookAndFeel (nullptr);
    delete lookAndFeel;
    lookAndFeel = nullptr;
}

void ZizarButton::setFontName (const juce::String& name)
{
    fontName = name;
}

void ZizarButton::setFontStyle (const int& style)
{
    fontStyle = style;
}

void ZizarButton::setText (const juce::String& text)
{
    if (text == getButtonText())
        repaint();
    else
        setButtonText (text);
}

void ZizarButton::paintButton (juce::Graphics& g, bool isMouseOver, bool isButtonDown)
{
    const auto colourId = getToggleState() ? juce::TextButton::buttonOnColourId
                                           : juce::TextButton::buttonColourId;

    getLookAndFeel().drawButtonBackground (g, *this, findColour (colourId, false), isMouseOver, isButtonDown);

    g.setFont (juce::Font (fontName, juce::jmin ((float) getHeight() * 0.8f, 13.0f), fontStyle));
    g.setColour (juce::Colour (0xff101010));

    const int offset = isButtonDown ? 5 : 4;
    g.drawFittedText (getButtonText(), offset, offset, getWidth() - 8, getHeight() - 8,
                      juce::Justification (justification), 1, 0.7f);

    if (showsFocusOutline())
        if (auto* buttonLook = dynamic_cast<BtnLookAndFeel*> (&getLookAndFeel()))
            buttonLook->drawFocusOutline (g, *this);
}

bool ZizarButton::showsFocusOutline() const
{
    return focusFromKeyboard && hasKeyboardFocus (false);
}

void ZizarButton::focusGained (FocusChangeType cause)
{
    // A click gives the focus without an outline, so a mouse user sees the button as it
    // always was. Focus given back when the window is activated again keeps what it had.
    if (cause == focusChangedByTabKey)
        focusFromKeyboard = true;
    else if (cause == focusChangedByMouseClick)
        focusFromKeyboard = false;

    juce::Button::focusGained (cause);
}

bool ZizarButton::keyPressed (const juce::KeyPress& key)
{
    // Space as well as Enter, as a push button does on Windows.
    if (isEnabled() && (key.isKeyCode (juce::KeyPress::spaceKey) || key.isKeyCode (juce::KeyPress::returnKey)))
    {
        triggerClick();
        return true;
    }

    return juce::Button::keyPressed (key);
}
