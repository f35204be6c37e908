// What a screen reader finds on each screen: the accessibility tree of the screen in a
// window on the desktop, in English and Japanese.
#include "LayoutText.h"
#include "ScreenFixture.h"

#include "ui/ScreenState.h"

namespace
{
constexpr int english = 0;
constexpr int japanese = 11;

/** The screen's children as a reader announces them, in its reading order. */
juce::StringArray readOut (const juce::AccessibilityHandler& screenHandler)
{
    juce::StringArray lines;
    for (auto* child : screenHandler.getChildren())
    {
        const auto role = child->getRole();
        juce::String line = role == juce::AccessibilityRole::staticText    ? "text: "
                            : role == juce::AccessibilityRole::button      ? "button: "
                            : role == juce::AccessibilityRole::comboBox    ? "combo box: "
                            : role == juce::AccessibilityRole::progressBar ? "progress bar: "
                                                                           : "other: ";
        line << child->getTitle();
        if (role == juce::AccessibilityRole::progressBar)
            line << juce::String (child->getValueInterface()->getCurrentValue(), 2);
        lines.add (line);
    }
    return lines;
}

// The same characters count as blanks as in the painted layout, whose rule follows the
// system's C library (Windows counts the ideographic space, glibc in the C locale does not).
juce::String withoutBlanks (const juce::String& s)
{
    juce::String out;
    for (auto p = s.getCharPointer(); ! p.isEmpty(); ++p)
        if (! juce::CharacterFunctions::isWhitespace (*p))
            out << juce::String::charToString (*p);
    return out;
}
} // namespace

class ScreenReader : public ScreenFixture
{
protected:
    void SetUp() override
    {
        writeUpdateFile (103);
        open();
        window.setSize (420, 170);
        window.addToDesktop (0);
        window.setVisible (true);
        MainComponentProbe::setCurrentFirmwareVersion (*screen, 102);
        MainComponentProbe::setProgressValue (*screen, 0.42);
    }

    void TearDown() override { window.removeFromDesktop(); }

    /** The screen's title, then its children as read out. */
    juce::StringArray read()
    {
        auto* handler = screen->getAccessibilityHandler();
        EXPECT_NE (handler, nullptr);
        if (handler == nullptr)
            return {};
        juce::StringArray all { "title: " + handler->getTitle() };
        all.addArray (readOut (*handler));
        return all;
    }

    juce::String text (int index) { return texts().getText (index); }
    juce::String model (int index) { return MainComponent::formatText (text (index).toRawUTF8(), "KRV-7000"); }
};

// Every screen, in two languages: the reader hears exactly the painted texts, in the current
// language, the buttons by their texts, the progress bar with its value, and the window by
// its title.
TEST_F (ScreenReader, EachScreenReadsItsPaintedTextsInTheCurrentLanguage)
{
    struct Screen
    {
        const char* name;
        int state;
        int fileValid;
        std::vector<int> buttons; // text indices, left to right
        const char* widgets;      // besides the texts and buttons
    };
    const Screen screens[] = {
        { "language", SelectLanguage, 1, { 6, 4 }, "combo box" },
        { "not-found", DeviceNotFound, 1, { 7 }, "" },
        { "ready", ReadyToUpdate, 1, { 7, 5 }, "" },
        { "updating", Updating, 1, {}, "progress bar: 0.42" },
        { "complete", UpdateComplete, 1, { 4 }, "" },
        { "failed", UpdateFailed, 1, { 4 }, "" },
        { "file-error", ReadyToUpdate, 0, { 4 }, "" },
    };

    for (const int language : { english, japanese })
    {
        useLanguage (language);
        for (const auto& s : screens)
        {
            SCOPED_TRACE (juce::String (s.name) + (language == english ? " in English" : " in Japanese"));
            MainComponentProbe::setUpdateFileValid (*screen, s.fileValid);
            show (s.state);
            const auto lines = read();
            const auto joined = lines.joinIntoString ("\n");

            EXPECT_EQ (window.getAccessibilityHandler()->getTitle(), text (3));

            juce::String spoken, buttons, expectedButtons;
            juce::StringArray widgets;
            for (const auto& line : lines)
                if (line.startsWith ("title: ") || line.startsWith ("text: "))
                    spoken << line.fromFirstOccurrenceOf (": ", false, false);
                else if (line.startsWith ("button: "))
                    buttons << line << "\n";
                else
                    widgets.add (line.startsWith ("combo box: ") ? "combo box" : line);
            for (const int b : s.buttons)
                expectedButtons << "button: " << text (b) << "\n";

            EXPECT_EQ (withoutBlanks (spoken), testsupport::visibleText (layout())) << joined;
            EXPECT_EQ (buttons, expectedButtons) << joined;
            EXPECT_EQ (widgets.joinIntoString ("|"), s.widgets) << joined;
        }
    }
}

// The ready screen as a reader says it in English, and that a language chosen while it is
// shown is what it says next.
TEST_F (ScreenReader, ReadyScreenReadsItsSentencesAndBothVersions)
{
    useLanguage (english);
    show (ReadyToUpdate);
    const juce::StringArray expected { "title: Updates the version of your KRV-7000 firmware.",
                                       "text: Connect the USB-A terminal on your KRV-7000 and your computer using a USB cable.",
                                       "text: Current Version: Ver. 1.02",
                                       "text: Update Version: Ver. 1.03",
                                       "button: Close",
                                       "button: Start" };
    EXPECT_EQ (read().joinIntoString ("\n"), expected.joinIntoString ("\n"));

    useLanguage (japanese);
    const auto japaneseLines = read();
    EXPECT_EQ (japaneseLines[0], "title: " + model (12)) << japaneseLines.joinIntoString ("\n");
    EXPECT_NE (japaneseLines[0], expected[0]);
}
