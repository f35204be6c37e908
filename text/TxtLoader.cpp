// Placeholder until the table parser lands: English only.
#include "text/TxtLoader.h"

namespace
{
TxtLoader* instance = nullptr;
const char* const englishTexts[TxtLoader::textCount] = {
    "", "KRV", "KRV-7000", "Updater Program", "OK", "Start", "Cancel", "Close", "Language Selections",
    "Please select a language.", "There is an error in the update file.", "Your %s is not connected.",
    "Updates the version of your %s firmware.", "Current Version: Ver. %d.%02d", "Update Version: Ver. %d.%02d",
    "Updating your %s firmware.", "Please wait for a few moments until the update process is complete.",
    "The update of your version of the %s firmware is now complete.", "An error has occurred.",
    "It was not possible to update the program.", "Your %s is not recognized.",
    "1. Connect the USB-A terminal on your %s and \nyour computer using a USB cable.", "2. Restart this program.",
    "Connect the USB-A terminal on your %s and your computer \nusing a USB cable."
};
} // namespace

TxtLoader* TxtLoader::getInstance()
{
    if (instance == nullptr)
    {
        instance = new TxtLoader();
        instance->selectLanguage (instance->detectLanguage());
    }
    return instance;
}

void TxtLoader::deleteInstance()
{
    delete instance;
    instance = nullptr;
}

TxtLoader::TxtLoader()
{
    for (auto& name : fontNames)
        name = "Arial";
    languageNames[0] = "English";
}

TxtLoader::~TxtLoader() = default;

const juce::String& TxtLoader::getText (int index) const { return (unsigned) index < (unsigned) textCount ? texts[index] : emptyText; }
const juce::String& TxtLoader::getLanguageName (int index) const { return (unsigned) index < (unsigned) languageCount ? languageNames[index] : emptyText; }
const juce::String& TxtLoader::getFontName (int index) const { return (unsigned) index < (unsigned) languageCount ? fontNames[index] : emptyText; }
const juce::String& TxtLoader::getCurrentFontName() const { return getFontName (currentLanguage); }
bool TxtLoader::isLanguageAvailable (int index) const { return (unsigned) index < (unsigned) languageCount && languageAvailable[index]; }

void TxtLoader::selectLanguage (int index)
{
    if (index == currentLanguage || (unsigned) index >= (unsigned) languageCount)
        return;
    currentLanguage = index;
    for (int i = 0; i < textCount; ++i)
        texts[i] = juce::String::fromUTF8 (englishTexts[i]);
}

int TxtLoader::detectLanguage()
{
    languageAvailable[0] = true;
    return 0;
}

void TxtLoader::parseSection (const std::uint8_t*, std::size_t, int, juce::String*, int) {}
void TxtLoader::unquote (const char*, char* output) { output[0] = 0; }
