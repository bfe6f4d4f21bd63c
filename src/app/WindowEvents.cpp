#include "app/WindowEvents.h"

#include <juce_core/system/juce_TargetPlatform.h>

#if JUCE_LINUX || JUCE_BSD
 // The framework's X11 declarations (its display connection and its symbol table), which
 // it leaves out of its public header unless asked for them.
 #define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
 #include <juce_gui_basics/juce_gui_basics.h>
 #include <juce_events/native/juce_linux_EventLoopInternal.h>

void handleQueuedWindowEvents()
{
    auto* windowSystem = juce::XWindowSystem::getInstanceWithoutCreating();
    auto* display = windowSystem != nullptr ? windowSystem->getDisplay() : nullptr;

    if (display == nullptr)
        return;

    auto* x11 = juce::X11Symbols::getInstance();
    int connection = -1;

    {
        juce::XWindowSystemUtilities::ScopedXLock lock;

        if (x11->xEventsQueued (display, QueuedAlready) > 0)
            connection = x11->xConnectionNumber (display);
    }

    // The callback the framework runs when the connection is readable; it handles every
    // queued event and returns once none is left.
    if (connection >= 0)
        juce::LinuxEventLoopInternal::invokeEventLoopCallbackForFd (connection);
}

#else

void handleQueuedWindowEvents() {}

#endif
