#pragma once

#include "device/PortChoice.h"
#include "device/StationJob.h"
#include "protocol/DeviceIdentity.h"

#include <atomic>

class RecordKeeper;

/** What became of one device's job: where it was, who it was, each step. */
struct DeviceReport
{
    juce::String slot, port;
    juce::String usbSerial;             ///< where the host reports one
    juce::String macAddress;            ///< "00-1A-2B-3C-4D-5E" once read
    bool identified = false;
    DeviceIdentity identity;
    juce::Array<JobStep> steps;         ///< the steps ended so far
    juce::String currentStep;           ///< the step under way, empty between steps
    bool finished = false, passed = false;
    juce::String error;                 ///< why it failed, one line
    juce::Time startTime;
    double seconds = 0;                 ///< from the start to the end of the job
};

/** Hears how the jobs on a station's devices go. Called on each device's own thread, so
    several calls may come at once; none may block for long. */
class DeviceJobListener
{
public:
    virtual ~DeviceJobListener() = default;

    /** A device has appeared in its slot; its job starts. */
    virtual void jobStarting (const DeviceReport& report)                   { juce::ignoreUnused (report); }

    /** The device has identified itself. */
    virtual void deviceIdentified (const DeviceReport& report)              { juce::ignoreUnused (report); }

    /** A step starts (report.currentStep) or has ended (its entry in report.steps). */
    virtual void stepStarted (const DeviceReport& report)                   { juce::ignoreUnused (report); }
    virtual void stepEnded (const DeviceReport& report)                     { juce::ignoreUnused (report); }

    /** How much of the current step's file is done, from 0 to 1, after each block. */
    virtual void stepProgress (const DeviceReport& report, double fraction) { juce::ignoreUnused (report, fraction); }

    /** The job has ended, passed or failed. */
    virtual void jobFinished (const DeviceReport& report)                   { juce::ignoreUnused (report); }

    /** The device that was in the slot has gone; the slot waits for the next. */
    virtual void slotEmptied (const juce::String& slot, const juce::String& port) { juce::ignoreUnused (slot, port); }
};

/** A station's job on one device, run on the calling thread with its own port, client and
    transfers, so that any number of them can run at once. Every log line of the job (and of
    its client's thread) starts with the slot's name. A stop request ends it as a cancel
    does: after the current block, with nothing half-written left behind and no trigger. */
class DeviceJob
{
public:
    DeviceJob (const StationJob& job, const AvailablePort& port, DeviceJobListener& listener,
               const std::atomic<bool>& stopRequested, RecordKeeper* keeper = nullptr);

    /** Runs every step until one fails, then appends the job's record (a device whose
        record couldn't be kept doesn't pass); the report says how it went. */
    DeviceReport run();

private:
    class Steps;
    DeviceReport runSteps (Steps& steps);

    const StationJob& job;
    const AvailablePort port;
    DeviceJobListener& listener;
    const std::atomic<bool>& stopRequested;
    RecordKeeper* const keeper;
};
