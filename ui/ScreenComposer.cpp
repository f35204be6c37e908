// Screen composition and layout of MainComponent: which texts, widgets and picture each
// screen shows, and where.
#include "ui/MainComponent.h"

#include "style/ImageLoader.h"
#include "style/ZizarButton.h"
#include "text/TxtLoader.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace
{
constexpr float lineHeight = 13.0f;

bool isSingleLineLanguage (int language) noexcept
{
    return language == 8 || language == 9 || language == 10;
}
} // namespace

juce::String MainComponent::formatText (const char* format, ...)
{
    if (format == nullptr)
        return {};

    va_list args;
    va_start (args, format);
    va_list measure;
    va_copy (measure, args);
    const int length = std::vsnprintf (nullptr, 0, format, measure);
    va_end (measure);

    juce::String result;
    if (length >= 0)
    {
        std::vector<char> buffer ((size_t) length + 1);
        std::vsnprintf (buffer.data(), buffer.size(), format, args);
        result = juce::String::fromUTF8 (buffer.data(), length);
    }

    va_end (args);
    return result;
}

bool MainComponent::isFileErrorScreen() const noexcept
{
    return screenState != SelectLanguage && updateFileValid == 0;
}

void MainComponent::addTextBlock (const juce::String& text, const juce::String& fontName, bool bold,
                                  float x, float y, float width, float height, int maxLines)
{
    juce::Font font (fontName, lineHeight, bold ? juce::Font::bold : juce::Font::plain);
    const int firstGlyph = textLayout.getNumGlyphs();
    textLayout.addFittedText (font, text, x, y, width, height, juce::Justification::topLeft, maxLines, 0.7f);

    spokenTexts.push_back ({ text, textLayout.getBoundingBox (firstGlyph, -1, true) });
}

void MainComponent::splitLastSpokenText()
{
    // Lines of one block that a reader takes as texts of their own; each gets its share of
    // the block's height, the lines being of one height.
    if (spokenTexts.empty())
        return;

    const auto block = spokenTexts.back();
    spokenTexts.pop_back();

    const auto lines = juce::StringArray::fromLines (block.text);
    auto area = block.bounds;
    const float lineHeightShare = area.getHeight() / (float) juce::jmax (1, lines.size());
    for (const auto& line : lines)
        spokenTexts.push_back ({ line, area.removeFromTop (lineHeightShare) });
}

juce::String MainComponent::describeScreen() const
{
    juce::StringArray texts;
    for (const auto& spoken : spokenTexts)
        texts.add (spoken.text);
    return texts.joinIntoString ("\n");
}

MainComponent::ScreenText::ScreenText()
{
    setInterceptsMouseClicks (false, false);
}

std::unique_ptr<juce::AccessibilityHandler> MainComponent::ScreenText::createAccessibilityHandler()
{
    return std::make_unique<juce::AccessibilityHandler> (*this, juce::AccessibilityRole::staticText);
}

void MainComponent::exposeSpokenTexts()
{
    // A line break inside a sentence is only where the text is painted: a reader reads on.
    for (auto& spoken : spokenTexts)
    {
        auto text = spoken.text.replaceCharacters ("\r\n\t", "   ");
        while (text.contains ("  "))
            text = text.replace ("  ", " ");
        spoken.text = text.trim();
    }

    spokenTexts.erase (std::remove_if (spokenTexts.begin(), spokenTexts.end(),
                                       [] (const SpokenText& t) { return t.text.isEmpty(); }),
                       spokenTexts.end());

    const auto title = spokenTexts.empty() ? juce::String() : spokenTexts.front().text;
    bool changed = title != getTitle() || screenTexts.size() + 1 != spokenTexts.size();
    setTitle (title);

    const size_t count = spokenTexts.empty() ? 0 : spokenTexts.size() - 1;
    while (screenTexts.size() > count)
        screenTexts.pop_back();
    while (screenTexts.size() < count)
    {
        screenTexts.push_back (std::make_unique<ScreenText>());
        // Below the widgets, which keep every click.
        addAndMakeVisible (*screenTexts.back(), 0);
    }

    for (size_t i = 0; i < count; ++i)
    {
        const auto& spoken = spokenTexts[i + 1];
        auto& text = *screenTexts[i];
        changed = changed || text.getTitle() != spoken.text;
        text.setTitle (spoken.text);
        text.setBounds (spoken.bounds.getSmallestIntegerContainer());
    }

    if (changed)
        if (auto* handler = getAccessibilityHandler())
        {
            handler->notifyAccessibilityEvent (juce::AccessibilityEvent::titleChanged);
            handler->notifyAccessibilityEvent (juce::AccessibilityEvent::structureChanged);
        }
}

void MainComponent::addTextBlock (const juce::String& text, const juce::String& fontName, bool bold, float x, float y, float width)
{
    const float height = (float) getHeight() - y;
    addTextBlock (text, fontName, bold, x, y, width, height, (int) (height / lineHeight));
}

float MainComponent::bottomOfText() const
{
    const int count = textLayout.getNumGlyphs();
    if (count == 0)
        return 0.0f;

    // The last glyph's line, not its box: a line end has no width on Windows, so no box.
    return textLayout.begin()[count - 1].getBottom();
}

void MainComponent::addReconnectSteps (float x, float y, int language, const juce::String& fontName, bool withHeading)
{
    auto* texts = TxtLoader::getInstance();
    const auto model = texts->getText (updateFileValid + 1).toRawUTF8();
    const float width = (float) getWidth() - x - 15.0f;

    if (withHeading)
        addTextBlock (formatText (texts->getText (20).toRawUTF8(), model), fontName, true, x, y, width, 16.0f, 1);

    y += 16.0f;
    const int lines = isSingleLineLanguage (language) ? 1 : 2;
    addTextBlock (formatText (texts->getText (21).toRawUTF8(), model), fontName, false, x, y, width, (float) lines * 16.0f, lines);

    y += (float) lines * lineHeight + 3.0f;
    addTextBlock (texts->getText (22), fontName, false, x, y, width, 16.0f, 1);
}

void MainComponent::addConnectHint (float x, float y, int language, const juce::String& fontName)
{
    auto* texts = TxtLoader::getInstance();
    const auto model = texts->getText (updateFileValid + 1).toRawUTF8();
    const int lines = isSingleLineLanguage (language) ? 1 : 2;
    addTextBlock (formatText (texts->getText (23).toRawUTF8(), model), fontName, false,
                  x, y, (float) getWidth() - x - 20.0f, (float) lines * 16.0f, lines);
}

void MainComponent::composeScreen()
{
    auto* texts = TxtLoader::getInstance();
    const auto& fontName = texts->getCurrentFontName();
    const int language = texts->getCurrentLanguage();
    const float w = (float) getWidth();
    const int width = getWidth();
    const int height = getHeight();

    juce::Font::setFallbackFontName (fontName);

    if (auto* parent = getParentComponent())
    {
        // The window shows its name as its title; readers say its accessible title.
        parent->setName (texts->getText (3));
        parent->setTitle (texts->getText (3));
    }

    textLayout.clear();
    spokenTexts.clear();

    const auto model = texts->getText (updateFileValid + 1);
    const auto modelUtf8 = model.toRawUTF8();
    const bool fileError = isFileErrorScreen();

    if (fileError)
    {
        addTextBlock (texts->getText (10), fontName, false, 105.0f, 20.0f, w - 125.0f);
    }
    else
    {
        switch (screenState)
        {
            case SelectLanguage:
                addTextBlock (texts->getText (8) + "\n\n", fontName, true, 20.0f, 20.0f, w - 40.0f);
                addTextBlock (texts->getText (9), fontName, false, 40.0f, bottomOfText(), w - 60.0f);
                break;

            case DeviceNotFound:
                addReconnectSteps (105.0f, 20.0f, language, fontName, true);
                break;

            case ReadyToUpdate:
            {
                addTextBlock (formatText (texts->getText (12).toRawUTF8(), modelUtf8) + "\n\n", fontName, true, 20.0f, 20.0f, w - 40.0f);
                addConnectHint (40.0f, language == 6 ? 20.0f + 31.0f : 20.0f + 16.0f, language, fontName);
                const int current = currentFirmwareVersion;
                const int next = newFirmwareVersion;
                addTextBlock (formatText (texts->getText (13).toRawUTF8(), current / 100, current % 100) + "\n"
                                  + formatText (texts->getText (14).toRawUTF8(), next / 100, next % 100),
                              fontName, false, 60.0f, bottomOfText() + 5.0f, w - 60.0f);
                splitLastSpokenText();
                break;
            }

            case Updating:
                addTextBlock (formatText (texts->getText (15).toRawUTF8(), modelUtf8) + "\n\n", fontName, true, 20.0f, 20.0f, w - 40.0f);
                addTextBlock (texts->getText (16), fontName, false, 40.0f, bottomOfText(), w - 60.0f);
                break;

            case UpdateComplete:
                addTextBlock (formatText (texts->getText (17).toRawUTF8(), modelUtf8), fontName, false, 20.0f, 20.0f, w - 40.0f);
                break;

            case UpdateFailed:
                addTextBlock (texts->getText (18) + "\n", fontName, false, 105.0f, 20.0f, w - 125.0f);
                addReconnectSteps (105.0f, 20.0f, language, fontName, false);
                break;

            default:
                break;
        }
    }

    if (screenState == SelectLanguage)
    {
        languageBox->setVisible (true);
        languageBox->setSelectedId (language + 1, juce::dontSendNotification);
        languageBox->resized();
    }
    else
    {
        languageBox->setVisible (false);
    }

    progressBar->setVisible (screenState == Updating);

    okButton->setFontName (fontName);
    cancelButton->setFontName (fontName);

    const juce::Rectangle<int> right (width - 120, height - 40, 100, 20);
    const juce::Rectangle<int> left (width - 230, height - 40, 100, 20);

    auto showOne = [&] (int cancelText) {
        okButton->setVisible (false);
        cancelButton->setVisible (true);
        cancelButton->setText (texts->getText (cancelText));
        cancelButton->setBounds (right);
    };

    if (fileError)
    {
        showOne (4);
    }
    else
    {
        switch (screenState)
        {
            case SelectLanguage:
            case ReadyToUpdate:
                okButton->setVisible (true);
                okButton->setText (texts->getText (screenState == SelectLanguage ? 4 : 5));
                okButton->setBounds (right);
                cancelButton->setVisible (true);
                cancelButton->setText (texts->getText (screenState == SelectLanguage ? 6 : 7));
                cancelButton->setBounds (left);
                break;

            case DeviceNotFound:
                showOne (7);
                break;

            case UpdateComplete:
            case UpdateFailed:
                showOne (4);
                break;

            case Updating:
                okButton->setVisible (false);
                cancelButton->setVisible (false);
                break;

            default:
                break;
        }
    }

    exposeSpokenTexts();
    repaint();
}

void MainComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (234, 234, 234));

    if (isFileErrorScreen() || screenState == DeviceNotFound || screenState == UpdateFailed)
    {
        if (auto* icon = ImageLoader::getInstance()->getImage (0); icon != nullptr && icon->isValid())
            g.drawImage (*icon, 20, 15, 64, 64, 0, 0, icon->getWidth(), icon->getHeight());
    }

    g.setColour (juce::Colours::black);
    textLayout.draw (g);
}

void MainComponent::resized()
{
    composeScreen();

    const int width = getWidth();
    const int height = getHeight();
    const int middle = (height - 20) / 2;

    languageBox->setBounds (20, middle, width - 40, 20);
    progressBar->setBounds (20, middle, width - 40, 20);

    if (okButton->isVisible())
    {
        okButton->setBounds (width - 120, height - 40, 100, 20);
        cancelButton->setBounds (width - 230, height - 40, 100, 20);
    }
    else
    {
        cancelButton->setBounds (width - 120, height - 40, 100, 20);
    }
}
