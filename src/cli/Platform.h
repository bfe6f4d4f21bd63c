#pragma once

#include <juce_core/juce_core.h>

#include <cstdio>
#include <string>
#include <vector>

/** What the command-line tool needs of the operating system, one file per platform. */
namespace Platform
{
    /** The arguments as bytes: as given on POSIX (a device name that isn't UTF-8 stays
        as it is), UTF-8 from the wide command line on Windows. */
    std::vector<std::string> arguments (int argc, char** argv);

    /** Prepares the console for UTF-8 output. */
    void setUpConsole();

    bool isTerminal (std::FILE* stream);

    /** Copies standard input, as bytes, to the end; false when reading or writing failed. */
    bool copyStandardInput (juce::OutputStream& out);

    /** The first Ctrl-C (or termination request) sets the flag that wasInterrupted reports;
        a second one ends the process at once. */
    void catchInterrupts();
    bool wasInterrupted() noexcept;
}
