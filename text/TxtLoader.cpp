#include "text/TxtLoader.h"

#include "base/Utf8Text.h"

#include "platform/SystemFonts.h"

#include <KrvBinaryData.h>

#include <cstring>
#include <memory>

const EmbeddedTable languageTables[TxtLoader::languageCount] = {
    { KrvBinaryData::English_txt, KrvBinaryData::English_txtSize },
    { KrvBinaryData::French_txt, KrvBinaryData::French_txtSize },
    { KrvBinaryData::German_txt, KrvBinaryData::German_txtSize },
    { KrvBinaryData::Spanish_txt, KrvBinaryData::Spanish_txtSize },
    { KrvBinaryData::Italian_txt, KrvBinaryData::Italian_txtSize },
    { KrvBinaryData::Dutch_txt, KrvBinaryData::Dutch_txtSize },
    { KrvBinaryData::Russian_txt, KrvBinaryData::Russian_txtSize },
    { KrvBinaryData::Portuguese_txt, KrvBinaryData::Portuguese_txtSize },
    { KrvBinaryData::ChineseSimplified_txt, KrvBinaryData::ChineseSimplified_txtSize },
    { KrvBinaryData::ChineseTraditional_txt, KrvBinaryData::ChineseTraditional_txtSize },
    { KrvBinaryData::Korean_txt, KrvBinaryData::Korean_txtSize },
    { KrvBinaryData::Japanese_txt, KrvBinaryData::Japanese_txtSize }
};

const LANGID languageIds[TxtLoader::languageCount] = {
    0x0409, 0x040C, 0x0407, 0x040A, 0x0410, 0x0413, 0x0419, 0x0816, 0x0804, 0x0404, 0x0412, 0x0411
};

const char* const fontLanguages[TxtLoader::languageCount] = {
    "en", "fr", "de", "es", "it", "nl", "ru", "pt", "zh-cn", "zh-tw", "ko", "ja"
};

namespace
{
// The one loader of the process, from getInstance until deleteInstance.
std::unique_ptr<TxtLoader>& instance()
{
    static std::unique_ptr<TxtLoader> loader;
    return loader;
}

bool isIndex (int index, int count) noexcept
{
    return (unsigned int) index < (unsigned int) count;
}

const std::uint8_t* tableBytes (const char* data) noexcept
{
    return reinterpret_cast<const std::uint8_t*> (data);
}

// Offset of the first byte at or after from that is wanted or zero, or size when there is none.
std::size_t findByteOrZero (const std::uint8_t* data, std::size_t from, std::size_t size, std::uint8_t wanted) noexcept
{
    while (from < size && data[from] != wanted && data[from] != 0)
        ++from;
    return from;
}

// Length of the longest start of text of at most limit bytes that does not end inside a
// UTF-8 sequence.
std::size_t cutAtCharacter (const std::uint8_t* text, std::size_t length, std::size_t limit) noexcept
{
    if (length <= limit)
        return length;

    std::size_t cut = limit;
    while (cut > 0 && (text[cut] & 0xC0) == 0x80)
        --cut;
    return cut;
}
} // namespace

TxtLoader* TxtLoader::getInstance()
{
    auto& loader = instance();
    if (loader == nullptr)
    {
        // Language detection asks the instance which languages are installed: it must
        // exist before that.
        loader.reset (new TxtLoader());

        // The tables name fonts this system may not have under those names.
        for (int i = 0; i < languageCount; ++i)
            SystemFonts::serve (loader->fontNames[i], fontLanguages[i]);

        loader->selectLanguage (loader->detectLanguage());
    }
    return loader.get();
}

void TxtLoader::deleteInstance()
{
    instance().reset();
}

TxtLoader::TxtLoader()
{
    parseSection (tableBytes (KrvBinaryData::Settings_txt), (std::size_t) KrvBinaryData::Settings_txtSize,
                  FontSection, fontNames, languageCount);
    parseSection (tableBytes (KrvBinaryData::Settings_txt), (std::size_t) KrvBinaryData::Settings_txtSize,
                  LanguageSection, languageNames, languageCount);
}

TxtLoader::~TxtLoader() = default;

const juce::String& TxtLoader::getText (int index) const
{
    return isIndex (index, textCount) ? texts[index] : emptyText;
}

const juce::String& TxtLoader::getLanguageName (int index) const
{
    return isIndex (index, languageCount) ? languageNames[index] : emptyText;
}

const juce::String& TxtLoader::getFontName (int index) const
{
    return isIndex (index, languageCount) ? fontNames[index] : emptyText;
}

const juce::String& TxtLoader::getCurrentFontName() const
{
    return getFontName (currentLanguage);
}

bool TxtLoader::isLanguageAvailable (int index) const
{
    return isIndex (index, languageCount) && languageAvailable[index];
}

void TxtLoader::selectLanguage (int index)
{
    // Every caller passes a language index; anything else would index past the tables.
    if (index == currentLanguage || ! isIndex (index, languageCount))
        return;

    currentLanguage = index;
    const auto& table = languageTables[index];
    parseSection (tableBytes (table.data), (std::size_t) table.size, TextSection, texts, textCount);
}

int TxtLoader::detectLanguage()
{
    languageAvailable[0] = true;
    for (int i = 1; i < languageCount; ++i)
        languageAvailable[i] = false;

    EnumSystemLocalesA (enumLocaleCallback, LCID_INSTALLED);

    const LANGID user = GetUserDefaultLangID();

    if ((user & 0xFF) == 0x04)
    {
        if (user == 0x0804)
            return languageAvailable[8] ? 8 : 0;

        if (user == 0x0404 || user == 0x0C04 || user == 0x1404 || user == 0x1004 || user == 0x7C04)
            return languageAvailable[9] ? 9 : 0;

        return 0;
    }

    for (int i = 0; i < languageCount; ++i)
        if ((languageIds[i] & 0xFF) == (user & 0xFF))
            return languageAvailable[i] ? i : 0;

    return 0;
}

void TxtLoader::parseSection (const std::uint8_t* data, std::size_t size, int section,
                              juce::String* output, int maxCount)
{
    if (data == nullptr || output == nullptr)
        return;

    char line[lineBufferSize];
    char text[lineBufferSize];
    int currentSection = NoSection;
    int count = 0;
    std::size_t p = 0;

    while (p < size)
    {
        // A line ends at the later of the next CR and the next LF, so that CR LF ends one line.
        const std::size_t cr = findByteOrZero (data, p, size, '\r');
        const std::size_t lf = findByteOrZero (data, p, size, '\n');
        const bool foundCr = cr < size && data[cr] == '\r';
        const bool foundLf = lf < size && data[lf] == '\n';

        std::size_t end = 0;
        std::size_t length = 0;

        if (foundCr && foundLf)
        {
            end = juce::jmax (cr, lf);
            length = end - 1 - p;
        }
        else if (foundCr || foundLf)
        {
            end = foundCr ? cr : lf;
            length = end - p;
        }
        else
        {
            end = findByteOrZero (data, p, size, 0);
            length = end - p;
        }

        length = cutAtCharacter (data + p, length, lineBufferSize - 1);
        std::memcpy (line, data + p, length);
        line[length] = 0;

        const char first = line[0];

        if (first == ':')
        {
            if (std::strstr (line, "EOF") != nullptr)
                return;

            if (std::strstr (line, "FONT_WIN") != nullptr)
                currentSection = FontSection;
            else if (std::strstr (line, "LANG") != nullptr)
                currentSection = LanguageSection;
            else if (std::strstr (line, "STR") != nullptr)
                currentSection = TextSection;
            else
                currentSection = NoSection;
        }
        else if (first != 0 && first != '\r' && first != '\n' && first != '#')
        {
            if (currentSection == section && count < maxCount)
            {
                unquote (line, text);
                output[count] = stringFromUntrustedUtf8 (text, std::strlen (text));
                ++count;
            }
        }

        p = end + 1;
    }
}

void TxtLoader::unquote (const char* line, char* output)
{
    const char* in = line != nullptr ? std::strchr (line, '"') : nullptr;

    // A line without a quote holds no text.
    if (in == nullptr)
    {
        output[0] = 0;
        return;
    }

    ++in;
    char* out = output;

    while (*in != 0 && *in != '"')
    {
        if (*in == '\\')
        {
            const char next = in[1];
            const char escaped = next == 'r'    ? '\r'
                                 : next == 'n'  ? '\n'
                                 : next == 't'  ? '\t'
                                 : next == '"'  ? '"'
                                 : next == '\\' ? '\\'
                                                : 0;
            if (escaped != 0)
            {
                *out++ = escaped;
                in += 2;
                continue;
            }
        }

        *out++ = *in++;
    }

    *out = 0;
}

BOOL CALLBACK enumLocaleCallback (LPSTR localeId)
{
    if (localeId == nullptr)
        return 0;

    const auto idLength = std::strlen (localeId);
    if (idLength < 2)
        return 1;

    const juce::String lastDigits (localeId + idLength - 2);
    auto* loader = TxtLoader::getInstance();

    for (int i = 1; i < TxtLoader::languageCount; ++i)
    {
        char digits[3];
        std::snprintf (digits, sizeof (digits), "%02x", (unsigned int) (languageIds[i] & 0xFF));
        if (lastDigits.equalsIgnoreCase (digits))
            loader->languageAvailable[i] = true;
    }

    return 1;
}
