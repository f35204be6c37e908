#pragma once

/** The system's request to quit (Windows: log-off, shutdown) reaches the application's
    systemRequestedQuit. On Linux the equivalent is SIGTERM (and SIGHUP when the session
    ends): both are turned into that call on the message thread.
*/
class SystemQuit
{
public:
    static void install();
    static void uninstall();
};
