// device-simulator: stands in for the device on a pseudo-terminal. See README.md.

#include "Simulator.h"

#include <climits>
#include <cstdio>
#include <unistd.h>

namespace
{
const char* const usage =
    "usage: device-simulator --root FOLDER [options]\n"
    "  --root FOLDER              the host folder served as the device's file system\n"
    "  --link PATH                keep a symbolic link PATH to the pty while running\n"
    "  --log FILE                 write one line per request received to FILE\n"
    "  --script FILE              read fault rules from FILE (may be repeated)\n"
    "  --rule RULE                one fault rule (may be repeated)\n"
    "  --family-id N  --device-id N  --protocol-version N  --firmware-version N\n"
    "  --first-text TEXT  --second-text TEXT    the WhoAmI identity\n"
    "  --first-handle N           the first file handle given out\n"
    "  --exit-after-idle SECONDS  exit when no request has come for that long\n"
    "  --exit-with-parent         exit when the process that started the simulator ends\n"
    "  --move-replaces            a move replaces an existing destination, as rename() does\n"
    "  --rate BYTES_PER_SECOND    pace answers like a serial link of that speed\n"
    "  --latency-ms N             add N ms to every request's round trip\n"
    "Prints the pty's path as the only line on standard output.\n";

struct RuleSource
{
    bool isScript;      // text is a script's path, not a rule
    std::string text;
};

struct Options
{
    std::string root, link, log;
    std::vector<RuleSource> rules;
    SimulatedIdentity identity;
    juce::int64 firstHandle = 0x100000001LL;   // above 32 bits, so that a host truncating handles fails
    Simulator::Settings settings;
    bool moveReplaces = false;
};

int failWith (const std::string& message, bool showUsage = false)
{
    std::fprintf (stderr, "device-simulator: %s\n%s", message.c_str(), showUsage ? usage : "");
    return 1;
}

bool parseOptions (int argc, char** argv, Options& options, std::string& error)
{
    for (int i = 1; i < argc; ++i)
    {
        std::string name = argv[i], value;
        const auto equals = name.find ('=');
        const bool hasInlineValue = name.compare (0, 2, "--") == 0 && equals != std::string::npos;

        if (hasInlineValue)
        {
            value = name.substr (equals + 1);
            name = name.substr (0, equals);
        }

        if (name == "--exit-with-parent")
        {
            options.settings.exitWithParent = true;
            continue;
        }

        if (name == "--move-replaces")
        {
            options.moveReplaces = true;
            continue;
        }

        if (! hasInlineValue)
        {
            if (i + 1 >= argc)
            {
                error = name + " needs a value";
                return false;
            }

            value = argv[++i];
        }

        juce::int64 number = 0;

        auto numberIn = [&] (juce::int64 least, juce::int64 most)
        {
            return parseInteger (value, least, most, number, error);
        };

        if (name == "--root")                   options.root = value;
        else if (name == "--link")              options.link = value;
        else if (name == "--log")               options.log = value;
        else if (name == "--script")            options.rules.push_back ({ true, value });
        else if (name == "--rule")              options.rules.push_back ({ false, value });
        else if (name == "--first-text")        options.identity.firstText = value;
        else if (name == "--second-text")       options.identity.secondText = value;
        else if (name == "--family-id")         { if (! numberIn (0, 0xFFFF)) return false; options.identity.familyId = (int) number; }
        else if (name == "--device-id")         { if (! numberIn (0, 0xFFFF)) return false; options.identity.deviceId = (int) number; }
        else if (name == "--protocol-version")  { if (! numberIn (0, 0xFFFF)) return false; options.identity.protocolVersion = (int) number; }
        else if (name == "--firmware-version")  { if (! numberIn (0, 0xFFFF)) return false; options.identity.firmwareVersion = (int) number; }
        else if (name == "--first-handle")      { if (! numberIn (LLONG_MIN, LLONG_MAX)) return false; options.firstHandle = number; }
        else if (name == "--exit-after-idle")   { if (! numberIn (1, 1000000)) return false; options.settings.exitAfterIdleSeconds = (int) number; }
        else if (name == "--rate")              { if (! numberIn (1, 1000000000)) return false; options.settings.linkBytesPerSecond = number; }
        else if (name == "--latency-ms")        { if (! numberIn (0, 60000)) return false; options.settings.linkLatencyMs = (int) number; }
        else
        {
            error = "unknown option " + name;
            return false;
        }
    }

    if (options.root.empty())
    {
        error = "--root is required";
        return false;
    }

    return true;
}
} // namespace

int main (int argc, char** argv)
{
    Options options;
    std::string error;

    for (int i = 1; i < argc; ++i)
    {
        if (std::string (argv[i]) == "--help")
        {
            std::fputs (usage, stdout);
            return 0;
        }
    }

    if (! parseOptions (argc, argv, options, error))
        return failWith (error, true);

    FaultRules rules;

    for (const auto& source : options.rules)
    {
        const bool added = source.isScript ? rules.addScript (source.text, error) : rules.addRule (source.text, error);

        if (! added)
            return failWith (source.isScript ? error : "bad rule \"" + source.text + "\": " + error);
    }

    DeviceFileSystem fileSystem (options.root, options.firstHandle);

    if (! fileSystem.isValid())
        return failWith (options.root + " is not a folder");

    fileSystem.setMoveReplaces (options.moveReplaces);

    RequestLog log;

    if (! options.log.empty() && ! log.open (options.log))
        return failWith ("can't write " + options.log);

    Simulator::installSignalHandlers();
    PseudoTerminal pty;

    if (! pty.open() || (! options.link.empty() && ! pty.createLink (options.link)))
        return 2;

    RequestHandler handler (fileSystem, options.identity);
    Simulator simulator (pty, fileSystem, handler, rules, log);
    simulator.queueStartOutput();

    // Standard output carries the pty's path and nothing else: what would follow (the frame
    // receiver's reports of bad headers) goes to standard error, so that whoever reads the
    // path may stop reading.
    std::printf ("%s\n", pty.getSlavePath().c_str());
    std::fflush (stdout);
    ::dup2 (STDERR_FILENO, STDOUT_FILENO);

    return simulator.run (options.settings);
}
