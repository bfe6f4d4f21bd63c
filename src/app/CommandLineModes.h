#pragma once

#include <juce_core/juce_core.h>

class MainPane;

/** What an unattended mode asks of the application when it has run. */
struct CommandLineOutcome
{
    bool quit = false;     ///< a mode ran: the program ends now
    int exitCode = 0;      ///< 0, or -1 when a step failed
    bool station = false;  ///< the station's job is set: the window shows it and starts it
};

/** The unattended modes of a production line, chosen by the first word of the command
    line (letter case counts):
      auto           connect to the remembered port, update the firmware, quit
      getmac PATH    connect, copy the device's MAC-address file to PATH, quit
      station [--image FILE] [--getmac DIR] [--put LOCAL=REMOTE]... [--verify]
              [--records WHERE] [--ports LIST]
                     the "Station" tab's job: the options are stored as its fields (when
                     any of --image, --getmac, --put and --verify is given they are the
                     whole job, and the fields they don't name are emptied; --records and
                     --ports replace only their own), then station is set in the outcome;
                     an unknown option or a missing value quits with -1
    Anything else starts the program for interactive use (quit stays false). Runs on the
    message thread and returns once the mode's work is done. */
CommandLineOutcome runCommandLine (const juce::String& commandLine, MainPane& mainPane);
