/* JUCE includes jpeglib.h inside its own namespace and then uses that namespace's
   `boolean`; with MinGW, jmorecfg.h leaves `boolean` to the global one of rpcndr.h. */
#include_next <jpeglib.h>
typedef ::boolean boolean;
