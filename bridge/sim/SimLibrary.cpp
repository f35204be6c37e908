// libfwbridge.so for the simulated KRV-7000: the device library's ten functions and the
// simulator's controls, all over the one Simulator.
#include "device/FwBridge.h"

#include "SimControl.h"
#include "Simulator.h"

using krvsim::Simulator;

extern "C"
{
int FWBRIDGE_CALL HID_Initialize (void*)
{
    Simulator::instance();
    return 1;
}

int FWBRIDGE_CALL HID_SetCallback (void* window, unsigned inputMessage, unsigned arrivalMessage, unsigned removalMessage)
{
    return Simulator::instance().setCallback (window, inputMessage, arrivalMessage, removalMessage);
}

int FWBRIDGE_CALL HID_Start (void)
{
    return Simulator::instance().start();
}

int FWBRIDGE_CALL HID_Stop (void)
{
    return Simulator::instance().stop();
}

int FWBRIDGE_CALL HID_Finalize (void)
{
    return Simulator::instance().stop();
}

int FWBRIDGE_CALL HID_EnumHIDno (int* numbers)
{
    return Simulator::instance().enumerate (numbers);
}

int FWBRIDGE_CALL HID_GetDeviceType (int hidNumber)
{
    return Simulator::instance().deviceType (hidNumber);
}

int FWBRIDGE_CALL HID_GetFirmwareVersion (int typeCode, int* version, int count)
{
    return Simulator::instance().firmwareVersion (typeCode, version, count);
}

int FWBRIDGE_CALL HID_Input (int hidNumber, unsigned char* buffer, int* length)
{
    return Simulator::instance().input (hidNumber, buffer, length);
}

int FWBRIDGE_CALL HID_Write (int hidNumber, const unsigned char* data, int length)
{
    return Simulator::instance().write (hidNumber, data, length);
}

int SIM_Attach (void)
{
    return Simulator::instance().attach();
}

int SIM_Detach (void)
{
    return Simulator::instance().detach();
}

int SIM_IsAttached (void)
{
    return Simulator::instance().isAttached() ? 1 : 0;
}

int SIM_GetHidNumber (void)
{
    return Simulator::instance().hidNumber();
}

void SIM_SetVersion (int version)
{
    Simulator::instance().setVersion (version);
}

int SIM_GetVersion (void)
{
    return Simulator::instance().getVersion();
}

int SIM_SetFault (const char* kind, const char* step)
{
    if (kind == nullptr)
        return 0;
    std::string line = std::string ("fault ") + kind;
    if (step != nullptr && *step != 0)
        line += std::string (" ") + step;
    std::string error;
    return Simulator::instance().command (line, error) ? 1 : 0;
}

void SIM_ClearFaults (void)
{
    Simulator::instance().clearFaults();
}

void SIM_SetAnswerDelay (int milliseconds)
{
    Simulator::instance().setAnswerDelay (milliseconds);
}

void SIM_SetStreaming (int on)
{
    Simulator::instance().setStreaming (on != 0);
}

void SIM_SetSynchronous (int on)
{
    Simulator::instance().setSynchronous (on != 0);
}

void SIM_SetFrameMode (int on)
{
    Simulator::instance().setFrameMode (on != 0);
}

int SIM_Command (const char* line)
{
    if (line == nullptr)
        return 0;
    std::string error;
    return Simulator::instance().command (line, error) ? 1 : 0;
}

int SIM_IsInUpdateMode (void)
{
    return Simulator::instance().isInUpdateMode() ? 1 : 0;
}

int SIM_GetWriteCount (void)
{
    return Simulator::instance().writeCount();
}

int SIM_GetUpdateCount (void)
{
    return Simulator::instance().updateCount();
}

int SIM_GetStoredRecord (int recordNumber, unsigned char* buffer, int capacity)
{
    return Simulator::instance().storedRecord (recordNumber, buffer, capacity);
}

int SIM_SetLogFile (const char* path)
{
    return Simulator::instance().setLogFile (path != nullptr ? path : "") ? 1 : 0;
}

void SIM_Reset (void)
{
    Simulator::instance().reset();
}
}
