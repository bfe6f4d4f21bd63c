#pragma once

#include <juce_core/juce_core.h>

class FileTransfer;

/** The device-side steps of installing the firmware image: the sentinel test, the upload
    of the image, the check of its size on the device and, last, the trigger file that
    starts the installation; and the fetch of the MAC-address file. Logs the same lines in
    every front end; shows nothing. Transfers go through the FileTransfer given, with its
    progress watcher and its cancel. */
class FirmwareInstaller
{
public:
    static const juce::String remoteRoot;             ///< "/mnt/nandfs/"
    static const juce::String firmwareImagePath;      ///< "/mnt/nandfs/KX9image"
    static const juce::String triggerFilePath;        ///< the image path followed by "Done"
    static const juce::String firmwareSentinelPath;   ///< "/mnt/nandfs/lib/libm.so.2"
    static const juce::String macAddressFilePath;     ///< "/mnt/nandfs/macAddress.txt"

    enum class Result
    {
        alreadyInstalled,   ///< the sentinel file is there: nothing was sent
        updated,            ///< image sent, its size confirmed, trigger file created
        imageRefused,       ///< the local image is missing or empty: nothing was sent
        sendFailed,         ///< the image did not arrive whole; no trigger file
        cancelled,          ///< cancelled before the trigger; no trigger file
        triggerFailed       ///< the image arrived, but the trigger file couldn't be created
    };

    explicit FirmwareInstaller (FileTransfer& transfer) noexcept : transfer (transfer) {}

    /** True when the local image can be sent: a file that isn't empty (the device would
        install nothing). Otherwise logs why ("Update file not found: …", "Update file is
        empty: …"). Touches no device. */
    static bool checkImageFile (const juce::String& localImagePath);

    /** True when the device has the firmware's sentinel file (open for reading succeeds). */
    bool isFirmwarePresent();

    /** Installs the image unless the firmware is present; force skips that test. The
        trigger comes last, after a last look for a cancel: nothing cancelled or short is
        ever triggered. */
    Result install (const juce::String& localImagePath, bool force = false);

    /** Copies the MAC-address file to localPath; logs "Reading Mac file..." and, when it
        fails, "Failed to read mac file". */
    bool readMacFile (const juce::String& localPath);

private:
    bool sendImage (const juce::String& localImagePath);
    bool triggerUpdate();

    FileTransfer& transfer;
};
