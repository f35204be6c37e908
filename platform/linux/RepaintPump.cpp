#include "platform/RepaintPump.h"

// JUCE repaints X11 windows from its own timer.
void RepaintPump::install()
{
}

void RepaintPump::uninstall()
{
}
