#include "device/DeviceJob.h"
#include "device/DeviceConnection.h"
#include "device/FirmwareInstaller.h"
#include "device/MacAddress.h"
#include "device/RecordKeeper.h"
#include "device/NotificationText.h"
#include "remotefs/FileTransfer.h"
#include "remotefs/HostPaths.h"
#include "remotefs/RemoteListing.h"
#include "base/ILogger.h"
#include "base/WaitClock.h"

#include <algorithm>

/** The job's state while it runs: the device's own client, port and transfers, and the
    report. Watches the transfers for progress and for the stop request. */
class DeviceJob::Steps : public TransferProgress,
                         private IVeltraneClientListener
{
public:
    Steps (DeviceJob& j) : job (j)
    {
        client.setLogContext (job.port.slot);
        client.addListener (this);
        transfer.setVerify (job.job.verify);
        client.setAnswerTimeout (job.job.answerTimeoutMs);
        transfer.setTransferProgress (this);
        report.slot = job.port.slot;
        report.port = job.port.portName;
        report.usbSerial = job.port.usbSerial;
        report.startTime = juce::Time::getCurrentTime();
    }

    ~Steps() override
    {
        transfer.setTransferProgress (nullptr);
        connection.discard();
        client.stopThread (2000);
    }

    /** Runs one step: false (with the error in the report) when it failed or was stopped. */
    bool step (const juce::String& name, const std::function<bool (juce::String& error, juce::String& detail)>& body)
    {
        if (isCancelled())
            return fail ("Stopped before " + name);

        report.currentStep = name;
        fraction = 0;
        job.listener.stepStarted (report);

        const auto start = WaitClock::nowMs();
        juce::String error, detail;
        const bool passed = body (error, detail) && ! isCancelled();
        report.steps.add ({ name, passed, (WaitClock::nowMs() - start) / 1000.0, detail });
        report.currentStep.clear();
        job.listener.stepEnded (report);

        if (! passed)
            return fail (isCancelled() ? "Stopped during " + name : name + ": " + error);

        return true;
    }

    bool fail (const juce::String& error)
    {
        if (report.error.isEmpty())
            report.error = error;

        return false;
    }

    DeviceReport finish (bool passed)
    {
        report.finished = true;
        report.passed = passed && report.error.isEmpty();
        report.seconds = (juce::Time::getCurrentTime() - report.startTime).inSeconds();
        logLine (report.passed ? "Device passed" : "Device failed: " + report.error);
        return report;
    }

    bool isCancelled() override     { return job.stopRequested.load(); }

    void fileStarted (const juce::String&, const juce::String&, juce::int64 size) override
    {
        fileSize = size;
        reportProgress (0);
    }

    void blockDone (juce::int64 bytesDone) override
    {
        reportProgress (fileSize > 0 ? (double) bytesDone / (double) fileSize : 1.0);
    }

    DeviceJob& job;
    VeltraneClient client;
    DeviceConnection connection { client };
    FileTransfer transfer { client };
    DeviceReport report;

private:
    void reportProgress (double newFraction)
    {
        fraction = juce::jlimit (0.0, 1.0, newFraction);
        job.listener.stepProgress (report, fraction);
    }

    void onEvent (juce::int32 eventId, juce::int64 argument) override
    {
        logLine (NotificationText::event (eventId, argument));
    }

    void onPropertyValueChanged (juce::Array<juce::uint16>, juce::int32 propertyId, juce::int32 value) override
    {
        logLine (NotificationText::propertyValue (propertyId, value));
    }

    void onPropertyTextChanged (juce::Array<juce::uint16>, juce::int32 propertyId, const juce::String& text) override
    {
        for (const auto& line : NotificationText::propertyText (propertyId, text))
            logLine (line);
    }

    juce::int64 fileSize = 0;
    double fraction = 0;
};

//==============================================================================
namespace
{
/** Fetches the MAC-address file into folder, named after the address it holds. */
bool fetchMacFile (FileTransfer& transfer, const juce::File& folder, juce::String& address, juce::String& error)
{
    // Fetched beside its final name first: the address, and so the name, is known only
    // once the file is here.
    juce::TemporaryFile fetched (folder.getChildFile ("macAddress.txt"));

    if (! FirmwareInstaller (transfer).readMacFile (fetched.getFile().getFullPathName()))
    {
        error = "the MAC-address file couldn't be read";
        return false;
    }

    const auto text = fetched.getFile().loadFileAsString();

    if (text.trim().isEmpty())
    {
        error = "the MAC-address file is empty";
        return false;
    }

    address = MacAddress::find (text);

    if (address.isEmpty())
    {
        error = "no MAC address in the MAC-address file";
        return false;
    }

    const auto target = folder.getChildFile (address + ".txt");

    if (! fetched.getFile().moveFileTo (target))
    {
        error = "can't write " + target.getFullPathName();
        return false;
    }

    logLine ("Mac file stored to:  " + target.getFullPathName());
    return true;
}

/** Like cp: a host folder goes as a tree, and anything goes into an existing device folder
    under its host name. */
bool upload (FileTransfer& transfer, const StationJob::Upload& upload, juce::String& error)
{
    const auto local = resolveLocalPath (upload.localPath);
    auto remote = upload.remotePath;

    if (transfer.getFileSystem().kindOf (remote) == RemoteFileSystem::EntryKind::folder)
        remote = joinRemotePath (normaliseRemoteFolder (remote), local.getFileName());

    const auto sent = local.isDirectory() ? transfer.sendFolder (local.getFullPathName(), remote)
                                          : transfer.sendFile (local.getFullPathName(), remote);
    error = "sending " + upload.localPath + " to " + remote + " failed";
    return sent == 0;
}

juce::String installError (FirmwareInstaller::Result result)
{
    switch (result)
    {
        case FirmwareInstaller::Result::imageRefused:   return "the image can't be sent";
        case FirmwareInstaller::Result::sendFailed:     return "the image did not arrive whole";
        case FirmwareInstaller::Result::cancelled:      return "stopped";
        case FirmwareInstaller::Result::triggerFailed:  return "the update couldn't be triggered";
        case FirmwareInstaller::Result::alreadyInstalled:
        case FirmwareInstaller::Result::updated:        break;
    }

    return {};
}
} // namespace

DeviceJob::DeviceJob (const StationJob& j, const AvailablePort& p, DeviceJobListener& l,
                      const std::atomic<bool>& stop, RecordKeeper* k)
    : job (j), port (p), listener (l), stopRequested (stop), keeper (k)
{
}

DeviceReport DeviceJob::run()
{
    const LogContext::Scope context (port.slot);
    DeviceReport report;

    {
        Steps steps (*this);
        report = runSteps (steps);
    }

    // A device counts as done only once its record is kept.
    if (keeper != nullptr && ! keeper->keep (report, "station", job.verify) && report.passed)
    {
        report.passed = false;
        report.error = "its record couldn't be kept";
    }

    // The port is closed by now: the slot is free for whatever comes next.
    listener.jobFinished (report);
    return report;
}

DeviceReport DeviceJob::runSteps (Steps& steps)
{
    listener.jobStarting (steps.report);
    logLine ("Starting on " + port.portName);

    const bool passed = steps.step ("open", [&] (juce::String& error, juce::String&)
    {
        error = "can't open " + port.portName;
        return steps.connection.open (port.portName);
    })
    && steps.step ("identify", [&] (juce::String& error, juce::String&)
    {
        error = "the device didn't identify itself";

        if (! steps.connection.identify (steps.report.identity))
            return false;

        steps.report.identified = true;

        for (const auto& line : DeviceConnection::describe (steps.report.identity))
            logLine (line);

        listener.deviceIdentified (steps.report);
        return true;
    })
    && (job.macFolder.isEmpty() || steps.step ("getmac", [&] (juce::String& error, juce::String&)
    {
        if (! fetchMacFile (steps.transfer, resolveLocalPath (job.macFolder), steps.report.macAddress, error))
            return false;

        // From now on every line of the device says which unit it is.
        const auto context = port.slot + " " + steps.report.macAddress;
        LogContext::set (context);
        steps.client.setLogContext (context);
        return true;
    }))
    && std::all_of (job.uploads.begin(), job.uploads.end(), [&] (const StationJob::Upload& each)
    {
        return steps.step ("put " + each.remotePath, [&] (juce::String& error, juce::String&)
        {
            return upload (steps.transfer, each, error);
        });
    })
    && (job.imagePath.isEmpty() || steps.step ("update", [&] (juce::String& error, juce::String& detail)
    {
        // The trigger is the installer's last act: the device may restart after it.
        const auto result = FirmwareInstaller (steps.transfer).install (resolveLocalPath (job.imagePath).getFullPathName());
        detail = result == FirmwareInstaller::Result::alreadyInstalled ? "skipped" : "installed";
        error = installError (result);
        return error.isEmpty();
    }));

    return steps.finish (passed);
}
