#include "HidNumberTable.h"

#include <algorithm>
#include <climits>

namespace fwbridge
{
bool HidNumberTable::sameDevice (const HidDeviceInfo& a, const HidDeviceInfo& b) noexcept
{
    // A node path can be reused at once by a device that re-enumerates (after an update,
    // with a new release number): that is a new device.
    return a.path == b.path && a.vendorId == b.vendorId && a.productId == b.productId
           && a.releaseNumber == b.releaseNumber && a.serialNumber == b.serialNumber;
}

int HidNumberTable::takeNumber() noexcept
{
    for (;;)
    {
        const int candidate = nextNumber;
        nextNumber = nextNumber == INT_MAX ? 0 : nextNumber + 1;
        if (find (candidate) == nullptr)
            return candidate;
    }
}

HidNumberTable::Changes HidNumberTable::update (const std::vector<HidDeviceInfo>& present)
{
    Changes changes;

    for (auto it = list.begin(); it != list.end();)
    {
        const bool stillThere = std::any_of (present.begin(), present.end(),
                                             [&] (const HidDeviceInfo& d) { return sameDevice (d, it->info); });
        if (stillThere)
        {
            ++it;
            continue;
        }
        changes.removed.push_back (*it);
        it = list.erase (it);
    }

    for (const auto& device : present)
    {
        const int type = deviceTypeFor (device);
        if (type < 0)
            continue;

        const bool known = std::any_of (list.begin(), list.end(),
                                        [&] (const Entry& e) { return sameDevice (e.info, device); });
        if (known)
            continue;

        Entry entry;
        entry.number = takeNumber();
        entry.info = device;
        entry.type = type;
        entry.version = firmwareVersionFromBcd (device.releaseNumber);
        list.push_back (entry);
        changes.arrived.push_back (entry);
    }

    return changes;
}

const HidNumberTable::Entry* HidNumberTable::find (int number) const noexcept
{
    for (const auto& entry : list)
        if (entry.number == number)
            return &entry;
    return nullptr;
}

std::optional<HidNumberTable::Entry> HidNumberTable::forget (int number)
{
    for (auto it = list.begin(); it != list.end(); ++it)
        if (it->number == number)
        {
            auto entry = *it;
            list.erase (it);
            return entry;
        }
    return std::nullopt;
}

int HidNumberTable::listNumbers (int* numbers, int capacity) const noexcept
{
    if (numbers == nullptr || capacity <= 0)
        return 0;

    int count = 0;
    for (const auto& entry : list)
    {
        if (count >= capacity)
            break;
        numbers[count++] = entry.number;
    }
    return count;
}

const HidNumberTable::Entry* HidNumberTable::firstOfType (int type) const noexcept
{
    for (const auto& entry : list)
        if (entry.type == type)
            return &entry;
    return nullptr;
}
} // namespace fwbridge
