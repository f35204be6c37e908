#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class BtnLookAndFeel;

/** The screen's push button: a flat face with a bevelled edge and its text in a font of
    its own choosing.
*/
class ZizarButton : public juce::Button
{
public:
    explicit ZizarButton (const juce::String& name);
    ~ZizarButton() override;

    void setFontName (const juce::String& name);
    void setFontStyle (const int& style);
    void setText (const juce::String& text);

    const juce::String& getFontName() const noexcept { return fontName; }
    int getFontStyle() const noexcept { return fontStyle; }

    /** True while the button has the keyboard focus and that focus came from the keyboard:
        only then is the focus outline drawn.
    */
    bool showsFocusOutline() const;

    bool keyPressed (const juce::KeyPress&) override;

protected:
    void paintButton (juce::Graphics&, bool isMouseOver, bool isButtonDown) override;
    void focusGained (FocusChangeType) override;

private:
    BtnLookAndFeel* lookAndFeel = nullptr;
    int justification = juce::Justification::centred;
    juce::String fontName { "<Sans-Serif>" };
    int fontStyle = juce::Font::plain;
    bool focusFromKeyboard = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ZizarButton)
};
