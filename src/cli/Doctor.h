#pragma once

#include <juce_core/juce_core.h>

#include <vector>

/** Where the doctor finds the system's information; the defaults are the real ones. */
struct DoctorHost
{
    juce::File procRoot { "/proc" };
    juce::File sysRoot { "/sys" };
    juce::File devRoot { "/dev" };
    juce::File udevDataRoot { "/run/udev/data" };
    juce::Array<juce::File> ruleFolders { juce::File ("/etc/udev/rules.d"), juce::File ("/usr/lib/udev/rules.d"),
                                          juce::File ("/lib/udev/rules.d") };
    int userId = -1;                 ///< -1: this process's
    juce::Array<int> groupIds;       ///< empty: this process's
};

/** The checks of "usb-file-utility-cli doctor": everything on this host that stops a
    connect to the device, each with what was found and, for a problem, how to fix it.
    The host's folders and the user's identity are parameters, so that the checks can run
    against a made-up system. */
class Doctor
{
public:
    struct Check
    {
        juce::String name;      ///< short and stable: "device", "tty", "access", ...
        bool ok = true;
        juce::String finding;   ///< what was found, in a sentence
        juce::String fix;       ///< what to do about a problem; empty when ok
    };

    /** Where the system's information is; see DoctorHost. */
    using Host = DoctorHost;

    explicit Doctor (Host hostToCheck = {}) : host (std::move (hostToCheck)) {}

    /** Runs every check; portName (when not empty) is a port the operator named. */
    std::vector<Check> run (const juce::String& portName) const;

    /** True when no check found a problem. */
    static bool allOk (const std::vector<Check>& checks)
    {
        for (const auto& check : checks)
            if (! check.ok)
                return false;

        return true;
    }

private:
    Host host;
};
