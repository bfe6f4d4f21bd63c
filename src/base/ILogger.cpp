#include "base/ILogger.h"
#include "base/DeviceText.h"

#include <atomic>

namespace
{
std::atomic<ILogger*> installedLogger { nullptr };
thread_local juce::String threadLogContext;
thread_local bool threadSilent = false;
}

LogSilence::LogSilence() noexcept : wasSilent (threadSilent)
{
    threadSilent = true;
}

LogSilence::~LogSilence()
{
    threadSilent = wasSilent;
}

void LogContext::set (const juce::String& name)
{
    threadLogContext = name;
}

juce::String LogContext::get()
{
    return threadLogContext;
}

ILogger* ILogger::instance() noexcept
{
    return installedLogger.load();
}

void ILogger::install (ILogger* logger) noexcept
{
    installedLogger.store (logger);
}

void ILogger::uninstall (ILogger* logger) noexcept
{
    installedLogger.compare_exchange_strong (logger, nullptr);
}

void logLine (const juce::String& text)
{
    // Paths in log lines may hold bytes a device name kept; show them as characters.
    if (threadSilent)
        return;

    if (auto* logger = ILogger::instance())
    {
        const auto line = DeviceText::toDisplay (text);
        logger->log (threadLogContext.isEmpty() ? line : "[" + threadLogContext + "] " + line);
    }
}

#if defined (__SANITIZE_THREAD__)
// For ThreadSanitizer builds: without TZ set, glibc frees and copies its time-zone name on
// every local-time conversion, under a lock of its own that the sanitizer can't see; devices
// served at once convert the times in their answers on their own threads. Kept here, in a
// file every program links, rather than in a file that each run would have to find.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:tzset_internal\n";
}
#endif
