// One calling convention (64-bit Windows, Linux): every export is called as it is.
#include "platform/CallStubs.h"

bool CallStubs::wrap (Export*, int)
{
    return true;
}

const char* CallStubs::howCalled()
{
    return nullptr;
}

const char* CallStubs::conventionSeen (Function)
{
    return nullptr;
}
