/* JUCE 7.0.5's __uuidof stand-in (32-bit MinGW) wants a type where MinGW's IID_PPV_ARGS
   passes an expression: name the type instead. */
#include_next <combaseapi.h>
#if defined(__cplusplus) && ! defined(__x86_64__)
 #undef IID_PPV_ARGS
 #define IID_PPV_ARGS(ppType) __mingw_uuidof<__typeof (**(ppType))>(), IID_PPV_ARGS_Helper (ppType)
#endif
