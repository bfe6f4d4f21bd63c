#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The first descendant of root (depth first) with the given component name and type. */
template <typename ComponentType = juce::Component>
ComponentType* findChild (juce::Component& root, const juce::String& name)
{
    for (auto* child : root.getChildren())
    {
        if (child->getName() == name)
            if (auto* typed = dynamic_cast<ComponentType*> (child))
                return typed;

        if (auto* found = findChild<ComponentType> (*child, name))
            return found;
    }

    return nullptr;
}

/** Runs the message loop until the condition holds or timeoutMs have passed; returns
    whether it holds. */
template <typename Condition>
bool dispatchUntil (Condition&& condition, int timeoutMs = 5000)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() >= end)
            return false;

        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }

    return true;
}
