#include "PythonDevice.h"
#include "PythonLog.h"
#include "PythonText.h"
#include "device/FirmwareInstaller.h"
#include "device/PortChoice.h"
#include "remotefs/HostPaths.h"
#include "remotefs/LocalTargetResolver.h"
#include "remotefs/RemoteListing.h"

namespace py = pybind11;

namespace
{
py::object typeNamed (const char* name)
{
    return py::module_::import ("usb_file_utility._types").attr (name);
}

/** Raises the package's exception type with the given arguments. */
template <typename... Args>
[[noreturn]] void raise (const char* type, Args&&... args)
{
    auto exception = typeNamed (type) (std::forward<Args> (args)...);
    PyErr_SetObject (exception.get_type().ptr(), exception.ptr());
    throw py::error_already_set();
}

/** Reports blocks to a Python callable and stops the transfer at Ctrl-C. Called on the
    transfer's thread, which doesn't hold the GIL. */
struct PythonProgress : TransferProgress
{
    explicit PythonProgress (const py::object& callback) : progress (callback) {}

    void fileStarted (const juce::String&, const juce::String&, juce::int64 size) override
    {
        total = size;
        blockDone (0);
    }

    void blockDone (juce::int64 bytesDone) override
    {
        if (progress.is_none() || interrupted)
            return;

        py::gil_scoped_acquire gil;

        try
        {
            progress (bytesDone, total);
        }
        catch (py::error_already_set& e)
        {
            // An exception in the callback stops the transfer and is raised afterwards.
            failure = std::make_unique<py::error_already_set> (std::move (e));
            interrupted = true;
        }
    }

    bool isCancelled() override
    {
        // Taking the GIL for every block would cost a fast link a few percent; a Ctrl-C is
        // still seen within a twentieth of a second.
        const auto now = juce::Time::getMillisecondCounter();

        if (! interrupted && now - lastSignalCheckMs >= signalCheckIntervalMs)
        {
            lastSignalCheckMs = now;
            py::gil_scoped_acquire gil;

            // Signal handlers run here (on the main thread): Ctrl-C's KeyboardInterrupt is
            // kept, and the transfer stops after its current block.
            if (PyErr_CheckSignals() != 0)
            {
                failure = std::make_unique<py::error_already_set>();
                interrupted = true;
            }
        }

        return interrupted;
    }

    static constexpr juce::uint32 signalCheckIntervalMs = 50;

    const py::object& progress;
    juce::int64 total = 0;
    juce::uint32 lastSignalCheckMs = 0;
    bool interrupted = false;
    std::unique_ptr<py::error_already_set> failure;
};
} // namespace

PythonDevice::PythonDevice (const juce::String& port)
{
    juce::StringArray problem;

    {
        PythonLog::Capture capture;
        py::gil_scoped_release release;
        portName = PortChoice::choose (port, problem);

        if (portName.isNotEmpty() && ! connection.open (portName))
            problem = capture.lines;
    }

    PythonLog::instance().flush();

    if (portName.isEmpty() || ! connection.isOpen())
        raise ("PortError", toPython (problem.joinIntoString ("\n")), toPython (portName.isNotEmpty() ? portName : port));

    client.addListener (this);
}

PythonDevice::~PythonDevice()
{
    connection.discard();
    client.stopThread (2000);
}

void PythonDevice::close()
{
    py::gil_scoped_release release;
    connection.discard();
}

void PythonDevice::requireOpen() const
{
    if (! connection.isOpen())
        raise ("PortError", "the device is closed", toPython (portName));
}

void PythonDevice::run (const juce::String& path, const py::object& progress, const std::function<bool()>& operation)
{
    requireOpen();
    PythonProgress watcher (progress);
    PythonLog::Capture capture;
    bool succeeded = false;

    {
        py::gil_scoped_release release;
        transfer.setTransferProgress (&watcher);
        succeeded = operation();
        transfer.setTransferProgress (nullptr);
        transfer.setVerify (false);
    }

    PythonLog::instance().flush();

    if (watcher.failure != nullptr)
    {
        if (! watcher.failure->matches (PyExc_KeyboardInterrupt))
            throw *watcher.failure;

        raise ("TransferCancelled", toPython (capture.text()), toPython (path));
    }

    if (! succeeded)
        raise ("DeviceError", toPython (capture.text()), toPython (path));
}

bool PythonDevice::isFolder (const juce::String& path)
{
    return transfer.getFileSystem().kindOf (path) == RemoteFileSystem::EntryKind::folder;
}

py::object PythonDevice::identify()
{
    DeviceIdentity identity;
    run ({}, py::none(), [&] { return connection.identify (identity); });
    return typeNamed ("DeviceIdentity") (identity.familyId, identity.deviceId, identity.protocolVersion,
                                         identity.firmwareVersion, toPython (identity.firstText),
                                         toPython (identity.secondText));
}

py::list PythonDevice::list (const juce::String& path, bool longListing)
{
    const auto folder = normaliseRemoteFolder (path);
    juce::StringArray fileNames, folderNames;
    juce::Array<ListedEntry> entries;
    std::vector<FileSystemEntryInfo> infos;

    run (path, py::none(), [&]
    {
        auto& files = transfer.getFileSystem();

        if (files.getFolderContents (folder, &fileNames, &folderNames) != 0)
            return false;

        for (const auto& entry : orderForListing (fileNames, folderNames))
        {
            if (! isSingleEntryName (entry.name))
            {
                logLine ("Skipping the entry \"" + entry.name + "\" of " + folder + ": not a usable name");
                continue;
            }

            FileSystemEntryInfo info;

            if (longListing && files.getRemoteEntryInfo (joinRemotePath (folder, entry.name), entry.isFolder, info) != 0)
                return false;

            entries.add (entry);
            infos.push_back (info);
        }

        return true;
    });

    py::list result;
    const auto entryType = typeNamed ("Entry");
    const auto fromTimestamp = py::module_::import ("datetime").attr ("datetime").attr ("fromtimestamp");

    for (int i = 0; i < entries.size(); ++i)
    {
        const auto& info = infos[(size_t) i];

        if (longListing)
            result.append (entryType (toPython (entries[i].name), entries[i].isFolder, info.size, info.writable,
                                      fromTimestamp (info.modificationTime.toMilliseconds() / 1000.0)));
        else
            result.append (entryType (toPython (entries[i].name), entries[i].isFolder));
    }

    return result;
}

void PythonDevice::get (const juce::String& remote, const juce::String& local, const py::object& progress)
{
    run (remote, progress, [&]
    {
        auto target = resolveLocalPath (local);

        // Like cp: into an existing folder under the device name, which must stay inside it.
        if (target.isDirectory())
        {
            const auto name = normaliseRemoteFolder (remote).fromLastOccurrenceOf ("/", false, false);
            juce::String whyNot;
            target = LocalTargetResolver (target).childInside (target, name, &whyNot);

            if (target == juce::File())
            {
                logLine ("Can't name a local file after " + remote + ": " + whyNot);
                return false;
            }
        }

        return transfer.getFile (remote, target.getFullPathName()) == 0;
    });
}

void PythonDevice::put (const juce::String& local, const juce::String& remote, bool verify, const py::object& progress)
{
    run (remote, progress, [&]
    {
        // Like cp: into an existing device folder under the host name.
        const auto file = resolveLocalPath (local);
        const auto target = isFolder (remote) ? joinRemotePath (normaliseRemoteFolder (remote), file.getFileName()) : remote;
        transfer.setVerify (verify);
        return transfer.sendFile (file.getFullPathName(), target) == 0;
    });
}

void PythonDevice::getTree (const juce::String& remote, const juce::String& local, const py::object& progress)
{
    run (remote, progress, [&]
    {
        // Like cp -r: into an existing folder under the device folder's name, otherwise as
        // a new folder of that name.
        const auto target = resolveLocalPath (local);

        if (target.isDirectory())
            return transfer.getFolder (remote, target.getFullPathName(), {}) == 0;

        return transfer.getFolder (remote, target.getParentDirectory().getFullPathName(), target.getFileName()) == 0;
    });
}

void PythonDevice::putTree (const juce::String& local, const juce::String& remote, bool verify, const py::object& progress)
{
    run (remote, progress, [&]
    {
        const auto folder = resolveLocalPath (local);

        if (! folder.isDirectory())
        {
            logLine ("No folder " + folder.getFullPathName());
            return false;
        }

        const auto target = isFolder (remote) ? joinRemotePath (normaliseRemoteFolder (remote), folder.getFileName()) : remote;
        transfer.setVerify (verify);
        return transfer.sendFolder (folder.getFullPathName(), target) == 0;
    });
}

void PythonDevice::remove (const juce::String& path)
{
    run (path, py::none(), [&] { return transfer.getFileSystem().deleteRemoteEntry (path) == 0; });
}

void PythonDevice::makeFolder (const juce::String& path)
{
    run (path, py::none(), [&] { return transfer.getFileSystem().createRemoteFolder (path) == 0; });
}

void PythonDevice::move (const juce::String& from, const juce::String& to)
{
    run (from, py::none(), [&] { return transfer.getFileSystem().moveWithoutReplacing (from, to, isFolder (from)) == 0; });
}

py::bytes PythonDevice::readBytes (const juce::String& path)
{
    const juce::TemporaryFile copy;
    run (path, py::none(), [&] { return transfer.getFile (path, copy.getFile().getFullPathName()) == 0; });

    juce::MemoryBlock data;
    copy.getFile().loadFileAsData (data);
    return py::bytes (static_cast<const char*> (data.getData()), data.getSize());
}

std::string PythonDevice::update (const juce::String& image, bool force, bool verify)
{
    auto result = FirmwareInstaller::Result::sendFailed;

    run (FirmwareInstaller::firmwareImagePath, py::none(), [&]
    {
        transfer.setVerify (verify);
        result = FirmwareInstaller (transfer).install (resolveLocalPath (image).getFullPathName(), force);
        return result == FirmwareInstaller::Result::updated || result == FirmwareInstaller::Result::alreadyInstalled;
    });

    return result == FirmwareInstaller::Result::alreadyInstalled ? "skipped" : "installed";
}

//==============================================================================
void PythonDevice::push (Notification notification)
{
    {
        const std::lock_guard<std::mutex> guard (notificationLock);
        notifications.push_back (std::move (notification));
    }

    notificationArrived.notify_one();
}

void PythonDevice::onEvent (juce::int32 eventId, juce::int64 argument)
{
    push ({ "event", {}, eventId, argument, {}, false });
}

void PythonDevice::onPropertyValueChanged (juce::Array<juce::uint16> path, juce::int32 propertyId, juce::int32 value)
{
    // Property ids are 16 bits on the wire, 0x8000 and up among them.
    push ({ "property", { path.begin(), path.end() }, (juce::uint16) propertyId, value, {}, false });
}

void PythonDevice::onPropertyTextChanged (juce::Array<juce::uint16> path, juce::int32 propertyId, const juce::String& text)
{
    push ({ "property", { path.begin(), path.end() }, (juce::uint16) propertyId, 0, text, true });
}

py::object PythonDevice::nextNotification (double timeoutSeconds)
{
    const auto deadline = std::chrono::steady_clock::now()
                        + std::chrono::milliseconds ((juce::int64) (juce::jmax (0.0, timeoutSeconds) * 1000.0));
    Notification next;
    bool found = false;

    while (! found)
    {
        {
            py::gil_scoped_release release;
            std::unique_lock<std::mutex> guard (notificationLock);

            // Woken every 100 ms, so that Ctrl-C is seen.
            notificationArrived.wait_for (guard, std::chrono::milliseconds (100), [this] { return ! notifications.empty(); });

            if (! notifications.empty())
            {
                next = std::move (notifications.front());
                notifications.pop_front();
                found = true;
            }
        }

        PythonLog::instance().flush();

        if (PyErr_CheckSignals() != 0)
            throw py::error_already_set();

        if (! found && timeoutSeconds >= 0 && std::chrono::steady_clock::now() >= deadline)
            return py::none();
    }

    return typeNamed ("Notification") (next.kind, py::cast (next.path), next.id,
                                       next.hasText ? py::object (toPython (next.text)) : py::object (py::int_ (next.value)));
}
