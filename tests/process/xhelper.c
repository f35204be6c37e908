/* Small X11 actions the process tests need and xdotool lacks:
     xhelper close WINDOW      send WM_DELETE_WINDOW, as a window manager's close would
     xhelper decoy SECONDS     map a window, give it the focus, print its id, then wait
     xhelper wm-atoms          intern the atoms a window manager would, so that windows
                               started afterwards publish their state in them */
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int closeWindow (Display* display, Window window)
{
    XEvent event;
    memset (&event, 0, sizeof (event));
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom (display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long) XInternAtom (display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent (display, window, False, NoEventMask, &event);
    XFlush (display);
    return 0;
}

static int decoy (Display* display, int seconds)
{
    Window window = XCreateSimpleWindow (display, DefaultRootWindow (display), 0, 0, 200, 100, 0, 0, 0);
    XStoreName (display, window, "decoy");
    XMapRaised (display, window);
    XSync (display, False);
    usleep (100000);
    XSetInputFocus (display, window, RevertToParent, CurrentTime);
    XSync (display, False);
    printf ("%lu\n", (unsigned long) window);
    fflush (stdout);
    sleep ((unsigned) seconds);
    return 0;
}

static int internWindowManagerAtoms (Display* display)
{
    const char* names[] = { "WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS", "_NET_WM_PING", "WM_CHANGE_STATE",
                            "WM_STATE", "_NET_WM_STATE_HIDDEN", "_NET_WM_STATE", "_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR",
                            "_MOTIF_WM_HINTS", "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_CLOSE",
                            "_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_MINIMIZE", "_NET_WM_ACTION_FULLSCREEN",
                            "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL",
                            "_NET_WM_WINDOW_TYPE_COMBO" };
    for (size_t i = 0; i < sizeof (names) / sizeof (names[0]); ++i)
        XInternAtom (display, names[i], False);
    XSync (display, False);
    return 0;
}

int main (int argc, char** argv)
{
    if (argc == 2 && strcmp (argv[1], "wm-atoms") == 0)
    {
        Display* display = XOpenDisplay (NULL);
        if (display == NULL)
            return 3;
        int result = internWindowManagerAtoms (display);
        XCloseDisplay (display);
        return result;
    }

    if (argc < 3)
        return 2;

    Display* display = XOpenDisplay (NULL);
    if (display == NULL)
        return 3;

    int result = 2;
    if (strcmp (argv[1], "close") == 0)
        result = closeWindow (display, (Window) strtoul (argv[2], NULL, 0));
    else if (strcmp (argv[1], "decoy") == 0)
        result = decoy (display, atoi (argv[2]));

    XCloseDisplay (display);
    return result;
}
