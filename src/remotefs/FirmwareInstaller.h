#pragma once

#include <juce_core/juce_core.h>

class VeltraneClient;

/** The device-side steps of installing the firmware image: the sentinel test, the upload
    of the image, the check of its size on the device and the trigger file that starts the
    installation. Logs the same lines as the "Update" button; shows nothing. */
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
        sendFailed,         ///< the image did not arrive whole; no trigger file
        triggerFailed       ///< the image arrived, but the trigger file couldn't be created
    };

    explicit FirmwareInstaller (VeltraneClient& client) : client (client) {}

    /** True when the device has the firmware's sentinel file (open for reading succeeds). */
    bool isFirmwarePresent();

    /** Installs the image unless the firmware is present; force skips that test. */
    Result install (const juce::String& localImagePath, bool force = false);

    /** Sends the image and checks that the device reports its full size. */
    bool sendImage (const juce::String& localImagePath);

    /** Creates the empty trigger file beside the image (open for writing, then close). */
    bool triggerUpdate();

private:
    VeltraneClient& client;
};

/** True when the device reports a file at remotePath of exactly expectedSize bytes;
    otherwise logs what it reports. */
bool confirmRemoteFileSize (VeltraneClient& client, const juce::String& remotePath, juce::int64 expectedSize);
