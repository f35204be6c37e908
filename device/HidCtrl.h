#pragma once

#include "device/HidHandler.h"

#include <atomic>
#include <cstdint>

class HidUtil;

/** The device link the rest of the tool uses: finds the one controller, follows its
    arrival and removal, reads its version and input reports, and writes reports.
*/
class HidCtrl : public HidHandler
{
public:
    enum ConnectionState : int
    {
        Disconnected = 0,
        Connected = 1,
        Written = 2 // removal is now final: no other device takes over
    };

    HidCtrl() = default;
    virtual ~HidCtrl();

    void deviceDetached() override;
    void deviceAttached() override;
    void inputReceived() override;

    bool open (HidHandler* owner, int modelIndex);
    void close();
    bool write (const std::uint8_t* data, int length); // worker thread

    HidHandler* owner = nullptr;
    HidUtil* util = nullptr;
    std::atomic<int> state { Disconnected };
    int firmwareVersion = 0;
    std::uint8_t inputBuffer[256] {};
    int inputLength = 0;

private:
    bool isConnected();
    int readFirmwareVersion();
    int readInput (std::uint8_t* buffer, int capacity);
    bool writeRaw (const std::uint8_t* data, int length);

    HidCtrl (const HidCtrl&) = delete;
    HidCtrl& operator= (const HidCtrl&) = delete;
};
