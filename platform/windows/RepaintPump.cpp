#include "platform/RepaintPump.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
class Pump final : public juce::Timer
{
public:
    void timerCallback() override
    {
        // Dispatches what the vertical blank would have, then paints it at once; with
        // nothing pending it does nothing.
        for (int i = juce::ComponentPeer::getNumPeers(); --i >= 0;)
            if (auto* peer = juce::ComponentPeer::getPeer (i))
                peer->performAnyPendingRepaintsNow();
    }
};

Pump* pump = nullptr;
} // namespace

void RepaintPump::install()
{
    if (pump != nullptr)
        return;

    pump = new Pump();
    pump->startTimerHz (60);
}

void RepaintPump::uninstall()
{
    delete pump;
    pump = nullptr;
}
