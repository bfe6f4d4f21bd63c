#include "device/Station.h"
#include "base/WaitClock.h"

/** One device's job, on a thread of its own. */
class Station::SlotThread : public juce::Thread
{
public:
    SlotThread (Station& s, const AvailablePort& p)
        : juce::Thread ("StationSlot " + p.slot), station (s), port (p)
    {
    }

    ~SlotThread() override
    {
        // Every wait of a job is bounded, and a stop request ends the transfers: wait for it.
        waitForThreadToExit (-1);
    }

    void run() override
    {
        const auto report = DeviceJob (station.job, port, station.listener, station.stopRequested, station.keeper).run();
        ++(report.passed ? station.passed : station.failed);
    }

    Station& station;
    const AvailablePort port;
};

//==============================================================================
Station::Station (const StationJob& j, DeviceJobListener& l, RecordKeeper* k)
    : juce::Thread ("StationWatch"), job (j), listener (l), keeper (k)
{
}

Station::~Station()
{
    stop();
    stopThread (-1);

    const juce::ScopedLock sl (slotLock);
    slots.clear();
}

void Station::runOnce (const juce::Array<AvailablePort>& ports)
{
    for (const auto& port : ports)
        startJob (port);
}

void Station::watch (const juce::StringArray& portFilter)
{
    filter = portFilter;
    startThread();
}

void Station::stop()
{
    stopRequested = true;
    signalThreadShouldExit();
    notify();
}

bool Station::isRunning() const
{
    if (isThreadRunning())
        return true;

    const juce::ScopedLock sl (slotLock);

    for (const auto& slot : slots)
        if (slot.second->isThreadRunning())
            return true;

    return false;
}

bool Station::waitUntilDone (int timeoutMs)
{
    const auto end = WaitClock::nowMs() + timeoutMs;

    while (isRunning())
    {
        if (timeoutMs >= 0 && WaitClock::nowMs() >= end)
            return false;

        juce::Thread::sleep (20);
    }

    return true;
}

void Station::startJob (const AvailablePort& port)
{
    const juce::ScopedLock sl (slotLock);
    auto& slot = slots[port.portName];
    slot = std::make_unique<SlotThread> (*this, port);
    slot->startThread();
}

void Station::run()
{
    // The other devices on the host are mentioned once, not four times a second.
    for (bool first = true; ! threadShouldExit() && ! stopRequested; first = false)
    {
        lookForDevices (first);
        wait (250);
    }
}

void Station::lookForDevices (bool logIgnored)
{
    const auto present = presentPorts (filter, logIgnored);
    const auto isPresent = [&] (const juce::String& portName)
    {
        return std::any_of (present.begin(), present.end(), [&] (const AvailablePort& p) { return p.portName == portName; });
    };

    // A slot whose job has ended is freed once its device has gone.
    juce::Array<AvailablePort> emptied;

    {
        const juce::ScopedLock sl (slotLock);

        for (auto it = slots.begin(); it != slots.end();)
        {
            if (! it->second->isThreadRunning() && ! isPresent (it->first))
            {
                emptied.add (it->second->port);
                it = slots.erase (it);
            }
            else
            {
                ++it;
            }
        }
    }

    for (const auto& port : emptied)
        listener.slotEmptied (port.slot, port.portName);

    for (const auto& port : present)
    {
        if (stopRequested)
            return;

        const bool known = [&] { const juce::ScopedLock sl (slotLock); return slots.count (port.portName) > 0; }();

        if (! known)
            startJob (port);
    }
}

juce::Array<AvailablePort> Station::presentPorts (const juce::StringArray& portFilter, bool logIgnored)
{
    const auto present = PortChoice::listPorts (logIgnored);

    if (portFilter.isEmpty())
        return present;

    juce::Array<AvailablePort> chosen;

    for (const auto& wanted : portFilter)
    {
        const auto named = std::find_if (present.begin(), present.end(), [&] (const AvailablePort& port)
        {
            return port.portName.equalsIgnoreCase (wanted) || port.description.equalsIgnoreCase (wanted)
                || port.slot.equalsIgnoreCase (wanted);
        });

        if (named != present.end())
            chosen.addIfNotAlreadyThere (*named);
        else if (PortChoice::isThere (wanted))
            chosen.add ({ wanted, wanted, wanted, {} });
    }

    return chosen;
}
