#include "PseudoTerminal.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace
{
bool fail (const char* what)
{
    std::fprintf (stderr, "device-simulator: %s: %s\n", what, std::strerror (errno));
    return false;
}
} // namespace

PseudoTerminal::~PseudoTerminal()
{
    if (! linkPath.empty())
    {
        char target[PATH_MAX];
        const auto length = ::readlink (linkPath.c_str(), target, sizeof (target) - 1);

        if (length > 0 && std::string (target, (size_t) length) == slavePath)
            ::unlink (linkPath.c_str());
    }

    for (int fd : { watch, heldSlave, master })
        if (fd >= 0)
            ::close (fd);
}

bool PseudoTerminal::open()
{
    master = ::posix_openpt (O_RDWR | O_NOCTTY | O_CLOEXEC);

    if (master < 0 || ::grantpt (master) != 0 || ::unlockpt (master) != 0)
        return fail ("can't create a pseudo-terminal");

    char name[PATH_MAX];

    if (::ptsname_r (master, name, sizeof (name)) != 0)
        return fail ("can't name the pseudo-terminal");

    slavePath = name;
    heldSlave = ::open (name, O_RDWR | O_NOCTTY | O_CLOEXEC);

    if (heldSlave < 0 || ! makeRaw())
        return fail ("can't open the pseudo-terminal's slave");

    if (::fcntl (master, F_SETFL, ::fcntl (master, F_GETFL) | O_NONBLOCK) != 0)
        return fail ("can't make the pseudo-terminal non-blocking");

    // Opens before this point are the simulator's own and aren't counted.
    watch = ::inotify_init1 (IN_NONBLOCK | IN_CLOEXEC);

    if (watch < 0 || ::inotify_add_watch (watch, name, IN_OPEN | IN_CLOSE) < 0)
    {
        fail ("can't watch the pseudo-terminal; the host's closes go unnoticed");

        if (watch >= 0)
            ::close (watch);

        watch = -1;
    }

    return true;
}

bool PseudoTerminal::makeRaw()
{
    termios settings {};

    if (::tcgetattr (heldSlave, &settings) != 0)
        return false;

    ::cfmakeraw (&settings);
    return ::tcsetattr (heldSlave, TCSANOW, &settings) == 0;
}

bool PseudoTerminal::createLink (const std::string& path)
{
    struct stat info;

    if (::lstat (path.c_str(), &info) == 0)
    {
        if (! S_ISLNK (info.st_mode))
        {
            std::fprintf (stderr, "device-simulator: %s exists and is not a link\n", path.c_str());
            return false;
        }

        ::unlink (path.c_str());
    }

    if (::symlink (slavePath.c_str(), path.c_str()) != 0)
        return fail ("can't create the link");

    linkPath = path;
    return true;
}

bool PseudoTerminal::hostHasClosed()
{
    alignas (inotify_event) char events[4096];
    bool sawClose = false;

    for (;;)
    {
        const auto length = ::read (watch, events, sizeof (events));

        if (length <= 0)
            break;

        for (ssize_t at = 0; at < length;)
        {
            const auto* event = reinterpret_cast<const inotify_event*> (events + at);

            if ((event->mask & IN_OPEN) != 0)
                ++hostOpenCount;

            if ((event->mask & IN_CLOSE) != 0)
            {
                hostOpenCount = hostOpenCount > 0 ? hostOpenCount - 1 : 0;
                sawClose = true;
            }

            at += (ssize_t) (sizeof (inotify_event) + event->len);
        }
    }

    return sawClose && hostOpenCount == 0;
}

void PseudoTerminal::resetAfterHost()
{
    ::tcflush (heldSlave, TCIFLUSH);
    makeRaw();
    ::ioctl (heldSlave, TIOCNXCL);
}
