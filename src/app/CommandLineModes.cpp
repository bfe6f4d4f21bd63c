#include "app/CommandLineModes.h"
#include "app/ConnectionPane.h"

CommandLineOutcome runCommandLine (const juce::String& commandLine, ConnectionPane& connectionPane)
{
    juce::StringArray tokens;
    tokens.addTokens (commandLine, " \t\r\n", "\"");

    const auto keyword = tokens[0];
    CommandLineOutcome outcome;

    if (keyword == "auto")
    {
        outcome.quit = true;

        if (! connectionPane.connectToSelectedPort() || ! connectionPane.updateFirmware())
            outcome.exitCode = -1;
    }
    else if (keyword == "getmac")
    {
        outcome.quit = true;

        // A path with blanks comes quoted; the quotes are not part of it.
        const auto localPath = tokens[1].unquoted();

        if (! connectionPane.connectToSelectedPort() || ! connectionPane.readMacFile (localPath))
            outcome.exitCode = -1;
    }

    return outcome;
}
