#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>
#include <cstdint>

// The one loader of the embedded text tables: font and language names at creation,
// the 24 texts of a language each time it is selected.
class TxtLoader
{
public:
    static constexpr int languageCount = 12;
    static constexpr int textCount = 24;

    enum Section : int
    {
        NoSection = 0,
        FontSection = 1,
        LanguageSection = 3,
        TextSection = 4
    };

    static TxtLoader* getInstance();
    static void deleteInstance();

    const juce::String& getText (int index) const;
    const juce::String& getLanguageName (int index) const;
    const juce::String& getFontName (int index) const;
    const juce::String& getCurrentFontName() const;
    int getCurrentLanguage() const noexcept { return currentLanguage; }
    bool isLanguageAvailable (int index) const;
    void selectLanguage (int index);
    int detectLanguage();

    static void parseSection (const std::uint8_t* data, std::size_t size, int section,
                              juce::String* output, int maxCount);
    static void unquote (const char* line, char* output);

    virtual ~TxtLoader();

private:
    TxtLoader();

    friend int enumLocaleCallbackImpl (const char*);

    int currentLanguage = -1;
    juce::String emptyText;
    bool languageAvailable[languageCount] {};
    juce::String fontNames[languageCount];
    juce::String languageNames[languageCount];
    juce::String texts[textCount];

    JUCE_DECLARE_NON_COPYABLE (TxtLoader)
};
