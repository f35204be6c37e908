#include "device/HidCtrl.h"

#include "device/HidUtil.h"

#include <algorithm>
#include <cstring>

namespace
{
// Libraries may report any count; nothing beyond the buffer is ever copied.
int clampCount (int count, int capacity) noexcept
{
    return std::clamp (count, 0, capacity);
}
} // namespace

HidCtrl::~HidCtrl()
{
    close();
}

bool HidCtrl::open (HidHandler* newOwner, int modelIndex)
{
    owner = newOwner;
    util = new HidUtil();
    state.store (Disconnected);
    firmwareVersion = 0;
    inputLength = 0;
    std::memset (inputBuffer, 0, sizeof (inputBuffer));

    if (! util->start (this, modelIndex))
    {
        close();
        return false;
    }

    state.store (isConnected() ? Connected : Disconnected);

    if (state.load() == Connected)
    {
        firmwareVersion = readFirmwareVersion();
        inputLength = readInput (inputBuffer, sizeof (inputBuffer));
    }

    return true;
}

void HidCtrl::close()
{
    owner = nullptr;

    if (util != nullptr)
    {
        util->stop();
        delete util;
        util = nullptr;
    }
}

bool HidCtrl::write (const std::uint8_t* data, int length)
{
    int expected = state.load();
    do
    {
        if (expected == Disconnected)
            return false;
    } while (! state.compare_exchange_weak (expected, Written));

    return writeRaw (data, length);
}

bool HidCtrl::isConnected()
{
    return util != nullptr && util->lookup();
}

int HidCtrl::readFirmwareVersion()
{
    return util != nullptr ? util->readFirmwareVersion() : 0;
}

int HidCtrl::readInput (std::uint8_t* buffer, int capacity)
{
    if (buffer == nullptr || capacity == 0)
        return 0;

    std::memset (buffer, 0, (size_t) capacity);
    return util != nullptr ? clampCount (util->readInput (buffer, capacity), capacity) : 0;
}

bool HidCtrl::writeRaw (const std::uint8_t* data, int length)
{
    return util != nullptr && util->write (data, length);
}

void HidCtrl::deviceDetached()
{
    // The state is settled before another device's number is taken: a write of the worker
    // either won (Written: the removal is final) or finds the link Disconnected while the
    // next device is looked up, and so can never reach that device by accident.
    int expected = Connected;
    if (state.compare_exchange_strong (expected, Disconnected))
    {
        if (isConnected())
            state.store (Connected);
    }
    else
    {
        if (util != nullptr)
            util->release();
        state.store (Disconnected);
    }

    if (state.load() == Connected)
    {
        firmwareVersion = readFirmwareVersion();
        inputLength = readInput (inputBuffer, sizeof (inputBuffer));
        if (owner != nullptr)
            owner->deviceAttached();
    }
    else
    {
        firmwareVersion = 0;
        std::memset (inputBuffer, 0, sizeof (inputBuffer));
        inputLength = 0;
        if (owner != nullptr)
            owner->deviceDetached();
    }
}

void HidCtrl::deviceAttached()
{
    state.store (Connected);
    firmwareVersion = readFirmwareVersion();
    inputLength = readInput (inputBuffer, sizeof (inputBuffer));
    if (owner != nullptr)
        owner->deviceAttached();
}

void HidCtrl::inputReceived()
{
    std::uint8_t scratch[256] {};
    const int count = readInput (scratch, sizeof (scratch));
    std::memcpy (inputBuffer, scratch, (size_t) count);
    inputLength = count;
    if (owner != nullptr)
        owner->inputReceived();
}
