#include "protocol/VeltraneClient.h"
#include "protocol/VeltraneNotifications.h"
#include "base/WaitClock.h"
#include "base/ILogger.h"
#include "transport/SerialPortStreams.h"

namespace
{
// How long destruction waits for "VeltraneClientThread"; it normally ends within 100 ms.
constexpr int threadStopTimeoutMs = 2000;

// How often "VeltraneClientThread" looks for discarded frames to report.
constexpr int discardReportIntervalMs = 100;

juce::String framesText (juce::int64 count, const char* singular, const char* plural)
{
    return juce::String (count) + " " + (count == 1 ? singular : plural);
}

juce::String malformedLine (int messageId, juce::uint32 payloadLength)
{
    return "Malformed message ID " + juce::String (messageId) + ": its payload of "
           + juce::String (payloadLength) + " bytes is too short for its fields.";
}

/** True when serial comes before expected in the (wrapping) order of the counter. */
bool isOlder (juce::int32 serial, juce::int32 expected) noexcept
{
    return (juce::int32) ((juce::uint32) serial - (juce::uint32) expected) < 0;
}
} // namespace

VeltraneClient::VeltraneClient()
    : juce::Thread ("VeltraneClientThread")
{
    juce::Thread::addListener (&exitWaker);
    startThread();
}

VeltraneClient::~VeltraneClient()
{
    stopThread (threadStopTimeoutMs);
    juce::Thread::removeListener (&exitWaker);
    releaseStreams();
    frameCutter.discardPartialFrame();
    notificationQueue.clear();
    responseQueue.clear();
}

void VeltraneClient::releaseStreams()
{
    if (inputStream != nullptr)
        inputStream->removeChangeListener (this);

    inputStream.reset();
    outputStream.reset();
}

void VeltraneClient::attachPort (SerialPort* newPort)
{
    releaseStreams();

    // Once the old reader has stopped, a frame it left half-received can only be
    // completed by bytes of the new port, which would make it garbage.
    frameCutter.discardPartialFrame();

    port = newPort;
    inputStream = std::make_unique<SerialPortInputStream> (port);
    inputStream->addChangeListener (this);
    inputStream->setNotifyOnData (true);
    outputStream = std::make_unique<SerialPortOutputStream> (port);
}

bool VeltraneClient::hasLostPort() const
{
    return inputStream != nullptr && ! inputStream->isThreadRunning();
}

void VeltraneClient::detachPort()
{
    releaseStreams();
    frameCutter.discardPartialFrame();
    port = nullptr;
}

void VeltraneClient::addListener (IVeltraneClientListener* listener)
{
    listeners.add (listener);
}

//==============================================================================
int VeltraneClient::sendRequest (VeltraneClientRequest& request)
{
    if (port == nullptr)
    {
        logLine ("Not connected.");
        return -1;
    }

    const auto problem = request.getEncodingProblem();

    if (problem.isNotEmpty())
    {
        logLine ("Can't send request serial # " + juce::String (request.getSerialNumber()) + ": " + problem);
        return -1;
    }

    // From before the request leaves, its answer is let through (see routeFrame).
    awaitingResponse = true;
    request.write (*outputStream);
    outputStream->flush();
    return 0;
}

std::unique_ptr<VeltraneClientResponse> VeltraneClient::receiveResponse (VeltraneClientRequest& request, int timeoutMs)
{
    WaitClock::Deadline deadline (timeoutMs);
    auto record = responseQueue.pop (0);

    // This thread receives the answer itself where the port allows, which spares waking
    // the reader thread and then this one for every answer; otherwise the reader delivers.
    const auto responseQueued = [this] { return responseQueue.size() > 0; };

    while (record == nullptr && inputStream != nullptr
           && inputStream->receiveOnCallingThread (deadline.remainingMs(), responseQueued))
        record = responseQueue.pop (0);

    if (record == nullptr)
        record = responseQueue.pop (deadline.remainingMs());

    if (record == nullptr)
    {
        logLine ("Timeout on serial # " + juce::String (request.getSerialNumber()));
        return nullptr;
    }

    auto response = decodeResponse (std::move (record));

    if (response == nullptr)
        logLine ("Unrecognized response.");

    return response;
}

std::unique_ptr<VeltraneClientResponse> VeltraneClient::sendRequestAndWait (VeltraneClientRequest& request, int timeoutMs)
{
    if (const auto chosen = answerTimeoutMs.load(); chosen > 0)
        timeoutMs = chosen;

    // Before this request's own lines, so that the log tells what came unasked.
    reportDiscardedFrames (true);

    // Once the wait has ended, whatever comes answers no request; what was dropped while it
    // lasted is logged then, before anything the caller logs about the answer.
    struct EndOfWait
    {
        ~EndOfWait() { flag = false; client.reportHeaderProblems(); }
        std::atomic<bool>& flag;
        VeltraneClient& client;
    } endOfWait { awaitingResponse, *this };

    if (sendRequest (request) != 0)
    {
        logLine ("Send Failed.");
        return nullptr;
    }

    const auto serial = request.getSerialNumber();
    WaitClock::Deadline deadline (timeoutMs);

    for (;;)
    {
        auto response = receiveResponse (request, deadline.remainingMs());

        if (response == nullptr)
        {
            logLine ("Failed to get valid response to serial # " + juce::String (serial));
            return nullptr;
        }

        const auto received = response->getSerialNumber();

        // An answer to an earlier request that timed out: it would otherwise fail this one.
        if (isOlder (received, serial))
        {
            logLine ("Discarding late response to serial # " + juce::String (received)
                     + " while waiting for serial # " + juce::String (serial) + ".");
            continue;
        }

        if (received != serial)
        {
            logLine ("sync receive serial number didn't match! Expected " + juce::String (serial)
                     + ", got " + juce::String (received) + ", Discarding.");
            return nullptr;
        }

        if (auto* failure = dynamic_cast<FailureResponse*> (response.get()))
        {
            logLine (failure->getFailureText() + " serial# " + juce::String (received));
            return nullptr;
        }

        const auto expected = request.getExpectedResponseId();

        if (expected >= 0 && response->getMessageId() != expected)
        {
            logLine ("Wrong response (message ID " + juce::String (response->getMessageId())
                     + ") to request ID " + juce::String (request.getMessageId())
                     + ", serial # " + juce::String (serial) + ".");
            return nullptr;
        }

        return response;
    }
}

std::unique_ptr<VeltraneClientResponse> VeltraneClient::decodeResponse (std::unique_ptr<ReceivedMessage> message)
{
    const auto messageId = message->readShort();
    const auto payloadLength = (juce::uint32) message->readInt();
    auto response = createResponse (messageId, std::move (message));

    if (response == nullptr)
    {
        logLine ("Unexepected message ID");
        return nullptr;
    }

    if (response->isMalformed())
    {
        logLine (malformedLine (messageId, payloadLength));
        return nullptr;
    }

    return response;
}

//==============================================================================
void VeltraneClient::changeListenerCallback (juce::ChangeBroadcaster* source)
{
    // Runs on the stream's reader thread, which holds the stream's lock meanwhile.
    auto* stream = static_cast<SerialPortInputStream*> (source);
    juce::uint8 chunk[8192];

    for (;;)
    {
        const auto count = stream->read (chunk, (int) sizeof (chunk));

        if (count <= 0)
            break;

        frameCutter.cut (chunk, (size_t) count, [this] (std::unique_ptr<ReceivedMessage> message)
        {
            routeFrame (std::move (message));
        });
    }
}

void VeltraneClient::routeFrame (std::unique_ptr<ReceivedMessage> message)
{
    if (message->isNotification())
    {
        notificationQueue.push (std::move (message));
        return;
    }

    // A response without a serial number, or one that comes while no request waits, can
    // answer no request: queued, it would fail the next one.
    if (! message->hasSerialNumber() || ! awaitingResponse)
    {
        ++strayFrames;
        return;
    }

    responseQueue.push (std::move (message));
}

void VeltraneClient::reportHeaderProblems()
{
    int dropped = 0;

    for (const auto& problem : frameCutter.takeHeaderProblems (dropped))
        for (const auto& line : juce::StringArray::fromLines (problem))
            logLine (line);

    if (dropped > 0)
        logLine ("Dropped " + juce::String (dropped) + " more invalid headers from the device.");
}

void VeltraneClient::reportDiscardedFrames (bool evenWhileComing)
{
    juce::int64 strays = 0;

    {
        const juce::ScopedLock sl (reportLock);
        const auto counted = strayFrames.load();

        if (counted > strayFramesReported && (evenWhileComing || counted == strayFramesAtLastLook))
        {
            strays = counted - strayFramesReported;
            strayFramesReported = counted;
        }

        strayFramesAtLastLook = counted;
    }

    reportHeaderProblems();

    if (strays > 0)
        logLine ("Discarded " + framesText (strays, "stray frame", "stray frames") + " from the device.");

    if (const auto dropped = notificationQueue.takeDroppedFrames())
        logLine ("Dropped " + framesText (dropped, "notification", "notifications")
                 + " from the device: more came than could be handled.");

    if (const auto dropped = responseQueue.takeDroppedFrames())
        logLine ("Dropped " + framesText (dropped, "response", "responses")
                 + " from the device: more came than could be handled.");
}

void VeltraneClient::setLogContext (const juce::String& name)
{
    const juce::SpinLock::ScopedLockType sl (logContextLock);
    logContext = name;
}

void VeltraneClient::run()
{
    auto nextReport = WaitClock::nowMs() + discardReportIntervalMs;

    while (! threadShouldExit())
    {
        {
            const juce::SpinLock::ScopedLockType sl (logContextLock);
            LogContext::set (logContext);
        }

        if (auto message = notificationQueue.pop (100))
            dispatchNotification (std::move (message));

        const auto now = WaitClock::nowMs();

        if (now >= nextReport || nextReport - now > discardReportIntervalMs)
        {
            reportDiscardedFrames (false);
            nextReport = WaitClock::nowMs() + discardReportIntervalMs;
        }
    }
}

void VeltraneClient::dispatchNotification (std::unique_ptr<ReceivedMessage> message)
{
    const auto messageId = message->readShort();
    const auto payloadLength = (juce::uint32) message->readInt();

    switch (messageId)
    {
        case MessageId::processTerminatedNotification:
        {
            ProcessTerminatedNotification notification (std::move (message));

            if (notification.isMalformed())
                logLine (malformedLine (messageId, payloadLength));
            else
            {
                logLine ("Process " + juce::String (notification.getProcessId()) + " terminated with exit code "
                         + juce::String (notification.getProcessExitCode()));

                for (auto* listener : listeners)
                    listener->onProcessTerminated (notification.getProcessId(), notification.getProcessExitCode());
            }
            break;
        }

        case MessageId::unhandledNotification1:
        case MessageId::unhandledNotification5:
            logLine ("Async message " + juce::String (messageId) + " not handled");
            break;

        case MessageId::eventNotification:
        {
            VeltraneEvent event (std::move (message));

            if (event.isMalformed())
            {
                logLine (malformedLine (messageId, payloadLength));
                break;
            }

            for (auto* listener : listeners)
                listener->onEvent (event.getEventId(), event.getArgument());
            break;
        }

        case MessageId::propertyChangedNotification:
        {
            VeltranePropertyChangedNotification change (std::move (message));

            if (change.isMalformed())
            {
                logLine (malformedLine (messageId, payloadLength));
                break;
            }

            for (auto* listener : listeners)
            {
                if (change.isTextValue())
                    listener->onPropertyTextChanged (change.getPropertyPath(), change.getPropertyId(), change.getText());
                else
                    listener->onPropertyValueChanged (change.getPropertyPath(), change.getPropertyId(), change.getValue());
            }
            break;
        }

        default:
            break;
    }
}
