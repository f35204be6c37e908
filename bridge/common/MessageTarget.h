#pragma once

#include "device/FwBridge.h"

#include <cstdint>
#include <mutex>

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

    /** By default through the host's PostMessageA. */
    explicit MessageTarget (PostFunction postFunction = hostPostMessage()) : poster (postFunction) {}

    static PostFunction hostPostMessage();

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
