// The table parser over crafted tables, and the embedded tables through the loader.
#include "platform/UserLocale.h"
#include "text/TxtLoader.h"

#include <KrvBinaryData.h>

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace
{
// Bytes that end right before an inaccessible page: reading one byte past them crashes.
class GuardedBytes
{
public:
    explicit GuardedBytes (const std::string& bytes)
        : pageSize ((std::size_t) sysconf (_SC_PAGESIZE)),
          pages ((bytes.size() + pageSize - 1) / pageSize + 1)
    {
        memory = static_cast<std::uint8_t*> (mmap (nullptr, pages * pageSize, PROT_READ | PROT_WRITE,
                                                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (memory == MAP_FAILED)
        {
            memory = nullptr;
            return;
        }
        std::uint8_t* guard = memory + (pages - 1) * pageSize;
        mprotect (guard, pageSize, PROT_NONE);
        start = guard - bytes.size();
        std::memcpy (start, bytes.data(), bytes.size());
        length = bytes.size();
    }

    ~GuardedBytes()
    {
        if (memory != nullptr)
            munmap (memory, pages * pageSize);
    }

    const std::uint8_t* data() const { return start; }
    std::size_t size() const { return length; }

private:
    std::size_t pageSize;
    std::size_t pages;
    std::uint8_t* memory = nullptr;
    std::uint8_t* start = nullptr;
    std::size_t length = 0;
};

struct Parsed
{
    juce::String entries[8];
};

Parsed parse (const std::string& table, int section, int maxCount = 8)
{
    GuardedBytes bytes (table);
    Parsed parsed;
    for (auto& e : parsed.entries)
        e = "untouched";
    TxtLoader::parseSection (bytes.data(), bytes.size(), section, parsed.entries, maxCount);
    return parsed;
}

std::string unquoted (const std::string& line)
{
    std::string out (line.size() + 1, 'X');
    TxtLoader::unquote (line.c_str(), out.data());
    return std::string (out.c_str());
}

const std::string bom = "\xEF\xBB\xBF\r\n";

// The loader picks its languages from the system: tests give it a known one.
class TextLoader : public ::testing::Test
{
protected:
    void SetUp() override { TxtLoader::deleteInstance(); }
    void TearDown() override { TxtLoader::deleteInstance(); }

    UserLocale::ScopedOverride system { 0x0409, { "de_DE.UTF-8", "ja_JP.UTF-8", "ru_RU.UTF-8" } };
};
} // namespace

TEST (TextTableParser, EntriesOfTheRequestedSectionOnly)
{
    const std::string table = bom + ":FONT_WIN\r\n\r\n\"A\"\r\n\"B\"\r\n\r\n:FONT_MAC\r\n\r\n\"mac\"\r\n\r\n"
                                    ":LANG\r\n\r\n\"one\"\r\n\"two\"\r\n\r\n:EOF\r\n";
    auto fonts = parse (table, TxtLoader::FontSection);
    EXPECT_EQ (fonts.entries[0], "A");
    EXPECT_EQ (fonts.entries[1], "B");
    EXPECT_EQ (fonts.entries[2], "untouched") << "the :FONT_MAC entry must not be loaded";

    auto names = parse (table, TxtLoader::LanguageSection);
    EXPECT_EQ (names.entries[0], "one");
    EXPECT_EQ (names.entries[1], "two");
    EXPECT_EQ (names.entries[2], "untouched");

    EXPECT_EQ (parse (table, TxtLoader::TextSection).entries[0], "untouched");
}

TEST (TextTableParser, CommentsAndEmptyLinesAreNotCounted)
{
    const auto parsed = parse (bom + ":STR\r\n\r\n\"zero\"\r\n# a note\r\n\r\n\r\n\"one\"\r\n#\"not me\"\r\n\"two\"\r\n:EOF\r\n",
                               TxtLoader::TextSection);
    EXPECT_EQ (parsed.entries[0], "zero");
    EXPECT_EQ (parsed.entries[1], "one");
    EXPECT_EQ (parsed.entries[2], "two");
    EXPECT_EQ (parsed.entries[3], "untouched");
}

TEST (TextTableParser, StopsAtEofAndAtTheMaximum)
{
    const std::string table = bom + ":STR\r\n\"a\"\r\n\"b\"\r\n\"c\"\r\n:EOF\r\n\"after\"\r\n";
    auto limited = parse (table, TxtLoader::TextSection, 2);
    EXPECT_EQ (limited.entries[0], "a");
    EXPECT_EQ (limited.entries[1], "b");
    EXPECT_EQ (limited.entries[2], "untouched");

    auto all = parse (table, TxtLoader::TextSection);
    EXPECT_EQ (all.entries[2], "c");
    EXPECT_EQ (all.entries[3], "untouched") << "nothing after :EOF is read";
}

TEST (TextTableParser, RepeatedSectionContinuesTheNumbering)
{
    const auto parsed = parse (bom + ":STR\r\n\"a\"\r\n:LANG\r\n\"x\"\r\n:STR\r\n\"b\"\r\n:EOF\r\n", TxtLoader::TextSection);
    EXPECT_EQ (parsed.entries[0], "a");
    EXPECT_EQ (parsed.entries[1], "b");
}

TEST (TextTableParser, NeverReadsPastTheTable)
{
    // No :EOF, no final line end and no zero byte: the last byte of the table is the last
    // readable one.
    auto parsed = parse (bom + ":STR\r\n\"first\"\r\n\"last", TxtLoader::TextSection);
    EXPECT_EQ (parsed.entries[0], "first");
    EXPECT_EQ (parsed.entries[1], "last");

    parsed = parse (bom + ":STR\r\n\"only\"\r\n", TxtLoader::TextSection);
    EXPECT_EQ (parsed.entries[0], "only");
    EXPECT_EQ (parsed.entries[1], "untouched");

    parsed = parse (bom + ":STR\r\n\"lone CR\"\r", TxtLoader::TextSection);
    EXPECT_EQ (parsed.entries[0], "lone CR");

    parsed = parse (":STR\n\"a\"\n\"b\"", TxtLoader::TextSection);
    EXPECT_EQ (parsed.entries[0], "a");
    EXPECT_EQ (parsed.entries[1], "b");

    parse ("", TxtLoader::TextSection);
    parse (":", TxtLoader::TextSection);
    parse ("\"", TxtLoader::TextSection);

    juce::String untouched[1] = { "untouched" };
    TxtLoader::parseSection (nullptr, 100, TxtLoader::TextSection, untouched, 1);
    EXPECT_EQ (untouched[0], "untouched");
}

TEST (TextTableParser, ZeroByteEndsTheLine)
{
    const std::string table = bom + ":STR\r\n\"a" + std::string (1, '\0') + "ignored\"\r\n\"b\"\r\n:EOF\r\n";
    const auto parsed = parse (table, TxtLoader::TextSection);
    EXPECT_EQ (parsed.entries[0], "a");
}

TEST (TextTableParser, LongLinesAreCutInsideTheBuffers)
{
    const std::string longText (5000, 'x');
    auto parsed = parse (bom + ":STR\r\n\"" + longText + "\"\r\n\"next\"\r\n:EOF\r\n", TxtLoader::TextSection);
    // The line keeps 2047 bytes: the quote and 2046 characters.
    EXPECT_EQ (parsed.entries[0], juce::String (std::string (2046, 'x')));
    EXPECT_EQ (parsed.entries[1], "next");

    // A cut never splits a character: "й" is two bytes.
    std::string cyrillic;
    for (int i = 0; i < 1500; ++i)
        cyrillic += "\xD0\xB9";
    parsed = parse (bom + ":STR\r\n\"x" + cyrillic + "\"\r\n:EOF\r\n", TxtLoader::TextSection);
    const auto& cut = parsed.entries[0];
    EXPECT_EQ (cut.length(), 1023);
    EXPECT_TRUE (cut.startsWithChar ('x'));
    EXPECT_TRUE (cut.substring (1).containsOnly (juce::String::fromUTF8 ("\xD0\xB9")));
}

TEST (TextTableParser, EntryText)
{
    const auto parsed = parse (bom + ":STR\r\n\"quoted\" and more \"text\"\r\nno quote at all\r\n  \"lead\"\r\n:EOF\r\n",
                               TxtLoader::TextSection);
    EXPECT_EQ (parsed.entries[0], "quoted");
    EXPECT_EQ (parsed.entries[1], "") << "a line without a quote is an empty entry";
    EXPECT_EQ (parsed.entries[2], "lead");
}

TEST (TextTableParser, BrokenUtf8BecomesReplacementCharacters)
{
    // Lead bytes without their continuation bytes, a truncated four-byte sequence, an
    // overlong encoding and a surrogate: each broken byte reads as U+FFFD, the valid
    // characters around them stay, and nothing is written past the string.
    const auto parsed = parse (bom + ":STR\r\n\"a\xCC\xCC b\"\r\n\"\xF0\x9F\x98\"\r\n\"\xC0\xAF\xED\xA0\x80\"\r\n"
                                     "\"\xE6\x97\xA5\xFF\"\r\n:EOF\r\n",
                               TxtLoader::TextSection);
    const juce::String replacement = juce::String::charToString (0xFFFD);
    EXPECT_EQ (parsed.entries[0], "a" + replacement + replacement + " b");
    EXPECT_EQ (parsed.entries[1], replacement + replacement + replacement);
    EXPECT_EQ (parsed.entries[2], juce::String::repeatedString (replacement, 5));
    EXPECT_EQ (parsed.entries[3], juce::String::charToString (0x65E5) + replacement);
}

TEST (TextTableParser, TheFuzzersBrokenTableLoadsSafely)
{
    const auto file = juce::File (KRV_SOURCE_DIR).getChildFile ("fuzz/corpus/text_table/regression-broken-utf8.txt");
    juce::MemoryBlock bytes;
    ASSERT_TRUE (file.loadFileAsData (bytes));
    const auto parsed = parse (std::string ((const char*) bytes.getData(), bytes.getSize()), TxtLoader::TextSection);
    EXPECT_EQ (parsed.entries[1], "KRV");
    bool replaced = false;
    for (const auto& entry : parsed.entries)
        replaced = replaced || entry.containsChar (0xFFFD);
    EXPECT_TRUE (replaced);
}

TEST (TextTableUnquote, Escapes)
{
    EXPECT_EQ (unquoted ("\"a\\nb\""), "a\nb");
    EXPECT_EQ (unquoted ("\"\\r\\t\\\\\""), "\r\t\\");
    EXPECT_EQ (unquoted ("\"say \\\"hi\\\" now\" tail"), "say \"hi\" now");
    EXPECT_EQ (unquoted ("\"\\q\\a\\N\""), "\\q\\a\\N");
    EXPECT_EQ (unquoted ("\"ends with \\"), "ends with \\");
    EXPECT_EQ (unquoted ("\"unterminated"), "unterminated");
    EXPECT_EQ (unquoted ("\"\""), "");
    EXPECT_EQ (unquoted ("no quote"), "");
    EXPECT_EQ (unquoted (""), "");
}

TEST (TextTables, EveryTableHasTheSameShape)
{
    const std::string bomLine = "\xEF\xBB\xBF\r\n";

    for (int language = 0; language < TxtLoader::languageCount; ++language)
    {
        SCOPED_TRACE (language);
        const std::string table (languageTables[language].data, (size_t) languageTables[language].size);

        ASSERT_EQ (table.rfind (bomLine + ":STR\r\n\r\n\"\"\r\n\r\n", 0), 0u);
        ASSERT_GE (table.size(), 11u);
        EXPECT_EQ (table.substr (table.size() - 11), "\"\r\n\r\n:EOF\r\n");

        int lines = 0;
        for (size_t i = 0; i < table.size(); ++i)
        {
            if (table[i] == '\n')
            {
                ++lines;
                EXPECT_TRUE (i > 0 && table[i - 1] == '\r') << "line " << lines << " ends without CR";
            }
            else if (table[i] == '\r')
            {
                EXPECT_TRUE (i + 1 < table.size() && table[i + 1] == '\n');
            }
        }
        EXPECT_EQ (lines, 30);

        juce::String texts[25];
        TxtLoader::parseSection (reinterpret_cast<const std::uint8_t*> (table.data()), table.size(),
                                 TxtLoader::TextSection, texts, 25);
        EXPECT_EQ (texts[0], "");
        EXPECT_EQ (texts[1], "KRV");
        EXPECT_EQ (texts[2], "KRV-7000");
        for (int i = 3; i < 24; ++i)
            EXPECT_TRUE (texts[i].isNotEmpty()) << "text " << i;
        EXPECT_TRUE (texts[24].isEmpty()) << "exactly 24 entries";
    }
}

TEST (TextTables, SettingsTableShape)
{
    const std::string table (KrvBinaryData::Settings_txt, (size_t) KrvBinaryData::Settings_txtSize);
    EXPECT_EQ (table.rfind ("\xEF\xBB\xBF\r\n:FONT_WIN\r\n\r\n\"Arial\"\r\n", 0), 0u);
    EXPECT_NE (table.find ("\r\n\r\n:FONT_MAC\r\n\r\n\"Arial\"\r\n"), std::string::npos);
    EXPECT_NE (table.find ("\"Hiragino Maru Gothic Pro W4\"\r\n\r\n:LANG\r\n\r\n\"English\"\r\n"), std::string::npos);
    const std::string end = "\"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\"\r\n\r\n:EOF\r\n";
    EXPECT_EQ (table.substr (table.size() - end.size()), end);
}

TEST_F (TextLoader, SettingsAtCreation)
{
    auto* loader = TxtLoader::getInstance();
    EXPECT_EQ (loader, TxtLoader::getInstance());

    const char* fonts[] = { "Arial", "Arial", "Arial", "Arial", "Arial", "Arial", "Arial", "Arial",
                            "Microsoft YaHei", "Microsoft YaHei", "Malgun Gothic", "MS UI Gothic" };
    const char* names[] = { "English", "Français", "Deutsch", "Español", "Italiano", "Nederlands",
                            "Русский", "Português", "简体中文", "繁體中文", "한국어", "日本語" };
    for (int i = 0; i < TxtLoader::languageCount; ++i)
    {
        EXPECT_EQ (loader->getFontName (i), fonts[i]) << i;
        EXPECT_EQ (loader->getLanguageName (i), juce::String::fromUTF8 (names[i])) << i;
    }
}

TEST_F (TextLoader, AccessorsOutOfRangeGiveTheEmptyText)
{
    auto* loader = TxtLoader::getInstance();
    EXPECT_TRUE (loader->getText (24).isEmpty());
    EXPECT_TRUE (loader->getText (-1).isEmpty());
    EXPECT_TRUE (loader->getText (std::numeric_limits<int>::min()).isEmpty());
    EXPECT_TRUE (loader->getFontName (12).isEmpty());
    EXPECT_TRUE (loader->getFontName (-1).isEmpty());
    EXPECT_TRUE (loader->getLanguageName (-1).isEmpty());
    EXPECT_TRUE (loader->getLanguageName (12).isEmpty());
    EXPECT_FALSE (loader->isLanguageAvailable (-1));
    EXPECT_FALSE (loader->isLanguageAvailable (12));
    EXPECT_EQ (loader->getText (4), "OK") << "the in-range neighbour is there";
}

TEST_F (TextLoader, LoadsTheSelectedLanguage)
{
    auto* loader = TxtLoader::getInstance();
    ASSERT_EQ (loader->getCurrentLanguage(), 0);
    EXPECT_EQ (loader->getCurrentFontName(), "Arial");

    const auto& text21 = loader->getText (21);
    EXPECT_EQ (text21, "1. Connect the USB-A terminal on your %s and \nyour computer using a USB cable.");
    EXPECT_EQ (text21.indexOf ("and \nyour"), text21.indexOf ("and "));

    loader->selectLanguage (11);
    EXPECT_EQ (loader->getCurrentLanguage(), 11);
    EXPECT_EQ (loader->getCurrentFontName(), "MS UI Gothic");
    EXPECT_EQ (loader->getText (13), juce::String::fromUTF8 ("現在のバージョン　：　Ver%d.%02d"));
    EXPECT_EQ (loader->getText (21), juce::String::fromUTF8 ("1. コンピュータと%sのUSB-A端子をUSBケーブル\nで接続してください。"));

    loader->selectLanguage (7);
    EXPECT_EQ (loader->getText (15), "Atualizando o firmware do seu% s.");
    loader->selectLanguage (5);
    EXPECT_EQ (loader->getText (15), "De firmware van uw %swordt bijgewerkt.");
    loader->selectLanguage (6);
    EXPECT_TRUE (loader->getText (16).endsWith (juce::String::fromUTF8 ("процесса обновления. ")));
    EXPECT_EQ (loader->getText (4), juce::String::fromUTF8 ("ОК"));
    loader->selectLanguage (10);
    EXPECT_FALSE (loader->getText (21).containsChar ('\n'));
    EXPECT_EQ (loader->getText (17), juce::String::fromUTF8 ("버전 업데이트 되었습니다."));
    loader->selectLanguage (4);
    EXPECT_EQ (loader->getText (13), "Versione attualmente installata: %d.%02d");

    for (int language = 0; language < TxtLoader::languageCount; ++language)
    {
        loader->selectLanguage (language);
        EXPECT_TRUE (loader->getText (0).isEmpty()) << language;
        EXPECT_EQ (loader->getText (2), "KRV-7000") << language;
    }
}

TEST_F (TextLoader, SelectingTheCurrentLanguageDoesNotParseAgain)
{
    auto* loader = TxtLoader::getInstance();
    loader->selectLanguage (2);
    const juce::String held = loader->getText (3); // shares the loaded text

    loader->selectLanguage (2);
    EXPECT_EQ (loader->getText (3).getCharPointer().getAddress(), held.getCharPointer().getAddress());

    loader->selectLanguage (0);
    loader->selectLanguage (2);
    EXPECT_EQ (loader->getText (3), held);
    EXPECT_NE (loader->getText (3).getCharPointer().getAddress(), held.getCharPointer().getAddress())
        << "a real reselection loads fresh texts";
}

TEST_F (TextLoader, SelectingAnUnknownLanguageChangesNothing)
{
    auto* loader = TxtLoader::getInstance();
    loader->selectLanguage (6);

    for (int bad : { -1, 12, 13, 255, std::numeric_limits<int>::min(), std::numeric_limits<int>::max() })
    {
        loader->selectLanguage (bad);
        EXPECT_EQ (loader->getCurrentLanguage(), 6);
        EXPECT_EQ (loader->getText (3), juce::String::fromUTF8 ("Программа обновления"));
    }
}

TEST_F (TextLoader, DeleteInstanceClearsTheSingleton)
{
    auto* first = TxtLoader::getInstance();
    first->selectLanguage (3);
    TxtLoader::deleteInstance();
    TxtLoader::deleteInstance();

    auto* second = TxtLoader::getInstance();
    EXPECT_EQ (second->getCurrentLanguage(), 0) << "a new loader detects the language again";
}
