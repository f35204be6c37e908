// The Windows calls the updater makes: the real API on Windows; on Linux our stand-ins
// (platform/linux/), which implement them on JUCE's message loop and the dynamic loader.
#pragma once

#if defined(_WIN32)
 #ifndef WIN32_LEAN_AND_MEAN
  #define WIN32_LEAN_AND_MEAN
 #endif
 #ifndef NOMINMAX
  #define NOMINMAX
 #endif
 #include <windows.h>
#else
 #include "platform/linux/Win32StandIns.h"
#endif
