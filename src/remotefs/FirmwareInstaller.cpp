#include "remotefs/FirmwareInstaller.h"
#include "remotefs/HostPaths.h"
#include "protocol/VeltraneClient.h"
#include "app/ILogger.h"

const juce::String FirmwareInstaller::remoteRoot ("/mnt/nandfs/");
const juce::String FirmwareInstaller::firmwareImagePath ("/mnt/nandfs/KX9image");
const juce::String FirmwareInstaller::triggerFilePath ("/mnt/nandfs/KX9imageDone");
const juce::String FirmwareInstaller::firmwareSentinelPath ("/mnt/nandfs/lib/libm.so.2");
const juce::String FirmwareInstaller::macAddressFilePath ("/mnt/nandfs/macAddress.txt");

bool FirmwareInstaller::isFirmwarePresent()
{
    juce::int64 handle = 0;

    if (client.openRemoteFile (firmwareSentinelPath, 1, handle) != 0)
        return false;

    client.closeRemoteFile (handle);
    return true;
}

FirmwareInstaller::Result FirmwareInstaller::install (const juce::String& localImagePath, bool force)
{
    if (! force)
    {
        logLine ("Checking for existing firmware...");

        if (isFirmwarePresent())
        {
            logLine ("Firmware already exists, skipping update");
            return Result::alreadyInstalled;
        }

        logLine ("Existing firmware not found, updating...");
    }

    logLine ("sending " + localImagePath + " as " + firmwareImagePath);

    if (! sendImage (localImagePath))
        return Result::sendFailed;

    logLine ("done.");
    logLine ("Triggering update...");

    if (! triggerUpdate())
    {
        logLine ("Failed to trigger update");
        return Result::triggerFailed;
    }

    logLine ("done.");
    return Result::updated;
}

bool FirmwareInstaller::sendImage (const juce::String& localImagePath)
{
    if (client.sendFile (localImagePath, firmwareImagePath) != 0)
        return false;

    // The device starts installing from the trigger file alone: make sure it holds the
    // whole image first.
    return confirmRemoteFileSize (client, firmwareImagePath, resolveLocalPath (localImagePath).getSize());
}

bool FirmwareInstaller::triggerUpdate()
{
    juce::int64 handle = 0;
    return client.openRemoteFile (triggerFilePath, 0, handle) == 0 && client.closeRemoteFile (handle) == 0;
}

bool confirmRemoteFileSize (VeltraneClient& client, const juce::String& remotePath, juce::int64 expectedSize)
{
    FileSystemEntryInfo info;

    if (client.getRemoteEntryInfo (remotePath, false, info) != 0)
        return false;

    if (info.exists && info.size == expectedSize)
        return true;

    logLine ("The device reports " + (info.exists ? juce::String (info.size) + " bytes" : juce::String ("no file"))
             + " for " + remotePath + ", expected " + juce::String (expectedSize) + " bytes");
    return false;
}
