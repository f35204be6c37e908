#include "platform/RepaintPump.h"

#include "platform/TraceOutput.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

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

        watchVerticalBlanks();
    }

private:
    // For its first second on screen the window counts the display's vertical blanks: where
    // they arrive, JUCE paints by them and the pump stops; where none arrive, it stays.
    void watchVerticalBlanks()
    {
        if (decided)
            return;

        if (watcher == nullptr)
        {
            if (juce::ComponentPeer::getNumPeers() == 0)
                return;
            watcher = std::make_unique<juce::VBlankAttachment> (&juce::ComponentPeer::getPeer (0)->getComponent(),
                                                                [this] { ++blanks; });
            watchStarted = juce::Time::getMillisecondCounter();
            return;
        }

        if (juce::Time::getMillisecondCounter() - watchStarted < 1000)
            return;

        decided = true;
        watcher.reset();
        const bool needed = blanks < 10;
        writeSystemLogLine ("repaint pump: " + juce::String (blanks) + " vertical blanks in the window's first second, "
                            + (needed ? "kept" : "stopped"));
        if (! needed)
            stopTimer();
    }

    std::unique_ptr<juce::VBlankAttachment> watcher;
    juce::uint32 watchStarted = 0;
    int blanks = 0;
    bool decided = false;
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
