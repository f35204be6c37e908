#include "MessageTarget.h"

/** The host's window-message entry point: on Windows the system's own (__stdcall, whatever
    the library's own convention); elsewhere the executable exports it, and a library that is
    loaded by the host finds it when it is opened. Declared here only, so that files seeing
    windows.h may use this class.
*/
extern "C" int FWBRIDGE_SYSTEM_CALL PostMessageA (void* window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

namespace fwbridge
{
MessageTarget::PostFunction MessageTarget::hostPostMessage()
{
    return &PostMessageA;
}

void MessageTarget::setWindow (void* newWindow, unsigned inputMessage, unsigned arrivalMessage, unsigned removalMessage)
{
    std::lock_guard<std::mutex> guard (lock);
    window = newWindow;
    messages[(int) Event::input] = inputMessage;
    messages[(int) Event::arrival] = arrivalMessage;
    messages[(int) Event::removal] = removalMessage;
}

void MessageTarget::enable (bool shouldPost)
{
    std::lock_guard<std::mutex> guard (lock);
    enabled = shouldPost;
}

bool MessageTarget::isActive() const
{
    std::lock_guard<std::mutex> guard (lock);
    return enabled && window != nullptr;
}

bool MessageTarget::post (Event event, int hidNumber)
{
    // Posting under the lock is what lets setWindow (null) promise silence afterwards.
    std::lock_guard<std::mutex> guard (lock);
    if (! enabled || window == nullptr || poster == nullptr)
        return false;

    return poster (window, messages[(int) event], static_cast<std::uintptr_t> (hidNumber), 0) != 0;
}
} // namespace fwbridge
