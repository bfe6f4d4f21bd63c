#include "base/DeviceText.h"
#include "protocol/FrameBuilder.h"
#include "protocol/FrameCutter.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
std::vector<juce::uint8> bytesOf (const juce::MemoryBlock& block)
{
    auto* data = static_cast<const juce::uint8*> (block.getData());
    return { data, data + block.getSize() };
}

std::vector<juce::uint8> header (int id, juce::uint32 length)
{
    return { (juce::uint8) id, (juce::uint8) (id >> 8),
             (juce::uint8) length, (juce::uint8) (length >> 8),
             (juce::uint8) (length >> 16), (juce::uint8) (length >> 24) };
}

/** Feeds chunks to one FrameCutter and keeps every frame it completes. */
struct Receiver
{
    FrameCutter cutter;
    std::vector<std::unique_ptr<ReceivedMessage>> frames;

    void feed (const std::vector<juce::uint8>& chunk)
    {
        cutter.cut (chunk.data(), chunk.size(),
                    [this] (std::unique_ptr<ReceivedMessage> m) { frames.push_back (std::move (m)); });
    }

    /** Feeds the chunk and gives the reasons for the headers it dropped, one line each;
        standard output must stay untouched (it may carry a program's results). */
    std::string feedTakingProblems (const std::vector<juce::uint8>& chunk)
    {
        testing::internal::CaptureStdout();
        feed (chunk);
        EXPECT_EQ (testing::internal::GetCapturedStdout(), "");
        return problems();
    }

    std::string problems()
    {
        int dropped = 0;
        std::string text;
        for (const auto& problem : cutter.takeHeaderProblems (dropped))
            text += problem.toStdString() + "\n";
        return text;
    }
};

std::vector<juce::uint8> concat (std::initializer_list<std::vector<juce::uint8>> parts)
{
    std::vector<juce::uint8> all;
    for (auto& p : parts)
        all.insert (all.end(), p.begin(), p.end());
    return all;
}
} // namespace

TEST (FrameCutting, HeaderSplitOverChunksIsAssembledAsIfWhole)
{
    const auto frame = bytesOf (FrameBuilder (0x0002).int32 (77).getFrame());
    Receiver receiver;

    receiver.feed ({ frame.begin(), frame.begin() + 4 });
    EXPECT_TRUE (receiver.frames.empty());
    receiver.feed ({ frame.begin() + 4, frame.begin() + 6 });
    EXPECT_TRUE (receiver.frames.empty());
    receiver.feed ({ frame.begin() + 6, frame.end() });

    ASSERT_EQ (receiver.frames.size(), 1u);
    auto& m = *receiver.frames[0];
    EXPECT_TRUE (m.isComplete());
    EXPECT_EQ (m.readShort(), 0x0002);
    EXPECT_EQ (m.readInt(), 4);
    EXPECT_EQ (m.readInt(), 77);
}

TEST (FrameCutting, OneByteAtATimeGivesTheSameFrames)
{
    const auto stream = concat ({ bytesOf (FrameBuilder (0x0003).text ("no such file").int32 (0).getFrame()),
                                  bytesOf (FrameBuilder (0x8002).int32 (5).int64 (-9).getFrame()) });
    Receiver receiver;

    for (auto byte : stream)
        receiver.feed ({ byte });

    ASSERT_EQ (receiver.frames.size(), 2u);
    EXPECT_FALSE (receiver.frames[0]->isNotification());
    EXPECT_TRUE (receiver.frames[1]->isNotification());
    EXPECT_EQ (receiver.frames[1]->getReceivedCount(), 6 + 12);
}

TEST (FrameCutting, TwoFramesAndTheStartOfAThirdInOneChunk)
{
    const auto a = bytesOf (FrameBuilder (0x0002).int32 (1).getFrame());
    const auto b = bytesOf (FrameBuilder (0x0002).int32 (2).getFrame());
    const auto c = bytesOf (FrameBuilder (0x0002).int32 (3).getFrame());
    Receiver receiver;

    receiver.feed (concat ({ a, b, { c[0] } }));

    ASSERT_EQ (receiver.frames.size(), 2u);
    ASSERT_NE (receiver.cutter.getCurrentMessage(), nullptr);
    EXPECT_EQ (receiver.cutter.getCurrentMessage()->getReceivedCount(), 1);

    receiver.feed ({ c.begin() + 1, c.end() });
    ASSERT_EQ (receiver.frames.size(), 3u);
    receiver.frames[2]->readShort();
    receiver.frames[2]->readInt();
    EXPECT_EQ (receiver.frames[2]->readInt(), 3);
}

TEST (FrameCutting, ZeroLengthPayloadCompletesOnItsHeader)
{
    Receiver receiver;
    receiver.feed (header (0x0002, 0));

    ASSERT_EQ (receiver.frames.size(), 1u);
    EXPECT_EQ (receiver.frames[0]->getReceivedCount(), 6);
    EXPECT_EQ (receiver.cutter.getCurrentMessage(), nullptr);
}

TEST (FrameCutting, LargestFrameIsAccepted)
{
    std::vector<juce::uint8> frame = header (0x000D, 8185);
    frame.resize (6 + 8185, 0xAB);
    Receiver receiver;

    const auto out = receiver.feedTakingProblems (frame);

    EXPECT_EQ (out, "");
    ASSERT_EQ (receiver.frames.size(), 1u);
    EXPECT_EQ (receiver.frames[0]->getReceivedCount(), 8191);
}

TEST (FrameCutting, NotificationIdsAreTheFiveTheDeviceSendsOnItsOwn)
{
    for (int id : { 0x8000, 0x8001, 0x8002, 0x8003, 0x8004, 0x8005, 0x8006, 0x0001, 0x7FFF })
    {
        Receiver receiver;
        receiver.feed (header (id, 0));
        ASSERT_EQ (receiver.frames.size(), 1u) << id;
        const bool expected = id == 0x8000 || id == 0x8001 || id == 0x8002 || id == 0x8005 || id == 0x8006;
        EXPECT_EQ (receiver.frames[0]->isNotification(), expected) << id;
    }
}

//==============================================================================
TEST (BadHeaders, InvalidIdIsReportedAndParsingResumesAtTheSeventhByte)
{
    const auto good = bytesOf (FrameBuilder (0x0002).int32 (42).getFrame());
    Receiver receiver;

    const auto out = receiver.feedTakingProblems (concat ({ header (0x8007, 4), good }));

    EXPECT_EQ (out, "Invalid message ID - 32775\nInvalid header - dumping message\n");
    ASSERT_EQ (receiver.frames.size(), 1u);
    receiver.frames[0]->readShort();
    receiver.frames[0]->readInt();
    EXPECT_EQ (receiver.frames[0]->readInt(), 42);
}

TEST (BadHeaders, OversizedLengthsArePrintedAsSignedNumbers)
{
    Receiver receiver;
    EXPECT_EQ (receiver.feedTakingProblems (header (0x0001, 8186)),
               "invalid size read - 8186\nInvalid header - dumping message\n");
    EXPECT_EQ (receiver.feedTakingProblems (header (0x0001, 0xFFFFFFFF)),
               "invalid size read - -1\nInvalid header - dumping message\n");
    EXPECT_TRUE (receiver.frames.empty());
}

TEST (BadHeaders, BothChecksRunOnOneHeader)
{
    Receiver receiver;
    EXPECT_EQ (receiver.feedTakingProblems (header (0x9000, 9000)),
               "Invalid message ID - 36864\ninvalid size read - 9000\nInvalid header - dumping message\n");
}

TEST (BadHeaders, GarbageIsSkippedSixBytesAtATime)
{
    // Twelve bytes of 0xFF make two bad headers; the frame after them is found.
    std::vector<juce::uint8> garbage (12, 0xFF);
    const auto good = bytesOf (FrameBuilder (0x0002).int32 (9).getFrame());
    Receiver receiver;

    const auto out = receiver.feedTakingProblems (concat ({ garbage, good }));

    EXPECT_EQ (out, std::string ("Invalid message ID - 65535\ninvalid size read - -1\nInvalid header - dumping message\n") +
                    "Invalid message ID - 65535\ninvalid size read - -1\nInvalid header - dumping message\n");
    ASSERT_EQ (receiver.frames.size(), 1u);
}

TEST (BadHeaders, BadHeaderSplitOverChunksIsDroppedWhole)
{
    const auto good = bytesOf (FrameBuilder (0x0002).int32 (5).getFrame());
    Receiver receiver;

    receiver.feed ({ 0x07, 0x80, 0x00 });
    receiver.feed (concat ({ { 0x00, 0x00, 0x00 }, good }));
    EXPECT_EQ (receiver.problems(), "Invalid message ID - 32775\nInvalid header - dumping message\n");
    EXPECT_EQ (receiver.frames.size(), 1u);
}

//==============================================================================
namespace
{
std::unique_ptr<ReceivedMessage> frameWithPayload (const std::vector<juce::uint8>& payload)
{
    auto frame = concat ({ header (0x0002, (juce::uint32) payload.size()), payload });
    auto message = std::make_unique<ReceivedMessage>();
    EXPECT_EQ (message->append (frame.data(), (int) frame.size()), (int) frame.size());
    EXPECT_TRUE (message->isComplete());
    message->readShort();
    message->readInt();
    return message;
}
} // namespace

TEST (FieldReading, IntegersAreLittleEndianAndSigned)
{
    auto m = frameWithPayload ({ 0xFE, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF,
                                 0x01, 0, 0, 0, 0x02, 0, 0, 0x80 });
    EXPECT_EQ (m->readByte(), 0xFE);
    EXPECT_EQ (m->readShort(), 0x1234);
    EXPECT_EQ (m->readInt(), -1);
    EXPECT_EQ (m->readInt64(), (juce::int64) 0x8000000200000001ULL);
    EXPECT_FALSE (m->isTruncated());
}

TEST (FieldReading, TextKeepsAnInnerZeroDropsTrailingOnesAndConsumesItsWholeCount)
{
    auto m = frameWithPayload ({ 5, 0, 0, 0, 'a', 'b', 0, 'x', 'y', 4, 0, 0, 0, 'a', 'b', 0, 0, 0x2A });
    const auto inner = m->readText();
    EXPECT_TRUE (inner.startsWith ("ab") && inner.endsWith ("xy") && inner.length() == 5);
    EXPECT_TRUE (DeviceText::holdsZeroByte (inner));
    EXPECT_EQ (m->readText(), "ab");
    EXPECT_EQ (m->readByte(), 0x2A);
}

TEST (FieldReading, EmptyAndNegativeCountsConsumeOnlyTheCount)
{
    auto m = frameWithPayload ({ 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x33 });
    EXPECT_EQ (m->readText(), "");
    EXPECT_EQ (m->readText(), "");
    EXPECT_EQ (m->getReadPosition(), 6 + 8);
    EXPECT_EQ (m->readByte(), 0x33);
    EXPECT_FALSE (m->isTruncated());
}

TEST (FieldReading, DateTimeIsLocalTimeWithMonthsFromZero)
{
    auto m = frameWithPayload ({ 0xDD, 0x07, 11, 7, 9, 5 });   // 2013, December, 7th, 9:05
    const auto t = m->readDateTime();
    EXPECT_EQ (t, juce::Time (2013, 11, 7, 9, 5, 0, 0, true));
    EXPECT_EQ (t.getMonth(), 11);
    EXPECT_EQ (t.getHours(), 9);
}

TEST (FieldReading, NoReadGoesPastTheReceivedBytes)
{
    auto m = frameWithPayload ({ 1, 2, 3 });
    EXPECT_EQ (m->readInt(), 0);
    EXPECT_TRUE (m->isTruncated());
    EXPECT_EQ (m->getReadPosition(), 6);

    auto t = frameWithPayload ({ 10, 0, 0, 0, 'a', 'b' });
    EXPECT_EQ (t->readText(), "");
    EXPECT_TRUE (t->isTruncated());

    auto b = frameWithPayload ({ 1, 2 });
    EXPECT_EQ (b->readBytes (3), nullptr);
    EXPECT_EQ (b->readBytes (-1), nullptr);
    EXPECT_TRUE (b->isTruncated());
}

TEST (FieldReading, ReadsStayInsideAFrameEvenWhenTheBufferHasOldBytesBeyondIt)
{
    // A reused record keeps the bytes of an earlier, longer frame in its buffer; the
    // reads must stop at what this frame delivered.
    auto message = std::make_unique<ReceivedMessage>();
    auto longFrame = concat ({ header (0x0002, 8), { 1, 2, 3, 4, 5, 6, 7, 8 } });
    message->append (longFrame.data(), (int) longFrame.size());
    message->reset();
    auto shortFrame = header (0x0002, 2);
    shortFrame.push_back (9);
    shortFrame.push_back (9);
    message->append (shortFrame.data(), (int) shortFrame.size());

    message->readShort();
    message->readInt();
    EXPECT_EQ (message->readInt(), 0);
    EXPECT_TRUE (message->isTruncated());
}
