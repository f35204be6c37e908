/* A device library built the other way: its functions are exported only under decorated
   __stdcall names (MisnamedBridge.def), for the loader's test. None of them may be called. */
#include <stdlib.h>

static int refuse (void) { abort(); }

int misnamed_Initialize (void* instance)
{
    (void) instance;
    return refuse();
}
int misnamed_SetCallback (void* w, unsigned a, unsigned b, unsigned c)
{
    (void) w;
    (void) a;
    (void) b;
    (void) c;
    return refuse();
}
int misnamed_Start (void) { return refuse(); }
int misnamed_Stop (void) { return refuse(); }
int misnamed_Finalize (void) { return refuse(); }
int misnamed_EnumHIDno (int* numbers)
{
    (void) numbers;
    return refuse();
}
int misnamed_GetDeviceType (int n)
{
    (void) n;
    return refuse();
}
int misnamed_GetFirmwareVersion (int t, int* v, int c)
{
    (void) t;
    (void) v;
    (void) c;
    return refuse();
}
int misnamed_Input (int n, unsigned char* b, int* l)
{
    (void) n;
    (void) b;
    (void) l;
    return refuse();
}
int misnamed_Write (int n, const unsigned char* d, int l)
{
    (void) n;
    (void) d;
    (void) l;
    return refuse();
}
