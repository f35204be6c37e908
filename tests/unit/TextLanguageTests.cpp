// Start-up language, availability and the language combo box.
#include "platform/UserLocale.h"
#include "text/TxtLoader.h"
#include "ui/MainComponent.h"

#include "ScriptedDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace
{
std::atomic<int> closesOfNoDescriptor { 0 };
} // namespace

// The close() of the code linked into this runner (JUCE's included), counting those of a
// descriptor that is not open: in a process with threads such a close takes whatever
// descriptor has just been given the number.
extern "C" int close (int descriptor)
{
    const auto result = (int) syscall (SYS_close, descriptor);
    if (result != 0 && errno == EBADF)
        ++closesOfNoDescriptor;
    return result;
}

namespace
{
// Sets locale variables for one test and puts the old values back.
class ScopedEnvironment
{
public:
    ScopedEnvironment (const char* lcAll, const char* lcMessages, const char* lang)
    {
        set ("LC_ALL", lcAll);
        set ("LC_MESSAGES", lcMessages);
        set ("LANG", lang);
    }

    ~ScopedEnvironment()
    {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it)
        {
            if (it->second)
                setenv (it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv (it->first.c_str());
        }
    }

private:
    void set (const char* name, const char* value)
    {
        const char* old = std::getenv (name);
        saved.emplace_back (name, old != nullptr ? std::optional<std::string> (old) : std::nullopt);
        if (value != nullptr)
            setenv (name, value, 1);
        else
            unsetenv (name);
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

std::vector<std::string> enumeratedLocales;

BOOL CALLBACK collect (LPSTR id)
{
    enumeratedLocales.emplace_back (id);
    return 1;
}

BOOL CALLBACK collectFirstOnly (LPSTR id)
{
    enumeratedLocales.emplace_back (id);
    return 0;
}

std::vector<std::string> enumerate (LOCALE_ENUMPROCA callback = collect)
{
    enumeratedLocales.clear();
    EXPECT_TRUE (EnumSystemLocalesA (callback, LCID_INSTALLED));
    return enumeratedLocales;
}

class LanguageDetection : public ::testing::Test
{
protected:
    void TearDown() override { TxtLoader::deleteInstance(); }

    // The language chosen at start-up for this user and these installed locales.
    static int startUpLanguage (LANGID user, const juce::StringArray& installed)
    {
        TxtLoader::deleteInstance();
        UserLocale::ScopedOverride system (user, installed);
        auto* loader = TxtLoader::getInstance();
        const int chosen = loader->getCurrentLanguage();
        EXPECT_EQ (loader->detectLanguage(), chosen);
        return chosen;
    }

    static juce::Array<int> availableLanguages()
    {
        juce::Array<int> available;
        for (int i = 0; i < TxtLoader::languageCount; ++i)
            if (TxtLoader::getInstance()->isLanguageAvailable (i))
                available.add (i);
        return available;
    }
};
} // namespace

TEST (UserLocale, UserLanguageFromTheMessageLocale)
{
    struct Case
    {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        LANGID expected;
    };

    const Case cases[] = {
        { "de_CH.UTF-8", nullptr, nullptr, 0x0807 },
        { nullptr, nullptr, "pt_BR", 0x0416 },
        { nullptr, nullptr, "pt_PT.UTF-8", 0x0816 },
        { nullptr, "zh_TW.UTF-8", nullptr, 0x0404 },
        { nullptr, nullptr, "zh_HK.UTF-8", 0x0C04 },
        { nullptr, nullptr, "zh_CN.UTF-8", 0x0804 },
        { nullptr, nullptr, "zh_SG", 0x1004 },
        { nullptr, nullptr, "zh_MO", 0x1404 },
        { nullptr, nullptr, "fr_CA.UTF-8", 0x0C0C },
        { nullptr, nullptr, "ja_JP.eucJP", 0x0411 },
        { nullptr, nullptr, "ko_KR.UTF-8", 0x0412 },
        { nullptr, nullptr, "ru_RU.KOI8-R", 0x0419 },
        { nullptr, nullptr, "de_AT.UTF-8@euro", 0x0C07 },
        { nullptr, nullptr, "el_GR.UTF-8", 0x0408 },
        { nullptr, nullptr, "nl", 0x0413 },
        { nullptr, nullptr, "C", 0x0409 },
        { nullptr, nullptr, "POSIX", 0x0409 },
        { nullptr, nullptr, "C.UTF-8", 0x0409 },
        { nullptr, nullptr, nullptr, 0x0409 },
        { nullptr, nullptr, "tlh_KX", UserLocale::customUnspecified },
        // LC_ALL first, then LC_MESSAGES, then LANG; an empty variable counts as unset.
        { "ja_JP.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8", 0x0411 },
        { "", "de_DE.UTF-8", "fr_FR.UTF-8", 0x0407 },
        { nullptr, "", "fr_FR.UTF-8", 0x040C },
    };

    for (const auto& c : cases)
    {
        ScopedEnvironment environment (c.lcAll, c.lcMessages, c.lang);
        EXPECT_EQ (GetUserDefaultLangID(), c.expected)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-") << " " << (c.lang ? c.lang : "-");
    }
}

TEST (UserLocale, EnumeratesEachInstalledLanguageOnce)
{
    UserLocale::ScopedOverride system (0x0409, { "C", "C.utf8", "POSIX", "de_DE.utf8", "de_DE", "de_CH.utf8",
                                                 "eo", "ja_JP.UTF-8", "zh_TW.big5" });
    EXPECT_EQ (enumerate(), (std::vector<std::string> { "00000407", "00000807", "00000411", "00000404" }));
    EXPECT_EQ (enumerate (collectFirstOnly), std::vector<std::string> { "00000407" }) << "a zero answer stops";
    EXPECT_FALSE (EnumSystemLocalesA (nullptr, LCID_INSTALLED));

    UserLocale::ScopedOverride none (0x0409, {});
    EXPECT_TRUE (enumerate().empty());
}

TEST (UserLocale, AsksTheSystemWithoutAnOverrideAndClosesWhatItOpenedOnce)
{
    // `locale -a` always lists the portable locale.
    const auto before = closesOfNoDescriptor.load();
    EXPECT_TRUE (UserLocale::getInstalledLocaleNames().contains ("POSIX"));
    EXPECT_EQ (closesOfNoDescriptor.load(), before) << "a descriptor closed twice";
}

TEST_F (LanguageDetection, UserLanguageWithItsLocaleInstalled)
{
    const juce::StringArray all { "en_US.UTF-8", "fr_FR.UTF-8", "de_DE.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8",
                                  "nl_NL.UTF-8", "ru_RU.UTF-8", "pt_PT.UTF-8", "zh_CN.UTF-8", "ko_KR.UTF-8",
                                  "ja_JP.UTF-8" };
    EXPECT_EQ (startUpLanguage (0x0807, all), 2);
    EXPECT_EQ (startUpLanguage (0x0416, all), 7);
    EXPECT_EQ (startUpLanguage (0x0C0C, all), 1);
    EXPECT_EQ (startUpLanguage (0x0C0A, all), 3);
    EXPECT_EQ (startUpLanguage (0x0810, all), 4);
    EXPECT_EQ (startUpLanguage (0x0813, all), 5);
    EXPECT_EQ (startUpLanguage (0x0419, all), 6);
    EXPECT_EQ (startUpLanguage (0x0412, all), 10);
    EXPECT_EQ (startUpLanguage (0x0411, all), 11);
    EXPECT_EQ (startUpLanguage (0x0809, all), 0);
    EXPECT_EQ (startUpLanguage (0x0408, all), 0) << "Greek has no table";
}

TEST_F (LanguageDetection, ChineseIsMatchedOnTheWholeIdentifier)
{
    const juce::StringArray chinese { "zh_CN.UTF-8" };
    EXPECT_EQ (startUpLanguage (0x0804, chinese), 8);
    for (LANGID traditional : { 0x0404, 0x0C04, 0x1404, 0x1004, 0x7C04 })
        EXPECT_EQ (startUpLanguage (traditional, chinese), 9) << std::hex << traditional;
    EXPECT_EQ (startUpLanguage (0x0004, chinese), 0);
    EXPECT_EQ (startUpLanguage (0x7804, chinese), 0);

    // Any Chinese locale makes both Chinese languages available.
    startUpLanguage (0x0409, { "zh_TW.UTF-8" });
    EXPECT_EQ (availableLanguages(), (juce::Array<int> { 0, 8, 9 }));
}

TEST_F (LanguageDetection, LanguageWithoutItsLocaleIsNeitherChosenNorListed)
{
    EXPECT_EQ (startUpLanguage (0x0411, { "de_DE.UTF-8", "ko_KR.UTF-8" }), 0);
    EXPECT_EQ (availableLanguages(), (juce::Array<int> { 0, 2, 10 }));

    EXPECT_EQ (startUpLanguage (0x0804, { "ja_JP.UTF-8" }), 0);

    EXPECT_EQ (startUpLanguage (0x0407, {}), 0);
    EXPECT_EQ (availableLanguages(), juce::Array<int> { 0 }) << "English is always there";
}

TEST_F (LanguageDetection, DetectionStartsAfresh)
{
    startUpLanguage (0x0409, { "ru_RU.UTF-8" });
    auto* loader = TxtLoader::getInstance();
    ASSERT_TRUE (loader->isLanguageAvailable (6));

    UserLocale::ScopedOverride fewer (0x0419, {});
    EXPECT_EQ (loader->detectLanguage(), 0);
    EXPECT_FALSE (loader->isLanguageAvailable (6));
}

TEST_F (LanguageDetection, LocaleCallback)
{
    startUpLanguage (0x0409, {});
    auto* loader = TxtLoader::getInstance();

    EXPECT_EQ (enumLocaleCallback (nullptr), 0);

    char korean[] = "00000412";
    EXPECT_NE (enumLocaleCallback (korean), 0);
    EXPECT_TRUE (loader->isLanguageAvailable (10));

    char french[] = "0000080c";
    EXPECT_NE (enumLocaleCallback (french), 0);
    EXPECT_TRUE (loader->isLanguageAvailable (1));

    char dutch[] = "00000813";
    enumLocaleCallback (dutch);
    EXPECT_TRUE (loader->isLanguageAvailable (5));

    char greek[] = "00000408";
    char shortId[] = "9";
    enumLocaleCallback (greek);
    EXPECT_NE (enumLocaleCallback (shortId), 0);
    EXPECT_EQ (availableLanguages(), (juce::Array<int> { 0, 1, 5, 10 }));
}

namespace
{
juce::ComboBox* findLanguageBox (juce::Component& parent)
{
    for (auto* child : parent.getChildren())
        if (child->getName() == "langs")
            return dynamic_cast<juce::ComboBox*> (child);
    return nullptr;
}
} // namespace

TEST_F (LanguageDetection, ComboBoxListsTheAvailableLanguages)
{
    ScriptedDevice device;
    UserLocale::ScopedOverride system (0x0411, { "de_DE.UTF-8", "ja_JP.UTF-8" });
    TxtLoader::deleteInstance();

    {
        MainComponent screen;
        auto* box = findLanguageBox (screen);
        ASSERT_NE (box, nullptr);

        ASSERT_EQ (box->getNumItems(), 3);
        EXPECT_EQ (box->getItemText (0), "English");
        EXPECT_EQ (box->getItemId (0), 1);
        EXPECT_EQ (box->getItemText (1), "Deutsch");
        EXPECT_EQ (box->getItemId (1), 3);
        EXPECT_EQ (box->getItemText (2), juce::String::fromUTF8 ("日本語"));
        EXPECT_EQ (box->getItemId (2), 12);
        EXPECT_EQ (box->getSelectedId(), 12);
        EXPECT_EQ (juce::Font::getFallbackFontName(), "MS UI Gothic");

        box->setSelectedId (3, juce::sendNotificationSync);
        EXPECT_EQ (TxtLoader::getInstance()->getCurrentLanguage(), 2);
        EXPECT_EQ (TxtLoader::getInstance()->getText (7), juce::String::fromUTF8 ("Schließen"));
        EXPECT_EQ (juce::Font::getFallbackFontName(), "Arial");
    }
}
