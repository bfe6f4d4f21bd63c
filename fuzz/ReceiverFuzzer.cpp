// Feeds arbitrary bytes to the frame receiver, cut into chunks of arbitrary sizes, and
// decodes every complete frame with the response and notification decoders.
//
// Input layout: the first byte seeds the chunk sizes; the rest is the byte stream.

#include "protocol/FrameCutter.h"
#include "protocol/VeltraneNotifications.h"

#include <cstdio>

namespace
{
void decode (std::unique_ptr<ReceivedMessage> message)
{
    const auto id = message->readShort();
    message->readInt();

    std::unique_ptr<VeltraneClientInputMessage> decoded;

    switch (id)
    {
        case MessageId::processTerminatedNotification:
            decoded = std::make_unique<ProcessTerminatedNotification> (std::move (message));
            break;
        case MessageId::eventNotification:
            decoded = std::make_unique<VeltraneEvent> (std::move (message));
            break;
        case MessageId::propertyChangedNotification:
            decoded = std::make_unique<VeltranePropertyChangedNotification> (std::move (message));
            break;
        default:
            if (auto response = createResponse (id, std::move (message)))
            {
                auto& frame = response->getMessage();

                // Whatever was decoded, reading stays inside what was received.
                if (frame.getReadPosition() > frame.getReceivedCount())
                    __builtin_trap();

                if (auto* block = dynamic_cast<FileReadResponse*> (response.get()))
                    if (block->getData() != nullptr && block->getCount() > 0)
                        (void) block->getData()[block->getCount() - 1];

                decoded = std::move (response);
            }
            break;
    }
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

    juce::Random chunkSizes ((juce::int64) data[0]);
    ++data;
    --size;

    FrameCutter cutter;

    while (size > 0)
    {
        const auto chunk = juce::jmin (size, (size_t) 1 + (size_t) chunkSizes.nextInt (9000));
        cutter.cut (data, chunk, [] (std::unique_ptr<ReceivedMessage> m) { decode (std::move (m)); });
        data += chunk;
        size -= chunk;
    }

    return 0;
}
