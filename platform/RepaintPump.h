#pragma once

/** JUCE 7.0.5 on Windows hands a window's repaints to the system only when the display
    reports a vertical blank (DXGI). Where none is ever reported (Wine, a session without a
    display adapter, a remote session) the window would keep its first picture: there a
    timer on the message thread hands them over too. It counts the vertical blanks of the
    window's first second and stops where they arrive. Elsewhere it does nothing.
*/
class RepaintPump
{
public:
    static void install();
    static void uninstall();
};
