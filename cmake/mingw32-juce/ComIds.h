/* Included first by JUCE's module files on 32-bit MinGW. JUCE 7.0.5 gives that target its
   own __uuidof stand-in, which knows only IUnknown and JUCE's own interfaces and answers a
   zero id for every system one (DXGI, DirectWrite, UI Automation). MinGW's __uuidof is
   complete on both bitnesses and JUCE declares its own interfaces to it as well, so the
   COM helpers are read here with the 32-bit test hidden, which selects MinGW's. */
#define JUCE_CORE_INCLUDE_NATIVE_HEADERS 1
#include <juce_core/juce_core.h>

#pragma push_macro("JUCE_32BIT")
#undef JUCE_32BIT
#include <juce_core/native/juce_win32_ComSmartPtr.h>
#pragma pop_macro("JUCE_32BIT")
