#pragma once

#include <juce_core/juce_core.h>

class ConnectionPane;

/** What an unattended mode asks of the application when it has run. */
struct CommandLineOutcome
{
    bool quit = false;     ///< a mode ran: the program ends now
    int exitCode = 0;      ///< 0, or -1 when a step failed
};

/** The unattended modes of a production line, chosen by the first word of the command
    line (letter case counts):
      auto           connect to the remembered port, update the firmware, quit
      getmac PATH    connect, copy the device's MAC-address file to PATH, quit
    Anything else starts the program for interactive use (quit stays false). Runs on the
    message thread and returns once the mode's work is done. */
CommandLineOutcome runCommandLine (const juce::String& commandLine, ConnectionPane& connectionPane);
