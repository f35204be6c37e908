// Where each screen puts its widgets and its text blocks, from the real MainComponent.
#include "LayoutText.h"
#include "ScreenFixture.h"

#include "style/ZizarButton.h"

#include <set>

namespace
{
struct ScreenWidgets
{
    const char* shot;
    bool ok;
    int okText;
    bool cancel;
    int cancelText;
    bool cancelAtRight;
    bool box;
    bool bar;
};

const ScreenWidgets widgetsByScreen[] = {
    { "language", true, 4, true, 6, false, true, false },
    { "not-found", false, 0, true, 7, true, false, false },
    { "ready", true, 5, true, 7, false, false, false },
    { "updating-050", false, 0, false, 0, false, false, true },
    { "complete", false, 0, true, 4, true, false, false },
    { "failed", false, 0, true, 4, true, false, false },
    { "file-error", false, 0, true, 4, true, false, false },
};

float topOf (juce::GlyphArrangement& layout, int i)
{
    return layout.getBoundingBox (i, 1, true).getY();
}

// Of the glyph's line: a line end has no width, so no box, on Windows.
float bottomOf (juce::GlyphArrangement& layout, int i)
{
    return layout.getGlyph (i).getBottom();
}

// The index of the first visible glyph whose left edge is at x, or -1.
int firstGlyphAt (juce::GlyphArrangement& layout, float x)
{
    for (int i = 0; i < layout.getNumGlyphs(); ++i)
        if (! layout.getGlyph (i).isWhitespace() && std::abs (layout.getGlyph (i).getLeft() - x) < 0.01f)
            return i;
    return -1;
}

// The distinct tops of the visible glyphs: one per line.
std::set<int> lineTops (juce::GlyphArrangement& layout, float below = 1.0e6f)
{
    std::set<int> tops;
    for (int i = 0; i < layout.getNumGlyphs(); ++i)
        if (! layout.getGlyph (i).isWhitespace() && topOf (layout, i) < below)
            tops.insert (juce::roundToInt (topOf (layout, i) * 100.0f));
    return tops;
}

using testsupport::visibleText;

juce::String withoutWhitespace (const juce::String& text)
{
    return text.removeCharacters (" \t\r\n");
}

bool sameGlyph (const juce::PositionedGlyph& a, const juce::PositionedGlyph& b)
{
    return a.getCharacter() == b.getCharacter() && std::abs (a.getLeft() - b.getLeft()) < 0.01f
           && std::abs (a.getBaselineY() - b.getBaselineY()) < 0.01f;
}

// Where part appears, glyph for glyph, inside whole; -1 if nowhere.
int findRun (juce::GlyphArrangement& whole, juce::GlyphArrangement& part)
{
    const int n = part.getNumGlyphs();
    for (int start = 0; n > 0 && start + n <= whole.getNumGlyphs(); ++start)
    {
        int i = 0;
        while (i < n && sameGlyph (whole.getGlyph (start + i), part.getGlyph (i)))
            ++i;
        if (i == n)
            return start;
    }
    return -1;
}

bool isSingleLineLanguage (int language) { return language >= 8 && language <= 10; }
} // namespace

class ScreenGeometry : public ScreenFixture
{
protected:
    void expectWidgets (const ScreenWidgets& expected)
    {
        SCOPED_TRACE (juce::String (expected.shot) + " at " + juce::String (width()) + " x " + juce::String (height())
                      + " in language " + juce::String (texts().getCurrentLanguage()));
        const int w = width();
        const int h = height();
        const juce::Rectangle<int> right (w - 120, h - 40, 100, 20);
        const juce::Rectangle<int> left (w - 230, h - 40, 100, 20);
        const juce::Rectangle<int> middle (20, (h - 20) / 2, w - 40, 20);

        auto& ok = okButton();
        auto& cancel = cancelButton();

        EXPECT_EQ (ok.isVisible(), expected.ok);
        if (expected.ok)
        {
            EXPECT_EQ (ok.getBounds(), right);
            EXPECT_EQ (ok.getButtonText(), texts().getText (expected.okText));
        }

        EXPECT_EQ (cancel.isVisible(), expected.cancel);
        if (expected.cancel)
        {
            EXPECT_EQ (cancel.getBounds(), expected.cancelAtRight ? right : left);
            EXPECT_EQ (cancel.getButtonText(), texts().getText (expected.cancelText));
        }

        EXPECT_EQ (languageBox().isVisible(), expected.box);
        EXPECT_EQ (progressBar().isVisible(), expected.bar);
        EXPECT_EQ (languageBox().getBounds(), middle);
        EXPECT_EQ (progressBar().getBounds(), middle);

        EXPECT_EQ (ok.getFontName(), texts().getCurrentFontName());
        EXPECT_EQ (cancel.getFontName(), texts().getCurrentFontName());
        EXPECT_EQ (ok.getFontStyle(), juce::Font::bold);
        EXPECT_EQ (juce::Font::getFallbackFontName(), texts().getCurrentFontName());
        EXPECT_EQ (window.getName(), texts().getText (3));
    }
};

TEST_F (ScreenGeometry, WidgetsOfEveryScreenAtSeveralSizes)
{
    open();
    for (auto [w, h] : { std::pair { 420, 170 }, { 600, 250 }, { 333, 141 } })
    {
        screen->setSize (w, h);
        for (const auto& expected : widgetsByScreen)
        {
            shoot (expected.shot);
            expectWidgets (expected);
        }
    }
}

TEST_F (ScreenGeometry, TheNamedSizeGivesTheNamedBounds)
{
    open();
    shoot ("ready");
    EXPECT_EQ (okButton().getBounds(), juce::Rectangle<int> (300, 130, 100, 20));
    EXPECT_EQ (cancelButton().getBounds(), juce::Rectangle<int> (190, 130, 100, 20));
    EXPECT_EQ (languageBox().getBounds(), juce::Rectangle<int> (20, 75, 380, 20));
    EXPECT_EQ (progressBar().getBounds(), juce::Rectangle<int> (20, 75, 380, 20));
}

TEST_F (ScreenGeometry, EnglishButtonTextsAndTitle)
{
    open();
    useLanguage (0);

    auto texts = [this] (const char* shot) {
        this->shoot (shot);
        juce::String s;
        if (okButton().isVisible())
            s << okButton().getButtonText();
        s << "|";
        if (cancelButton().isVisible())
            s << cancelButton().getButtonText();
        return s;
    };

    EXPECT_EQ (texts ("language"), "OK|Cancel");
    EXPECT_EQ (texts ("not-found"), "|Close");
    EXPECT_EQ (texts ("ready"), "Start|Close");
    EXPECT_EQ (texts ("updating-000"), "|");
    EXPECT_EQ (texts ("complete"), "|OK");
    EXPECT_EQ (texts ("failed"), "|OK");
    EXPECT_EQ (texts ("file-error"), "|OK");
    EXPECT_EQ (window.getName(), "Updater Program");
}

TEST_F (ScreenGeometry, ButtonTextsFontsAndTitleFollowEveryLanguage)
{
    open();
    for (int language = 0; language < TxtLoader::languageCount; ++language)
    {
        useLanguage (language);
        ASSERT_EQ (texts().getCurrentLanguage(), language);
        for (const auto& expected : widgetsByScreen)
        {
            shoot (expected.shot);
            expectWidgets (expected);
        }
    }
}

TEST_F (ScreenGeometry, ChoosingALanguageRecomposesTheLanguageScreenInIt)
{
    open();
    if (texts().getLanguageName (11).isEmpty() || texts().getLanguageName (6).isEmpty())
        GTEST_SKIP() << "the text loader has no language names yet, so the box lists English only";
    ScreenPreview::listAllLanguages (*screen);
    auto& box = languageBox();

    box.setSelectedId (12, juce::sendNotificationSync); // Japanese
    EXPECT_EQ (texts().getCurrentLanguage(), 11);
    EXPECT_EQ (screenState(), SelectLanguage);
    EXPECT_EQ (box.getSelectedId(), 12);
    EXPECT_EQ (window.getName(), texts().getText (3));
    EXPECT_EQ (okButton().getButtonText(), texts().getText (4));
    EXPECT_EQ (cancelButton().getButtonText(), texts().getText (6));
    EXPECT_EQ (juce::Font::getFallbackFontName(), texts().getFontName (11));

    // The box shows the current language again whenever the screen is composed.
    box.setSelectedId (1, juce::dontSendNotification);
    screen->composeScreen();
    EXPECT_EQ (box.getSelectedId(), 12);

    box.setSelectedId (7, juce::sendNotificationSync); // Russian
    EXPECT_EQ (texts().getCurrentLanguage(), 6);
    EXPECT_EQ (box.getSelectedId(), 7);
    EXPECT_EQ (window.getName(), texts().getText (3));
}

TEST_F (ScreenGeometry, StatesOutsideTheKnownOnesAddNoTextAndLeaveTheButtons)
{
    open();
    shoot ("ready");
    show (9);
    EXPECT_EQ (layout().getNumGlyphs(), 0);
    EXPECT_TRUE (okButton().isVisible());
    EXPECT_EQ (okButton().getButtonText(), texts().getText (5));
    EXPECT_FALSE (languageBox().isVisible());
    EXPECT_FALSE (progressBar().isVisible());

    // Without a valid file the same state is the file-error screen.
    MainComponentProbe::setUpdateFileValid (*screen, 0);
    show (9);
    EXPECT_FALSE (okButton().isVisible());
    EXPECT_EQ (cancelButton().getButtonText(), texts().getText (4));
    EXPECT_GT (layout().getNumGlyphs(), 0);
}

TEST_F (ScreenGeometry, HeadingsAndTheBottomOfTheText)
{
    open();
    auto& text = layout();

    for (const char* shot : { "language", "updating-050" })
    {
        SCOPED_TRACE (shot);
        shoot (shot);
        EXPECT_FLOAT_EQ (text.getGlyph (0).getLeft(), 20.0f);
        EXPECT_NEAR (topOf (text, 0), 20.0f, 0.01f);

        // The body starts at the bottom of the heading's last glyph, on the empty line
        // that "\n\n" leaves.
        const int body = firstGlyphAt (text, 40.0f);
        ASSERT_GT (body, 0);
        EXPECT_NEAR (topOf (text, body), bottomOf (text, body - 1), 0.01f);
        EXPECT_GE (topOf (text, body), 20.0f + 2 * 13.0f - 0.01f);
    }

    shoot ("ready");
    const int versions = firstGlyphAt (text, 60.0f);
    ASSERT_GT (versions, 0);
    EXPECT_NEAR (topOf (text, versions), bottomOf (text, versions - 1) + 5.0f, 0.01f);

    for (const char* shot : { "file-error", "failed", "not-found" })
    {
        shoot (shot);
        EXPECT_FLOAT_EQ (text.getGlyph (0).getLeft(), 105.0f) << shot;
        EXPECT_NEAR (topOf (text, 0), 20.0f, 0.01f) << shot;
    }

    shoot ("complete");
    EXPECT_FLOAT_EQ (text.getGlyph (0).getLeft(), 20.0f);
    EXPECT_NEAR (topOf (text, 0), 20.0f, 0.01f);
}

TEST_F (ScreenGeometry, ConnectHintAt36Or51InRussian)
{
    open();
    for (int language = 0; language < TxtLoader::languageCount; ++language)
    {
        SCOPED_TRACE (language);
        useLanguage (language);
        shoot ("ready");
        juce::GlyphArrangement composed (layout());

        const float y = language == 6 ? 51.0f : 36.0f;
        layout().clear();
        MainComponentProbe::addConnectHint (*screen, 40.0f, y, language, texts().getCurrentFontName());
        juce::GlyphArrangement hint (layout());

        ASSERT_GT (hint.getNumGlyphs(), 0);
        EXPECT_NEAR (topOf (hint, 0), y, 0.01f);
        EXPECT_GE (findRun (composed, hint), 0);
    }
}

TEST_F (ScreenGeometry, ReconnectStepsAt36WithTheirHeadingOnlyWhenNotFound)
{
    open();
    for (int language = 0; language < TxtLoader::languageCount; ++language)
    {
        SCOPED_TRACE (language);
        useLanguage (language);
        const auto font = texts().getCurrentFontName();
        const float stepTwo = isSingleLineLanguage (language) ? 36.0f + 13.0f + 3.0f : 36.0f + 26.0f + 3.0f;

        // Not found: heading at 20, step 1 at 36, step 2 below one or two lines.
        shoot ("not-found");
        juce::GlyphArrangement notFound (layout());
        layout().clear();
        MainComponentProbe::addReconnectSteps (*screen, 105.0f, 20.0f, language, font, true);
        juce::GlyphArrangement withHeading (layout());

        ASSERT_EQ (notFound.getNumGlyphs(), withHeading.getNumGlyphs());
        EXPECT_EQ (findRun (notFound, withHeading), 0);
        EXPECT_EQ (lineTops (withHeading, 36.0f - 0.5f), std::set<int> { 2000 }); // the heading: one line at 20
        const int last = withHeading.getNumGlyphs() - 1;
        EXPECT_NEAR (topOf (withHeading, last), stepTwo, 0.01f);

        int firstStep = 0;
        while (firstStep < last && topOf (withHeading, firstStep) < 20.5f)
            ++firstStep;
        EXPECT_NEAR (topOf (withHeading, firstStep), 36.0f, 0.01f);

        // Failed: the error heading, then the steps at 36 without their heading.
        shoot ("failed");
        juce::GlyphArrangement failed (layout());
        layout().clear();
        MainComponentProbe::addReconnectSteps (*screen, 105.0f, 20.0f, language, font, false);
        juce::GlyphArrangement steps (layout());

        ASSERT_GT (steps.getNumGlyphs(), 0);
        EXPECT_NEAR (topOf (steps, 0), 36.0f, 0.01f);
        EXPECT_NEAR (topOf (steps, steps.getNumGlyphs() - 1), stepTwo, 0.01f);
        EXPECT_EQ (findRun (failed, steps), failed.getNumGlyphs() - steps.getNumGlyphs());

        const auto heading = MainComponent::formatText (texts().getText (20).toRawUTF8(), texts().getText (2).toRawUTF8());
        EXPECT_TRUE (visibleText (notFound).contains (withoutWhitespace (heading)));
        EXPECT_FALSE (visibleText (failed).contains (withoutWhitespace (heading)));
        EXPECT_TRUE (visibleText (failed).startsWith (withoutWhitespace (texts().getText (18))));
    }
}

TEST_F (ScreenGeometry, EnglishHintAndFirstStepTakeTwoLines)
{
    open();
    useLanguage (0);
    const auto font = texts().getCurrentFontName();

    layout().clear();
    MainComponentProbe::addConnectHint (*screen, 40.0f, 36.0f, 0, font);
    EXPECT_EQ (lineTops (layout()), (std::set<int> { 3600, 4900 }));

    layout().clear();
    MainComponentProbe::addReconnectSteps (*screen, 105.0f, 20.0f, 0, font, false);
    EXPECT_EQ (lineTops (layout(), 64.5f), (std::set<int> { 3600, 4900 }));
}

TEST_F (ScreenGeometry, ChineseAndKoreanHintAndFirstStepTakeOneLine)
{
    open();
    for (int language : { 8, 9, 10 })
    {
        SCOPED_TRACE (language);
        useLanguage (language);
        if (texts().getLanguageName (language).isEmpty())
            GTEST_SKIP() << "the text loader has no table for language " << language << " yet";

        const auto font = texts().getCurrentFontName();
        for (int w : { 420, 300 })
        {
            screen->setSize (w, 170);
            layout().clear();
            MainComponentProbe::addConnectHint (*screen, 40.0f, 36.0f, language, font);
            EXPECT_EQ (lineTops (layout()), std::set<int> { 3600 }) << "width " << w;

            layout().clear();
            MainComponentProbe::addReconnectSteps (*screen, 105.0f, 20.0f, language, font, false);
            EXPECT_EQ (lineTops (layout(), 51.5f), std::set<int> { 3600 }) << "width " << w;
        }
    }
}

TEST_F (ScreenGeometry, VersionsAndModelNameInTheTexts)
{
    open();
    useLanguage (0);
    shoot ("ready");
    EXPECT_TRUE (visibleText (layout()).contains ("CurrentVersion:Ver.1.03"));
    EXPECT_TRUE (visibleText (layout()).contains ("UpdateVersion:Ver.1.10"));
    EXPECT_TRUE (visibleText (layout()).startsWith ("UpdatestheversionofyourKRV-7000firmware."));

    MainComponentProbe::setCurrentFirmwareVersion (*screen, 100);
    MainComponentProbe::setUpdateFileValid (*screen, 1, 1234);
    show (ReadyToUpdate);
    EXPECT_TRUE (visibleText (layout()).contains ("CurrentVersion:Ver.1.00"));
    EXPECT_TRUE (visibleText (layout()).contains ("UpdateVersion:Ver.12.34"));

    shoot ("not-found");
    EXPECT_TRUE (visibleText (layout()).startsWith ("YourKRV-7000isnotrecognized."));
    shoot ("updating-000");
    EXPECT_TRUE (visibleText (layout()).startsWith ("UpdatingyourKRV-7000firmware."));
    shoot ("complete");
    EXPECT_EQ (visibleText (layout()), "TheupdateofyourversionoftheKRV-7000firmwareisnowcomplete.");
    shoot ("file-error");
    EXPECT_EQ (visibleText (layout()), "Thereisanerrorintheupdatefile.");
    shoot ("language");
    EXPECT_EQ (visibleText (layout()), "LanguageSelectionsPleaseselectalanguage.");
}

namespace
{
// The printf conversions of a text, in order ("s", "d", "02d"); "%%" is none.
juce::StringArray conversionsOf (const juce::String& text)
{
    juce::StringArray found;
    for (int i = text.indexOfChar ('%'); i >= 0; i = text.indexOfChar (i + 1, '%'))
    {
        int end = i + 1;
        while (end < text.length() && juce::String ("0123456789.-+ #lh").containsChar (text[end]))
            ++end;
        if (end < text.length() && text[end] == '%' && end == i + 1)
        {
            i = end;
            continue;
        }
        found.add (text.substring (i + 1, end + 1));
        i = end;
    }
    return found;
}
} // namespace

TEST_F (ScreenGeometry, EveryLanguagesFormatsTakeTheArgumentsTheScreensPass)
{
    // The screens pass one string, or two ints; a conversion beyond them, or of another
    // type, would read garbage. Fewer conversions are harmless.
    auto consumesOnly = [] (const juce::StringArray& conversions, int count, juce::juce_wchar type) {
        if (conversions.size() > count)
            return false;
        for (const auto& c : conversions)
            if (c.getLastCharacter() != type)
                return false;
        return true;
    };

    open();
    for (int language = 0; language < TxtLoader::languageCount; ++language)
    {
        useLanguage (language);
        for (int index : { 12, 15, 17, 20, 21, 23 })
            EXPECT_TRUE (consumesOnly (conversionsOf (texts().getText (index)), 1, 's'))
                << language << " " << index << ": " << texts().getText (index);
        for (int index : { 13, 14 })
            EXPECT_TRUE (consumesOnly (conversionsOf (texts().getText (index)), 2, 'd'))
                << language << " " << index << ": " << texts().getText (index);
    }

    EXPECT_EQ (conversionsOf ("Ver. %d.%02d"), juce::StringArray ("d", "02d"));
    EXPECT_EQ (conversionsOf ("100%% of your% s"), juce::StringArray (" s"));
}

TEST (FormatText, PassesUtf8ThroughAndFormatsNumbers)
{
    EXPECT_EQ (MainComponent::formatText ("Ver. %d.%02d", 103 / 100, 103 % 100), "Ver. 1.03");
    EXPECT_EQ (MainComponent::formatText ("Ver. %d.%02d", 1234 / 100, 1234 % 100), "Ver. 12.34");

    const auto japanese = juce::String (juce::CharPointer_UTF8 ("\xe3\x82\xa2\xe3\x83\x83\xe3\x83\x97\xe3\x83\x87\xe3\x83\xbc\xe3\x83\x88"));
    const auto russian = juce::String (juce::CharPointer_UTF8 ("\xd0\x92\xd0\xb0\xd1\x88\xd0\xb5 %s"));
    EXPECT_EQ (MainComponent::formatText ("%s: %d", japanese.toRawUTF8(), 7), japanese + ": 7");
    EXPECT_EQ (MainComponent::formatText (russian.toRawUTF8(), "KRV-7000"), russian.replace ("%s", "KRV-7000"));

    // Longer than any fixed buffer would be.
    const juce::String longText = juce::String::repeatedString (japanese, 500);
    EXPECT_EQ (MainComponent::formatText ("[%s]", longText.toRawUTF8()), "[" + longText + "]");

    EXPECT_EQ (MainComponent::formatText (""), "");
}
