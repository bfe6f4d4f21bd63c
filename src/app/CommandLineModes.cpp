#include "app/CommandLineModes.h"
#include "app/ConnectionPane.h"
#include "app/HostDialogs.h"
#include "app/MainPane.h"
#include "app/Settings.h"
#include "app/StationPane.h"
#include "device/MacAddress.h"
#include "device/RecordKeeper.h"
#include "device/RecordStore.h"
#include "device/StationJob.h"
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
        report.macAddress = macAddress;

        if (const auto* identity = pane.getIdentity())
        {
            report.identified = true;
            report.identity = *identity;
        }

        return RecordKeeper (store, USB_FILE_UTILITY_VERSION)
                   .keepSingleJob (report, pane.getOpenedPortName(), jobName, imagePath,
                                   Settings::get ("Verify after writing").getIntValue() != 0);
    }

private:
    ConnectionPane& pane;
    const juce::String jobName;
    DeviceReport report;
};

/** Stores the station keyword's options as the "Station" tab's settings; false with the
    problem when an option is unknown or lacks its value (nothing is stored then). */
bool storeStationOptions (const juce::StringArray& tokens, juce::String& problem)
{
    juce::String image, macFolder, ports, records;
    juce::StringArray uploads;
    bool verify = false, jobGiven = false, portsGiven = false, recordsGiven = false;

    for (int i = 1; i < tokens.size(); ++i)
    {
        const auto option = tokens[i];

        if (option == "--verify")
        {
            verify = jobGiven = true;
            continue;
        }

        if (option != "--image" && option != "--getmac" && option != "--put" && option != "--records" && option != "--ports")
        {
            problem = "Unknown option for station: " + option;
            return false;
        }

        if (i + 1 >= tokens.size())
        {
            problem = option + " needs a value";
            return false;
        }

        // A value with blanks comes quoted; the quotes are not part of it.
        const auto value = tokens[++i].unquoted();

        if (option == "--image")         { image = value; jobGiven = true; }
        else if (option == "--getmac")   { macFolder = value; jobGiven = true; }
        else if (option == "--records")  { records = value; recordsGiven = true; }
        else if (option == "--ports")    { ports = value; portsGiven = true; }
        else
        {
            if (StationJob::Upload upload; ! StationJob::Upload::parse (value, upload))
            {
                problem = "--put takes LOCAL=REMOTE, not " + value;
                return false;
            }

            uploads.add (value);
            jobGiven = true;
        }
    }

    if (jobGiven)
    {
        Settings::setAndSave ("StationImage", image);
        Settings::setAndSave ("StationMacFolder", macFolder);
        Settings::setAndSave ("StationUploads", uploads.joinIntoString ("; "));
        Settings::setAndSave ("Verify after writing", verify ? "1" : "0");
    }

    if (recordsGiven)
        Settings::setAndSave ("Records", records);

    if (portsGiven)
        Settings::setAndSave ("StationPorts", ports);

    return true;
}
} // namespace

CommandLineOutcome runCommandLine (const juce::String& commandLine, MainPane& mainPane)
{
    juce::StringArray tokens;
    tokens.addTokens (commandLine, " \t\r\n", "\"");
    tokens.removeEmptyStrings();

    const auto keyword = tokens[0];
    CommandLineOutcome outcome;

    if (keyword == "station")
    {
        juce::String problem;

        if (! storeStationOptions (tokens, problem))
        {
            logLine (problem);
            HostDialogs::current().showMessage (problem, true);
            outcome.quit = true;
            outcome.exitCode = -1;
            return outcome;
        }

        mainPane.getStationPane().loadSettings();
        outcome.station = true;
        return outcome;
    }

    if (keyword != "auto" && keyword != "getmac")
        return outcome;

    auto& connectionPane = mainPane.getConnectionPane();

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
