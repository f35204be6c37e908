/* Control of the simulated KRV-7000 (the libfwbridge.so in build/sim) for tests that
   load it in their own process. Every function may be called from any thread, before
   or after HID_Start. The same commands reach a simulator in another process through
   the control file named by KRV_SIM_CONTROL (see bridge/sim/README.md). */
#ifndef KRV_SIM_CONTROL_H
#define KRV_SIM_CONTROL_H

#ifdef __cplusplus
extern "C"
{
#endif

#define SIM_EXPORT __attribute__ ((visibility ("default")))

/* Plugs the controller in: a new HID number, normal mode, an arrival message.
   Returns the HID number, or -1 when it was attached already. */
SIM_EXPORT int SIM_Attach (void);
/* Unplugs it: pending input is lost, a removal message. 1 if it was attached. */
SIM_EXPORT int SIM_Detach (void);
SIM_EXPORT int SIM_IsAttached (void);
/* -1 while detached. */
SIM_EXPORT int SIM_GetHidNumber (void);

/* Firmware version as major x 100 + minor (102 is 1.02). */
SIM_EXPORT void SIM_SetVersion (int version);
SIM_EXPORT int SIM_GetVersion (void);

/* Arms a fault: kind silence, wrong, refuse, notswitched, busy, slow, oversized or
   unplug; step mode, info, start[:r], data[:n], block:r.k, last[:r], end, stream,
   write:n or any (null: the kind's default). Options as in the text command, e.g.
   SIM_Command ("fault slow data:3 ms=1500"). 1 when understood. */
SIM_EXPORT int SIM_SetFault (const char* kind, const char* step);
SIM_EXPORT void SIM_ClearFaults (void);

/* Extra time before every answer, in milliseconds. */
SIM_EXPORT void SIM_SetAnswerDelay (int milliseconds);
/* Unasked input reports in normal mode (on by default). */
SIM_EXPORT void SIM_SetStreaming (int on);
/* Answers from inside HID_Write, on the writing thread; no thread of the simulator's
   own runs (no unasked reports, no delays). */
SIM_EXPORT void SIM_SetSynchronous (int on);
/* Input reports only on 1 ms frame boundaries, at most one per frame. */
SIM_EXPORT void SIM_SetFrameMode (int on);

/* One text command, as in the control file. 1 when understood and done. */
SIM_EXPORT int SIM_Command (const char* line);

SIM_EXPORT int SIM_IsInUpdateMode (void);
/* Reports the host wrote since the controller was last attached. */
SIM_EXPORT int SIM_GetWriteCount (void);
/* Successful updates since the simulator was loaded or reset. */
SIM_EXPORT int SIM_GetUpdateCount (void);
/* The data the controller holds for record 1 to 12 after an update: copies at most
   capacity bytes and returns the record's length, or -1 when it holds none. */
SIM_EXPORT int SIM_GetStoredRecord (int recordNumber, unsigned char* buffer, int capacity);

/* Starts a new log file (null or "" stops logging). 1 when it could be opened. */
SIM_EXPORT int SIM_SetLogFile (const char* path);

/* Back to the start-up settings: faults, delays, modes, stored records and version as
   the environment gives them; attached as KRV_SIM_ATTACHED says, with no message. */
SIM_EXPORT void SIM_Reset (void);

typedef int (*SIM_Attach_t) (void);
typedef int (*SIM_Detach_t) (void);
typedef int (*SIM_IsAttached_t) (void);
typedef int (*SIM_GetHidNumber_t) (void);
typedef void (*SIM_SetVersion_t) (int);
typedef int (*SIM_GetVersion_t) (void);
typedef int (*SIM_SetFault_t) (const char*, const char*);
typedef void (*SIM_ClearFaults_t) (void);
typedef void (*SIM_SetAnswerDelay_t) (int);
typedef void (*SIM_SetStreaming_t) (int);
typedef void (*SIM_SetSynchronous_t) (int);
typedef void (*SIM_SetFrameMode_t) (int);
typedef int (*SIM_Command_t) (const char*);
typedef int (*SIM_IsInUpdateMode_t) (void);
typedef int (*SIM_GetWriteCount_t) (void);
typedef int (*SIM_GetUpdateCount_t) (void);
typedef int (*SIM_GetStoredRecord_t) (int, unsigned char*, int);
typedef int (*SIM_SetLogFile_t) (const char*);
typedef void (*SIM_Reset_t) (void);

#ifdef __cplusplus
}
#endif

#endif
