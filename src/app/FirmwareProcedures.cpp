// The production-line procedures of the connection pane: installing the firmware image
// and fetching the MAC-address file. The device work is FirmwareInstaller's; this adds
// the boxes that tell the operator how it went.

#include "app/ConnectionPane.h"
#include "app/HostDialogs.h"
#include "app/MainPane.h"
#include "device/FirmwareInstaller.h"

namespace
{
void showMessage (const juce::String& text, bool warning = false)
{
    HostDialogs::current().showMessage (text, warning);
}
} // namespace

bool ConnectionPane::updateFirmware()
{
    MainPane::DeviceOperation operation (mainPane);

    if (! operation)
        return false;

    updateButton.setEnabled (false);

    using Result = FirmwareInstaller::Result;
    const auto result = FirmwareInstaller (mainPane.getTransfers()).install (updateFileBox.getText());
    mainPane.hideProgress();

    switch (result)
    {
        case Result::alreadyInstalled:  showMessage ("Firmware already exists, skipping update"); break;
        case Result::updated:           showMessage ("Firmware update completed"); break;
        case Result::triggerFailed:     showMessage ("The firmware update could not be triggered", true); break;
        case Result::cancelled:         break;   // the log says so; nobody waits for a box then
        case Result::imageRefused:
        case Result::sendFailed:
            if (! mainPane.wasCancelled())
                showMessage ("Failed to send update file", true);
            break;
    }

    const bool succeeded = result == Result::alreadyInstalled || result == Result::updated;

    if (succeeded)
        logLine ("Closing Port.");

    returnToIdle();
    return succeeded;
}

bool ConnectionPane::readMacFile (const juce::String& localPath)
{
    MainPane::DeviceOperation operation (mainPane);

    if (! operation)
        return false;

    const auto copied = FirmwareInstaller (mainPane.getTransfers()).readMacFile (localPath);
    mainPane.hideProgress();

    if (! copied)
    {
        if (! mainPane.wasCancelled())
            showMessage ("Failed to read mac file", true);

        return false;
    }

    showMessage ("Mac file stored to:  " + localPath);
    return true;
}
