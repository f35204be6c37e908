#pragma once

#include "platform/Win32.h"

#include <juce_core/juce_core.h>

#include <cstddef>
#include <cstdint>

/** The one loader of the embedded text tables: font and language names at creation,
    the 24 texts of a language each time it is selected.
*/
class TxtLoader
{
public:
    static constexpr int languageCount = 12;
    static constexpr int textCount = 24;
    static constexpr int lineBufferSize = 2048;

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

    /** Loads the entries of one section into output, at most maxCount of them. Never reads
        outside the size bytes of data.
    */
    static void parseSection (const std::uint8_t* data, std::size_t size, int section,
                              juce::String* output, int maxCount);

    /** Writes the text between the line's quotes, unescaped. output must hold as many bytes
        as the line, its terminating zero included.
    */
    static void unquote (const char* line, char* output);

    virtual ~TxtLoader();

private:
    TxtLoader();

    friend BOOL CALLBACK enumLocaleCallback (LPSTR localeId);

    int currentLanguage = -1;
    juce::String emptyText;
    bool languageAvailable[languageCount] {};
    juce::String fontNames[languageCount];
    juce::String languageNames[languageCount];
    juce::String texts[textCount];

    JUCE_DECLARE_NON_COPYABLE (TxtLoader)
};

/** Marks the languages of one installed locale ("00000407") as available. Called by
    EnumSystemLocalesA; returns nonzero to go on.
*/
BOOL CALLBACK enumLocaleCallback (LPSTR localeId);

struct EmbeddedTable
{
    const char* data;
    int size;
};

/** The text table of each language, by language index. */
extern const EmbeddedTable languageTables[TxtLoader::languageCount];

/** The Windows language identifier of each language, by language index. */
extern const LANGID languageIds[TxtLoader::languageCount];

/** The language of each language index as fontconfig names it ("zh-cn"). */
extern const char* const fontLanguages[TxtLoader::languageCount];
