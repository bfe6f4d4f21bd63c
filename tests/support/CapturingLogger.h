#pragma once

#include "base/ILogger.h"
#include "support/JucePrinters.h"

/** Collects logged lines, and installs itself as the process-wide logger for its lifetime. */
class CapturingLogger : public ILogger
{
public:
    CapturingLogger()            { ILogger::install (this); }
    ~CapturingLogger() override  { ILogger::uninstall (this); }

    void log (juce::String text) override
    {
        const juce::ScopedLock sl (lock);
        lines.add (text);
        linesChanged.signal();
    }

    juce::StringArray getLines() const
    {
        const juce::ScopedLock sl (lock);
        return lines;
    }

    void clear()
    {
        const juce::ScopedLock sl (lock);
        lines.clear();
    }

    bool contains (const juce::String& line) const { return getLines().contains (line); }

    /** Waits up to timeoutMs for a line equal to the given one. */
    bool waitFor (const juce::String& line, int timeoutMs = 2000)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! contains (line))
        {
            const auto now = juce::Time::getMillisecondCounter();

            if (now >= end)
                return false;

            linesChanged.wait ((int) (end - now));
        }

        return true;
    }

private:
    juce::CriticalSection lock;
    juce::StringArray lines;
    juce::WaitableEvent linesChanged;
};
