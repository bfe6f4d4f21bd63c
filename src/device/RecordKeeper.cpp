#include "device/RecordKeeper.h"
#include "device/PortChoice.h"
#include "device/RecordStore.h"
#include "remotefs/HostPaths.h"
#include "base/ILogger.h"

#include <juce_cryptography/juce_cryptography.h>

RecordKeeper::RecordKeeper (RecordStore& s, const juce::String& version)
    : store (s),
      toolVersion (version),
      host (juce::SystemStats::getComputerName()),
      user (juce::SystemStats::getLogonName())
{
}

void RecordKeeper::setImage (const juce::String& imagePath)
{
    const auto image = resolveLocalPath (imagePath);
    imageName = image.getFileName();
    imageSize = image.getSize();
    imageSha256 = juce::SHA256 (image).toHexString();
}

DeviceRecord RecordKeeper::makeRecord (const DeviceReport& report, const juce::String& jobName, bool verified) const
{
    DeviceRecord record;
    record.time = report.startTime;
    record.host = host;
    record.user = user;
    record.toolVersion = toolVersion;
    record.job = jobName;
    record.slot = report.slot;
    record.port = report.port;
    record.usbSerial = report.usbSerial;
    record.identified = report.identified;

    if (report.identified)
    {
        record.familyId = report.identity.familyId;
        record.deviceId = report.identity.deviceId;
        record.protocolVersion = report.identity.protocolVersion;
        record.firmwareVersion = report.identity.firmwareVersion;
        record.firstText = report.identity.firstText;
        record.secondText = report.identity.secondText;
    }

    record.macAddress = report.macAddress;
    record.imageName = imageName;
    record.imageSize = imageSize;
    record.imageSha256 = imageSha256;
    record.verified = verified;
    record.steps = report.steps;
    record.passed = report.passed;
    record.error = report.error;
    return record;
}

bool RecordKeeper::keepSingleJob (DeviceReport report, const juce::String& portName, const juce::String& jobName,
                                  const juce::String& imagePath, bool verified)
{
    const auto port = PortChoice::describe (portName);
    report.slot = port.slot;
    report.port = port.portName;
    report.usbSerial = port.usbSerial;
    report.finished = true;
    report.passed = report.error.isEmpty();
    report.seconds = (juce::Time::getCurrentTime() - report.startTime).inSeconds();

    if (imagePath.isNotEmpty() && resolveLocalPath (imagePath).existsAsFile())
        setImage (imagePath);

    return keep (report, jobName, verified);
}

bool RecordKeeper::keep (const DeviceReport& report, const juce::String& jobName, bool verified)
{
    juce::String error;

    if (store.append (makeRecord (report, jobName, verified), error))
        return true;

    logLine ("Couldn't keep the device's record in " + store.describe() + ": " + error);
    return false;
}
