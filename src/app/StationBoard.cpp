#include "app/StationBoard.h"

#include <algorithm>
#include <cmath>

void StationBoard::clear()
{
    const juce::ScopedLock sl (lock);
    slots.clear();
    changed = true;
}

std::vector<StationBoard::Slot> StationBoard::take (bool& wasChanged)
{
    std::vector<Slot> list;

    {
        const juce::ScopedLock sl (lock);
        wasChanged = changed;
        changed = false;

        for (const auto& entry : slots)
            list.push_back (entry.second);
    }

    std::sort (list.begin(), list.end(), [] (const Slot& a, const Slot& b)
    {
        return a.slot.compareNatural (b.slot) < 0;
    });

    return list;
}

void StationBoard::logged (const juce::String& line)
{
    if (! line.startsWithChar ('['))
        return;

    const juce::ScopedLock sl (lock);

    // A device's lines start with "[SLOT] ", or "[SLOT MAC] " once its address is read. Slot
    // names may hold blanks or "]" (a port path might): the known names are matched whole,
    // the longest first.
    Slot* owner = nullptr;

    for (auto& [name, slot] : slots)
    {
        const auto next = line[name.length() + 1];

        if (line.substring (1).startsWith (name) && (next == ']' || next == ' ')
            && (owner == nullptr || name.length() > owner->slot.length()))
            owner = &slot;
    }

    if (owner == nullptr)
        return;

    const auto end = line.indexOf (owner->slot.length() + 1, "] ");

    if (end < 0)
        return;

    owner->lastLines.add (line.substring (end + 2));

    if (owner->lastLines.size() > linesKept)
        owner->lastLines.removeRange (0, owner->lastLines.size() - linesKept);

    if (owner->state == State::failed)
        changed = true;
}

StationBoard::Slot& StationBoard::slotFor (const DeviceReport& report)
{
    auto& slot = slots[report.slot];
    slot.slot = report.slot;
    slot.port = report.port;

    if (report.macAddress.isNotEmpty())
        slot.macAddress = report.macAddress;

    changed = true;
    return slot;
}

void StationBoard::jobStarting (const DeviceReport& report)
{
    const juce::ScopedLock sl (lock);
    auto& slot = slotFor (report);
    slot.state = State::working;
    slot.macAddress.clear();
    slot.step.clear();
    slot.fraction = 0;
    slot.error.clear();
    slot.lastLines.clear();
}

void StationBoard::deviceIdentified (const DeviceReport& report)
{
    const juce::ScopedLock sl (lock);
    slotFor (report);
}

void StationBoard::stepStarted (const DeviceReport& report)
{
    const juce::ScopedLock sl (lock);
    auto& slot = slotFor (report);
    slot.step = report.currentStep;
    slot.fraction = 0;
}

void StationBoard::stepEnded (const DeviceReport& report)
{
    const juce::ScopedLock sl (lock);
    slotFor (report);
}

void StationBoard::stepProgress (const DeviceReport& report, double fraction)
{
    const juce::ScopedLock sl (lock);
    auto& slot = slots[report.slot];

    // A tenth of a percent is more than a bar shows.
    if (std::abs (fraction - slot.fraction) >= 0.001 || fraction >= 1.0)
    {
        slot.fraction = fraction;
        changed = true;
    }
}

void StationBoard::jobFinished (const DeviceReport& report)
{
    const juce::ScopedLock sl (lock);
    auto& slot = slotFor (report);
    slot.state = report.passed ? State::passed : State::failed;
    slot.step.clear();
    slot.error = report.error;
}

void StationBoard::slotEmptied (const juce::String& name, const juce::String& port)
{
    const juce::ScopedLock sl (lock);
    auto& slot = slots[name];
    slot.slot = name;
    slot.port = port;
    slot.state = State::waiting;
    slot.macAddress.clear();
    slot.step.clear();
    slot.fraction = 0;
    slot.error.clear();
    slot.lastLines.clear();
    changed = true;
}
