#pragma once

#include "device/DeviceJob.h"

#include <map>
#include <vector>

/** What the "Station" tab shows of each slot, kept up to date by the station's device
    threads and read by the message thread: the station's listener, and the keeper of each
    slot's last log lines. Every call may come from any thread; none waits for another. */
class StationBoard : public DeviceJobListener
{
public:
    enum class State { waiting, working, passed, failed };

    /** One slot as the tab shows it. */
    struct Slot
    {
        juce::String slot, port;
        juce::String macAddress;       ///< once read
        juce::String step;             ///< the step under way ("update"), empty between steps
        double fraction = 0;           ///< how much of the step's file is done, 0 to 1
        State state = State::waiting;
        juce::String error;            ///< why the last job failed, one line
        juce::StringArray lastLines;   ///< the slot's last log lines, without the slot's prefix
    };

    /** How many log lines each slot keeps. */
    static constexpr int linesKept = 8;

    /** Forgets every slot (a new start). */
    void clear();

    /** The slots in the order their names sort naturally ("1-1.2" before "1-1.10"), and
        whether anything changed since the last call. */
    std::vector<Slot> take (bool& changed);

    /** Takes a line of the program's log: a line that starts with a slot's "[SLOT] " (or
        "[SLOT MAC] ") is kept among that slot's last lines. */
    void logged (const juce::String& line);

    void jobStarting (const DeviceReport& report) override;
    void deviceIdentified (const DeviceReport& report) override;
    void stepStarted (const DeviceReport& report) override;
    void stepEnded (const DeviceReport& report) override;
    void stepProgress (const DeviceReport& report, double fraction) override;
    void jobFinished (const DeviceReport& report) override;
    void slotEmptied (const juce::String& slot, const juce::String& port) override;

private:
    Slot& slotFor (const DeviceReport& report);

    juce::CriticalSection lock;
    std::map<juce::String, Slot> slots;   ///< by slot name
    bool changed = false;
};
