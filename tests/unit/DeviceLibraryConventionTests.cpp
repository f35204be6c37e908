// A fwbridge.dll built with the other export names (Windows only: there a 32-bit
// __stdcall DLL linked without --kill-at exports HID_Write@12).
#include "device/DeviceLibrary.h"
#include "platform/ExecutableFile.h"

#include <gtest/gtest.h>

TEST (DeviceLibraryConvention, DecoratedNamesAreNamedInTheOneLineAndNeverCalled)
{
    FwBridgeApi api;
    juce::String problem;

    // Its functions abort when called: loading must not call any.
    EXPECT_FALSE (DeviceLibrary::load ({ KRV_MISNAMED_LIBRARY }, api, problem));
    EXPECT_FALSE (api.isComplete());
    EXPECT_EQ (api.write, nullptr);
    EXPECT_TRUE (problem.startsWith ("device library: fwbridge.dll lacks HID_Initialize")) << problem;
    EXPECT_TRUE (problem.contains (KRV_MISNAMED_EXAMPLE)) << problem;
    EXPECT_TRUE (problem.contains ("HID_SetCallback@16")) << problem;
    EXPECT_TRUE (problem.contains ("(decorated __stdcall names)")) << problem;
    EXPECT_TRUE (problem.contains ("must export undecorated __stdcall names")) << problem;
    EXPECT_FALSE (problem.containsChar ('\n'));
}

TEST (DeviceLibraryConvention, SimulatedLibraryExportsThePlainNames)
{
    FwBridgeApi api;
    juce::String problem;

    ASSERT_TRUE (DeviceLibrary::load ({ KRV_SIM_LIBRARY }, api, problem)) << problem;
    EXPECT_TRUE (api.isComplete());
}

TEST (DeviceLibraryConvention, OnlyTheFileBesideTheExecutableIsTried)
{
    // Never a bare name: Windows would look in the working folder and on PATH for it.
    const auto beside = ExecutableFile::get().getSiblingFile (DeviceLibrary::fileName()).getFullPathName();
    EXPECT_EQ (DeviceLibrary::defaultCandidates(), juce::StringArray { beside });
}
