// HidCtrl and HidUtil over a scripted device library, on the real message loop.
#include "device/HidCtrl.h"
#include "device/HidUtil.h"

#include "ScriptedDevice.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using testsupport::pumpFor;
using testsupport::pumpUntil;

namespace
{
constexpr int krv7000 = 7;

ScriptedDevice::Report reportOf (std::initializer_list<int> bytes)
{
    ScriptedDevice::Report r;
    for (int b : bytes)
        r.push_back (static_cast<std::uint8_t> (b));
    return r;
}

// The owner as MainComponent is one: records what it hears and what HidCtrl held then.
struct RecordingOwner : HidHandler
{
    explicit RecordingOwner (HidCtrl& c) : ctrl (c) {}

    void deviceDetached() override { record ("detached"); }
    void deviceAttached() override { record ("attached"); }
    void inputReceived() override { record ("input"); }

    void record (const char* what)
    {
        heard.push_back (what);
        versions.push_back (ctrl.firmwareVersion);
        lengths.push_back (ctrl.inputLength);
    }

    HidCtrl& ctrl;
    std::vector<std::string> heard;
    std::vector<int> versions;
    std::vector<int> lengths;
};

class HidCtrlLink : public ::testing::Test
{
protected:
    void TearDown() override
    {
        ctrl.close();
        pumpFor (5); // let nothing posted outlive the test
    }

    bool openAsKrv7000() { return ctrl.open (&owner, 1); }

    ScriptedDevice device;
    HidCtrl ctrl;
    RecordingOwner owner { ctrl };
};
} // namespace

TEST_F (HidCtrlLink, StartsTheLibraryInOrderAndStopsItOnClose)
{
    ASSERT_TRUE (openAsKrv7000());
    EXPECT_TRUE (device.isStarted());
    EXPECT_NE (device.callbackWindow(), nullptr);
    EXPECT_EQ (device.callbackMessages(), (std::vector<unsigned> { 0x0403, 0x0402, 0x0401 }));

    const auto startCalls = device.calls();
    ASSERT_GE (startCalls.size(), 4u);
    EXPECT_EQ (std::vector<std::string> (startCalls.begin(), startCalls.begin() + 4),
               (std::vector<std::string> { "HID_Initialize", "HID_SetCallback", "HID_Start", "HID_EnumHIDno" }));

    const auto window = device.callbackWindow();
    device.clearCalls();
    ctrl.close();

    EXPECT_EQ (device.calls(), (std::vector<std::string> { "HID_Stop", "HID_SetCallback(null)", "HID_Finalize" }));
    EXPECT_FALSE (device.isStarted());
    EXPECT_EQ (HidUtil::getActiveInstance(), nullptr);
    EXPECT_EQ (ctrl.util, nullptr);
    EXPECT_EQ (PostMessageA (window, 0x0402, 1, 0), 0) << "the hidden window must be gone";

    ctrl.close(); // a second close does nothing
    EXPECT_EQ (device.calls().size(), 3u);
}

TEST_F (HidCtrlLink, DevicePresentAtOpenIsCurrentWithoutNotificationAndLaterArrivalIsIgnored)
{
    device.plugIn (4, krv7000, 103, false);
    device.sendInput (4, reportOf ({ 0x01, 0x02, 0x03 }));

    ASSERT_TRUE (openAsKrv7000());
    EXPECT_EQ (ctrl.state.load(), HidCtrl::Connected);
    EXPECT_EQ (ctrl.firmwareVersion, 103);
    EXPECT_EQ (ctrl.inputLength, 3);
    EXPECT_EQ (ctrl.inputBuffer[2], 0x03);
    EXPECT_TRUE (owner.heard.empty());

    device.clearCalls();
    device.plugIn (9, krv7000, 110);
    pumpFor (30);
    // The arrival of device 9 is not heard: device 4 stays current.
    for (const auto& what : owner.heard)
        EXPECT_NE (what, "attached");
    EXPECT_EQ (ctrl.util->getHidNumber(), 4);
    for (const auto& call : device.calls())
        EXPECT_NE (call, "HID_EnumHIDno") << "an arrival while a device is current must not look again";
}

TEST_F (HidCtrlLink, FirstMatchingDeviceInTheLibrarysOrderWins)
{
    device.plugIn (12, 3, 999, false); // another product: not accepted
    device.plugIn (8, krv7000, 101, false);
    device.plugIn (2, krv7000, 102, false);

    ASSERT_TRUE (openAsKrv7000());
    EXPECT_EQ (ctrl.util->getHidNumber(), 8);
    EXPECT_EQ (ctrl.firmwareVersion, 101);
    EXPECT_EQ (device.versionTypeAsked(), krv7000) << "the version is asked by type code";
}

TEST_F (HidCtrlLink, RemovalOfTheCurrentDeviceWhileConnectedHandsOverToTheOther)
{
    device.plugIn (1, krv7000, 101, false);
    device.plugIn (2, krv7000, 205, false);
    ASSERT_TRUE (openAsKrv7000());

    device.sendInput (2, reportOf ({ 0xAA, 0xBB }));
    device.unplug (1);
    ASSERT_TRUE (pumpUntil ([&] { return ! owner.heard.empty(); }));
    pumpFor (20);

    ASSERT_EQ (owner.heard.size(), 1u) << "input of the other device was ignored, the removal handed over";
    EXPECT_EQ (owner.heard[0], "attached");
    EXPECT_EQ (owner.versions[0], 205);
    EXPECT_EQ (owner.lengths[0], 2) << "the new device's first input report is read before the owner hears";
    EXPECT_EQ (ctrl.state.load(), HidCtrl::Connected);
    EXPECT_EQ (ctrl.util->getHidNumber(), 2);
}

TEST_F (HidCtrlLink, RemovalWithNoOtherDeviceClearsEverythingAndTellsDetached)
{
    device.plugIn (3, krv7000, 104, false);
    device.sendInput (3, reportOf ({ 9, 9, 9, 9 }));
    ASSERT_TRUE (openAsKrv7000());
    ASSERT_EQ (ctrl.inputLength, 4);

    device.unplug (3);
    ASSERT_TRUE (pumpUntil ([&] { return ! owner.heard.empty(); }));
    EXPECT_EQ (owner.heard, (std::vector<std::string> { "detached" }));
    EXPECT_EQ (owner.versions[0], 0);
    EXPECT_EQ (owner.lengths[0], 0);
    for (auto byte : ctrl.inputBuffer)
        ASSERT_EQ (byte, 0);
    EXPECT_EQ (ctrl.state.load(), HidCtrl::Disconnected);
    EXPECT_EQ (ctrl.util->getHidNumber(), -1);
}

TEST_F (HidCtrlLink, ArrivalWhileDisconnectedConnectsAndReadsVersionAndFirstInput)
{
    ASSERT_TRUE (openAsKrv7000());
    ASSERT_EQ (ctrl.state.load(), HidCtrl::Disconnected);

    device.sendInput (6, reportOf ({ 0x10, 0x20 }));
    device.plugIn (6, krv7000, 107);
    ASSERT_TRUE (pumpUntil ([&] { return ! owner.heard.empty() && owner.heard.back() == "attached"; }));
    EXPECT_EQ (ctrl.state.load(), HidCtrl::Connected);
    EXPECT_EQ (owner.versions.back(), 107);
    EXPECT_EQ (owner.lengths.back(), 2);
}

TEST_F (HidCtrlLink, RemovalAndInputForOtherHidNumbersAreIgnored)
{
    device.plugIn (5, krv7000, 101, false);
    device.plugIn (6, krv7000, 102, false);
    ASSERT_TRUE (openAsKrv7000());

    device.sendInput (6, reportOf ({ 0x77 }));
    device.unplug (6);
    pumpFor (40);
    EXPECT_TRUE (owner.heard.empty());
    EXPECT_EQ (ctrl.state.load(), HidCtrl::Connected);
    EXPECT_EQ (ctrl.util->getHidNumber(), 5);

    // The report left for device 6 was never read; input for device 5 is.
    device.sendInput (5, reportOf ({ 0x42 }));
    ASSERT_TRUE (pumpUntil ([&] { return ! owner.heard.empty(); }));
    EXPECT_EQ (owner.heard, (std::vector<std::string> { "input" }));
}

TEST_F (HidCtrlLink, RemovalAfterAWriteIsFinalEvenWithAnotherDevicePresent)
{
    device.plugIn (1, krv7000, 101, false);
    device.plugIn (2, krv7000, 102, false);
    ASSERT_TRUE (openAsKrv7000());

    const std::uint8_t report[64] = { 0xF4 };
    EXPECT_TRUE (ctrl.write (report, 64));
    EXPECT_EQ (ctrl.state.load(), HidCtrl::Written);
    ASSERT_EQ (device.writeCount(), 1);
    EXPECT_EQ (device.writes()[0].size(), 64u);

    device.unplug (1);
    ASSERT_TRUE (pumpUntil ([&] { return ! owner.heard.empty(); }));
    EXPECT_EQ (owner.heard, (std::vector<std::string> { "detached" }));
    EXPECT_EQ (ctrl.state.load(), HidCtrl::Disconnected);

    // Nothing is sent any more; only a later arrival finds the other device.
    EXPECT_FALSE (ctrl.write (report, 64));
    EXPECT_EQ (device.writeCount(), 1);

    device.post (HID_MSG_ARRIVED, 2);
    ASSERT_TRUE (pumpUntil ([&] { return owner.heard.size() == 2; }));
    EXPECT_EQ (owner.heard[1], "attached");
    EXPECT_EQ (owner.versions[1], 102);
}

TEST_F (HidCtrlLink, WriteWhileDisconnectedSendsNothing)
{
    ASSERT_TRUE (openAsKrv7000());
    const std::uint8_t report[64] = { 0xF2 };
    EXPECT_FALSE (ctrl.write (report, 64));
    EXPECT_EQ (device.writeCount(), 0);
    EXPECT_EQ (ctrl.state.load(), HidCtrl::Disconnected);
}

TEST_F (HidCtrlLink, FailedLibraryWriteReturnsFalseAndStaysWritten)
{
    device.plugIn (1, krv7000, 101, false);
    ASSERT_TRUE (openAsKrv7000());
    device.onWrite ([] (int, const ScriptedDevice::Report&) { return 0; });

    const std::uint8_t report[64] = { 0xF0 };
    EXPECT_FALSE (ctrl.write (report, 64));
    EXPECT_EQ (ctrl.state.load(), HidCtrl::Written);
    EXPECT_EQ (device.writeCount(), 1);
}

TEST_F (HidCtrlLink, ModelIndexZeroSeeksTypeZeroAndAsksItsVersion)
{
    device.plugIn (1, krv7000, 101, false);
    device.plugIn (2, 0, 55, false);

    ASSERT_TRUE (ctrl.open (&owner, 0));
    EXPECT_EQ (ctrl.util->getHidNumber(), 2) << "a KRV-7000 is not the family's type 0";
    EXPECT_EQ (device.versionTypeAsked(), 0);
    EXPECT_EQ (ctrl.firmwareVersion, 55);
}

TEST_F (HidCtrlLink, SecondLinkIsRefusedAndLeavesTheFirstRunning)
{
    device.plugIn (1, krv7000, 101, false);
    ASSERT_TRUE (openAsKrv7000());
    auto* first = HidUtil::getActiveInstance();
    ASSERT_NE (first, nullptr);

    {
        HidUtil second;
        EXPECT_FALSE (second.start (&owner, 1));
        EXPECT_EQ (HidUtil::getActiveInstance(), first);
    } // its destructor stops it: that must not stop the first

    RecordingOwner otherOwner { ctrl };
    HidCtrl other;
    EXPECT_FALSE (other.open (&otherOwner, 1));
    EXPECT_EQ (other.util, nullptr);
    EXPECT_EQ (other.state.load(), HidCtrl::Disconnected);
    const std::uint8_t report[64] = { 0xF4 };
    EXPECT_FALSE (other.write (report, 64));
    other.close();
    other.close();

    EXPECT_EQ (HidUtil::getActiveInstance(), first);
    EXPECT_TRUE (device.isStarted());
    device.sendInput (1, reportOf ({ 0x31 }));
    ASSERT_TRUE (pumpUntil ([&] { return ! owner.heard.empty(); }));
    EXPECT_EQ (owner.heard, (std::vector<std::string> { "input" }));
    EXPECT_TRUE (otherOwner.heard.empty());
}

TEST_F (HidCtrlLink, LibraryLackingAFunctionLeavesTheLinkDisconnectedAndSilent)
{
    device.plugIn (1, krv7000, 101, false);
    auto partial = device.api;
    partial.write = nullptr;
    DeviceLibrary::useInstead (&partial);

    EXPECT_FALSE (openAsKrv7000());
    EXPECT_EQ (ctrl.state.load(), HidCtrl::Disconnected);
    EXPECT_EQ (ctrl.util, nullptr);
    EXPECT_EQ (HidUtil::getActiveInstance(), nullptr);
    EXPECT_TRUE (device.calls().empty()) << "no function of an incomplete library is called";

    device.post (HID_MSG_ARRIVED, 1);
    pumpFor (20);
    EXPECT_TRUE (owner.heard.empty());
    ctrl.close();
}

// --- every copy of input stays within 256 bytes -------------------------------------

TEST_F (HidCtrlLink, ReportedCountsOutsideTheBufferAreBounded)
{
    device.plugIn (1, krv7000, 101, false);
    ASSERT_TRUE (openAsKrv7000());

    ScriptedDevice::Report big (300, 0xAB);
    device.sendInputClaiming (1, big, 300);
    ASSERT_TRUE (pumpUntil ([&] { return owner.heard.size() == 1; }));
    EXPECT_EQ (owner.lengths[0], 256);
    EXPECT_EQ (ctrl.inputBuffer[255], 0xAB);

    device.sendInputClaiming (1, reportOf ({ 1, 2, 3 }), 1 << 30);
    ASSERT_TRUE (pumpUntil ([&] { return owner.heard.size() == 2; }));
    EXPECT_EQ (owner.lengths[1], 256);

    device.sendInputClaiming (1, reportOf ({ 1, 2, 3 }), -7);
    ASSERT_TRUE (pumpUntil ([&] { return owner.heard.size() == 3; }));
    EXPECT_EQ (owner.lengths[2], 0);

    device.sendInputClaiming (1, reportOf ({ 1, 2, 3 }), INT32_MIN);
    ASSERT_TRUE (pumpUntil ([&] { return owner.heard.size() == 4; }));
    EXPECT_EQ (owner.lengths[3], 0);
}

TEST_F (HidCtrlLink, OversizedCountAtOpenAndOnHandOverIsBounded)
{
    device.plugIn (1, krv7000, 101, false);
    device.plugIn (2, krv7000, 102, false);
    device.sendInputClaiming (1, ScriptedDevice::Report (64, 0x11), 100000);
    ASSERT_TRUE (openAsKrv7000());
    EXPECT_EQ (ctrl.inputLength, 256);

    device.sendInputClaiming (2, ScriptedDevice::Report (64, 0x22), -1000);
    pumpFor (10); // the input for device 2 is ignored while 1 is current, its report stays queued
    device.unplug (1);
    ASSERT_TRUE (pumpUntil ([&] { return owner.heard.size() == 1 && owner.heard[0] == "attached"; }));
    EXPECT_EQ (ctrl.inputLength, 0) << "a negative count from the first read after a hand-over";
}

TEST_F (HidCtrlLink, ShorterInputKeepsTheRestOfTheBuffer)
{
    device.plugIn (1, krv7000, 101, false);
    ASSERT_TRUE (openAsKrv7000());

    device.sendInput (1, ScriptedDevice::Report (64, 0xEE));
    ASSERT_TRUE (pumpUntil ([&] { return owner.heard.size() == 1; }));
    device.sendInput (1, reportOf ({ 0xF6, 0x01 }));
    ASSERT_TRUE (pumpUntil ([&] { return owner.heard.size() == 2; }));

    EXPECT_EQ (ctrl.inputLength, 2);
    EXPECT_EQ (ctrl.inputBuffer[0], 0xF6);
    EXPECT_EQ (ctrl.inputBuffer[1], 0x01);
    EXPECT_EQ (ctrl.inputBuffer[2], 0xEE);
    EXPECT_EQ (ctrl.inputBuffer[63], 0xEE);
    EXPECT_EQ (ctrl.inputBuffer[64], 0x00);
}
