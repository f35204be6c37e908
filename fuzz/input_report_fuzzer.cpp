// Input reports of any length and any reported count, through the real device link
// and the controller's copy into its answer buffer.
#include "MainComponentProbe.h"
#include "ScriptedDevice.h"
#include "TestSupport.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace
{
struct Fixture
{
    juce::ScopedJuceInitialiser_GUI juce;
    ScriptedDevice device;
    std::unique_ptr<MainComponent> ui;

    Fixture()
    {
        device.plugIn (1, 0, 100, false);
        ui = std::make_unique<MainComponent>();
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    static Fixture fixture;

    // The first four bytes choose the count the library reports; the rest is the report.
    int reported = (int) size;
    if (size >= 4)
    {
        reported = (int) ((std::uint32_t) data[0] | ((std::uint32_t) data[1] << 8)
                          | ((std::uint32_t) data[2] << 16) | ((std::uint32_t) data[3] << 24));
        data += 4;
        size -= 4;
    }

    fixture.device.sendInput (1, ScriptedDevice::Report (data, data + size), reported);
    // Deliver it through the message loop: one message, no idle waiting.
    for (int i = 0; i < 100 && fixture.device.pendingInputs() > 0; ++i)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (0);

    auto* ctrl = MainComponentProbe::hidCtrl (*fixture.ui);
    if (ctrl->inputLength < 0 || ctrl->inputLength > 256)
        __builtin_trap();
    return 0;
}
