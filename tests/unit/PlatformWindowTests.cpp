#include "platform/Win32.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace
{
struct Received
{
    HWND window;
    UINT message;
    WPARAM wParam;
    bool onMessageThread;
};

std::vector<Received>& received()
{
    static std::vector<Received> list;
    return list;
}

LRESULT CALLBACK recordingProcedure (HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    received().push_back ({ window, message, wParam, juce::MessageManager::getInstance()->isThisTheMessageThread() });
    return DefWindowProcA (window, message, wParam, lParam);
}

class HiddenWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        received().clear();
        WNDCLASSA windowClass {};
        windowClass.lpfnWndProc = recordingProcedure;
        windowClass.hInstance = GetModuleHandleA (nullptr);
        windowClass.lpszClassName = "TEST_WINDOW_CLASS";
        ASSERT_NE (RegisterClassA (&windowClass), 0);
        window = CreateWindowExA (0, "TEST_WINDOW_CLASS", "TEST_WINDOW_CLASS", WS_OVERLAPPEDWINDOW | WS_DISABLED,
                                  0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA (nullptr), nullptr);
        ASSERT_NE (window, nullptr);
    }

    void TearDown() override
    {
        DestroyWindow (window);
        UnregisterClassA ("TEST_WINDOW_CLASS", GetModuleHandleA (nullptr));
        testsupport::pumpFor (20);
    }

    HWND window = nullptr;
};
} // namespace

TEST_F (HiddenWindow, MessagesFromOtherThreadsRunOnTheMessageThreadInPostingOrder)
{
    std::thread poster ([this] {
        for (WPARAM i = 0; i < 200; ++i)
            EXPECT_NE (PostMessageA (window, WM_USER + 3, i, 0), 0);
    });
    poster.join();

    ASSERT_TRUE (testsupport::pumpUntil ([] { return received().size() == 200; }));
    for (size_t i = 0; i < received().size(); ++i)
    {
        EXPECT_EQ (received()[i].wParam, i);
        EXPECT_EQ (received()[i].message, WM_USER + 3);
        EXPECT_TRUE (received()[i].onMessageThread);
    }
}

TEST_F (HiddenWindow, MessagesToWindowsThatDoNotExistAreDropped)
{
    EXPECT_EQ (PostMessageA (nullptr, WM_USER + 1, 1, 0), 0);
    EXPECT_EQ (PostMessageA (reinterpret_cast<HWND> (0x12345), WM_USER + 1, 1, 0), 0);

    // Queued before the window goes: dropped on delivery, not delivered to a dead window.
    EXPECT_NE (PostMessageA (window, WM_USER + 1, 7, 0), 0);
    ASSERT_NE (DestroyWindow (window), 0);
    EXPECT_EQ (PostMessageA (window, WM_USER + 1, 8, 0), 0);
    testsupport::pumpFor (50);
    EXPECT_TRUE (received().empty());
}

TEST_F (HiddenWindow, PostingWhileTheWindowIsDestroyedNeverCrashes)
{
    std::atomic<bool> stop { false };
    std::atomic<int> accepted { 0 };
    std::vector<std::thread> posters;
    for (int t = 0; t < 3; ++t)
        posters.emplace_back ([&, this] {
            // Bounded: JUCE's queue is not meant for floods.
            for (int i = 0; i < 3000 && ! stop; ++i)
            {
                accepted += PostMessageA (window, WM_USER + 3, 1, 0);
                if (i % 64 == 0)
                    std::this_thread::yield();
            }
        });

    testsupport::pumpUntil ([] { return received().size() > 100; });
    DestroyWindow (window);
    const auto deliveredBefore = received().size();
    stop = true;
    for (auto& p : posters)
        p.join();

    testsupport::pumpFor (100);
    EXPECT_GT (accepted.load(), 0);
    // Nothing reaches the procedure once the window is gone.
    EXPECT_EQ (received().size(), deliveredBefore);
}

TEST (PlatformWindows, ClassesAndWindowsFollowTheirRegistration)
{
    WNDCLASSA windowClass {};
    windowClass.lpfnWndProc = recordingProcedure;
    windowClass.lpszClassName = "ONCE_CLASS";
    EXPECT_NE (RegisterClassA (&windowClass), 0);
    EXPECT_EQ (RegisterClassA (&windowClass), 0); // registered already

    EXPECT_EQ (CreateWindowExA (0, "NO_SUCH_CLASS", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);

    auto first = CreateWindowExA (0, "ONCE_CLASS", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE (first, nullptr);
    DestroyWindow (first);
    auto second = CreateWindowExA (0, "ONCE_CLASS", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE (first, second); // a stale handle never reaches a newer window
    EXPECT_EQ (DestroyWindow (first), 0);
    EXPECT_NE (DestroyWindow (second), 0);
    EXPECT_NE (UnregisterClassA ("ONCE_CLASS", nullptr), 0);
    EXPECT_EQ (UnregisterClassA ("ONCE_CLASS", nullptr), 0);
}

TEST (PlatformDebugOutput, WritesTheTextUnchangedToStandardError)
{
    ::testing::internal::CaptureStderr();
    OutputDebugStringA ("Skip to update 3.\n");
    OutputDebugStringA ("no newline, % signs %d kept");
    OutputDebugStringA (nullptr);
    EXPECT_EQ (::testing::internal::GetCapturedStderr(), "Skip to update 3.\nno newline, % signs %d kept");
}
