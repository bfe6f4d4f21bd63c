#include "app/CommandLineModes.h"
#include "app/ConnectionPane.h"
#include "app/HostDialogs.h"
#include "app/Settings.h"
#include "device/MacAddress.h"
#include "device/PortChoice.h"
#include "device/RecordKeeper.h"
#include "device/RecordStore.h"
#include "remotefs/HostPaths.h"
#include "base/ILogger.h"
#include "base/WaitClock.h"

namespace
{
/** The store for the devices' records that the setting "Records" names (empty: the default
    file); nullptr, with the reason logged and shown, when it can't be opened. */
std::unique_ptr<RecordStore> openRecords()
{
    juce::String error;
    auto store = RecordStore::open (Settings::get ("Records"), error);

    if (store == nullptr)
    {
        logLine ("Can't keep the devices' records: " + error);
        HostDialogs::current().showMessage ("Can't keep the devices' records: " + error, true);
    }

    return store;
}

/** A mode's steps, timed, and the record of them at the end. */
class ModeRecord
{
public:
    ModeRecord (ConnectionPane& p, const juce::String& name) : pane (p), jobName (name)
    {
        report.startTime = juce::Time::getCurrentTime();
    }

    /** Runs one step; false when it failed (then no further step runs). */
    bool step (const juce::String& name, const std::function<bool()>& body, const juce::String& failure)
    {
        if (! report.error.isEmpty())
            return false;

        const auto start = WaitClock::nowMs();
        const bool passed = body();
        report.steps.add ({ name, passed, (WaitClock::nowMs() - start) / 1000.0, {} });

        if (! passed)
            report.error = name + ": " + failure;

        return passed;
    }

    /** Appends the record; false when it couldn't be kept. */
    bool keep (RecordStore& store, const juce::String& macAddress, const juce::String& imagePath)
    {
        const auto port = PortChoice::describe (pane.getOpenedPortName());
        report.slot = port.slot;
        report.port = port.portName;
        report.usbSerial = port.usbSerial;
        report.macAddress = macAddress;
        report.finished = true;
        report.passed = report.error.isEmpty();
        report.seconds = (juce::Time::getCurrentTime() - report.startTime).inSeconds();

        if (const auto* identity = pane.getIdentity())
        {
            report.identified = true;
            report.identity = *identity;
        }

        RecordKeeper keeper (store, USB_FILE_UTILITY_VERSION);

        if (imagePath.isNotEmpty() && resolveLocalPath (imagePath).existsAsFile())
            keeper.setImage (imagePath);

        return keeper.keep (report, jobName, Settings::get ("Verify after writing").getIntValue() != 0);
    }

private:
    ConnectionPane& pane;
    const juce::String jobName;
    DeviceReport report;
};
} // namespace

CommandLineOutcome runCommandLine (const juce::String& commandLine, ConnectionPane& connectionPane)
{
    juce::StringArray tokens;
    tokens.addTokens (commandLine, " \t\r\n", "\"");

    const auto keyword = tokens[0];
    CommandLineOutcome outcome;

    if (keyword != "auto" && keyword != "getmac")
        return outcome;

    outcome.quit = true;
    outcome.exitCode = -1;

    // Every unattended job leaves a record; a store that can't take it stops the job
    // before the device is touched.
    const auto records = openRecords();

    if (records == nullptr)
        return outcome;

    ModeRecord record (connectionPane, keyword);
    const auto connected = [&] { return connectionPane.connectToSelectedPort(); };

    if (keyword == "auto")
    {
        const auto image = connectionPane.getUpdateFilePath();
        const bool done = record.step ("connect", connected, "no device answered")
                       && record.step ("update", [&] { return connectionPane.updateFirmware(); },
                                       "the firmware was not installed");

        if (record.keep (*records, {}, image) && done)
            outcome.exitCode = 0;
    }
    else
    {
        // A path with blanks comes quoted; the quotes are not part of it.
        const auto localPath = tokens[1].unquoted();
        const bool done = record.step ("connect", connected, "no device answered")
                       && record.step ("getmac", [&] { return connectionPane.readMacFile (localPath); },
                                       "the MAC-address file couldn't be read");
        const auto address = done ? MacAddress::find (resolveLocalPath (localPath).loadFileAsString()) : juce::String();

        if (record.keep (*records, address, {}) && done)
            outcome.exitCode = 0;
    }

    return outcome;
}
