#pragma once

/** Holds the terminal's interrupt (Ctrl-C) and the system's request to end the process while
    records are in flight: the request is noted, one line on standard error says so, and the
    process goes on until the update ends. */
class InterruptHold
{
public:
    InterruptHold();
    ~InterruptHold(); // the default handling returns

    /** Whether an interrupt or end request arrived while held. */
    static bool wasRequested() noexcept;

    InterruptHold (const InterruptHold&) = delete;
    InterruptHold& operator= (const InterruptHold&) = delete;
};
