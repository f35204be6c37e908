#pragma once

#include "DeviceMatch.h"

#include <optional>
#include <vector>

namespace fwbridge
{
/** The HID numbers handed out for the matching devices. A device keeps its number for as
    long as it stays listed; a device that comes (or comes back) gets a number not used
    before, so a late message about an old number never reaches a new device.
*/
class HidNumberTable
{
public:
    struct Entry
    {
        int number = -1;
        HidDeviceInfo info;
        int type = -1;
        int version = 0;
    };

    struct Changes
    {
        std::vector<Entry> arrived;
        std::vector<Entry> removed;
    };

    /** Brings the table in line with the matching devices present now. */
    Changes update (const std::vector<HidDeviceInfo>& present);

    /** In the order the devices arrived. */
    const std::vector<Entry>& entries() const noexcept { return list; }

    const Entry* find (int number) const noexcept;

    /** Drops a device as if it had left; the same device listed again is then new. */
    std::optional<Entry> forget (int number);

    /** Writes at most capacity numbers, oldest first; returns how many. */
    int listNumbers (int* numbers, int capacity) const noexcept;

    /** The first listed device of that type, or null. */
    const Entry* firstOfType (int type) const noexcept;

private:
    static bool sameDevice (const HidDeviceInfo& a, const HidDeviceInfo& b) noexcept;
    int takeNumber() noexcept;

    std::vector<Entry> list;
    int nextNumber = 0;
};
} // namespace fwbridge
