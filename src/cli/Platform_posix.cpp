#include "cli/Platform.h"

#include <atomic>
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
