#include "cli/Platform.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace
{
std::atomic<bool> interrupted { false };

extern "C" void onInterrupt (int signalNumber)
{
    interrupted = true;
    std::signal (signalNumber, SIG_DFL);
}
} // namespace

std::vector<std::string> Platform::arguments (int argc, char** argv)
{
    return std::vector<std::string> (argv, argv + argc);
}

void Platform::setUpConsole() {}

bool Platform::isTerminal (std::FILE* stream)
{
    return ::isatty (::fileno (stream)) != 0;
}

void Platform::catchInterrupts()
{
    std::signal (SIGINT, onInterrupt);
    std::signal (SIGTERM, onInterrupt);
    std::signal (SIGHUP, onInterrupt);
}

bool Platform::wasInterrupted() noexcept
{
    return interrupted.load();
}

bool Platform::copyStandardInput (juce::OutputStream& out)
{
    char buffer[65536];

    for (;;)
    {
        const auto got = ::read (STDIN_FILENO, buffer, sizeof (buffer));

        if (got < 0 && errno == EINTR)
            continue;

        if (got <= 0)
            return got == 0;

        if (! out.write (buffer, (size_t) got))
            return false;
    }
}
