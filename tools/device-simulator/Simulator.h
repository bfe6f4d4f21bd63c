#pragma once

#include "FaultRules.h"
#include "OutputQueue.h"
#include "PseudoTerminal.h"
#include "RequestHandler.h"

#include "protocol/FrameCutter.h"

/** The device's main loop: reads the host's bytes from the pty, cuts them into requests,
    logs each one, answers it as the fault rules say, and writes the answers when they are
    due. Requests are carried out as they arrive; answers leave in the order of their
    requests, so a delayed answer holds back the ones after it, as on a device that serves
    one request at a time. With a link model, answers are also paced like a slow serial
    link that carries one request or answer at a time. */
class Simulator
{
public:
    struct Settings
    {
        int exitAfterIdleSeconds = 0;   ///< 0: never
        bool exitWithParent = false;
        juce::int64 linkBytesPerSecond = 0;   ///< 0: answers aren't held back by the link's speed
        int linkLatencyMs = 0;                ///< added to every round trip
    };

    Simulator (PseudoTerminal& pty, DeviceFileSystem& fileSystem, RequestHandler& handler,
               FaultRules& rules, RequestLog& log);

    /** Makes SIGINT and SIGTERM end run(); they are held back outside its wait, so that
        none is lost between two checks. Call before starting anything else. */
    static void installSignalHandlers();

    /** Queues what the start rules send, to go out at once. */
    void queueStartOutput();

    /** Serves the host until a signal, the idle time or the parent's exit. Returns the
        process exit code. */
    int run (const Settings& runSettings);

private:
    void readFromHost();
    void writeDueOutput (juce::int64 now);
    void forgetHostSession();
    void handleFrame (std::unique_ptr<ReceivedMessage> frame);
    void queueAnswer (juce::MemoryBlock answer, const Faults& faults, juce::int64 dueUs);
    juce::int64 getLinkDueTime (juce::int64 readyUs, size_t requestBytes, size_t answerBytes);

    PseudoTerminal& pty;
    DeviceFileSystem& fileSystem;
    RequestHandler& handler;
    FaultRules& rules;
    RequestLog& log;

    FrameCutter cutter;
    OutputQueue output;
    juce::HeapBlock<juce::uint8> inputBuffer;
    Settings settings;
    juce::int64 lastRequestUs = 0;
    juce::int64 linkFreeUs = 0;   ///< when the last paced answer is through the link
    bool reportedReadError = false;
};
