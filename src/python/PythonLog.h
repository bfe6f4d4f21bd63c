#pragma once

#include "base/ILogger.h"

#include <mutex>
#include <vector>

/** The program's log inside Python: every line waits here until a thread that holds the
    GIL hands it to Python's logging (logger "usb_file_utility"), so that the device's own
    threads never wait for Python. A thread may also collect the lines it logs itself,
    which become the text of the exception an operation raises. */
class PythonLog : public ILogger
{
public:
    void log (juce::String text) override;

    /** Hands the waiting lines to Python's logging. Call with the GIL held. */
    void flush();

    /** Collects the lines the calling thread logs while it lives. */
    class Capture
    {
    public:
        Capture();
        ~Capture();
        juce::String text() const   { return lines.joinIntoString ("\n"); }
        juce::StringArray lines;

    private:
        Capture* previous;
    };

    static PythonLog& instance();

private:
    std::mutex lock;
    std::vector<juce::String> waiting;   // guarded by lock
};
