// Loading the device library by file name, like a DLL beside an .exe.
#include "device/DeviceLibrary.h"

#include <gtest/gtest.h>

TEST (DeviceLibraryLoad, LooksBesideTheExecutableThenOnTheLibraryPath)
{
    const auto candidates = DeviceLibrary::defaultCandidates();
    ASSERT_EQ (candidates.size(), 2);
    const auto executable = juce::File::getSpecialLocation (juce::File::currentExecutableFile);
    EXPECT_EQ (candidates[0], executable.getSiblingFile (DeviceLibrary::fileName()).getFullPathName());
    EXPECT_EQ (candidates[1], DeviceLibrary::fileName());
}

TEST (DeviceLibraryLoad, MissingLibraryFailsWithOneLineNamingIt)
{
    FwBridgeApi api;
    api.start = reinterpret_cast<HID_Start_t> (1); // must be cleared
    juce::String problem;

    EXPECT_FALSE (DeviceLibrary::load ({ "/nonexistent/folder/libfwbridge.so", "libfwbridge-not-installed.so" }, api, problem));
    EXPECT_EQ (api.start, nullptr);
    EXPECT_FALSE (api.isComplete());
    EXPECT_TRUE (problem.startsWith (juce::String ("device library: ") + DeviceLibrary::fileName())) << problem;
    EXPECT_TRUE (problem.contains ("/nonexistent/folder/libfwbridge.so")) << problem;
    EXPECT_TRUE (problem.contains ("libfwbridge-not-installed.so")) << problem;
    EXPECT_FALSE (problem.containsChar ('\n'));
}

TEST (DeviceLibraryLoad, LibraryLackingAFunctionFailsAndNamesIt)
{
    FwBridgeApi api;
    juce::String problem;

    EXPECT_FALSE (DeviceLibrary::load ({ KRV_PARTIAL_LIBRARY }, api, problem));
    EXPECT_FALSE (api.isComplete());
    EXPECT_EQ (api.input, nullptr) << "nothing of an incomplete library is kept";
    EXPECT_TRUE (problem.contains ("lacks HID_Write")) << problem;
    EXPECT_FALSE (problem.contains ("HID_Input")) << problem;
}

TEST (DeviceLibraryLoad, FirstCandidateThatOpensIsUsed)
{
    FwBridgeApi api;
    juce::String problem;

    ASSERT_TRUE (DeviceLibrary::load ({ "/nonexistent/folder/libfwbridge.so", KRV_SIM_LIBRARY }, api, problem)) << problem;
    EXPECT_TRUE (api.isComplete());
    EXPECT_EQ (api.getDeviceType (-5), -1);
}

TEST (DeviceLibraryLoad, LoadsFromAFolderWhoseNameHasBlanksAndNonAsciiLetters)
{
    const auto folder = juce::File::createTempFile ({}).getSiblingFile (juce::String (juce::CharPointer_UTF8 ("krv J\xc3\xbcrgen \xc3\xa9t\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac")));
    ASSERT_TRUE (folder.createDirectory());
    const auto copy = folder.getChildFile (DeviceLibrary::fileName());
    ASSERT_TRUE (juce::File (KRV_SIM_LIBRARY).copyFileTo (copy));

    FwBridgeApi api;
    juce::String problem;
    EXPECT_TRUE (DeviceLibrary::load ({ copy.getFullPathName() }, api, problem)) << problem;
    EXPECT_TRUE (api.isComplete());

    // A loaded library stays loaded: Windows keeps its file until the process ends.
    folder.deleteRecursively();
}
