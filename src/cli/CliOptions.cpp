#include "cli/CliOptions.h"
#include "cli/Commands.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace
{
constexpr const char* description =
    "USB File Utility on the command line: one command on the device per run.\n"
    "Exit codes: 0 success; 1 a device operation failed (for trees: any entry not copied;\n"
    "for the station: any device failed);\n"
    "2 bad usage; 3 no usable port.";

/** The subcommand a parse error belongs to, for its usage. */
const CLI::App* deepestParsed (const CLI::App& app)
{
    for (const auto* sub : app.get_subcommands())
        return deepestParsed (*sub);

    return &app;
}
} // namespace

int CliOptions::parse (const std::vector<std::string>& arguments)
{
    CLI::App app (description, "usb-file-utility-cli");
    app.set_version_flag ("--version", std::string ("usb-file-utility-cli ") + USB_CLI_VERSION);
    app.require_subcommand (1);
    // Device paths start with "/": never Windows-style options.
    app.allow_windows_style_options (false);

    // The global options may also stand after the command (get --json ...): what a
    // command doesn't know goes to the tool.
    app.fallthrough();
    app.option_defaults()->always_capture_default (false);

    app.add_option ("--port", port, "the port: a discovered device, a COM port or a device path")->type_name ("NAME");
    app.add_flag ("--json", json, "results as JSON, one object per line");
    app.add_flag ("--quiet", quiet, "no progress line and no log on standard error");
    app.add_option ("--log", logFile, "also append the log to FILE")->type_name ("FILE");
    app.add_option ("--timeout", timeoutSeconds, "wait up to SECONDS for each device answer (slow devices, big deletes)")
       ->type_name ("SECONDS")
       ->envname ("USB_FILE_UTILITY_TIMEOUT")
       ->check (CLI::Range (0.001, 3600.0));

    // One callback per command: it names the member that runs it.
    const auto on = [this] (CLI::App* sub, int (Commands::*member)())
    {
        sub->callback ([this, sub, member] { command = sub->get_name(); run = member; });
        sub->footer ("Global options, before or after the command: --port NAME, --json, --quiet, --log FILE,\n"
                     "--timeout SECONDS (see usb-file-utility-cli --help)");
        return sub;
    };

    on (app.add_subcommand ("ports", "ports that can be used: discovered devices, then USB_FILE_UTILITY_PORTS"), &Commands::ports);
    on (app.add_subcommand ("identify", "the device's identification"), &Commands::identify);

    auto* ls = on (app.add_subcommand ("ls", "names in device folders (default /mnt/nandfs/usr), in the order the "
                                             "\"File System\" tab shows them; a file shows itself"), &Commands::list);
    ls->add_flag ("-l", longListing, "add type, size, writability and modification time");
    ls->add_option ("REMOTE", catPaths, "device folders or files (patterns with * and ? are matched on the device)");

    auto* stat = on (app.add_subcommand ("stat", "one device entry each: type, size, writability and modification time"),
                     &Commands::stat);
    stat->add_option ("REMOTE", catPaths, "device entries")->required();

    auto* get = on (app.add_subcommand ("get", "device files (or with -r folder trees) to the host; with several, "
                                               "LOCAL is a folder"), &Commands::get);
    get->add_option ("REMOTE... LOCAL", catPaths, "device files or folders (patterns with * and ? are matched on the "
                                                  "device), then the host file or folder (- for standard output)")
       ->required()
       ->expected (2, -1)
       ->type_name ("");
    get->add_flag ("-r", recursive, "a whole folder tree");
    get->add_flag ("--verify", verify, "read each file a second time and compare");

    auto* cat = on (app.add_subcommand ("cat", "device files, one after another, to standard output"), &Commands::cat);
    cat->add_option ("REMOTE", catPaths, "device files")->required();

    auto* put = on (app.add_subcommand ("put", "a host file (or with -r a folder tree) to the device"), &Commands::put);
    put->add_flag ("-r", recursive, "a whole folder tree");
    put->add_flag ("--verify", verify, "read each file back from the device and compare");

    auto* rm = on (app.add_subcommand ("rm", "delete device files, or with -r folders with everything in them"), &Commands::remove);
    rm->add_flag ("-r", recursive, "a folder, with everything in it");
    rm->add_option ("REMOTE", catPaths, "device entries (patterns with * and ? are matched on the device)")->required();
    auto* mkdir = on (app.add_subcommand ("mkdir", "create device folders"), &Commands::makeFolder);
    mkdir->add_flag ("-p", parents, "make missing parent folders too; an existing folder is no error");
    mkdir->add_option ("REMOTE", catPaths, "device folders")->required();
    auto* mv = on (app.add_subcommand ("mv", "rename or move a device entry"), &Commands::move);

    auto* update = on (app.add_subcommand ("update", "install a firmware image unless the device has the firmware"), &Commands::update);
    update->add_flag ("--force", force, "install even when the firmware is present");
    update->add_flag ("--verify", verify, "read the image back before it is triggered");

    auto* getmac = on (app.add_subcommand ("getmac", "the device's MAC-address file to PATH"), &Commands::getMac);

    auto* history = on (app.add_subcommand ("history", "the devices' records, newest first"), &Commands::history);
    history->add_option ("--mac", historyMac, "only this device's")->type_name ("ADDRESS");
    history->add_option ("--since", historySince, "only those started then or later (2026-12-01, or ISO 8601)")
           ->type_name ("DATE");
    history->add_flag ("--failed", historyFailed, "only failed jobs");
    history->add_flag ("--csv", csv, "comma-separated values with a header line, for a spreadsheet");

    on (app.add_subcommand ("watch", "the device's notifications, one line each, until interrupted"), &Commands::watch);
    auto* station = on (app.add_subcommand ("station", "serve every attached device at once: identify, MAC file, uploads, firmware"),
                        &Commands::station);
    station->add_option ("--image", image, "install this firmware image (skipped where the device has the firmware)")
           ->type_name ("FILE");
    station->add_option ("--getmac", macFolder, "store each MAC-address file in DIR, named after its address")
           ->type_name ("DIR");
    station->add_option ("--put", uploads, "send a host file or folder to the device (may be repeated)")
           ->type_name ("LOCAL=REMOTE")
           ->check ([] (const std::string& value)
           {
               const auto equals = value.find ('=');
               return equals == std::string::npos || equals == 0 || equals + 1 == value.size()
                          ? std::string ("expected LOCAL=REMOTE") : std::string();
           });
    station->add_option ("--ports", ports, "only these ports (names, device names or slots, separated by commas)")
           ->type_name ("LIST")
           ->delimiter (',');
    station->add_flag ("--continuous", continuous, "watch the ports and serve each device that appears, until interrupted");
    station->add_option ("--junit", junitFile, "write a JUnit report, one test case per device")->type_name ("FILE");
    station->add_flag ("--verify", verify, "read every upload back before it counts");

    // Where the devices' records go (and history reads them).
    for (auto* keeping : { update, getmac, station, history })
        keeping->add_option ("--records", records, "the records: a SQLite file, or a postgresql:// address "
                                                   "(default: the SQLite file in the user's data folder)")
                ->type_name ("WHERE");

    on (app.add_subcommand ("doctor", "check everything on this host that stops a connect (and --port NAME too)"), &Commands::doctor);

    // Each subcommand's operands, in order; only one subcommand is parsed.
    const std::vector<std::pair<CLI::App*, std::vector<std::pair<const char*, const char*>>>> operandsOf {
        { put, { { "LOCAL", "host file or folder; - for standard input" }, { "REMOTE", "device file or folder" } } },
        { mv, { { "FROM", "device entry" }, { "TO", "its new path" } } },
        { update, { { "IMAGE", "firmware image file" } } },
        { getmac, { { "PATH", "host file; - prints the address" } } },
    };

    std::vector<std::string> first (operandsOf.size()), second (operandsOf.size());

    for (size_t i = 0; i < operandsOf.size(); ++i)
    {
        auto* sub = operandsOf[i].first;
        const auto& names = operandsOf[i].second;
        sub->add_option (names[0].first, first[i], names[0].second)->required();

        if (names.size() > 1)
            sub->add_option (names[1].first, second[i], names[1].second)->required();
    }

    std::vector<char*> argv;

    for (const auto& argument : arguments)
        argv.push_back (const_cast<char*> (argument.c_str()));

    try
    {
        app.parse ((int) argv.size(), argv.data());
    }
    catch (const CLI::CallForHelp&)
    {
        std::cout << deepestParsed (app)->help();
        return 0;
    }
    catch (const CLI::CallForAllHelp&)
    {
        std::cout << app.help ("", CLI::AppFormatMode::All);
        return 0;
    }
    catch (const CLI::CallForVersion& e)
    {
        std::cout << e.what() << "\n";
        return 0;
    }
    catch (const CLI::ParseError& e)
    {
        std::cerr << "usb-file-utility-cli: " << e.what() << "\n\n" << deepestParsed (app)->help();
        return 2;
    }

    operands.clear();
    const auto* chosen = app.get_subcommands().front();

    // The commands that take any number of operands.
    for (const auto* many : { cat, ls, stat, get, rm, mkdir })
        if (chosen == many)
            operands = catPaths;

    for (size_t i = 0; i < operandsOf.size(); ++i)
    {
        if (operandsOf[i].first == chosen)
        {
            operands.push_back (first[i]);

            if (operandsOf[i].second.size() > 1)
                operands.push_back (second[i]);
        }
    }

    return -1;
}
