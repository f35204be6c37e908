#include "platform/SystemQuit.h"

// JUCE turns Windows' own end-of-session messages into systemRequestedQuit.
void SystemQuit::install()
{
}

void SystemQuit::uninstall()
{
}
