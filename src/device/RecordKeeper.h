#pragma once

#include "device/DeviceJob.h"
#include "device/DeviceRecord.h"

class RecordStore;

/** Appends a record of each device job to a store: the job's report with when, where and by
    whom it ran and which image it carried. May be used from several threads at once. */
class RecordKeeper
{
public:
    /** The store must outlive the keeper. */
    RecordKeeper (RecordStore& store, const juce::String& toolVersion);

    /** The image the jobs carry, described once (name, size, SHA-256) for every record. */
    void setImage (const juce::String& imagePath);

    /** The record of a finished job. */
    DeviceRecord makeRecord (const DeviceReport& report, const juce::String& jobName, bool verified) const;

    /** Appends the record of a finished job; logs why when it can't. */
    bool keep (const DeviceReport& report, const juce::String& jobName, bool verified);

    /** Appends the record of a one-device job outside a station (the window's and the
        command line's update and getmac). The report brings its start, steps, error, MAC
        address and identity; here its port is described as the host lists it, it passes
        when it has no error, and the image, when one is named and there, is described. */
    bool keepSingleJob (DeviceReport report, const juce::String& portName, const juce::String& jobName,
                        const juce::String& imagePath, bool verified);

private:
    RecordStore& store;
    const juce::String toolVersion, host, user;
    juce::String imageName, imageSha256;
    juce::int64 imageSize = 0;
};
