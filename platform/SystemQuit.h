#pragma once

/** The system's request to quit (Windows: log-off, shutdown) reaches the application's
    systemRequestedQuit. On Linux the equivalent is SIGTERM, SIGHUP (the session
    ends) and SIGINT: each is turned into that call on the message thread.
*/
class SystemQuit
{
public:
    static void install();
    static void uninstall();

    /** While an update runs, a system request to quit is held; when the update ends, a held
        request is honoured as the framework would have (systemRequestedQuit, asynchronously).
        Usable by a program without a window. */
    static void holdDuringUpdate (bool updateRunning);

    /** Called where a system request to quit arrives: true when it is held for later. */
    static bool holdRequest();

    /** Called on the message thread where the session ends whatever the program answers
        (Windows: WM_ENDSESSION TRUE; the process ends when it returns): while an update runs,
        keeps the message loop going until it has ended. */
    static void finishUpdateBeforeSessionEnds();
};
