#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Doctor.h"
#include "cli/Platform.h"
#include "cli/ProgressLine.h"
#include "cli/StationOutput.h"
#include "cli/TerminalText.h"
#include "device/FirmwareInstaller.h"
#include "device/MacAddress.h"
#include "device/NotificationText.h"
#include "device/PortChoice.h"
#include "device/RecordKeeper.h"
#include "device/Station.h"
#include "remotefs/HostPaths.h"
#include "remotefs/LocalFiles.h"
#include "remotefs/LocalTargetResolver.h"
#include "remotefs/RemoteListing.h"
#include "base/DeviceText.h"

#include <cmath>

namespace
{
using Json = nlohmann::ordered_json;

/** Hands the progress object to the transfers for one command. */
struct ScopedProgress
{
    ScopedProgress (FileTransfer& t, TransferProgress& progress) : transfer (t) { transfer.setTransferProgress (&progress); }
    ~ScopedProgress() { transfer.setTransferProgress (nullptr); }
    FileTransfer& transfer;
};

juce::String hex (unsigned value, int digits)
{
    return "0x" + juce::String::toHexString ((int) value).paddedLeft ('0', digits);
}

} // namespace

Commands::Commands (const CliOptions& o, Console& c)
    : options (o), console (c)
{
    client.addListener (this);
    client.setAnswerTimeout ((int) std::lround (options.timeoutSeconds * 1000.0));
    transfer.setVerify (options.verify);
}

Commands::~Commands()
{
    connection.discard();
    client.stopThread (2000);
}

juce::String Commands::deviceOperand (size_t index) const
{
    const auto& bytes = options.operands.at (index);
    return DeviceText::decode (reinterpret_cast<const juce::uint8*> (bytes.data()), bytes.size());
}

juce::String Commands::localOperand (size_t index) const
{
    return localText (options.operands.at (index));
}

juce::String Commands::localText (const std::string& argument)
{
    return juce::String::fromUTF8 (argument.c_str());
}

bool Commands::connect()
{
    juce::StringArray problem;
    const auto portName = PortChoice::choose (juce::String::fromUTF8 (options.port.c_str()), problem);

    for (const auto& line : problem)
        console.error (line);

    if (portName.isEmpty())
        return false;

    if (connection.open (portName))
    {
        connectedPort = portName;
        return true;
    }

    console.error ("Can't open the port " + portName);
    return false;
}

std::unique_ptr<RecordStore> Commands::openRecords()
{
    juce::String error;
    auto store = RecordStore::open (localText (options.records), error);

    if (store == nullptr)
        console.error ("Can't keep the devices' records: " + error);

    return store;
}

bool Commands::keepRecord (RecordStore& store, const juce::String& jobName, const JobStep& step,
                           const juce::String& macAddress, const juce::String& error, const juce::String& imagePath)
{
    DeviceReport report;
    report.startTime = startTime;
    report.macAddress = macAddress;
    report.steps.add (step);
    report.error = step.passed ? juce::String() : (Platform::wasInterrupted() ? "interrupted" : error);
    return RecordKeeper (store, USB_CLI_VERSION).keepSingleJob (report, connectedPort, jobName, imagePath, options.verify);
}

int Commands::outcome (bool succeeded) const
{
    return succeeded && ! Platform::wasInterrupted() ? exitSuccess : exitFailed;
}

void Commands::printSummary (const juce::String& remote, const juce::String& local, juce::int64 bytes,
                             const ProgressLine& progress, bool succeeded)
{
    if (! console.isJson())
        return;

    Json summary;
    summary["command"] = options.command;
    summary["remote"] = Console::displayText (remote);
    summary["local"] = local.toStdString();
    summary["bytes"] = bytes;
    summary["seconds"] = std::round (progress.getSeconds() * 1000.0) / 1000.0;
    summary["ok"] = succeeded && ! Platform::wasInterrupted();
    console.printJson (summary);
}

//==============================================================================
int Commands::ports()
{
    const auto ports = PortChoice::listPorts();

    for (const auto& port : ports)
    {
        const auto& name = port.description;
        const auto& portName = port.portName;
        // Where it is plugged in and its serial number, for the devices the host describes.
        const auto location = port.slot != portName ? port.slot : juce::String();

        if (console.isJson())
        {
            Json object { { "port", portName.toStdString() }, { "name", name.toStdString() } };

            if (location.isNotEmpty())
                object["location"] = location.toStdString();

            if (port.usbSerial.isNotEmpty())
                object["serial"] = port.usbSerial.toStdString();

            console.printJson (object);
        }
        else
        {
            console.printLine ((portName + (name != portName ? "\t" + name : juce::String())
                                + (location.isNotEmpty() ? "\tat " + location : juce::String())
                                + (port.usbSerial.isNotEmpty() ? "\tserial " + port.usbSerial : juce::String())).toStdString());
        }
    }

    if (ports.isEmpty())
    {
        console.error ("No device port found: attach the device, or name the port in USB_FILE_UTILITY_PORTS");
        return exitNoPort;
    }

    return exitSuccess;
}

int Commands::connectAndIdentify (DeviceIdentity& identity)
{
    if (! connect())
        return exitNoPort;

    return connection.identify (identity) ? exitSuccess : exitFailed;
}

int Commands::identify()
{
    DeviceIdentity identity;

    if (const auto result = connectAndIdentify (identity); result != exitSuccess)
        return result;

    if (console.isJson())
    {
        console.printJson (Json { { "familyId", identity.familyId },
                                  { "deviceId", identity.deviceId },
                                  { "protocolVersion", identity.protocolVersion },
                                  { "firmwareVersion", identity.firmwareVersion },
                                  { "firstText", Console::displayText (identity.firstText) },
                                  { "secondText", Console::displayText (identity.secondText) } });
    }
    else
    {
        console.printLine ("familyId: " + hex (identity.familyId, 3).toStdString());
        console.printLine ("deviceId: " + hex (identity.deviceId, 3).toStdString());
        console.printLine ("protocolVersion: " + hex (identity.protocolVersion, 4).toStdString());
        console.printLine ("firmwareVersion: " + hex (identity.firmwareVersion, 4).toStdString());
        console.printLine ("firstText: " + console.deviceText (identity.firstText));
        console.printLine ("secondText: " + console.deviceText (identity.secondText));
    }

    return outcome (true);
}

bool Commands::expandOperands (size_t first, size_t end, juce::StringArray& paths)
{
    bool allMatched = true;

    for (auto i = first; i < end; ++i)
    {
        const auto operand = deviceOperand (i);
        const auto folder = operand.upToLastOccurrenceOf ("/", false, false);
        const auto pattern = operand.fromLastOccurrenceOf ("/", false, false);

        // A pattern is matched against the listing of its folder, on this side.
        if (! pattern.containsAnyOf ("*?"))
        {
            paths.add (operand);
            continue;
        }

        juce::StringArray fileNames, folderNames;
        const auto listed = normaliseRemoteFolder (folder.isEmpty() ? juce::String ("/") : folder);
        int matches = 0;

        if (files().getFolderContents (listed, &fileNames, &folderNames) == 0)
        {
            for (const auto& entry : orderForListing (fileNames, folderNames))
            {
                if (isSingleEntryName (entry.name) && entry.name.matchesWildcard (pattern, false))
                {
                    paths.add (joinRemotePath (listed, entry.name));
                    ++matches;
                }
            }
        }

        if (matches == 0)
        {
            console.error ("Nothing on the device matches " + DeviceText::toDisplay (operand));
            allMatched = false;
        }
    }

    return allMatched;
}

void Commands::printEntry (const juce::String& name, bool isFolder, const FileSystemEntryInfo* info)
{
    const auto type = isFolder ? "folder" : "file";

    if (console.isJson())
    {
        Json object { { "name", Console::displayText (name) }, { "type", type } };

        if (info != nullptr)
        {
            object["size"] = info->size;
            object["writable"] = info->writable;
            object["modified"] = info->modificationTime.toISO8601 (true).toStdString();
        }

        console.printJson (object);
    }
    else if (info == nullptr)
    {
        console.printLine (console.deviceText (name));
    }
    else
    {
        const auto columns = juce::String (isFolder ? "d " : "- ") + (info->writable ? "rw " : "r- ")
                           + juce::String (info->size).paddedLeft (' ', 12) + " "
                           + info->modificationTime.formatted ("%Y-%m-%d %H:%M") + " ";
        console.printLine (columns.toStdString() + console.deviceText (name));
    }
}

bool Commands::listFolder (const juce::String& folder, const juce::StringArray& fileNames, const juce::StringArray& folderNames)
{
    bool allListed = true;

    for (const auto& entry : orderForListing (fileNames, folderNames))
    {
        if (Platform::wasInterrupted())
            break;

        if (! isSingleEntryName (entry.name))
        {
            logLine ("Skipping the entry \"" + entry.name + "\" of " + folder + ": not a usable name");
            continue;
        }

        if (! options.longListing)
        {
            printEntry (entry.name, entry.isFolder, nullptr);
            continue;
        }

        FileSystemEntryInfo info;
        allListed = files().getRemoteEntryInfo (joinRemotePath (folder, entry.name), entry.isFolder, info) == 0 && allListed;
        printEntry (entry.name, entry.isFolder, &info);
    }

    return allListed;
}

bool Commands::showOneEntry (const juce::String& path, bool withInfo)
{
    const auto kind = files().kindOf (path);

    if (kind == RemoteFileSystem::EntryKind::missing)
        console.error ("No such device entry: " + DeviceText::toDisplay (path));

    if (kind == RemoteFileSystem::EntryKind::missing || kind == RemoteFileSystem::EntryKind::unknown)
        return false;

    const bool isFolder = kind == RemoteFileSystem::EntryKind::folder;
    const auto name = normaliseRemoteFolder (path).fromLastOccurrenceOf ("/", false, false);

    if (! withInfo)
    {
        printEntry (name, isFolder, nullptr);
        return true;
    }

    FileSystemEntryInfo info;
    const bool known = files().getRemoteEntryInfo (normaliseRemoteFolder (path), isFolder, info) == 0;
    printEntry (console.isJson() ? DeviceText::toDisplay (path) : path, isFolder, &info);
    return known;
}

int Commands::list()
{
    if (! connect())
        return exitNoPort;

    // Without a path: the device's home folder.
    juce::StringArray paths;
    bool allListed = options.operands.empty() ? (paths.add ("/mnt/nandfs/usr"), true)
                                              : expandOperands (0, options.operands.size(), paths);

    for (const auto& path : paths)
    {
        if (Platform::wasInterrupted())
            break;

        const auto folder = normaliseRemoteFolder (path);

        // A folder lists its names; anything else (a file) shows itself, as ls does. The
        // listing is asked for first, quietly, so that a folder costs one request as ever.
        juce::StringArray fileNames, folderNames;
        bool listed = false;

        {
            const LogSilence quiet;
            listed = files().getFolderContents (folder, &fileNames, &folderNames) == 0;
        }

        // Several folders each under their name, as ls does.
        if (listed && paths.size() > 1 && ! console.isJson())
            console.printLine ((path == paths[0] ? "" : "\n") + console.deviceText (folder) + ":");

        if (listed && files().lastListingMayBeCut())
            logLine (folder + " may hold more entries than the device listed");

        allListed = (listed ? listFolder (folder, fileNames, folderNames) : showOneEntry (path, options.longListing))
                 && allListed;
    }

    return outcome (allListed);
}

int Commands::stat()
{
    if (! connect())
        return exitNoPort;

    juce::StringArray paths;
    bool allShown = expandOperands (0, options.operands.size(), paths);

    for (const auto& path : paths)
        allShown = showOneEntry (path, true) && allShown;

    return outcome (allShown);
}

int Commands::get()
{
    const auto last = options.operands.size() - 1;
    const auto toOutput = localOperand (last) == "-";
    const auto local = resolveLocalPath (localOperand (last));

    if (! connect())
        return exitNoPort;

    juce::StringArray remotes;

    if (! expandOperands (0, last, remotes))
        return exitFailed;

    // Several sources go into one folder, as with cp.
    if (remotes.size() > 1 && ! toOutput && ! local.isDirectory())
    {
        console.error ("Copying several entries needs an existing folder, not " + local.getFullPathName());
        return exitFailed;
    }

    bool succeeded = true;

    for (const auto& remote : remotes)
    {
        if (Platform::wasInterrupted())
            break;

        succeeded = getOne (remote, local, toOutput) && succeeded;
    }

    return outcome (succeeded);
}

bool Commands::getOne (const juce::String& remote, juce::File local, bool toOutput)
{
    ProgressLine progress (console);
    ScopedProgress scoped (transfer, progress);
    bool succeeded = false;
    juce::int64 bytes = 0;

    if (options.recursive)
    {
        // Like cp -r: into an existing folder under the remote folder's name, otherwise
        // as a new folder of that name.
        if (local.isDirectory())
            succeeded = transfer.getFolder (remote, local.getFullPathName(), {}) == 0;
        else if (local.getParentDirectory().isDirectory())
            succeeded = transfer.getFolder (remote, local.getParentDirectory().getFullPathName(), local.getFileName()) == 0;
        else
            console.error ("No folder " + local.getParentDirectory().getFullPathName());

        bytes = progress.getBytesCopied();
    }
    else if (toOutput)
    {
        // Standard output, as it comes; the summary names it "-".
        juce::String error;
        const auto output = LocalFiles::openStream ({}, error);
        succeeded = transfer.getFileToStream (remote, *output, "standard output") == 0;
        printSummary (remote, "-", succeeded ? progress.getBytesCopied() : 0, progress, succeeded);
        return succeeded;
    }
    else
    {
        if (local.isDirectory())
        {
            // Like cp: under the device name, which must name a file inside that folder.
            const auto name = normaliseRemoteFolder (remote).fromLastOccurrenceOf ("/", false, false);
            local = LocalTargetResolver (local).childInside (local, name);

            if (local == juce::File())
            {
                console.error ("Can't name a local file after " + remote);
                return false;
            }
        }

        succeeded = transfer.getFile (remote, local.getFullPathName()) == 0;
        bytes = succeeded ? local.getSize() : 0;
    }

    printSummary (remote, local.getFullPathName(), bytes, progress, succeeded);
    return succeeded;
}

int Commands::cat()
{
    if (! connect())
        return exitNoPort;

    juce::String error;
    const auto output = LocalFiles::openStream ({}, error);
    bool succeeded = true;

    for (size_t i = 0; i < options.operands.size() && ! Platform::wasInterrupted(); ++i)
        succeeded = transfer.getFileToStream (deviceOperand (i), *output, "standard output") == 0 && succeeded;

    return outcome (succeeded);
}

int Commands::put()
{
    // Standard input is taken whole first: an upload needs its size before it starts.
    std::unique_ptr<juce::TemporaryFile> fromInput;

    if (localOperand (0) == "-")
    {
        fromInput = std::make_unique<juce::TemporaryFile> (".upload");
        juce::FileOutputStream spool (fromInput->getFile());

        if (options.recursive || ! spool.openedOk() || ! Platform::copyStandardInput (spool) || (spool.flush(), spool.getStatus().failed()))
        {
            console.error (options.recursive ? "put -r takes a folder, not standard input" : "Can't take standard input");
            return exitFailed;
        }
    }

    const auto local = fromInput != nullptr ? fromInput->getFile() : resolveLocalPath (localOperand (0));
    auto remote = deviceOperand (1);

    if (options.recursive ? ! local.isDirectory() : ! local.existsAsFile())
    {
        console.error ("No " + juce::String (options.recursive ? "folder " : "file ") + local.getFullPathName());
        return exitFailed;
    }

    if (! connect())
        return exitNoPort;

    // Like cp: into an existing device folder under the host name (standard input has none).
    if (files().kindOf (remote) == RemoteFileSystem::EntryKind::folder)
    {
        if (fromInput != nullptr)
        {
            console.error (DeviceText::toDisplay (remote) + " is a folder: name the device file for standard input");
            return exitFailed;
        }

        remote = joinRemotePath (normaliseRemoteFolder (remote), local.getFileName());
    }

    // Every file counts once the device has reported its full size (FileTransfer checks).
    ProgressLine progress (console);
    ScopedProgress scoped (transfer, progress);
    const bool succeeded = (options.recursive ? transfer.sendFolder (local.getFullPathName(), remote)
                                              : transfer.sendFile (local.getFullPathName(), remote)) == 0;

    printSummary (remote, fromInput != nullptr ? juce::String ("-") : local.getFullPathName(), progress.getBytesCopied(),
                  progress, succeeded);
    return outcome (succeeded);
}

int Commands::remove()
{
    return onEachEntry ([this] (const juce::String& path)
    {
        // Like rm: a folder goes, with everything in it, only with -r.
        if (! options.recursive)
        {
            const auto kind = files().kindOf (path);

            if (kind == RemoteFileSystem::EntryKind::unknown)
                return -1;

            if (kind == RemoteFileSystem::EntryKind::folder)
            {
                console.error ("Not removing " + DeviceText::toDisplay (path) + ": it is a folder (use rm -r)");
                return -1;
            }
        }

        return files().deleteRemoteEntry (path);
    }, true);
}

int Commands::makeFolder()
{
    return onEachEntry ([this] (const juce::String& path)
    {
        if (! options.parents)
            return files().createRemoteFolder (path);

        // Like mkdir -p: each missing folder on the way, and no complaint about one that is there.
        const auto folder = normaliseRemoteFolder (path);
        juce::String made;

        for (const auto& part : juce::StringArray::fromTokens (folder, "/", {}))
        {
            if (part.isEmpty())
                continue;

            made += "/" + part;
            const auto kind = files().kindOf (made);

            if (kind == RemoteFileSystem::EntryKind::folder)
                continue;

            if (kind != RemoteFileSystem::EntryKind::missing)
            {
                if (kind == RemoteFileSystem::EntryKind::file)
                    console.error (DeviceText::toDisplay (made) + " is a file");

                return -1;
            }

            if (files().createRemoteFolder (made) != 0)
                return -1;
        }

        return 0;
    }, false);
}

int Commands::onEachEntry (const std::function<int (const juce::String&)>& operation, bool matchPatterns)
{
    if (! connect())
        return exitNoPort;

    juce::StringArray paths;
    bool succeeded = true;

    if (matchPatterns)
        succeeded = expandOperands (0, options.operands.size(), paths);
    else
        for (size_t i = 0; i < options.operands.size(); ++i)
            paths.add (deviceOperand (i));

    for (const auto& remote : paths)
    {
        if (Platform::wasInterrupted())
            break;

        const auto done = operation (remote) == 0;
        succeeded = done && succeeded;

        if (console.isJson())
            console.printJson (Json { { "command", options.command }, { "remote", Console::displayText (remote) }, { "ok", done } });
    }

    return outcome (succeeded);
}

int Commands::move()
{
    if (! connect())
        return exitNoPort;

    const auto from = deviceOperand (0);
    auto to = deviceOperand (1);
    const bool isFolder = files().kindOf (from) == RemoteFileSystem::EntryKind::folder;

    // Like mv: into an existing folder, under its own name.
    if (files().kindOf (to) == RemoteFileSystem::EntryKind::folder)
        to = joinRemotePath (normaliseRemoteFolder (to), normaliseRemoteFolder (from).fromLastOccurrenceOf ("/", false, false));

    const auto succeeded = files().moveWithoutReplacing (from, to, isFolder) == 0;

    if (console.isJson())
        console.printJson (Json { { "command", "mv" }, { "from", Console::displayText (from) },
                                  { "to", Console::displayText (to) }, { "ok", succeeded } });

    return outcome (succeeded);
}

int Commands::update()
{
    const auto image = resolveLocalPath (localOperand (0));

    // A missing or empty image is refused before the device is touched.
    if (! image.existsAsFile() || image.getSize() == 0)
    {
        console.error ((image.existsAsFile() ? "The update file is empty: " : "No update file ") + image.getFullPathName());
        return exitFailed;
    }

    const auto records = openRecords();

    if (records == nullptr)
        return exitFailed;

    if (! connect())
        return exitNoPort;

    ProgressLine progress (console);
    auto result = FirmwareInstaller::Result::sendFailed;

    {
        ScopedProgress scoped (transfer, progress);
        result = FirmwareInstaller (transfer).install (image.getFullPathName(), options.force);
    }

    if (result == FirmwareInstaller::Result::sendFailed || result == FirmwareInstaller::Result::imageRefused)
        logLine ("Failed to send update file");
    else if (result == FirmwareInstaller::Result::updated)
        logLine ("Firmware update completed");

    const bool installed = result == FirmwareInstaller::Result::updated
                        || result == FirmwareInstaller::Result::alreadyInstalled;
    const auto detail = result == FirmwareInstaller::Result::alreadyInstalled ? "skipped" : "installed";
    const bool succeeded = keepRecord (*records, "update", { "update", installed && ! Platform::wasInterrupted(),
                                                             progress.getSeconds(), installed ? detail : "" },
                                       {}, installed ? juce::String() : "the firmware was not installed",
                                       image.getFullPathName())
                        && installed;

    if (installed)
        logLine ("Closing Port.");

    if (console.isJson())
    {
        const auto* resultText = result == FirmwareInstaller::Result::alreadyInstalled ? "skipped"
                               : result == FirmwareInstaller::Result::updated ? "updated" : "failed";
        console.printJson (Json { { "command", "update" },
                                  { "remote", FirmwareInstaller::firmwareImagePath.toStdString() },
                                  { "local", image.getFullPathName().toStdString() },
                                  { "result", resultText },
                                  { "bytes", result == FirmwareInstaller::Result::alreadyInstalled ? 0 : image.getSize() },
                                  { "seconds", std::round (progress.getSeconds() * 1000.0) / 1000.0 },
                                  { "ok", succeeded && ! Platform::wasInterrupted() } });
    }

    return outcome (succeeded);
}

int Commands::getMac()
{
    // "-": the address is printed rather than stored.
    const bool toOutput = localOperand (0) == "-";
    const juce::TemporaryFile fetched (".txt");
    const auto local = toOutput ? fetched.getFile() : resolveLocalPath (localOperand (0));
    const auto records = openRecords();

    if (records == nullptr)
        return exitFailed;

    if (! connect())
        return exitNoPort;

    ProgressLine progress (console);
    bool copied = false;

    {
        ScopedProgress scoped (transfer, progress);
        copied = FirmwareInstaller (transfer).readMacFile (local.getFullPathName());
    }

    if (copied && toOutput)
        console.printLine (TerminalText::rawBytes (local.loadFileAsString().trim()));
    else if (copied)
        logLine ("Mac file stored to:  " + local.getFullPathName());

    const auto succeeded = keepRecord (*records, "getmac", { "getmac", copied && ! Platform::wasInterrupted(), progress.getSeconds(), {} },
                                       copied ? MacAddress::find (local.loadFileAsString()) : juce::String(),
                                       copied ? juce::String() : "the MAC-address file couldn't be read", {})
                        && copied;

    if (! toOutput)
        printSummary (FirmwareInstaller::macAddressFilePath, local.getFullPathName(),
                      succeeded ? local.getSize() : 0, progress, succeeded);
    return outcome (succeeded);
}

int Commands::watch()
{
    printNotifications = true;

    // The identification shows that a device answers on the port.
    DeviceIdentity identity;

    if (const auto result = connectAndIdentify (identity); result != exitSuccess)
        return result;

    logLine (DeviceConnection::describe (identity)[0]);

    // Until Ctrl-C, or until the device's port has gone (unplugged).
    while (! Platform::wasInterrupted())
    {
        if (! PortChoice::isThere (connectedPort) || client.hasLostPort())
        {
            console.error ("The device has gone: " + connectedPort + " is no longer there");
            return exitFailed;
        }

        juce::Thread::sleep (50);
    }

    return exitSuccess;
}

int Commands::station()
{
    StationJob job;
    job.imagePath = localText (options.image);
    job.macFolder = localText (options.macFolder);
    job.verify = options.verify;
    job.answerTimeoutMs = (int) std::lround (options.timeoutSeconds * 1000.0);

    for (const auto& upload : options.uploads)
    {
        const auto equals = upload.find ('=');
        const auto remote = upload.substr (equals + 1);
        job.uploads.add ({ localText (upload.substr (0, equals)),
                           DeviceText::decode (reinterpret_cast<const juce::uint8*> (remote.data()), remote.size()) });
    }

    // Everything on the host, the records' store included, is checked before any device
    // is touched.
    if (! job.check())
        return exitFailed;

    const auto records = openRecords();

    if (records == nullptr)
        return exitFailed;

    RecordKeeper keeper (*records, USB_CLI_VERSION);

    if (job.imagePath.isNotEmpty())
        keeper.setImage (job.imagePath);

    logLine ("Keeping the devices' records in " + records->describe());

    juce::StringArray portFilter;

    for (const auto& port : options.ports)
        if (! port.empty())
            portFilter.add (localText (port));

    StationOutput output (console, localText (options.junitFile));
    Station station (job, output, &keeper);

    if (options.continuous)
    {
        logLine ("Watching the ports; Ctrl-C ends the station");
        station.watch (portFilter);
    }
    else
    {
        const auto ports = Station::presentPorts (portFilter);

        if (ports.isEmpty())
        {
            console.error ("No device port found: attach the devices, or name the ports with --ports "
                           "or in USB_FILE_UTILITY_PORTS");
            return exitNoPort;
        }

        station.runOnce (ports);
    }

    while (! station.waitUntilDone (100))
    {
        if (Platform::wasInterrupted())
            station.stop();

        output.redraw();
    }

    output.redraw();
    output.printSummary();
    return station.getFailedCount() == 0 && output.reportWritten() ? exitSuccess : exitFailed;
}

int Commands::history()
{
    RecordStore::Query query;
    query.macAddress = localText (options.historyMac);
    query.failedOnly = options.historyFailed;

    if (! options.historySince.empty())
    {
        query.since = juce::Time::fromISO8601 (localText (options.historySince));

        if (query.since == juce::Time())
        {
            console.error ("Not a date: " + localText (options.historySince) + " (use 2026-12-01 or ISO 8601)");
            return exitUsage;
        }
    }

    const auto records = openRecords();

    if (records == nullptr)
        return exitFailed;

    juce::String error;
    const auto found = records->find (query, error);

    if (error.isNotEmpty())
    {
        console.error ("Can't read the records: " + error);
        return exitFailed;
    }

    const auto time = [] (const DeviceRecord& record) { return record.time.toISO8601 (true).toStdString(); };
    const auto text = [] (const juce::String& s) { return Console::displayText (s); };
    const auto stepsOf = [] (const DeviceRecord& record)
    {
        juce::StringArray steps;

        for (const auto& step : record.steps)
            steps.add (step.name + (step.passed ? " ok " : " failed ") + juce::String (step.seconds, 2) + " s"
                       + (step.detail.isNotEmpty() ? " (" + step.detail + ")" : juce::String()));

        return steps.joinIntoString ("; ");
    };

    if (options.csv)
        console.printLine ("time,result,job,host,user,tool_version,slot,port,usb_serial,family_id,device_id,"
                           "protocol_version,firmware_version,first_text,second_text,mac,image,image_size,"
                           "image_sha256,verified,steps,error");

    for (const auto& record : found)
    {
        const auto result = record.passed ? "passed" : "failed";

        if (console.isJson())
        {
            Json steps = Json::array();

            for (const auto& step : record.steps)
                steps.push_back (Json { { "name", text (step.name) }, { "ok", step.passed },
                                        { "seconds", std::round (step.seconds * 1000.0) / 1000.0 },
                                        { "detail", step.detail.toStdString() } });

            Json object { { "time", time (record) }, { "result", result }, { "job", record.job.toStdString() },
                          { "host", text (record.host) }, { "user", text (record.user) },
                          { "toolVersion", record.toolVersion.toStdString() },
                          { "slot", text (record.slot) }, { "port", text (record.port) },
                          { "usbSerial", text (record.usbSerial) } };

            if (record.identified)
                object["identity"] = Json { { "familyId", record.familyId }, { "deviceId", record.deviceId },
                                            { "protocolVersion", record.protocolVersion },
                                            { "firmwareVersion", record.firmwareVersion },
                                            { "firstText", text (record.firstText) },
                                            { "secondText", text (record.secondText) } };

            object["mac"] = record.macAddress.toStdString();
            object["image"] = Json { { "name", text (record.imageName) }, { "size", record.imageSize },
                                     { "sha256", record.imageSha256.toStdString() } };
            object["verified"] = record.verified;
            object["steps"] = steps;
            object["error"] = text (record.error);
            console.printJson (object);
        }
        else if (options.csv)
        {
            juce::StringArray fields { time (record), result, record.job, record.host, record.user, record.toolVersion,
                                       record.slot, record.port, record.usbSerial,
                                       record.identified ? juce::String (record.familyId) : juce::String(),
                                       record.identified ? juce::String (record.deviceId) : juce::String(),
                                       record.identified ? juce::String (record.protocolVersion) : juce::String(),
                                       record.identified ? juce::String (record.firmwareVersion) : juce::String(),
                                       record.firstText, record.secondText, record.macAddress, record.imageName,
                                       record.imageName.isNotEmpty() ? juce::String (record.imageSize) : juce::String(),
                                       record.imageSha256, record.verified ? "yes" : "no", stepsOf (record), record.error };

            // RFC 4180: every field quoted, quotes doubled.
            for (auto& field : fields)
                field = "\"" + DeviceText::toDisplay (field).replace ("\"", "\"\"") + "\"";

            console.printLine (fields.joinIntoString (",").toStdString());
        }
        else
        {
            console.printLine ((juce::String (time (record)) + "  " + result + "  " + record.job.paddedRight (' ', 7) + " "
                                + record.slot + "  " + (record.macAddress.isNotEmpty() ? record.macAddress : "-")
                                + (record.imageName.isNotEmpty() ? "  " + record.imageName : juce::String())
                                + (record.verified ? "  verified" : "")
                                + (record.error.isNotEmpty() ? "  " + record.error : juce::String())).toStdString());
        }
    }

    return exitSuccess;
}

//==============================================================================
// Notifications: during watch the results, otherwise log lines as in the GUI.
void Commands::onEvent (juce::int32 eventId, juce::int64 argument)
{
    if (! printNotifications)
        logLine (NotificationText::event (eventId, argument));
    else if (console.isJson())
        console.printJson (Json { { "notification", "event" }, { "id", eventId }, { "argument", argument } });
    else
        console.printLine (NotificationText::event (eventId, argument).toStdString());
}

void Commands::onPropertyValueChanged (juce::Array<juce::uint16> propertyPath, juce::int32 propertyId, juce::int32 value)
{
    if (! printNotifications)
    {
        logLine (NotificationText::propertyValue (propertyId, value));
    }
    else if (console.isJson())
    {
        console.printJson (Json { { "notification", "property" },
                                  { "path", std::vector<juce::uint16> (propertyPath.begin(), propertyPath.end()) },
                                  { "id", (juce::uint16) propertyId }, { "value", value } });
    }
    else
    {
        console.printLine (NotificationText::propertyValue (propertyId, value).toStdString());
    }
}

void Commands::onPropertyTextChanged (juce::Array<juce::uint16> propertyPath, juce::int32 propertyId, const juce::String& text)
{
    if (! printNotifications)
    {
        for (const auto& line : NotificationText::propertyText (propertyId, text))
            logLine (line);
    }
    else if (console.isJson())
    {
        console.printJson (Json { { "notification", "property" },
                                  { "path", std::vector<juce::uint16> (propertyPath.begin(), propertyPath.end()) },
                                  { "id", (juce::uint16) propertyId }, { "text", Console::displayText (text) } });
    }
    else
    {
        console.printLine ("Prop " + std::to_string ((juce::uint16) propertyId) + ": " + console.deviceText (text));
    }
}

void Commands::onProcessTerminated (juce::int32 processId, juce::int32 exitCode)
{
    if (! printNotifications)
        return;   // the client logs it

    if (console.isJson())
        console.printJson (Json { { "notification", "terminated" }, { "process", processId }, { "exitCode", exitCode } });
    else
        console.printLine ("Process " + std::to_string (processId) + " terminated with exit code " + std::to_string (exitCode));
}

int Commands::doctor()
{
    const auto checks = Doctor().run (juce::String::fromUTF8 (options.port.c_str()));

    for (const auto& check : checks)
    {
        if (console.isJson())
        {
            Json object;
            object["check"] = check.name.toStdString();
            object["ok"] = check.ok;
            object["finding"] = check.finding.toStdString();

            if (! check.ok)
                object["fix"] = check.fix.toStdString();

            console.printJson (object);
        }
        else
        {
            console.printLine ((check.ok ? "ok       " : "PROBLEM  ") + check.name.paddedRight (' ', 13).toStdString()
                               + check.finding.toStdString()
                               + (check.ok ? std::string() : "\n         fix: " + check.fix.toStdString()));
        }
    }

    return Doctor::allOk (checks) ? exitSuccess : exitFailed;
}
