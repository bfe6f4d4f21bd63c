#include "cli/Console.h"
#include "cli/Platform.h"
#include "cli/TerminalText.h"
#include "base/DeviceText.h"

#include <algorithm>
#include <cstdio>

Console::Console (bool jsonOutput, bool quietOutput)
    : json (jsonOutput),
      quiet (quietOutput),
      stdoutIsTerminal (Platform::isTerminal (stdout)),
      stderrIsTerminal (Platform::isTerminal (stderr)),
      progressWanted (stderrIsTerminal && ! quietOutput && ! jsonOutput)
{
}

Console::~Console()
{
    clearProgressLine();
}

bool Console::openLogFile (const juce::String& path)
{
    auto stream = std::make_unique<juce::FileOutputStream> (juce::File::getCurrentWorkingDirectory().getChildFile (path));

    if (! stream->openedOk())
    {
        error ("Can't write the log file " + path);
        return false;
    }

    const juce::ScopedLock sl (lock);
    logFile = std::move (stream);
    return true;
}

void Console::log (juce::String text)
{
    const juce::ScopedLock sl (lock);
    writeToLogFile (text);
    lastProblem = text;

    if (quiet)
        return;

    const auto bytes = TerminalText::rawBytes (text);
    const auto saved = progressLine;
    writeProgress ({});
    std::fprintf (stderr, "%s\n", (stderrIsTerminal ? TerminalText::escapeControls (bytes) : bytes).c_str());
    writeProgress (saved);
    std::fflush (stderr);
}

void Console::error (const juce::String& text)
{
    const juce::ScopedLock sl (lock);
    writeToLogFile (text);
    lastProblem = text;
    errorShown = true;
    const auto saved = progressLine;
    writeProgress ({});
    const auto bytes = TerminalText::rawBytes (text);
    std::fprintf (stderr, "usb-file-utility-cli: %s\n", (stderrIsTerminal ? TerminalText::escapeControls (bytes) : bytes).c_str());
    writeProgress (saved);
    std::fflush (stderr);
}

void Console::writeToLogFile (const juce::String& text)
{
    // Every line with its time, to the millisecond, so that appended runs can be told apart.
    if (logFile != nullptr)
    {
        *logFile << juce::Time::getCurrentTime().toISO8601 (true) << " " << TerminalText::rawBytes (text).c_str() << "\n";
        logFile->flush();
    }
}

void Console::logFileOnly (const juce::String& text)
{
    const juce::ScopedLock sl (lock);
    writeToLogFile (text);
}

std::string Console::deviceText (const juce::String& text) const
{
    const auto bytes = TerminalText::rawBytes (text);
    return stdoutIsTerminal ? TerminalText::shellEscape (bytes) : bytes;
}

std::string Console::displayText (const juce::String& text)
{
    return DeviceText::toDisplay (text).toStdString();
}

void Console::printLine (const std::string& line)
{
    const juce::ScopedLock sl (lock);
    const bool written = std::fwrite (line.data(), 1, line.size(), stdout) == line.size()
                      && std::fputc ('\n', stdout) != EOF
                      && std::fflush (stdout) == 0;
    outputFailed = outputFailed || ! written;
}

void Console::printJson (nlohmann::ordered_json object)
{
    if (object.contains ("ok") && object["ok"] == false)
    {
        const juce::ScopedLock sl (lock);
        failureReported = true;

        if (! object.contains ("error"))
            object["error"] = displayText (lastProblem.isNotEmpty() ? lastProblem : juce::String ("failed"));
    }

    // Texts that aren't UTF-8 can't be in JSON: their bad bytes become U+FFFD.
    printLine (object.dump (-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

int Console::finish (int exitCode, const std::string& command, bool reportsItsOwnFailures)
{
    if (outputFailed && exitCode == 0)
    {
        error ("Can't write to standard output");
        exitCode = 1;
    }

    if (exitCode == 0 || reportsItsOwnFailures)
        return exitCode;

    if (json && ! failureReported)
        printJson (nlohmann::ordered_json { { "command", command }, { "ok", false } });

    if (quiet && ! errorShown && lastProblem.isNotEmpty())
    {
        const juce::ScopedLock sl (lock);
        const auto bytes = TerminalText::rawBytes (lastProblem);
        std::fprintf (stderr, "usb-file-utility-cli: %s\n", (stderrIsTerminal ? TerminalText::escapeControls (bytes) : bytes).c_str());
    }

    return exitCode;
}

void Console::setProgressLine (const std::string& line)
{
    if (! progressWanted)
        return;

    const juce::ScopedLock sl (lock);
    writeProgress (line);
    std::fflush (stderr);
}

void Console::clearProgressLine()
{
    setProgressLine ({});
}

void Console::writeProgress (const std::string& line)
{
    if (! progressWanted || line == progressLine)
        return;

    if (line.find ('\n') != std::string::npos || progressLine.find ('\n') != std::string::npos)
    {
        // A block of rows: back to its first row, cleared to the end of the screen.
        const auto oldRows = std::count (progressLine.begin(), progressLine.end(), '\n');
        std::fputc ('\r', stderr);

        if (oldRows > 0)
            std::fprintf (stderr, "\x1b[%dA", (int) oldRows);

        std::fprintf (stderr, "\x1b[J%s", line.c_str());
        progressLine = line;
        return;
    }

    // Blanks over the old line, so that no escape sequences are needed.
    const auto oldLength = progressLine.size();
    std::fprintf (stderr, "\r%s", line.c_str());

    if (line.size() < oldLength)
        std::fprintf (stderr, "%s\r%s", std::string (oldLength - line.size(), ' ').c_str(), line.c_str());

    if (line.empty())
        std::fputc ('\r', stderr);

    progressLine = line;
}
