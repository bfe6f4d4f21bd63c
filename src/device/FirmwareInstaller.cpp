#include "device/FirmwareInstaller.h"
#include "remotefs/FileTransfer.h"
#include "remotefs/HostPaths.h"
#include "base/ILogger.h"

const juce::String FirmwareInstaller::remoteRoot ("/mnt/nandfs/");
const juce::String FirmwareInstaller::firmwareImagePath ("/mnt/nandfs/KX9image");
const juce::String FirmwareInstaller::triggerFilePath ("/mnt/nandfs/KX9imageDone");
const juce::String FirmwareInstaller::firmwareSentinelPath ("/mnt/nandfs/lib/libm.so.2");
const juce::String FirmwareInstaller::macAddressFilePath ("/mnt/nandfs/macAddress.txt");

bool FirmwareInstaller::checkImageFile (const juce::String& localImagePath)
{
    const auto image = resolveLocalPath (localImagePath);

    if (! image.existsAsFile())
    {
        logLine ("Update file not found: " + localImagePath);
        return false;
    }

    if (image.getSize() == 0)
    {
        logLine ("Update file is empty: " + localImagePath);
        return false;
    }

    return true;
}

bool FirmwareInstaller::isFirmwarePresent()
{
    auto& files = transfer.getFileSystem();
    juce::int64 handle = 0;

    if (files.openRemoteFile (firmwareSentinelPath, 1, handle) != 0)
        return false;

    files.closeRemoteFile (handle);
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

    // Nothing reaches the device unless there is an image to install.
    if (! checkImageFile (localImagePath))
        return Result::imageRefused;

    logLine ("sending " + localImagePath + " as " + firmwareImagePath);

    if (! sendImage (localImagePath))
        return transfer.isCancelled() ? Result::cancelled : Result::sendFailed;

    logLine ("done.");

    if (transfer.isCancelled())
        return Result::cancelled;

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
    // The image keeps its own name while it arrives: the trigger file, not a rename, is
    // what makes the device use it.
    if (transfer.sendFileInPlace (localImagePath, firmwareImagePath) != 0)
        return false;

    // The device starts installing from the trigger file alone: make sure it holds the
    // whole image first.
    return transfer.getFileSystem().confirmFileSize (firmwareImagePath, resolveLocalPath (localImagePath).getSize());
}

bool FirmwareInstaller::triggerUpdate()
{
    auto& files = transfer.getFileSystem();
    juce::int64 handle = 0;
    return files.openRemoteFile (triggerFilePath, 0, handle) == 0 && files.closeRemoteFile (handle) == 0;
}

bool FirmwareInstaller::readMacFile (const juce::String& localPath)
{
    logLine ("Reading Mac file...");

    if (transfer.getFile (macAddressFilePath, localPath) == 0)
        return true;

    logLine ("Failed to read mac file");
    return false;
}
