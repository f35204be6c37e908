#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Draws the language list so that every language's name is legible: the fallback font
    is that language's font while its item is drawn (and, where fonts do not fall back, the
    name is drawn in that font).
*/
class LangLookAndFeel : public juce::LookAndFeel_V2
{
public:
    LangLookAndFeel() = default;
    ~LangLookAndFeel() override = default;

    void drawPopupMenuItem (juce::Graphics&, const juce::Rectangle<int>& area,
                            bool isSeparator, bool isActive, bool isHighlighted, bool isTicked, bool hasSubMenu,
                            const juce::String& text, const juce::String& shortcutKeyText,
                            const juce::Drawable* icon, const juce::Colour* textColour) override;

    /** The items take the box's own height (JUCE's default is its label's, two pixels less),
        which the item drawing's border and font size follow.
    */
    juce::PopupMenu::Options getOptionsForComboBoxPopupMenu (juce::ComboBox&, juce::Label&) override;

    /** The box's label: where glyphs do not fall back, a language's name is shown in its
        language's font. */
    juce::Font getLabelFont (juce::Label&) override;
};
