/* How the device library's functions are called and exported: with the Windows API's
   convention (__stdcall) on Windows, with the system's default elsewhere. */
#pragma once

#if defined(_WIN32)
 #define FWBRIDGE_CALL __stdcall
 #define FWBRIDGE_EXPORT __declspec(dllexport)
#else
 #define FWBRIDGE_CALL
 #define FWBRIDGE_EXPORT __attribute__ ((visibility ("default")))
#endif
