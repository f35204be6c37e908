// Device libraries built with other export names or conventions (Windows only: there a
// 32-bit __stdcall DLL exports HID_Write@12 when MinGW links it without --kill-at,
// _HID_Write@12 when MSVC links it without a .def file, and a __cdecl one plain names).
#include "TraceCapture.h"
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

// Where the caller's stack pointer stands, as a function it calls sees it (noipa: else GCC
// takes two calls for the same value).
[[gnu::noipa]] static const void* callersStack()
{
    return __builtin_frame_address (0);
}

TEST (DeviceLibraryConvention, PlainNamesKeepTheStackWhicheverConventionTheLibraryHas)
{
    // The simulated controller built __stdcall and __cdecl, loaded side by side. Called as
    // __stdcall, each call of the 32-bit __cdecl one would leave its arguments behind.
    const char* const libraries[] = { KRV_SIM_LIBRARY, KRV_SIM_CDECL_LIBRARY };
    const bool twoConventions = sizeof (void*) == 4;
    FwBridgeApi apis[2];

    for (int i = 0; i < 2; ++i)
    {
        SCOPED_TRACE (libraries[i]);
        juce::String problem;
        TraceCapture capture;
        ASSERT_TRUE (DeviceLibrary::load ({ libraries[i] }, apis[i], problem)) << problem;
        const auto lines = TraceCapture::lines (capture.finish());

        // Where one convention is all there is, plain names are nothing to note.
        EXPECT_EQ (lines.size(), twoConventions ? 1u : 0u);
        if (twoConventions && ! lines.empty())
        {
            EXPECT_EQ (lines[0].rfind ("device library: fwbridge.dll exports plain names (HID_Initialize, ", 0), 0u) << lines[0];
            EXPECT_NE (lines[0].find (", HID_Write), called through stubs that restore the stack after __stdcall and __cdecl"), std::string::npos) << lines[0];
        }
    }

    for (const auto& api : apis)
        EXPECT_EQ (DeviceLibrary::conventionNote (api), juce::String()) << "nothing called yet";

    const auto* before = callersStack();
    int version[2] = {};
    for (int call = 0; call < 1000; ++call)
    {
        for (const auto& api : apis)
        {
            ASSERT_EQ (api.getDeviceType (-5), -1);
            ASSERT_EQ (api.getFirmwareVersion (HID_TYPE_KRV7000, version, 0), 0);
        }
    }
    EXPECT_EQ (callersStack(), before);

    // What the calls showed, in the one line the updater writes after its first calls.
    const char* const notes[] = { "are __stdcall: HID_GetDeviceType and HID_GetFirmwareVersion popped their own arguments",
                                  "are __cdecl: HID_GetDeviceType and HID_GetFirmwareVersion left their arguments to the caller" };
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ (DeviceLibrary::conventionNote (apis[i]),
                   twoConventions ? juce::String ("device library: fwbridge.dll's functions ") + notes[i] : juce::String());
}

TEST (DeviceLibraryConvention, OnlyTheFileBesideTheExecutableIsTried)
{
    // Never a bare name: Windows would look in the working folder and on PATH for it.
    const auto beside = ExecutableFile::get().getSiblingFile (DeviceLibrary::fileName()).getFullPathName();
    EXPECT_EQ (DeviceLibrary::defaultCandidates(), juce::StringArray { beside });
}
