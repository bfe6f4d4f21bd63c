#pragma once

#include "device/DeviceJob.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <map>

class Console;

/** What the station command shows and writes while its devices are served: on a terminal a
    row per slot (redraw), otherwise a line per finished device on standard output, with
    --json one object per event; the JUnit report after each device; and the summary. */
class StationOutput : public DeviceJobListener
{
public:
    StationOutput (Console& console, const juce::String& junitPath);

    /** Redraws the slot rows, if a terminal shows them; call about ten times a second. */
    void redraw();

    /** The totals and each slot's results, on standard output (not with --json). */
    void printSummary();

    /** False once the JUnit report couldn't be written. */
    bool reportWritten() const noexcept     { return junitOk; }

    void jobStarting (const DeviceReport& report) override;
    void deviceIdentified (const DeviceReport& report) override;
    void stepStarted (const DeviceReport& report) override;
    void stepEnded (const DeviceReport& report) override;
    void stepProgress (const DeviceReport& report, double fraction) override;
    void jobFinished (const DeviceReport& report) override;
    void slotEmptied (const juce::String& slot, const juce::String& port) override;

private:
    struct Row
    {
        juce::String port, mac, step, result;
        int percent = -1;
        int passed = 0, failed = 0;
        juce::String lastError;
    };

    void printEvent (const char* event, const DeviceReport& report, const std::function<void (nlohmann::ordered_json&)>& more);
    void writeJUnit();
    Row& rowFor (const DeviceReport& report);

    Console& console;
    const juce::File junitFile;
    const bool linesPerDevice;
    bool junitOk = true;

    juce::CriticalSection lock;
    std::map<juce::String, Row> rows;     ///< by slot
    juce::Array<DeviceReport> finished;   ///< for the JUnit report
    bool changed = false;
};
