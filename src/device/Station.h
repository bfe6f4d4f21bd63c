#pragma once

#include "device/DeviceJob.h"

#include <map>

/** Serves every attached device at once: each device gets the same job (see StationJob) on
    a thread of its own, with its own port and client, so that a device that fails, hangs or
    is unplugged never holds up another. Once, the job runs on the ports given, all at the
    same time; watching, it runs on each device that appears, and a slot whose job has ended
    takes its next device only after the last one has gone. */
class Station : private juce::Thread
{
public:
    /** The job (checked by the caller), its listener and the keeper of the devices' records
        (nullptr: none) must outlive the station. */
    Station (const StationJob& job, DeviceJobListener& listener, RecordKeeper* keeper = nullptr);

    /** Stops as stop() does and waits for every job to end. */
    ~Station() override;

    /** Runs the job once on each of the ports, at the same time. */
    void runOnce (const juce::Array<AvailablePort>& ports);

    /** Watches the ports that portFilter names (all usable ports when it is empty), every
        quarter of a second, and runs the job on each device that appears. */
    void watch (const juce::StringArray& portFilter);

    /** Ends the watch and stops the running jobs as a cancel does: after the current block,
        nothing half-written left behind, no trigger. Returns at once. */
    void stop();

    /** True while a job runs or the watch goes on. */
    bool isRunning() const;

    /** Waits until no job runs and the watch has ended; false when timeoutMs passed first
        (-1: no limit). */
    bool waitUntilDone (int timeoutMs);

    int getPassedCount() const noexcept     { return passed.load(); }
    int getFailedCount() const noexcept     { return failed.load(); }

    /** The usable ports present now (PortChoice::listPorts, less the paths that aren't
        there), or those of them that portFilter names by port name, device name or slot.
        A filter entry that names no listed port is taken as a port name of its own (a
        path, only when it exists). */
    static juce::Array<AvailablePort> presentPorts (const juce::StringArray& portFilter, bool logIgnored = true);

private:
    class SlotThread;

    void run() override;
    void startJob (const AvailablePort& port);
    void lookForDevices (bool logIgnored);

    const StationJob& job;
    DeviceJobListener& listener;
    RecordKeeper* const keeper;
    std::atomic<bool> stopRequested { false };
    std::atomic<int> passed { 0 }, failed { 0 };
    juce::StringArray filter;

    mutable juce::CriticalSection slotLock;
    std::map<juce::String, std::unique_ptr<SlotThread>> slots;   ///< by port name

    JUCE_DECLARE_NON_COPYABLE (Station)
};
