#pragma once

/** News of the device travels upwards through this interface: from HidUtil to HidCtrl,
    and from HidCtrl to its owner. Always called on the message thread.
*/
class HidHandler
{
public:
    virtual void deviceDetached() = 0;
    virtual void deviceAttached() = 0;
    virtual void inputReceived() = 0;

protected:
    ~HidHandler() = default; // never deleted through this interface
};
