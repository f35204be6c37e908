#include "platform/SystemFonts.h"

#include "platform/linux/FontResolver.h"

void SystemFonts::serve (const juce::String& fontName, const juce::String& language)
{
    FontResolver::serve (fontName, language);
}

bool SystemFonts::glyphsFallBack()
{
    return true;
}
