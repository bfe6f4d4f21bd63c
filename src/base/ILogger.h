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

/** Logs through the installed logger, if there is one. */
void logLine (const juce::String& text);
