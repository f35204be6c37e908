#include "text/LangLookAndFeel.h"

#include "text/TxtLoader.h"

#include "platform/SystemFonts.h"

namespace
{
/** The language whose name this is, or -1. */
int languageNamed (const juce::String& text)
{
    auto* texts = TxtLoader::getInstance();
    for (int i = 0; i < TxtLoader::languageCount; ++i)
        if (text == texts->getLanguageName (i))
            return i;
    return -1;
}
} // namespace

void LangLookAndFeel::drawPopupMenuItem (juce::Graphics& g, const juce::Rectangle<int>& area,
                                         bool isSeparator, bool isActive, bool isHighlighted, bool isTicked, bool hasSubMenu,
                                         const juce::String& text, const juce::String& shortcutKeyText,
                                         const juce::Drawable* icon, const juce::Colour* textColour)
{
    const int width = area.getWidth();
    const int height = area.getHeight();
    const float halfH = (float) height * 0.5f;

    juce::Graphics::ScopedSaveState origin (g);
    g.setOrigin (area.getPosition());

    if (isSeparator)
    {
        g.setColour (juce::Colour (0x33000000));
        g.drawLine (5.5f, halfH, (float) width - 5.5f, halfH);
        g.setColour (juce::Colour (0x66FFFFFF));
        g.drawLine (5.5f, halfH + 1.0f, (float) width - 5.5f, halfH + 1.0f);
        return;
    }

    const auto colour = textColour != nullptr ? *textColour : findColour (juce::PopupMenu::textColourId);

    if (isHighlighted)
    {
        g.setColour (juce::Colour (0xFF000040));
        g.fillRect (1, 1, width - 2, height - 2);
        g.setColour (findColour (juce::PopupMenu::highlightedTextColourId));
    }
    else
    {
        g.setColour (colour);
    }

    if (! isActive)
        g.setOpacity (0.3f);

    // The menu font lacks the glyphs of some names: while a name is drawn, its own
    // language's font stands by for them.
    const juce::String savedFallback = juce::Font::getFallbackFontName();
    const int language = languageNamed (text);
    if (language >= 0)
        juce::Font::setFallbackFontName (TxtLoader::getInstance()->getFontName (language));

    auto font = getPopupMenuFont();
    const float maxFontHeight = (float) height / 1.3f;
    if (font.getHeight() > maxFontHeight)
        font.setHeight (maxFontHeight);
    if (language >= 0 && ! SystemFonts::glyphsFallBack())
        font = juce::Font (TxtLoader::getInstance()->getFontName (language), font.getHeight(), font.getStyleFlags());
    g.setFont (font);

    const int leftBorder = (height * 5) / 4;

    if (icon != nullptr)
    {
        icon->drawWithin (g, juce::Rectangle<float> (2.0f, 1.0f, (float) (leftBorder - 4), (float) (height - 2)),
                          juce::RectanglePlacement::centred | juce::RectanglePlacement::onlyReduceInSize, 1.0f);
    }
    else if (isTicked)
    {
        const auto tick = getTickShape (1.0f);
        const float th = font.getAscent();
        g.fillPath (tick, tick.getTransformToScaleToFit (2.0f, halfH - th * 0.5f, (float) (leftBorder - 4), th, true));
    }

    g.drawFittedText (text, leftBorder, 0, width - leftBorder - 4, height, juce::Justification::centredLeft, 1, 0.7f);

    if (shortcutKeyText.isNotEmpty())
    {
        auto shortcutFont = g.getCurrentFont();
        shortcutFont.setHeight (shortcutFont.getHeight() * 0.75f);
        shortcutFont.setHorizontalScale (0.95f);
        g.setFont (shortcutFont);
        g.drawText (shortcutKeyText, leftBorder, 0, width - leftBorder - 8, height, juce::Justification::centredRight, true);
    }

    if (hasSubMenu)
    {
        const float arrowH = 0.6f * getPopupMenuFont().getAscent();
        const float x = (float) width - (float) height * 0.6f;

        juce::Path arrow;
        arrow.addTriangle (x, halfH - arrowH * 0.5f, x, halfH + arrowH * 0.5f, x + arrowH * 0.6f, halfH);
        g.fillPath (arrow);
    }

    juce::Font::setFallbackFontName (savedFallback);
}

juce::PopupMenu::Options LangLookAndFeel::getOptionsForComboBoxPopupMenu (juce::ComboBox& box, juce::Label& label)
{
    return LookAndFeel_V2::getOptionsForComboBoxPopupMenu (box, label).withStandardItemHeight (box.getHeight());
}

juce::Font LangLookAndFeel::getLabelFont (juce::Label& label)
{
    auto font = LookAndFeel_V2::getLabelFont (label);
    if (SystemFonts::glyphsFallBack())
        return font;

    const int language = languageNamed (label.getText());
    return language >= 0 ? juce::Font (TxtLoader::getInstance()->getFontName (language), font.getHeight(), font.getStyleFlags())
                         : font;
}
