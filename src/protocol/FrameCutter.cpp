#include "protocol/FrameCutter.h"

void FrameCutter::cut (const void* data, size_t count, const FrameHandler& onFrame)
{
    auto* bytes = static_cast<const juce::uint8*> (data);

    while (count > 0)
    {
        if (currentMessage == nullptr)
            currentMessage = std::make_unique<ReceivedMessage>();

        const auto chunk = (int) juce::jmin (count, (size_t) std::numeric_limits<int>::max());
        const auto taken = (size_t) currentMessage->append (bytes, chunk);
        bytes += taken;
        count -= taken;

        if (currentMessage->isComplete())
            onFrame (std::move (currentMessage));
    }
}
