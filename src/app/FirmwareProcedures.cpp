// The production-line procedures of the connection pane: installing the firmware image
// and fetching the MAC-address file.

#include "app/ConnectionPane.h"
#include "app/HostDialogs.h"
#include "app/MainPane.h"
#include "remotefs/HostPaths.h"

namespace
{
const juce::String remoteRoot = "/mnt/nandfs/";
const juce::String firmwareImageName = "KX9image";
const juce::String firmwareSentinelPath = "/mnt/nandfs/lib/libm.so.2";
const juce::String macAddressFilePath = "/mnt/nandfs/macAddress.txt";

void showMessage (const juce::String& text, bool warning = false)
{
    HostDialogs::current().showMessage (text, warning);
}

/** Logs why the image at localPath can't be installed: it isn't a file, or it is empty
    (the device would install nothing). Returns true when it can be sent. */
bool checkImageFile (const juce::String& localPath)
{
    const auto image = resolveLocalPath (localPath);

    if (! image.existsAsFile())
    {
        logLine ("Update file not found: " + localPath);
        return false;
    }

    if (image.getSize() == 0)
    {
        logLine ("Update file is empty: " + localPath);
        return false;
    }

    return true;
}
} // namespace

bool ConnectionPane::updateFirmware()
{
    MainPane::DeviceOperation operation (mainPane);

    if (! operation)
        return false;

    auto& client = mainPane.getClient();
    updateButton.setEnabled (false);
    logLine ("Checking for existing firmware...");

    juce::int64 handle = 0;

    if (client.openRemoteFile (firmwareSentinelPath, 1, handle) == 0)
    {
        client.closeRemoteFile (handle);
        logLine ("Firmware already exists, skipping update");
        showMessage ("Firmware already exists, skipping update");
    }
    else
    {
        const auto imagePath = remoteRoot + firmwareImageName;
        const auto localPath = updateFileBox.getText();

        logLine ("Existing firmware not found, updating...");

        // Nothing reaches the device unless there is an image to install.
        if (! checkImageFile (localPath))
        {
            showMessage ("Failed to send update file", true);
            returnToIdle();
            return false;
        }

        logLine ("sending " + localPath + " as " + imagePath);

        const auto sent = client.sendFile (localPath, imagePath);
        mainPane.hideProgress();

        if (sent < 0)
        {
            // A cancel has said so in the log; nobody waits for a box then.
            if (! mainPane.wasCancelled())
                showMessage ("Failed to send update file", true);

            returnToIdle();
            return false;
        }

        logLine ("done.");
        logLine ("Triggering update...");

        // The device starts installing once the empty trigger file exists beside the image.
        juce::int64 triggerHandle = 0;

        if (client.openRemoteFile (imagePath + "Done", 0, triggerHandle) != 0
            || client.closeRemoteFile (triggerHandle) != 0)
        {
            logLine ("Failed to trigger update");
            showMessage ("The firmware update could not be triggered", true);
            returnToIdle();
            return false;
        }

        logLine ("done.");
        showMessage ("Firmware update completed");
    }

    logLine ("Closing Port.");
    returnToIdle();
    return true;
}

bool ConnectionPane::readMacFile (const juce::String& localPath)
{
    MainPane::DeviceOperation operation (mainPane);

    if (! operation)
        return false;

    logLine ("Reading Mac file...");

    const auto copied = mainPane.getClient().getFile (macAddressFilePath, localPath);
    mainPane.hideProgress();

    if (copied != 0)
    {
        logLine ("Failed to read mac file");

        if (! mainPane.wasCancelled())
            showMessage ("Failed to read mac file", true);

        return false;
    }

    showMessage ("Mac file stored to:  " + localPath);
    return true;
}
