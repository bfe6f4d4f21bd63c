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

    int result = exitFailed;
    {
        Commands commands (options, console);
        result = (commands.*options.run)();
    }

    // The station's events are its whole report; every other command reports a failure once.
    result = console.finish (result, options.command, options.command == "station");
    ILogger::uninstall (&console);
    return result;
}
