#pragma once

#include <juce_core/juce_core.h>

/** What a station does on every device, in this order: open and identify; the MAC-address
    file into macFolder, named after the address it holds; each upload in the order given;
    the firmware image (skipped when the device has the firmware), whose trigger is the
    last thing done. Every part but the first is optional. */
struct StationJob
{
    struct Upload
    {
        juce::String localPath, remotePath;   ///< a host file or folder tree, and where it goes

        /** "LOCAL=REMOTE", split at the first '=' and trimmed; false when there is no '=' or
            nothing before it. */
        static bool parse (const juce::String& text, Upload& upload);
    };

    juce::String imagePath;          ///< empty: no firmware step
    juce::String macFolder;          ///< empty: no MAC-address step
    juce::Array<Upload> uploads;
    bool verify = false;             ///< read every upload back before it counts
    int answerTimeoutMs = 0;         ///< how long each answer is waited for; 0: each request's own

    /** Checks the host side once, before any device is touched: the image is a readable file
        that isn't empty, each upload's source is there, the MAC folder is there (it is made
        when missing). Logs each problem; false when there is any. */
    bool check() const;
};

/** One step of a device's job, once it has ended. */
struct JobStep
{
    juce::String name;      ///< "open", "identify", "getmac", "put REMOTE", "update"
    bool passed = false;
    double seconds = 0;
    juce::String detail;    ///< e.g. "skipped" for firmware that was already there
};
