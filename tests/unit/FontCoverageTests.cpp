// The fonts the tables name, as this system serves them: every text a screen shows must
// have real glyphs in its language's font.
#include "platform/UserLocale.h"
#include "platform/linux/FontResolver.h"
#include "platform/linux/OutlineTypeface.h"
#include "text/TxtLoader.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

namespace
{
class FontCoverage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TxtLoader::deleteInstance();
        loader = TxtLoader::getInstance();
    }

    void TearDown() override
    {
        held = nullptr;
        TxtLoader::deleteInstance();
    }

    static OutlineTypeface* servedTypeface (const juce::String& name, int style)
    {
        const juce::Font font (name, 13.0f, style);
        held = font.getTypefacePtr();
        return dynamic_cast<OutlineTypeface*> (held.get());
    }

    // Entry i as the screens show it: the model name for "%s", a version for "%d.%02d".
    juce::String shownText (int i) const
    {
        const auto& entry = loader->getText (i);
        switch (i)
        {
            case 11:
            case 12:
            case 15:
            case 17:
            case 20:
            case 21:
            case 23:
                return MainComponent::formatText (entry.toRawUTF8(), loader->getText (2).toRawUTF8());
            case 13:
            case 14:
                return MainComponent::formatText (entry.toRawUTF8(), 1, 3);
            default:
                return entry;
        }
    }

    // Characters of text that the typeface cannot draw itself.
    static juce::String missingIn (OutlineTypeface& typeface, const juce::String& text)
    {
        juce::String missing;
        for (auto p = text.getCharPointer(); ! p.isEmpty();)
        {
            const auto c = p.getAndAdvance();
            if (c == '\n')
                continue;

            juce::Path outline;
            const bool isSpace = juce::CharacterFunctions::isWhitespace (c) || c == 0x3000;
            const bool drawable = typeface.hasGlyphFor (c)
                                  && (isSpace || (typeface.getOutlineForGlyph ((int) c, outline) && ! outline.isEmpty()));
            if (! drawable && ! missing.containsChar (c))
                missing << juce::String::charToString (c);
        }
        return missing;
    }

    UserLocale::ScopedOverride system { 0x0409, {} };
    TxtLoader* loader = nullptr;
    static inline juce::Typeface::Ptr held;
};
} // namespace

TEST_F (FontCoverage, EveryShownTextHasGlyphsInItsLanguagesFont)
{
    for (int language = 0; language < TxtLoader::languageCount; ++language)
    {
        loader->selectLanguage (language);
        const auto fontName = loader->getFontName (language);

        for (int style : { (int) juce::Font::plain, (int) juce::Font::bold })
        {
            SCOPED_TRACE (juce::String (language) + " " + fontName + (style == juce::Font::bold ? " bold" : ""));
            auto* typeface = servedTypeface (fontName, style);
            ASSERT_NE (typeface, nullptr) << "the font name is not served";

            juce::String checked;
            for (int i = 2; i < TxtLoader::textCount; ++i)
            {
                const auto text = shownText (i);
                checked << text;
                EXPECT_TRUE (missingIn (*typeface, text).isEmpty())
                    << "text " << i << " lacks " << missingIn (*typeface, text) << " in "
                    << typeface->getFamilyInFile() << " (" << typeface->getFile().getFullPathName() << ")";
            }
            EXPECT_GT (checked.length(), 200);
            EXPECT_TRUE (missingIn (*typeface, loader->getLanguageName (language)).isEmpty());
        }
    }
}

TEST_F (FontCoverage, LanguageNamesDrawInTheMenuFontOrTheirOwn)
{
    auto* menuFont = servedTypeface (juce::Font::getDefaultSansSerifFontName(), juce::Font::plain);
    ASSERT_NE (menuFont, nullptr);
    const juce::Typeface::Ptr keepMenuFont (menuFont);

    for (int language = 0; language < TxtLoader::languageCount; ++language)
    {
        auto* own = servedTypeface (loader->getFontName (language), juce::Font::plain);
        ASSERT_NE (own, nullptr);
        const auto& name = loader->getLanguageName (language);

        for (auto p = name.getCharPointer(); ! p.isEmpty();)
        {
            const auto c = p.getAndAdvance();
            EXPECT_TRUE (menuFont->hasGlyphFor (c) || own->hasGlyphFor (c)) << language;
        }
    }
}

TEST_F (FontCoverage, EachLanguageGetsAFontForIt)
{
    struct Expectation
    {
        const char* fontName;
        const char* sample;
    };

    // The CJK fonts differ in what they hold; a Korean font must have Hangul, a Japanese
    // one kana.
    const Expectation expectations[] = {
        { "Arial", "Aa\xC3\xA7\xC3\x9F\xD0\x96" },
        { "Microsoft YaHei", "\xE7\xAE\x80\xE9\xAB\x94" },
        { "Malgun Gothic", "\xED\x95\x9C\xEA\xB5\xAD" },
        { "MS UI Gothic", "\xE3\x81\x82\xE3\x82\xA2\xE8\xAA\x9E" },
    };

    for (const auto& e : expectations)
    {
        auto* typeface = servedTypeface (e.fontName, juce::Font::plain);
        ASSERT_NE (typeface, nullptr) << e.fontName;
        EXPECT_TRUE (missingIn (*typeface, juce::String::fromUTF8 (e.sample)).isEmpty()) << e.fontName;
        EXPECT_EQ (typeface->getName(), e.fontName);
    }

    // Bold is a face of its own, not the regular one again.
    auto* regular = servedTypeface ("Arial", juce::Font::plain);
    const juce::Typeface::Ptr keepRegular (regular);
    auto* bold = servedTypeface ("Arial", juce::Font::bold);
    ASSERT_NE (bold, nullptr);
    EXPECT_TRUE (bold->getStyleInFile().containsIgnoreCase ("Bold")) << bold->getStyleInFile();
    EXPECT_FALSE (regular->getStyleInFile().containsIgnoreCase ("Bold"));
}

TEST_F (FontCoverage, FontsNobodyServesStayJuces)
{
    EXPECT_EQ (servedTypeface ("DejaVu Sans", juce::Font::plain), nullptr);
    EXPECT_NE (juce::Font ("DejaVu Sans", 13.0f, juce::Font::plain).getTypefacePtr(), nullptr);
}

TEST_F (FontCoverage, ServedFontsOutliveNewLookAndFeels)
{
    // Every new look-and-feel resets JUCE's typeface hook; the served names must survive.
    {
        juce::LookAndFeel_V2 another;
        juce::Typeface::clearTypefaceCache();
        EXPECT_NE (servedTypeface ("Malgun Gothic", juce::Font::plain), nullptr);
    }
    juce::Typeface::clearTypefaceCache();
    EXPECT_NE (servedTypeface ("Malgun Gothic", juce::Font::plain), nullptr);
}

TEST_F (FontCoverage, MissingGlyphsFallBackInsteadOfBoxes)
{
    const auto text = juce::String::fromUTF8 ("\xED\x95\x9C");
    const juce::String savedFallback = juce::Font::getFallbackFontName();

    auto drawnPixels = [&text] (const juce::String& fallback) {
        juce::Font::setFallbackFontName (fallback);
        juce::Image image (juce::Image::ARGB, 40, 20, true);
        {
            juce::Graphics g (image);
            // Graphics::drawText and friends cache arrangements whatever the fallback.
            juce::GlyphArrangement arrangement;
            arrangement.addLineOfText (juce::Font ("Arial", 16.0f, juce::Font::plain), text, 2.0f, 16.0f);
            g.setColour (juce::Colours::black);
            arrangement.draw (g);
        }
        int pixels = 0;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 40; ++x)
                pixels += image.getPixelAt (x, y).isTransparent() ? 0 : 1;
        return pixels;
    };

    const int withLatinFallback = drawnPixels ("Arial");
    const int withKoreanFallback = drawnPixels ("Malgun Gothic");
    juce::Font::setFallbackFontName (savedFallback);

    EXPECT_GT (withKoreanFallback, 30);
    EXPECT_EQ (withLatinFallback, 0);
}

TEST (FontResolverMatch, FindsAFileAndFaceForACollection)
{
    FontResolver::Match match;
    ASSERT_TRUE (FontResolver::findMatch ("MS UI Gothic", { "ja" }, false, false, match));
    EXPECT_TRUE (juce::File (match.file).existsAsFile()) << match.file;

    auto typeface = OutlineTypeface::create (juce::File (match.file), match.faceIndex, "MS UI Gothic", "Regular");
    ASSERT_NE (typeface, nullptr);
    EXPECT_EQ (typeface->getFamilyInFile(), match.family);
    EXPECT_TRUE (typeface->hasGlyphFor (0x3042)); // hiragana a

    EXPECT_EQ (OutlineTypeface::create (juce::File (match.file), 999, "x", "Regular"), nullptr);
    EXPECT_EQ (OutlineTypeface::create (juce::File ("/nonexistent/font.ttf"), 0, "x", "Regular"), nullptr);
}

TEST_F (FontCoverage, LineEndsKeepTheirPlaceInALayout)
{
    // A screen places its next block at the bottom of the last glyph, which is the line
    // end of a text ending in "\n\n": one empty line below the text.
    for (int language = 0; language < TxtLoader::languageCount; ++language)
    {
        loader->selectLanguage (language);
        juce::GlyphArrangement layout;
        layout.addFittedText (juce::Font (loader->getFontName (language), 13.0f, juce::Font::bold),
                              loader->getText (8) + "\n\n", 20.0f, 20.0f, 380.0f, 150.0f,
                              juce::Justification::topLeft, 11, 0.7f);
        ASSERT_GT (layout.getNumGlyphs(), 2);
        const auto lastGlyph = layout.getBoundingBox (layout.getNumGlyphs() - 1, 1, true);
        EXPECT_NEAR (lastGlyph.getBottom(), 20.0f + 2 * 13.0f, 0.5f) << language;
        EXPECT_GT (lastGlyph.getWidth(), 0.0f) << language;
    }
}
