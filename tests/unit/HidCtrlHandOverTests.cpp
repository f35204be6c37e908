// The hand-over from one controller to the next, stepped instruction by instruction on
// the message thread so that a write of the worker lands in its narrowest window. Linux
// x86-64 only (single-stepping with the trap flag).
#include "device/HidCtrl.h"
#include "device/HidUtil.h"

#include "InstructionStepper.h"
#include "ScriptedDevice.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <semaphore.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{
constexpr int krv7000 = 7;

struct HeardOwner : HidHandler
{
    void deviceDetached() override { heard.push_back ("detached"); }
    void deviceAttached() override { heard.push_back ("attached"); }
    void inputReceived() override { heard.push_back ("input"); }
    std::vector<std::string> heard;
};

class HidCtrlHandOver : public ::testing::Test
{
protected:
    void TearDown() override
    {
        ctrl.close();
        testsupport::pumpFor (5);
    }

    ScriptedDevice device;
    HidCtrl ctrl;
    HeardOwner owner;
};
} // namespace

namespace
{
// The worker's write, run at the instruction after the hand-over took the next number.
HidUtil* handOverUtil = nullptr;
sem_t workerGo;
sem_t workerDone;

bool writeOnceTheNextNumberIsTaken()
{
    if (handOverUtil->getHidNumber() != 2)
        return false;
    sem_post (&workerGo);
    while (sem_wait (&workerDone) != 0)
    {}
    return true;
}
} // namespace

TEST_F (HidCtrlHandOver, AWriteDuringTheHandOverNeverReachesTheNextDevice)
{
    if (! InstructionStepper::isSupported())
        GTEST_SKIP() << "needs single-stepping (x86-64 Linux)";

    device.plugIn (1, krv7000, 101, false);
    device.plugIn (2, krv7000, 205, false);
    ASSERT_TRUE (ctrl.open (&owner, 1));

    std::mutex lock;
    std::vector<int> writtenTo;
    device.onWrite ([&] (int number, const ScriptedDevice::Report&) {
        std::lock_guard<std::mutex> guard (lock);
        writtenTo.push_back (number);
        return 1;
    });

    sem_init (&workerGo, 0, 0);
    sem_init (&workerDone, 0, 0);
    handOverUtil = ctrl.util;
    std::thread worker ([&] {
        while (sem_wait (&workerGo) != 0)
        {}
        const std::uint8_t modeRequest[64] { 0xF4 };
        ctrl.write (modeRequest, 64);
        sem_post (&workerDone);
    });

    {
        InstructionStepper stepper (&writeOnceTheNextNumberIsTaken);
        device.onTypeQuery ([] (int number) { if (number == 2) InstructionStepper::arm(); });
        device.unplug (1, false);
        ctrl.util->release(); // as the window procedure does before telling HidCtrl
        ctrl.deviceDetached();
        device.onTypeQuery (nullptr);
        if (! InstructionStepper::fired())
            sem_post (&workerGo);
    }
    worker.join();
    sem_destroy (&workerGo);
    sem_destroy (&workerDone);

    ASSERT_TRUE (InstructionStepper::fired()) << "the hand-over never took device 2";
    EXPECT_TRUE (writtenTo.empty()) << "a write begun while device 1 was leaving reached device 2";
    ASSERT_FALSE (owner.heard.empty());
    EXPECT_EQ (owner.heard.back(), "attached");
    EXPECT_EQ (ctrl.state.load(), HidCtrl::Connected);
}
