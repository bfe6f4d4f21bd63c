#pragma once

#include "device/StationJob.h"

/** What is kept of one device job, months later: where and when it ran, which device it
    was, what it received and how each step went. Never the contents of device files other
    than the MAC address. */
struct DeviceRecord
{
    juce::Time time;                    ///< when the job started (stored as UTC)
    juce::String host, user, toolVersion;
    juce::String job;                   ///< "station", "update", "getmac", "auto"
    juce::String slot, port;
    juce::String usbSerial;             ///< where the system reports one
    bool identified = false;
    int familyId = 0, deviceId = 0, protocolVersion = 0, firmwareVersion = 0;
    juce::String firstText, secondText;
    juce::String macAddress;            ///< "00-1A-2B-3C-4D-5E" when it was read
    juce::String imageName;             ///< the image's file name, when one was sent or checked
    juce::int64 imageSize = 0;
    juce::String imageSha256;           ///< 64 lower-case hex digits
    bool verified = false;              ///< the uploads and the image were read back
    juce::Array<JobStep> steps;
    bool passed = false;
    juce::String error;
};
