// Feeds arbitrary bytes from the host to the device simulator's request decoder, cut into
// frames as the simulator cuts them, and checks each decoded request:
// - its log line is one line of valid UTF-8, whatever bytes the request's texts hold;
// - a write's data lies inside its frame;
// - a well-formed request, encoded again from its decoded fields, takes exactly as many
//   payload bytes as the decoder consumed and decodes to the same request (same log line).
//
// Input layout: the first byte seeds the chunk sizes; the rest is the byte stream.

#include "Requests.h"

#include "base/DeviceText.h"
#include "protocol/FrameBuilder.h"
#include "protocol/FrameCutter.h"
#include "protocol/MessageIds.h"

#include <cstdio>

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

void checkLogLine (const std::string& line)
{
    check (DeviceText::isValidUtf8 (reinterpret_cast<const juce::uint8*> (line.data()), line.size()),
           "a log line that is not UTF-8");

    for (const auto c : line)
        check ((juce::uint8) c >= 0x20 && c != 0x7F, "a control character in a log line");
}

/** The request's fields written back in wire order, the way the host writes them. */
juce::MemoryBlock encode (const DecodedRequest& r)
{
    FrameBuilder frame (r.messageId);
    frame.int32 (r.serial);

    auto text = [&frame] (const std::string& bytes) { frame.rawText (bytes.data(), bytes.size()); };
    auto flag = [&frame, &r] (size_t i) { frame.byte (r.flags.at (i)); };

    switch (r.kind)
    {
        case RequestKind::entryInfo:      frame.boolean (r.isFolder); text (r.path); break;
        case RequestKind::entryCreate:    flag (0); text (r.path); flag (1); break;
        case RequestKind::entryMove:      frame.boolean (r.isFolder); text (r.path); text (r.toPath); flag (0); flag (1); break;
        case RequestKind::entryDelete:    flag (0); text (r.path); flag (1); flag (2); break;
        case RequestKind::fileOpen:       text (r.path); frame.byte (r.access).byte (r.mode); break;
        case RequestKind::fileRead:       frame.int64 (r.handle).int32 ((juce::int32) r.count); break;
        case RequestKind::fileWrite:      frame.int64 (r.handle).int32 ((juce::int32) r.count).bytes (r.data, (size_t) r.count); break;
        case RequestKind::fileSeek:       frame.int64 (r.handle).int64 (r.position).byte (r.seekMode); break;
        case RequestKind::fileClose:      frame.int64 (r.handle); break;
        case RequestKind::folderContents: text (r.path); break;

        case RequestKind::getProperties:
        case RequestKind::getProperty:
            frame.byte ((int) r.propertyPath.size());

            for (auto entry : r.propertyPath)
                frame.int16 (entry);

            if (r.kind == RequestKind::getProperty)
                frame.int16 (r.propertyId);
            break;

        case RequestKind::whoAmI:
        case RequestKind::unknown:
        case RequestKind::unexpected:
            break;
    }

    return frame.getFrame();
}

void checkRequest (ReceivedMessage& frame)
{
    const auto request = decodeRequest (frame);
    const auto line = request.describe();
    checkLogLine (line);
    check (frame.getReadPosition() <= frame.getReceivedCount(), "decoding read past the received bytes");

    if (request.data != nullptr)
        check (request.count >= 0 && request.data + request.count <= frame.getData() + frame.getReceivedCount(),
               "a write's data that ends past its frame");

    if (request.malformed || request.kind == RequestKind::unexpected)
        return;

    // Bytes after the request's fields are ignored; those before must all be accounted for.
    const auto consumed = frame.getReadPosition();
    const auto again = encode (request);
    check ((int) again.getSize() == consumed, "the decoded fields don't account for the bytes consumed");

    FrameCutter cutter;
    int frames = 0;

    cutter.cut (again.getData(), again.getSize(), [&] (std::unique_ptr<ReceivedMessage> copy)
    {
        ++frames;
        const auto decodedAgain = decodeRequest (*copy);
        check (! decodedAgain.malformed && copy->getReadPosition() == copy->getReceivedCount(),
               "a request encoded again does not decode whole");
        check (decodedAgain.describe() == line, "a request encoded again decodes differently");
    });

    check (frames == 1, "a request encoded again is not one frame");
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    // The receiver prints its diagnostics of bad headers; keep the fuzzer's output readable.
    (void) std::freopen ("/dev/null", "w", stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;

    juce::Random sizes ((juce::int64) data[0]);
    ++data;
    --size;

    FrameCutter cutter;

    while (size > 0)
    {
        const auto chunk = juce::jmin (size, (size_t) 1 + (size_t) sizes.nextInt (9000));
        cutter.cut (data, chunk, [] (std::unique_ptr<ReceivedMessage> frame) { checkRequest (*frame); });
        data += chunk;
        size -= chunk;
    }

    return 0;
}
