// usb-file-utility-cli: one command on the device per run; see Commands.

#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Platform.h"

int main (int argc, char** argv)
{
    Platform::setUpConsole();

    CliOptions options;
    const auto parsed = options.parse (Platform::arguments (argc, argv));

    if (parsed >= 0)
        return parsed;

    Console console (options.json, options.quiet);

    if (! options.logFile.empty() && ! console.openLogFile (juce::String::fromUTF8 (options.logFile.c_str())))
        return exitUsage;

    ILogger::install (&console);
    Platform::catchInterrupts();

    // A run in the log file opens with what ran, and closes with how it ended.
    juce::StringArray commandLine;

    for (const auto& argument : Platform::arguments (argc, argv))
    {
        const auto text = juce::String::fromUTF8 (argument.c_str());
        commandLine.add (text.containsAnyOf (" \t'\"") || text.isEmpty() ? text.quoted ('\'') : text);
    }

    console.logFileOnly ("=== usb-file-utility-cli " USB_CLI_VERSION " started: " + commandLine.joinIntoString (" ")
                         + (options.port.empty() ? juce::String() : " (port " + juce::String::fromUTF8 (options.port.c_str()) + ")"));

    int result = exitFailed;
    {
        Commands commands (options, console);
        result = (commands.*options.run)();
    }

    // The station's events are its whole report; every other command reports a failure once.
    result = console.finish (result, options.command, options.command == "station");
    console.logFileOnly ("=== exit " + juce::String (result));
    ILogger::uninstall (&console);
    return result;
}
