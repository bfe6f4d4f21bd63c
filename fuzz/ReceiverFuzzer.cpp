// Feeds arbitrary bytes to the frame receiver and checks that nothing is lost or
// misdirected:
// - the stream cut into chunks of random sizes (small ones that split headers and fields, or
//   large ones that hold several frames) gives the same frames, byte for byte and in the
//   same order, and the same partial frame at the end, as the stream in one piece;
// - every complete frame goes where the client sends it: notifications through
//   dispatchNotification to a listener or the log, everything else through decodeResponse,
//   which either decodes it inside the received bytes or rejects it with a log line;
// - a device text decoded and encoded again gives back the bytes it was decoded from, less
//   the zero bytes that pad its end.
//
// Input layout: the first byte seeds the chunk sizes (its lowest bit: small or large ones);
// the rest is the byte stream.

#include "base/DeviceText.h"
#include "protocol/FrameCutter.h"
#include "protocol/VeltraneClient.h"
#include "base/ILogger.h"

#include <cstdio>
#include <vector>

namespace
{
void check (bool condition, const char* what)
{
    if (! condition)
    {
        std::fprintf (stderr, "Check failed: %s\n", what);
        std::fflush (stderr);
        __builtin_trap();
    }
}

/** Counts what reaches the listeners and the log: every frame must end up in one of them. */
class CountingListener final : public IVeltraneClientListener,
                               public ILogger
{
public:
    void onEvent (juce::int32, juce::int64) override                                              { ++calls; }
    void onPropertyValueChanged (juce::Array<juce::uint16>, juce::int32, juce::int32) override        { ++calls; }
    void onPropertyTextChanged (juce::Array<juce::uint16>, juce::int32, const juce::String&) override { ++calls; }
    void log (juce::String) override                                                              { ++lines; }

    int calls = 0, lines = 0;
};

struct Harness
{
    Harness()
    {
        client.addListener (&listener);
        ILogger::install (&listener);
    }

    VeltraneClient client;   // no port: only its decoding and dispatching are used
    CountingListener listener;
};

Harness& harness()
{
    static Harness h;
    return h;
}

/** The frames a cutting produced, each as its bytes, and the partial frame left over. */
struct Cutting
{
    std::vector<std::vector<juce::uint8>> frames;
    std::vector<juce::uint8> partial;
};

std::vector<juce::uint8> bytesOf (const ReceivedMessage& m)
{
    return { m.getData(), m.getData() + m.getReceivedCount() };
}

/** Cuts the stream in chunks of 1 to maxChunk bytes (all of it at once when maxChunk is 0),
    handing each complete frame to onFrame as well. */
Cutting cut (const juce::uint8* data, size_t size, juce::Random& sizes, int maxChunk,
             const std::function<void (std::unique_ptr<ReceivedMessage>)>& onFrame = {})
{
    Cutting result;
    FrameCutter cutter;

    while (size > 0)
    {
        const auto chunk = maxChunk == 0 ? size : juce::jmin (size, (size_t) 1 + (size_t) sizes.nextInt (maxChunk));

        cutter.cut (data, chunk, [&] (std::unique_ptr<ReceivedMessage> m)
        {
            check (m->isComplete(), "an incomplete frame handed on");
            check (m->getReceivedCount() == ReceivedMessage::headerSize + (int) m->getPayloadLength(),
                   "a frame whose size is not its header's");
            result.frames.push_back (bytesOf (*m));

            if (onFrame)
                onFrame (std::move (m));
        });

        data += chunk;
        size -= chunk;
    }

    if (auto* partial = cutter.getCurrentMessage())
        result.partial = bytesOf (*partial);

    return result;
}

void checkResponse (VeltraneClientResponse& response)
{
    auto& frame = response.getMessage();

    check (! response.isMalformed(), "a malformed response was accepted");
    check (frame.getReadPosition() <= frame.getReceivedCount(), "decoding read past the received bytes");

    if (auto* block = dynamic_cast<FileReadResponse*> (&response))
    {
        check (block->getCount() >= 0, "a read block with a negative count was accepted");

        if (block->getCount() > 0)
        {
            check (block->getData() != nullptr, "a read block without its data");
            check (block->getData() + block->getCount() <= frame.getData() + frame.getReceivedCount(),
                   "a read block that ends past its frame");
            (void) block->getData()[block->getCount() - 1];
        }
    }
}

/** Hands the frame on as the client does; it must reach a listener, the log or the caller. */
void route (std::unique_ptr<ReceivedMessage> message)
{
    auto& h = harness();
    const auto callsBefore = h.listener.calls, linesBefore = h.listener.lines;

    if (message->isNotification())
    {
        h.client.dispatchNotification (std::move (message));
        check (h.listener.calls > callsBefore || h.listener.lines > linesBefore,
               "a notification reached neither a listener nor the log");
        return;
    }

    if (auto response = h.client.decodeResponse (std::move (message)))
        checkResponse (*response);
    else
        check (h.listener.lines > linesBefore, "a response rejected without a log line");
}

void checkTextRoundTripOf (const juce::uint8* bytes, size_t count)
{
    // Zero bytes at the end are padding; those inside are kept.
    size_t length = count;

    while (length > 0 && bytes[length - 1] == 0)
        --length;

    const auto encoded = DeviceText::encode (DeviceText::decode (bytes, count));
    check (encoded.getSize() == length && (length == 0 || memcmp (encoded.getData(), bytes, length) == 0),
           "a device text that does not encode back to its bytes");
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    // The receiver prints its diagnostics of bad headers; keep the fuzzer's output readable.
    (void) std::freopen ("/dev/null", "w", stdout);
    harness();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;

    const auto seed = data[0];
    juce::Random sizes ((juce::int64) seed);
    ++data;
    --size;

    // The stream in one piece is the reference; its frames are the ones routed.
    const auto whole = cut (data, size, sizes, 0, route);

    // Small chunks split headers and fields; large ones hold several frames.
    const auto smallChunks = (seed & 1) != 0;
    const auto pieces = cut (data, size, sizes, smallChunks ? 1 + sizes.nextInt (16) : 1 + sizes.nextInt (9000));
    check (pieces.frames == whole.frames, "different frames from a different cutting");
    check (pieces.partial == whole.partial, "a different partial frame from a different cutting");

    for (const auto& frame : whole.frames)
        checkTextRoundTripOf (frame.data() + ReceivedMessage::headerSize,
                              frame.size() - (size_t) ReceivedMessage::headerSize);

    return 0;
}
