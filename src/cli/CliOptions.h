#pragma once

#include <string>
#include <vector>

class Commands;

/** What the command line asks for. Texts are the argument bytes as given. */
struct CliOptions
{
    std::string port, logFile;
    bool json = false, quiet = false;
    double timeoutSeconds = 0;       ///< --timeout or USB_FILE_UTILITY_TIMEOUT; 0: each request's own

    std::string command;             ///< ports, identify, ls, stat, get, cat, put, rm, mkdir, mv, update, getmac, watch, station, history, doctor
    int (Commands::*run)() = nullptr;   ///< the command's member, set by its subcommand's callback
    bool recursive = false;          ///< get -r, put -r
    bool longListing = false;        ///< ls -l
    bool force = false;              ///< update --force
    bool verify = false;             ///< get, put, update and station --verify
    std::vector<std::string> operands;
    std::vector<std::string> catPaths;  ///< the operands of the commands that take any number
    bool parents = false;            ///< mkdir -p

    // station
    std::string image, macFolder, junitFile;
    std::vector<std::string> uploads;   ///< LOCAL=REMOTE
    std::vector<std::string> ports;     ///< --ports, split at commas
    bool continuous = false;

    // records: update, getmac, station and history
    std::string records;                ///< --records FILE or postgresql://…; empty: the default file
    std::string historyMac, historySince;
    bool historyFailed = false, csv = false;

    /** Parses the arguments (argument 0 is the program). Returns -1 when a command is to
        run; otherwise the exit code: 0 after --help or --version (printed on standard
        output), 2 after a usage error (printed with the usage on standard error). */
    int parse (const std::vector<std::string>& arguments);
};
