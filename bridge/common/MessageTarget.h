#pragma once

#include "device/FwBridge.h"

#include <cstdint>
#include <mutex>

/** The host's window-message entry point: on Windows the system's own (__stdcall, whatever
    the library's own convention); elsewhere the executable exports it, and a library that is
    loaded by the host finds it when it is opened.
*/
extern "C" int FWBRIDGE_SYSTEM_CALL PostMessageA (void* window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

namespace fwbridge
{
enum class Event
{
    input,
    arrival,
    removal
};

/** Where a library's messages go: the window and message numbers from HID_SetCallback.
    Messages flow only while enabled (HID_Start to HID_Stop) and a window is set. Once
    setWindow (null) or disable returns, no message is posted any more.
*/
class MessageTarget
{
public:
    using PostFunction = int (FWBRIDGE_SYSTEM_CALL*) (void*, unsigned, std::uintptr_t, std::intptr_t);

    explicit MessageTarget (PostFunction postFunction = &PostMessageA) : poster (postFunction) {}

    void setWindow (void* window, unsigned inputMessage, unsigned arrivalMessage, unsigned removalMessage);
    void enable (bool shouldPost);

    /** True when the message was handed to the host. */
    bool post (Event event, int hidNumber);

    bool isActive() const;

private:
    mutable std::mutex lock;
    PostFunction poster;
    void* window = nullptr;
    unsigned messages[3] {};
    bool enabled = false;
};
} // namespace fwbridge
