#pragma once

#include "base/ILogger.h"

#include <nlohmann/json.hpp>

#include <string>

/** Where the tool's output goes. Results go to standard output: plain lines, or with
    --json one JSON object per line and nothing else. Log lines go to standard error
    (unless quiet) and to the --log file. On a terminal, device texts are escaped (see
    TerminalText) and one progress line may stand under the log; log lines are written
    above it. */
class Console : public ILogger
{
public:
    Console (bool json, bool quiet);
    ~Console() override;

    /** Appends the log to a file as well. False (and a message) when it can't be opened. */
    bool openLogFile (const juce::String& path);

    void log (juce::String text) override;

    /** A line for the --log file alone (a run's first and last). */
    void logFileOnly (const juce::String& text);

    /** The tool's own messages (usage errors, no port, ...): shown even when quiet. */
    void error (const juce::String& text);

    bool isJson() const noexcept { return json; }

    /** Whether standard output is a terminal. */
    bool printsToTerminal() const noexcept { return stdoutIsTerminal; }

    /** Whether a progress line is wanted: standard error is a terminal, not quiet, not JSON. */
    bool showsProgress() const noexcept { return progressWanted; }

    /** A device text for a plain result line: its original bytes on a pipe (so that it can
        be passed back as an argument), shell-escaped on a terminal. */
    std::string deviceText (const juce::String& text) const;

    /** A device text as the GUI shows it, for JSON. */
    static std::string displayText (const juce::String& text);

    void printLine (const std::string& line);

    /** A result object; one that says "ok": false gets the last problem as its "error"
        when it has none. */
    void printJson (nlohmann::ordered_json object);

    /** The run's end: a failure that no result has reported yet is reported once (with
        --json as {"command":…,"ok":false,"error":…}; with --quiet as the final error line
        on standard error), and a failed write to standard output fails the run. Returns
        the exit code to end with. */
    int finish (int exitCode, const std::string& command, bool reportsItsOwnFailures);

    /** Replaces the progress line (shown only when showsProgress()); it may be a block of
        several lines, separated by '\n', each shorter than the terminal is wide. */
    void setProgressLine (const std::string& line);
    void clearProgressLine();

private:
    void writeProgress (const std::string& line);
    void writeToLogFile (const juce::String& text);

    const bool json, quiet, stdoutIsTerminal, stderrIsTerminal, progressWanted;
    juce::CriticalSection lock;
    std::string progressLine;
    juce::String lastProblem;       ///< the last log line or error: why a run failed
    bool failureReported = false, errorShown = false, outputFailed = false;
    std::unique_ptr<juce::FileOutputStream> logFile;
};
