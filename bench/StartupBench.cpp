// From process start to the first screen painted, watched from outside through the X
// server, and the peak resident memory at that moment.
#include "Bench.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace bench
{
namespace
{
// Windows come and go while the tree is walked; their errors are expected, not fatal.
int ignoreXErrors (Display*, XErrorEvent*)
{
    return 0;
}

long windowPid (Display* display, Window window, Atom pidAtom)
{
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty (display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) == Success
        && data != nullptr && count == 1)
        pid = (long) *reinterpret_cast<unsigned long*> (data);
    if (data != nullptr)
        XFree (data);
    return pid;
}

bool isPainted (Display* display, pid_t pid)
{
    const Atom pidAtom = XInternAtom (display, "_NET_WM_PID", False);
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    if (XQueryTree (display, DefaultRootWindow (display), &root, &parent, &children, &count) == 0)
        return false;

    bool painted = false;
    for (unsigned int i = 0; i < count && ! painted; ++i)
    {
        if (windowPid (display, children[i], pidAtom) != (long) pid)
            continue;

        XWindowAttributes attributes;
        if (XGetWindowAttributes (display, children[i], &attributes) == 0 || attributes.map_state != IsViewable)
            continue;

        // The top-left corner is the screen's light grey once the first paint has landed.
        if (auto* image = XGetImage (display, children[i], 4, 4, 1, 1, AllPlanes, ZPixmap))
        {
            painted = (XGetPixel (image, 0, 0) & 0xFFFFFF) == 0xEAEAEA;
            XDestroyImage (image);
        }
    }

    if (children != nullptr)
        XFree (children);
    return painted;
}

long peakResidentKilobytes (pid_t pid)
{
    std::ifstream status ("/proc/" + std::to_string (pid) + "/status");
    std::string key;
    while (status >> key)
    {
        if (key == "VmHWM:")
        {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore (1 << 16, '\n');
    }
    return -1;
}

struct StartupFigure
{
    double milliseconds = -1.0;
    long peakKilobytes = -1;
};

StartupFigure startOnce (const juce::File& folder, const char* locale)
{
    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return {};
    XSetErrorHandler (ignoreXErrors);

    const auto exe = folder.getChildFile ("KRVUpdateProgram").getFullPathName().toStdString();
    const auto start = nowMs();
    const pid_t pid = fork();
    if (pid == 0)
    {
        setenv ("LC_ALL", locale, 1);
        setenv ("LANG", locale, 1);
        if (chdir (folder.getFullPathName().toRawUTF8()) != 0)
            _exit (126);
        freopen ("/dev/null", "w", stderr);
        execl (exe.c_str(), exe.c_str(), (char*) nullptr);
        _exit (127);
    }

    StartupFigure figure;
    while (nowMs() - start < 10000.0)
    {
        if (isPainted (display, pid))
        {
            figure.milliseconds = nowMs() - start;
            figure.peakKilobytes = peakResidentKilobytes (pid);
            break;
        }
        usleep (500);
    }

    kill (pid, SIGKILL);
    waitpid (pid, nullptr, 0);
    XCloseDisplay (display);
    return figure;
}
} // namespace

std::vector<Row> runStartup (const juce::File& executable, const juce::File& simulatedLibrary)
{
    if (std::getenv ("DISPLAY") == nullptr)
        return { { "Start-up", "no X display", "", "" } };

    auto folder = juce::File::createTempFile ("krv-bench-start");
    folder.createDirectory();
    executable.copyFileTo (folder.getChildFile ("KRVUpdateProgram"));
    folder.getChildFile ("KRVUpdateProgram").setExecutePermission (true);
    simulatedLibrary.copyFileTo (folder.getChildFile (simulatedLibrary.getFileName()));

    std::vector<Row> rows;
    for (auto [name, locale] : { std::pair { "English", "en_US.UTF-8" }, std::pair { "Japanese", "ja_JP.UTF-8" } })
    {
        std::vector<double> times;
        long peak = 0;
        startOnce (folder, locale); // warm the file cache
        for (int run = 0; run < 9; ++run)
        {
            auto figure = startOnce (folder, locale);
            if (figure.milliseconds >= 0)
            {
                times.push_back (figure.milliseconds);
                peak = std::max (peak, figure.peakKilobytes);
            }
        }

        const double median = percentile (times, 50);
        const bool ran = ! times.empty();
        rows.push_back ({ std::string ("Start-up to first screen, ") + name + " (median of " + std::to_string (times.size()) + ")",
                          ran ? format (median, 0) + " ms" : "never painted", "<= 200 ms", verdict (ran && median <= 200.0) });
        rows.push_back ({ std::string ("Peak resident memory, ") + name,
                          ran ? format ((double) peak / 1024.0, 1) + " MB" : "-", "<= 40 MB",
                          verdict (ran && (double) peak / 1024.0 <= 40.0) });
    }

    folder.deleteRecursively();
    return rows;
}
} // namespace bench
