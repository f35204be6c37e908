/* How the device library's functions are called and exported: with the Windows API's
   convention (__stdcall) on Windows, with the system's default elsewhere. A library may be
   built with another one by defining FWBRIDGE_CALL (the __cdecl test controller is); the
   system's functions it calls keep FWBRIDGE_SYSTEM_CALL. */
#pragma once

#if defined(_WIN32)
 #define FWBRIDGE_SYSTEM_CALL __stdcall
 #define FWBRIDGE_DEFAULT_EXPORT __declspec(dllexport)
#else
 #define FWBRIDGE_SYSTEM_CALL
 #define FWBRIDGE_DEFAULT_EXPORT __attribute__ ((visibility ("default")))
#endif

// Defined empty where a .def file names the exports.
#ifndef FWBRIDGE_EXPORT
 #define FWBRIDGE_EXPORT FWBRIDGE_DEFAULT_EXPORT
#endif

#ifndef FWBRIDGE_CALL
 #define FWBRIDGE_CALL FWBRIDGE_SYSTEM_CALL
#endif
