#include "base/ILogger.h"
#include "base/DeviceText.h"

#include <atomic>

namespace
{
std::atomic<ILogger*> installedLogger { nullptr };
thread_local juce::String threadLogContext;
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
    if (auto* logger = ILogger::instance())
    {
        const auto line = DeviceText::toDisplay (text);
        logger->log (threadLogContext.isEmpty() ? line : "[" + threadLogContext + "] " + line);
    }
}
