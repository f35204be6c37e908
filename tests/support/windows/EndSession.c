/* Sends the end-of-session messages to a program's top-level window as Windows does at
   log-off and shutdown, and prints each answer.
   Usage: krv-end-session TITLE MESSAGE...   MESSAGE: query, end-false or end-true.
   Prints "MESSAGE RESULT MILLISECONDS" per message; exit 0, or 1 when the window is not
   found or a message is not answered within a minute. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main (int argc, char** argv)
{
    if (argc < 3)
    {
        fprintf (stderr, "usage: krv-end-session TITLE query|end-false|end-true...\n");
        return 2;
    }

    WCHAR title[256];
    if (MultiByteToWideChar (CP_UTF8, 0, argv[1], -1, title, 256) == 0)
        return 2;

    HWND window = FindWindowW (NULL, title);
    if (window == NULL)
    {
        printf ("no window titled %s\n", argv[1]);
        return 1;
    }

    for (int i = 2; i < argc; ++i)
    {
        UINT message = WM_ENDSESSION;
        WPARAM wParam = FALSE;

        if (strcmp (argv[i], "query") == 0)
            message = WM_QUERYENDSESSION;
        else if (strcmp (argv[i], "end-true") == 0)
            wParam = TRUE;
        else if (strcmp (argv[i], "end-false") != 0)
            return 2;

        DWORD_PTR result = 0;
        const DWORD started = GetTickCount();
        if (SendMessageTimeoutW (window, message, wParam, 0, SMTO_NORMAL, 60000, &result) == 0)
        {
            printf ("%s unanswered, error %lu\n", argv[i], GetLastError());
            return 1;
        }

        printf ("%s %lu %lu\n", argv[i], (unsigned long) result, GetTickCount() - started);
        fflush (stdout);
    }

    return 0;
}
