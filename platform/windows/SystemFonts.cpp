#include "platform/SystemFonts.h"

void SystemFonts::serve (const juce::String&, const juce::String&)
{
    // The system has these fonts under these names, and falls back per character itself.
}
