#pragma once

#include <juce_core/juce_core.h>

/** The device simulator for a Windows test under Wine. The simulator runs on the Linux
    side, started by simulator-launcher.py, which watches a folder shared with the test:
    the test writes a request file with the simulator's arguments (Windows paths, which
    the launcher translates), the launcher (re)starts the simulator on the pty behind a
    COM port and answers with the port's name. The folder comes from the environment
    variable USB_SIMULATOR_LAUNCHER (a Windows path). Same interface as on Linux. */
class SimulatorProcess
{
public:
    SimulatorProcess() = default;
    ~SimulatorProcess() { stop(); }

    /** Asks for a simulator with these arguments and waits up to timeoutMs for it.
        Returns false when the launcher is missing, refused or didn't answer. Blocks. */
    bool start (const juce::StringArray& arguments, int timeoutMs = 20000)
    {
        stop();
        juce::StringArray lines ("start");
        lines.addArray (arguments);

        const auto answer = ask (lines, timeoutMs);

        if (! answer.startsWith ("port "))
            return false;

        portName = answer.fromFirstOccurrenceOf ("port ", false, false).trim();
        running = true;
        return true;
    }

    /** The COM port that leads to the simulator, such as COM6; empty when not started. */
    const juce::String& getPtyPath() const noexcept { return portName; }

    bool isRunning() const noexcept { return running; }

    /** Stops the simulator; harmless when not running. Returns 0 (its exit code is not
        carried back), or -1 when the launcher did not answer. */
    int stop (int timeoutMs = 10000)
    {
        if (! running)
            return 0;

        running = false;
        portName.clear();
        return ask ({ "stop" }, timeoutMs).startsWith ("stopped") ? 0 : -1;
    }

private:
    static juce::File launcherFolder()
    {
        return juce::File (juce::SystemStats::getEnvironmentVariable ("USB_SIMULATOR_LAUNCHER", {}));
    }

    /** Writes a request and waits for its answer file; returns the answer, or empty. */
    static juce::String ask (const juce::StringArray& lines, int timeoutMs)
    {
        const auto folder = launcherFolder();

        if (folder.getFullPathName().isEmpty() || ! folder.isDirectory())
            return {};

        static int sequence = 0;
        const auto name = "request-" + juce::String (juce::Time::currentTimeMillis()) + "-" + juce::String (++sequence);
        const auto request = folder.getChildFile (name + ".args");
        const auto answer = folder.getChildFile (name + ".answer");

        // Written under another name first, so the launcher never reads half a request.
        const auto partial = folder.getChildFile (name + ".partial");
        partial.replaceWithText (lines.joinIntoString ("\n") + "\n");
        partial.moveFileTo (request);

        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! answer.existsAsFile())
        {
            if (juce::Time::getMillisecondCounter() >= end)
                return {};

            juce::Thread::sleep (20);
        }

        const auto text = answer.loadFileAsString();
        answer.deleteFile();
        return text;
    }

    juce::String portName;
    bool running = false;

    JUCE_DECLARE_NON_COPYABLE (SimulatorProcess)
};
