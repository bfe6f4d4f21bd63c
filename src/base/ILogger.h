#pragma once

#include <juce_core/juce_core.h>

/** The program's log. One logger is installed for the whole process (the main pane, once
    it is built); code that logs goes through instance() and drops the text while no
    logger is installed. */
class ILogger
{
public:
    virtual ~ILogger() = default;

    /** Logs one line (no line end). May be called from any thread. */
    virtual void log (juce::String text) = 0;

    /** The installed logger, or nullptr. */
    static ILogger* instance() noexcept;

    /** Installs a logger (nullptr empties the slot). */
    static void install (ILogger* logger) noexcept;

    /** Empties the slot, but only while it still holds this logger. */
    static void uninstall (ILogger* logger) noexcept;
};

/** Logs through the installed logger, if there is one. A line logged on a thread that
    has a log context starts with the context's name in brackets ("[1-1.4] ..."). */
void logLine (const juce::String& text);

/** Drops the current thread's log lines while it lives: for a question whose failure is an
    answer (is this path a folder?) rather than a problem to report. */
class LogSilence
{
public:
    LogSilence() noexcept;
    ~LogSilence();

private:
    const bool wasSilent;
    JUCE_DECLARE_NON_COPYABLE (LogSilence)
};

/** The name that the current thread's log lines start with, so that several devices
    served at once can share one log: each device's threads log under its slot. */
namespace LogContext
{
    /** Sets the calling thread's context (empty: none). */
    void set (const juce::String& name);

    juce::String get();

    /** A context for the current thread while it lives; the previous one comes back after. */
    class Scope
    {
    public:
        explicit Scope (const juce::String& name) : previous (get())  { set (name); }
        ~Scope()                                                        { set (previous); }

    private:
        juce::String previous;
        JUCE_DECLARE_NON_COPYABLE (Scope)
    };
}
