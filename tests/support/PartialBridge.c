/* A device library that lacks HID_Write, for the loader's test. */
#define EXPORT __attribute__ ((visibility ("default")))

EXPORT int HID_Initialize (void* instance)
{
    (void) instance;
    return 1;
}
EXPORT int HID_SetCallback (void* w, unsigned a, unsigned b, unsigned c)
{
    (void) w;
    (void) a;
    (void) b;
    (void) c;
    return 1;
}
EXPORT int HID_Start (void) { return 1; }
EXPORT int HID_Stop (void) { return 1; }
EXPORT int HID_Finalize (void) { return 1; }
EXPORT int HID_EnumHIDno (int* numbers)
{
    (void) numbers;
    return 0;
}
EXPORT int HID_GetDeviceType (int n)
{
    (void) n;
    return -1;
}
EXPORT int HID_GetFirmwareVersion (int t, int* v, int c)
{
    (void) t;
    (void) v;
    (void) c;
    return 0;
}
EXPORT int HID_Input (int n, unsigned char* b, int* l)
{
    (void) n;
    (void) b;
    *l = 0;
    return 0;
}
