// The language list's items, drawn to images, and the list as the box opens it.
#include "ScreenFixture.h"
#include "TestSupport.h"

#include "platform/SystemFonts.h"
#include "platform/UserLocale.h"
#include "text/LangLookAndFeel.h"
#include "text/TxtLoader.h"

#include <gtest/gtest.h>

namespace
{
struct Ink
{
    int left = -1, right = -1, top = -1, bottom = -1;
    int pixels = 0;
    int maxAlpha = 0;

    bool any() const { return pixels > 0; }
    int width() const { return right - left + 1; }
};

class PopupItems : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TxtLoader::deleteInstance();
        TxtLoader::getInstance();
    }

    void TearDown() override
    {
        TxtLoader::deleteInstance();
        juce::Font::setFallbackFontName (savedFallback);
    }

    juce::Image draw (const juce::String& text, int width, int height, bool highlighted = false, bool active = true,
                      bool ticked = false, bool separator = false, const juce::String& shortcut = {})
    {
        juce::Image image (juce::Image::ARGB, width, height, true);
        juce::Graphics g (image);
        lookAndFeel.drawPopupMenuItem (g, { 0, 0, width, height }, separator, active, highlighted, ticked, false,
                                       text, shortcut, nullptr, nullptr);
        return image;
    }

    // Pixels that differ from the background in the given area.
    static Ink inkIn (const juce::Image& image, juce::Rectangle<int> area, juce::Colour background)
    {
        Ink ink;
        for (int y = area.getY(); y < area.getBottom(); ++y)
        {
            for (int x = area.getX(); x < area.getRight(); ++x)
            {
                const auto p = image.getPixelAt (x, y);
                if (p.getARGB() == background.getARGB())
                    continue;

                ++ink.pixels;
                ink.maxAlpha = juce::jmax (ink.maxAlpha, (int) p.getAlpha());
                ink.left = ink.left < 0 ? x : juce::jmin (ink.left, x);
                ink.right = juce::jmax (ink.right, x);
                ink.top = ink.top < 0 ? y : juce::jmin (ink.top, y);
                ink.bottom = juce::jmax (ink.bottom, y);
            }
        }
        return ink;
    }

    static Ink inkOf (const juce::Image& image, juce::Colour background = juce::Colours::transparentBlack)
    {
        return inkIn (image, image.getBounds(), background);
    }

    UserLocale::ScopedOverride system { 0x0409, { "ja_JP.UTF-8", "zh_CN.UTF-8" } };
    juce::String savedFallback = juce::Font::getFallbackFontName();
    LangLookAndFeel lookAndFeel;
};

const juce::Colour highlight (0xFF000040);
} // namespace

TEST_F (PopupItems, HighlightedItem)
{
    const auto image = draw ("English", 200, 20, true);

    // The background fills the item but a 1-pixel margin.
    for (int x = 0; x < 200; ++x)
    {
        EXPECT_TRUE (image.getPixelAt (x, 0).isTransparent()) << x;
        EXPECT_TRUE (image.getPixelAt (x, 19).isTransparent()) << x;
    }
    for (int y = 0; y < 20; ++y)
    {
        EXPECT_TRUE (image.getPixelAt (0, y).isTransparent()) << y;
        EXPECT_TRUE (image.getPixelAt (199, y).isTransparent()) << y;
    }
    EXPECT_EQ (image.getPixelAt (1, 1).getARGB(), highlight.getARGB());
    EXPECT_EQ (image.getPixelAt (198, 18).getARGB(), highlight.getARGB());
    EXPECT_EQ (image.getPixelAt (10, 10).getARGB(), highlight.getARGB());

    // The text is white on it.
    const auto text = inkIn (image, { 1, 1, 198, 18 }, highlight);
    ASSERT_TRUE (text.any());
    int brightest = 0;
    for (int y = 1; y < 19; ++y)
        for (int x = 1; x < 199; ++x)
        {
            const auto p = image.getPixelAt (x, y);
            EXPECT_GE (p.getBlue(), p.getRed()) << "text blends towards white, never another colour";
            brightest = juce::jmax (brightest, (int) p.getRed());
        }
    EXPECT_GE (brightest, 250);
}

TEST_F (PopupItems, PlainAndInactiveItems)
{
    const auto active = inkOf (draw ("English", 200, 20));
    ASSERT_TRUE (active.any());
    EXPECT_EQ (active.maxAlpha, 255);

    const auto image = draw ("English", 200, 20, false, false);
    const auto inactive = inkOf (image);
    ASSERT_TRUE (inactive.any());
    EXPECT_NEAR (inactive.maxAlpha, 0.3 * 255, 2.0);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 200; ++x)
        {
            const auto p = image.getPixelAt (x, y);
            if (! p.isTransparent())
            {
                EXPECT_EQ (p.getRed() | p.getGreen() | p.getBlue(), 0) << "black text";
            }
        }
}

TEST_F (PopupItems, BorderAndFontFollowTheItemHeight)
{
    const auto low = inkOf (draw ("English", 200, 20));
    const auto high = inkOf (draw ("English", 200, 24));
    ASSERT_TRUE (low.any() && high.any());

    EXPECT_GE (low.left, 25);
    EXPECT_LE (low.left, 28);
    EXPECT_GE (high.left, 30);
    EXPECT_LE (high.left, 33);

    // 20 / 1.3 pixels below 24 pixels; 17 pixels, the menu font, from 24 pixels on.
    const float lowWidth = juce::Font (20.0f / 1.3f).getStringWidthFloat ("English");
    const float highWidth = juce::Font (17.0f).getStringWidthFloat ("English");
    ASSERT_GT (highWidth - lowWidth, 4.0f);
    EXPECT_NEAR ((float) low.width(), lowWidth, 2.5f);
    EXPECT_NEAR ((float) high.width(), highWidth, 2.5f);
}

TEST_F (PopupItems, TickStandsInTheBorder)
{
    const auto plain = inkIn (draw ("English", 200, 20), { 0, 0, 25, 20 }, juce::Colours::transparentBlack);
    const auto ticked = inkIn (draw ("English", 200, 20, false, true, true), { 0, 0, 25, 20 }, juce::Colours::transparentBlack);
    EXPECT_FALSE (plain.any());
    ASSERT_TRUE (ticked.any());
    EXPECT_GE (ticked.left, 2);
    EXPECT_LE (ticked.right, 22);
}

TEST_F (PopupItems, SeparatorIsTwoLines)
{
    const auto ink = inkOf (draw ("English", 200, 20, false, true, false, true));
    ASSERT_TRUE (ink.any());
    EXPECT_GE (ink.top, 9);
    EXPECT_LE (ink.bottom, 11);
    EXPECT_GE (ink.left, 5);
    EXPECT_LE (ink.right, 194);
}

TEST_F (PopupItems, ShortcutTextAtTheRight)
{
    const auto without = inkIn (draw ("English", 200, 20), { 120, 0, 80, 20 }, juce::Colours::transparentBlack);
    const auto with = inkIn (draw ("English", 200, 20, false, true, false, false, "Ctrl+L"), { 120, 0, 80, 20 },
                             juce::Colours::transparentBlack);
    EXPECT_FALSE (without.any());
    ASSERT_TRUE (with.any());
    EXPECT_LE (with.right, 192);
}

TEST_F (PopupItems, NameDrawsWithItsLanguageFontAndTheFallbackComesBack)
{
    juce::Font::setFallbackFontName ("Arial");

    // The menu font has no CJK glyphs: they come from the language's font while its
    // name is drawn.
    const auto japanese = inkOf (draw (juce::String::fromUTF8 ("日本語"), 200, 20));
    EXPECT_EQ (juce::Font::getFallbackFontName(), "Arial");
    EXPECT_GT (japanese.pixels, 60);
    EXPECT_GT (japanese.width(), 25);

    const auto chinese = inkOf (draw (juce::String::fromUTF8 ("简体中文"), 200, 20, true));
    EXPECT_EQ (juce::Font::getFallbackFontName(), "Arial");
    EXPECT_GT (chinese.pixels, 60);

    // Text that is no language name keeps the fallback font, which lacks the glyphs: they
    // are left out, not drawn as boxes.
    const auto notAName = inkOf (draw (juce::String::fromUTF8 ("日本語 "), 200, 20));
    EXPECT_EQ (juce::Font::getFallbackFontName(), "Arial");
    EXPECT_FALSE (notAName.any());

    juce::Font::setFallbackFontName ("MS UI Gothic");
    draw ("Deutsch", 200, 20);
    EXPECT_EQ (juce::Font::getFallbackFontName(), "MS UI Gothic");
}

// A font the system lacks, served for a language, draws with that script's own font (the
// fallback font, Latin only, adds nothing).
TEST_F (PopupItems, AFontTheSystemLacksDrawsWithItsScriptsFont)
{
    juce::Font::setFallbackFontName ("Arial");
    const std::pair<const char*, const char*> cases[] = { { "ja", "日本語" }, { "zh-cn", "简体中文" }, { "zh-tw", "繁體中文" }, { "ko", "한국어" } };
    for (const auto& [language, text] : cases)
    {
        SCOPED_TRACE (language);
        const auto missing = juce::String ("KRV Missing ") + language;
        SystemFonts::serve (missing, language);
        juce::Image image (juce::Image::ARGB, 200, 30, true);
        {
            juce::Graphics g (image);
            g.setColour (juce::Colours::black);
            g.setFont (juce::Font (missing, 20.0f, juce::Font::plain));
            g.drawText (juce::String::fromUTF8 (text), 0, 0, 200, 30, juce::Justification::centredLeft);
        }
        EXPECT_GT (inkOf (image).pixels, 60);
    }
}

class LanguageList : public ScreenFixture
{
};

// The drawing's border and font size follow the item height, which must be the box's.
TEST_F (LanguageList, TheOpenListsItemsAreAsHighAsTheBox)
{
    writeUpdateFile (103);
    open();
    auto& box = languageBox();
    ASSERT_EQ (box.getHeight(), 20);
    box.showPopup();

    juce::Component* list = nullptr;
    ASSERT_TRUE (testsupport::pumpUntil ([&] {
        auto& desktop = juce::Desktop::getInstance();
        for (int i = 0; i < desktop.getNumComponents(); ++i)
            if (auto* c = desktop.getComponent (i); c != &window && c->isShowing() && c->getNumChildComponents() > 0)
                list = c;
        return list != nullptr;
    }));

    EXPECT_EQ (list->getNumChildComponents(), box.getNumItems());
    for (auto* item : list->getChildren())
        EXPECT_EQ (item->getHeight(), box.getHeight());

    juce::PopupMenu::dismissAllActiveMenus();
    testsupport::pumpFor (20);
}
