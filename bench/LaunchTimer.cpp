// Starts a program and measures the time from exec to the moment a 450 x 600 top-level window of
// it is mapped on the X server, then (optionally) its resident size once it has settled.
//
//   launch-timer [--rss-after-ms N] -- program [arguments...]
//
// Prints "mapped_ms=<float>" and, with --rss-after-ms, "rss_kib=<int>". The program is ended by
// its PID afterwards.

#include <X11/Xlib.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

static long residentKib (pid_t pid)
{
    std::ifstream status ("/proc/" + std::to_string (pid) + "/smaps_rollup");
    std::string key;
    long value = 0;

    while (status >> key)
    {
        if (key == "Rss:")
        {
            status >> value;
            return value;
        }
        status.ignore (4096, '\n');
    }

    return -1;
}

int main (int argc, char* argv[])
{
    int rssAfterMs = -1;
    int first = 1;

    for (; first < argc; ++first)
    {
        if (std::strcmp (argv[first], "--rss-after-ms") == 0 && first + 1 < argc)
            rssAfterMs = std::atoi (argv[++first]);
        else if (std::strcmp (argv[first], "--") == 0)
        {
            ++first;
            break;
        }
    }

    if (first >= argc)
    {
        std::fprintf (stderr, "usage: launch-timer [--rss-after-ms N] -- program [arguments...]\n");
        return 2;
    }

    auto* display = XOpenDisplay (nullptr);

    if (display == nullptr)
    {
        std::fprintf (stderr, "launch-timer: cannot open the X display\n");
        return 2;
    }

    const auto root = DefaultRootWindow (display);
    XSelectInput (display, root, SubstructureNotifyMask);
    XSync (display, False);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();

    if (child == 0)
    {
        execvp (argv[first], argv + first);
        _exit (127);
    }

    double mappedMs = -1.0;
    const auto deadline = start + std::chrono::seconds (30);

    while (mappedMs < 0 && std::chrono::steady_clock::now() < deadline)
    {
        if (XPending (display) == 0)
        {
            std::this_thread::sleep_for (std::chrono::microseconds (200));
            continue;
        }

        XEvent event;
        XNextEvent (display, &event);

        // A window counts once it is mapped and 450 x 600, in whichever order the two happen.
        bool shown = false;

        if (event.type == MapNotify)
        {
            XWindowAttributes attributes;
            shown = XGetWindowAttributes (display, event.xmap.window, &attributes) != 0
                     && attributes.width == 450 && attributes.height == 600;
        }
        else if (event.type == ConfigureNotify && event.xconfigure.width == 450 && event.xconfigure.height == 600)
        {
            XWindowAttributes attributes;
            shown = XGetWindowAttributes (display, event.xconfigure.window, &attributes) != 0
                     && attributes.map_state == IsViewable;
        }

        if (shown)
            mappedMs = std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count();
    }

    int status = 0;

    if (mappedMs >= 0)
    {
        std::printf ("mapped_ms=%.3f\n", mappedMs);

        if (rssAfterMs >= 0)
        {
            std::this_thread::sleep_for (std::chrono::milliseconds (rssAfterMs));
            std::printf ("rss_kib=%ld\n", residentKib (child));
        }
    }
    else
    {
        std::fprintf (stderr, "launch-timer: no 450 x 600 window was mapped\n");
        status = 1;
    }

    kill (child, SIGTERM);
    waitpid (child, nullptr, 0);
    XCloseDisplay (display);
    return status;
}
