// Placeholder until the update-file parser lands: no file is ever valid.
#include "ui/MainComponent.h"

int MainComponent::loadUpdateFile (const juce::String&, const char*, int* version)
{
    if (version != nullptr)
        *version = -1;
    return 0;
}
