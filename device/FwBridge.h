/* The C interface of the device library (fwbridge.dll on Windows, libfwbridge.so
   elsewhere). Integers are 32-bit. A library delivers its window messages by calling
   PostMessageA (window, message, hidNumber, 0), from any thread: the system's own on
   Windows, the one the executable exports elsewhere.

   On Windows the functions are called as __stdcall (the convention of the Windows API). A
   library exports them under their plain names ("HID_Write") or, as MinGW and MSVC link a
   32-bit __stdcall DLL without --kill-at or a .def file, as "HID_Write@12" or
   "_HID_Write@12". A plain name does not tell __stdcall from __cdecl (MSVC exports
   extern "C" __cdecl functions under plain names), so on 32-bit Windows plain names are
   called through stubs that keep the stack right for either (platform/CallStubs.h).
   Other names ("_HID_Write") are reported on the debug output and not used. On 64-bit
   Windows there is one convention. */
#pragma once

#include "platform/LibraryCall.h"

extern "C"
{
enum
{
    HID_MSG_REMOVED = 0x0401, /* WM_USER + 1 */
    HID_MSG_ARRIVED = 0x0402, /* WM_USER + 2 */
    HID_MSG_INPUT = 0x0403,   /* WM_USER + 3 */

    HID_MAX_DEVICES = 128,
    HID_INPUT_CAPACITY = 256,
    HID_TYPE_KRV7000 = 7
};

typedef int (FWBRIDGE_CALL* HID_Initialize_t) (void* instance);
typedef int (FWBRIDGE_CALL* HID_SetCallback_t) (void* window, unsigned inputMessage, unsigned arrivalMessage, unsigned removalMessage);
typedef int (FWBRIDGE_CALL* HID_Start_t) (void);
typedef int (FWBRIDGE_CALL* HID_Stop_t) (void);
typedef int (FWBRIDGE_CALL* HID_Finalize_t) (void);
typedef int (FWBRIDGE_CALL* HID_EnumHIDno_t) (int* numbers /* 128 */);
typedef int (FWBRIDGE_CALL* HID_GetDeviceType_t) (int hidNumber);
typedef int (FWBRIDGE_CALL* HID_GetFirmwareVersion_t) (int typeCode, int* version /* 2 */, int count);
typedef int (FWBRIDGE_CALL* HID_Input_t) (int hidNumber, unsigned char* buffer /* 256 */, int* length);
typedef int (FWBRIDGE_CALL* HID_Write_t) (int hidNumber, const unsigned char* data, int length);

/* Declarations for the libraries that implement the interface. */
FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_Initialize (void* instance);
FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_SetCallback (void* window, unsigned inputMessage, unsigned arrivalMessage, unsigned removalMessage);
FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_Start (void);
FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_Stop (void);
FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_Finalize (void);
FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_EnumHIDno (int* numbers);
FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_GetDeviceType (int hidNumber);
FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_GetFirmwareVersion (int typeCode, int* version, int count);
FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_Input (int hidNumber, unsigned char* buffer, int* length);
FWBRIDGE_EXPORT int FWBRIDGE_CALL HID_Write (int hidNumber, const unsigned char* data, int length);
}
