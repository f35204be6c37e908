// Device libraries built with other export names (Windows only: there a 32-bit __stdcall
// DLL exports HID_Write@12 when MinGW links it without --kill-at, _HID_Write@12 when MSVC
// links it without a .def file).
#include "device/DeviceLibrary.h"
#include "platform/ExecutableFile.h"

#include <gtest/gtest.h>

TEST (DeviceLibraryConvention, DecoratedStdcallNamesAreTakenOthersNamedAndNoneCalled)
{
    struct Case
    {
        const char* library;
        bool loads;
        const char* example; // in the one line of a library that is refused
    };
    const Case cases[] = {
        { KRV_DECORATED_LIBRARY, true, nullptr },
        { KRV_MSVC_DECORATED_LIBRARY, true, nullptr },
        { KRV_CDECL_DECORATED_LIBRARY, false, "_HID_Write" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.library);
        FwBridgeApi api;
        juce::String problem;

        // Their functions abort when called: loading must not call any.
        EXPECT_EQ (DeviceLibrary::load ({ c.library }, api, problem), c.loads) << problem;
        EXPECT_EQ (api.isComplete(), c.loads);
        if (c.loads)
            continue;

        EXPECT_EQ (api.write, nullptr);
        EXPECT_TRUE (problem.startsWith ("device library: fwbridge.dll lacks HID_Initialize")) << problem;
        EXPECT_TRUE (problem.contains (c.example)) << problem;
        EXPECT_TRUE (problem.contains ("(__cdecl names)")) << problem;
        EXPECT_FALSE (problem.containsChar ('\n'));
    }
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
