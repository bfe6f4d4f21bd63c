#pragma once

#include "protocol/FrameCutter.h"
#include "protocol/IVeltraneClientListener.h"
#include "protocol/MessageQueue.h"
#include "protocol/VeltraneRequests.h"
#include "protocol/VeltraneResponses.h"

#include <juce_events/juce_events.h>

class SerialPort;
class SerialPortInputStream;
class SerialPortOutputStream;

/** The host end of the device protocol.

    Attached to an open serial port, it cuts the arriving bytes into frames, queues
    responses for the request that waits for them and notifications for its own thread
    ("VeltraneClientThread"), which hands them to the listeners. Requests are exchanged one
    at a time, synchronously, from the thread that calls sendRequestAndWait (the GUI
    thread). Every failure is logged through the installed ILogger.

    The file-system operations (RemoteFileSystem) and transfers (FileTransfer) are built on
    sendRequestAndWait. */
class VeltraneClient : public juce::ChangeListener,
                       public juce::Thread
{
public:
    /** Starts "VeltraneClientThread"; no port is needed for that. */
    VeltraneClient();

    /** Stops the thread, the streams and drops every queued frame undecoded. */
    ~VeltraneClient() override;

    /** Attaches an open port: the streams of any previous port are destroyed (their threads
        stop) and new ones are made on this one. The port is borrowed and must outlive the
        attachment (see detachPort). */
    void attachPort (SerialPort* port);

    /** Destroys the streams and forgets the port; requests then fail with "Not connected.".
        Call before the attached port object is destroyed. */
    void detachPort();

    bool isConnected() const noexcept { return port != nullptr; }

    /** True once the attached port has stopped delivering for good (unplugged, hung up):
        its reader has ended. */
    bool hasLostPort() const;

    /** The log context (see LogContext) of the client's own thread, which logs notifications
        and frames it had to drop: set it to the caller's when several clients share a log. */
    void setLogContext (const juce::String& name);

    /** Adds a listener for notifications. Call before data flows; there is no removal. */
    void addListener (IVeltraneClientListener* listener);

    /** Writes the request and hands it to the sending thread. Returns 0, or -1 when not
        connected or the request can't be encoded. Does not wait for the port. */
    int sendRequest (VeltraneClientRequest& request);

    /** Takes the next queued response, waiting up to timeoutMs. Returns nullptr (and logs
        why) on a time-out or an undecodable frame. */
    std::unique_ptr<VeltraneClientResponse> receiveResponse (VeltraneClientRequest& request, int timeoutMs);

    /** Sends the request and waits up to timeoutMs for its answer. Returns the response
        (the caller owns it) or nullptr on any failure: not connected, time-out, a response
        to another request, a FailureResponse, or a response of the wrong class. A response
        left over from an earlier request (an older serial number) is discarded and the
        wait goes on. */
    std::unique_ptr<VeltraneClientResponse> sendRequestAndWait (VeltraneClientRequest& request, int timeoutMs);

    /** How long every answer is waited for from now on, in place of each request's own
        time (for a slow device, or a delete that takes long); 0 goes back to those. */
    void setAnswerTimeout (int milliseconds) noexcept     { answerTimeoutMs = juce::jmax (0, milliseconds); }

    /** Builds the response for a frame (which it takes), or nullptr when the id is not a
        response or the frame is too short for its fields. */
    std::unique_ptr<VeltraneClientResponse> decodeResponse (std::unique_ptr<ReceivedMessage> message);

    //==============================================================================
    /** Called by the input stream on its reader thread whenever data has arrived. */
    void changeListenerCallback (juce::ChangeBroadcaster* source) override;

    /** Decodes a notification and hands it to the listeners (on "VeltraneClientThread"). */
    void dispatchNotification (std::unique_ptr<ReceivedMessage> message);

    /** The number of stray frames received so far: responses too short to hold a serial
        number, or that came while no request was waiting. */
    juce::int64 getStrayFrameCount() const noexcept { return strayFrames.load(); }

    /** How many frames each queue holds at most; beyond that the oldest are dropped. */
    static constexpr int notificationQueueCapacity = 1024;
    static constexpr int responseQueueCapacity = 64;

private:
    void run() override;
    void releaseStreams();
    void routeFrame (std::unique_ptr<ReceivedMessage> message);

    /** Logs, one line each, the stray frames and the frames the full queues dropped since
        the last report. The reader thread only counts them: it must not wait for the log.
        Unless evenWhileComing, stray frames are reported only once none has come since the
        previous look, so that a babbling device costs one line, not one per look. */
    void reportDiscardedFrames (bool evenWhileComing);

    /** Logs why the headers the device sent were dropped (the cutter keeps them till then). */
    void reportHeaderProblems();

    SerialPort* port = nullptr;
    std::unique_ptr<SerialPortInputStream> inputStream;
    std::unique_ptr<SerialPortOutputStream> outputStream;
    FrameCutter frameCutter;
    MessageQueue notificationQueue { notificationQueueCapacity };
    MessageQueue responseQueue { responseQueueCapacity };

    // Ends the thread's wait for notifications as soon as it is asked to stop, rather than
    // up to 100 ms later, which every short command-line run would spend on its way out.
    struct ExitWaker : juce::Thread::Listener
    {
        explicit ExitWaker (MessageQueue& q) : queue (q) {}
        void exitSignalSent() override { queue.stopWaiting(); }
        MessageQueue& queue;
    } exitWaker { notificationQueue };
    juce::Array<IVeltraneClientListener*> listeners;
    juce::String logContext;
    std::atomic<int> answerTimeoutMs { 0 };
    juce::SpinLock logContextLock;

    // Set by sendRequest, cleared when sendRequestAndWait's wait ends: a response that
    // comes at any other time answers nothing and is dropped by the reader as a stray frame.
    std::atomic<bool> awaitingResponse { false };
    std::atomic<juce::int64> strayFrames { 0 };    // counted by the reader thread, never reset
    juce::CriticalSection reportLock;
    juce::int64 strayFramesReported = 0, strayFramesAtLastLook = 0;   // guarded by reportLock

    JUCE_DECLARE_NON_COPYABLE (VeltraneClient)
};
