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

        if (auto problem = currentMessage->takeHeaderProblem(); problem.isNotEmpty())
        {
            const juce::SpinLock::ScopedLockType sl (problemLock);

            if (headerProblems.size() < maxKeptProblems)
                headerProblems.add (problem);
            else
                ++droppedProblems;
        }

        bytes += taken;
        count -= taken;

        if (currentMessage->isComplete())
            onFrame (std::move (currentMessage));
    }
}

juce::StringArray FrameCutter::takeHeaderProblems (int& dropped)
{
    const juce::SpinLock::ScopedLockType sl (problemLock);
    dropped = std::exchange (droppedProblems, 0);
    return std::exchange (headerProblems, {});
}
