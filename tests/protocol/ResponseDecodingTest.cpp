#include "protocol/FrameBuilder.h"
#include "protocol/VeltraneNotifications.h"

#include <gtest/gtest.h>

namespace
{
std::unique_ptr<ReceivedMessage> receive (const juce::MemoryBlock& frame, size_t keepBytes = SIZE_MAX)
{
    // A frame cut short is given a header that states its shortened length, as a device
    // that sent too few fields would.
    const auto payloadSize = juce::jmin (keepBytes, frame.getSize() - 6);
    juce::MemoryOutputStream bytes;
    bytes.write (frame.getData(), 2);
    bytes.writeInt ((int) payloadSize);
    bytes.write (static_cast<const char*> (frame.getData()) + 6, payloadSize);

    auto message = std::make_unique<ReceivedMessage>();
    message->append (bytes.getData(), (int) bytes.getDataSize());
    EXPECT_TRUE (message->isComplete());
    return message;
}

std::unique_ptr<VeltraneClientResponse> decode (const juce::MemoryBlock& frame, size_t keepBytes = SIZE_MAX)
{
    auto message = receive (frame, keepBytes);
    const auto id = message->readShort();
    message->readInt();
    return createResponse (id, std::move (message));
}

template <typename Notification>
std::unique_ptr<Notification> decodeNotification (const juce::MemoryBlock& frame, size_t keepBytes = SIZE_MAX)
{
    auto message = receive (frame, keepBytes);
    message->readShort();
    message->readInt();
    return std::make_unique<Notification> (std::move (message));
}

template <typename T>
T* as (const std::unique_ptr<VeltraneClientResponse>& r)
{
    auto* typed = dynamic_cast<T*> (r.get());
    EXPECT_NE (typed, nullptr);
    return typed;
}

juce::MemoryBlock entryInfoFrame (int readOnlyByte)
{
    return FrameBuilder (0x0005).int32 (12).boolean (true).text ("boot.cfg").boolean (true)
               .int64 (5LL << 32).byte (readOnlyByte).byte (1)
               .dateTime (2013, 0, 2, 3, 4).dateTime (2026, 11, 7, 9, 5).dateTime (1999, 5, 6, 7, 8)
               .getFrame();
}

/** One valid frame of every response and notification class. */
std::vector<juce::MemoryBlock> everyResponseFrame()
{
    return {
        FrameBuilder (0x0001).int32 (1).int16 (0x12).int16 (3).int16 (0x100).int16 (0x204).text ("a").text ("b").getFrame(),
        FrameBuilder (0x0002).int32 (1).getFrame(),
        FrameBuilder (0x0003).int32 (1).text ("refused").getFrame(),
        entryInfoFrame (0),
        FrameBuilder (0x000B).int32 (1).int64 (10).int64 (20).getFrame(),
        FrameBuilder (0x000D).int32 (1).int64 (0).int32 (3).bytes ("xyz", 3).getFrame(),
        FrameBuilder (0x0012).int32 (1).int32 (1).text ("f").int32 (1).text ("d").getFrame(),
        FrameBuilder (0x0014).int32 (1).int16 (1).int16 (3).int32 (4).int16 (1).int16 (0x8000).text ("t").getFrame(),
        FrameBuilder (0x0018).int32 (1).int64 (55).getFrame(),
        FrameBuilder (0x001B).int32 (1).int16 (0x8015).text ("v").getFrame(),
    };
}
} // namespace

TEST (ResponseDecoding, WhoAmIAndFailure)
{
    auto r = decode (FrameBuilder (0x0001).int32 (33).int16 (0x12).int16 (0x3).int16 (0x0100).int16 (0xFFFF)
                         .text ("KX9 controller").text ("serial 0042").getFrame());
    auto* who = as<WhoAmIResponse> (r);
    EXPECT_EQ (r->getSerialNumber(), 33);
    EXPECT_EQ (r->getMessageId(), 0x0001);
    EXPECT_EQ (who->getFamilyId(), 0x12);
    EXPECT_EQ (who->getDeviceId(), 0x3);
    EXPECT_EQ (who->getProtocolVersion(), 0x100);
    EXPECT_EQ (who->getFirmwareVersion(), 0xFFFF);
    EXPECT_EQ (who->getFirstText(), "KX9 controller");
    EXPECT_EQ (who->getSecondText(), "serial 0042");
    EXPECT_FALSE (r->isMalformed());

    auto f = decode (FrameBuilder (0x0003).int32 (-5).text ("No such file").getFrame());
    EXPECT_EQ (as<FailureResponse> (f)->getFailureText(), "No such file");
    EXPECT_EQ (f->getSerialNumber(), -5);
}

TEST (ResponseDecoding, EntryInfoInvertsTheReadOnlyByte)
{
    for (int readOnly : { 0, 1, 0x80 })
    {
        auto r = decode (entryInfoFrame (readOnly));
        auto* entry = as<FileSystemEntryInfoResponse> (r);
        const auto& info = entry->getInfo();
        EXPECT_TRUE (entry->getStatus());
        EXPECT_EQ (info.name, "boot.cfg");
        EXPECT_TRUE (info.exists);
        EXPECT_EQ (info.size, 5LL << 32);
        EXPECT_EQ (info.writable, readOnly == 0);
        EXPECT_TRUE (info.attributeFlag);
        EXPECT_EQ (info.firstTime, juce::Time (2013, 0, 2, 3, 4, 0, 0, true));
        EXPECT_EQ (info.modificationTime, juce::Time (2026, 11, 7, 9, 5, 0, 0, true));
        EXPECT_EQ (info.thirdTime, juce::Time (1999, 5, 6, 7, 8, 0, 0, true));
    }
}

TEST (ResponseDecoding, OpenAndReadLeaveTheDataInTheFrame)
{
    auto open = decode (FrameBuilder (0x000B).int32 (2).int64 (-77).int64 (1LL << 33).getFrame());
    EXPECT_EQ (as<FileOpenResponse> (open)->getHandle(), -77);
    EXPECT_EQ (as<FileOpenResponse> (open)->getSize(), 1LL << 33);

    auto read = decode (FrameBuilder (0x000D).int32 (3).int64 (9).int32 (4).bytes ("data", 4).getFrame());
    auto* block = as<FileReadResponse> (read);
    EXPECT_EQ (block->getCount(), 4);
    ASSERT_NE (block->getData(), nullptr);
    EXPECT_EQ (memcmp (block->getData(), "data", 4), 0);
    EXPECT_EQ (block->getData(), read->getMessage().getData() + 6 + 16);
}

TEST (ResponseDecoding, FolderContentsKeepsTheDeviceOrder)
{
    auto r = decode (FrameBuilder (0x0012).int32 (4).int32 (2).text ("b.txt").text ("a.txt")
                         .int32 (1).text ("sub").getFrame());
    auto* list = as<FolderContentsResponse> (r);
    EXPECT_EQ (list->getFileNames(), juce::StringArray ({ "b.txt", "a.txt" }));
    EXPECT_EQ (list->getFolderNames(), juce::StringArray ({ "sub" }));

    auto empty = decode (FrameBuilder (0x0012).int32 (4).int32 (-3).int32 (0).getFrame());
    EXPECT_TRUE (as<FolderContentsResponse> (empty)->getFileNames().isEmpty());
    EXPECT_TRUE (as<FolderContentsResponse> (empty)->getFolderNames().isEmpty());
    EXPECT_FALSE (empty->isMalformed());
}

TEST (ResponseDecoding, PropertiesKeepTheLaterValueOfARepeatedId)
{
    auto r = decode (FrameBuilder (0x0014).int32 (1)
                         .int16 (3).int16 (3).int32 (10).int16 (4).int32 (-1).int16 (3).int32 (30)
                         .int16 (2).int16 (0x8001).text ("first").int16 (0x8001).text ("second").getFrame());
    auto* props = as<GetPropertiesResponse> (r);
    EXPECT_EQ (props->getIntegerValues().size(), 2u);
    EXPECT_EQ (props->getIntegerValues().at (3), 30);
    EXPECT_EQ (props->getIntegerValues().at (4), -1);
    EXPECT_EQ (props->getTextValues().at (0x8001), "second");
}

TEST (ResponseDecoding, PropertyValueIsTextOnlyForIds8000To8018)
{
    auto text = decode (FrameBuilder (0x001B).int32 (1).int16 (0x8015).text ("on").getFrame());
    EXPECT_TRUE (as<GetPropertyResponse> (text)->isTextValue());
    EXPECT_EQ (as<GetPropertyResponse> (text)->getText(), "on");
    EXPECT_EQ (as<GetPropertyResponse> (text)->getValue(), 0);

    for (int id : { 0x7FFF, 0x8019 })
    {
        auto value = decode (FrameBuilder (0x001B).int32 (1).int16 (id).int32 (-42).getFrame());
        EXPECT_FALSE (as<GetPropertyResponse> (value)->isTextValue());
        EXPECT_EQ (as<GetPropertyResponse> (value)->getValue(), -42);
        EXPECT_EQ (as<GetPropertyResponse> (value)->getText(), "");
    }

    auto launch = decode (FrameBuilder (0x0018).int32 (1).int64 (1234).getFrame());
    EXPECT_EQ (as<ProcessLaunchResponse> (launch)->getProcessId(), 1234);
}

TEST (ResponseDecoding, IdsWithoutAResponseClassYieldNothing)
{
    for (int id : { 0x0000, 0x0004, 0x0006, 0x8003, 0x8004, 0x7FFF })
        EXPECT_EQ (decode (FrameBuilder ((juce::uint16) id).int32 (1).getFrame()), nullptr) << id;
}

TEST (ResponseDecoding, EveryShortenedPayloadIsMalformed)
{
    for (const auto& frame : everyResponseFrame())
    {
        const auto payloadSize = frame.getSize() - 6;
        EXPECT_FALSE (decode (frame)->isMalformed());

        for (size_t keep = 0; keep < payloadSize; ++keep)
        {
            auto r = decode (frame, keep);
            ASSERT_NE (r, nullptr);
            EXPECT_TRUE (r->isMalformed()) << "id " << r->getMessageId() << " cut to " << keep;
            EXPECT_LE (r->getMessage().getReadPosition(), r->getMessage().getReceivedCount());
        }
    }
}

TEST (ResponseDecoding, HugeCountsInAShortFrameStopAtTheEnd)
{
    auto r = decode (FrameBuilder (0x0012).int32 (1).int32 (0x7FFFFFFF).text ("a").getFrame());
    EXPECT_TRUE (r->isMalformed());
    EXPECT_EQ (as<FolderContentsResponse> (r)->getFileNames().size(), 1);

    auto read = decode (FrameBuilder (0x000D).int32 (1).int64 (0).int32 (-1).getFrame());
    EXPECT_TRUE (read->isMalformed());
    EXPECT_EQ (as<FileReadResponse> (read)->getData(), nullptr);
}

//==============================================================================
TEST (NotificationDecoding, EventAndProcessTermination)
{
    auto event = decodeNotification<VeltraneEvent> (FrameBuilder (0x8002).int32 (-3).int64 (0x100000002LL).getFrame());
    EXPECT_EQ (event->getEventId(), -3);
    EXPECT_EQ (event->getArgument(), 0x100000002LL);

    auto ended = decodeNotification<ProcessTerminatedNotification> (FrameBuilder (0x8000).int64 (1234).int32 (-1).getFrame());
    EXPECT_EQ (ended->getProcessId(), 1234);
    EXPECT_EQ (ended->getProcessExitCode(), -1);
    EXPECT_FALSE (ended->isMalformed());
}

TEST (NotificationDecoding, PropertyChangeSignExtendsItsIdAndPicksTheValueKind)
{
    auto text = decodeNotification<VeltranePropertyChangedNotification> (
        FrameBuilder (0x8006).byte (2).int16 (1).int16 (0xFFFE).int16 (0x8000).text ("hello").getFrame());
    EXPECT_EQ (text->getPropertyPath(), juce::Array<juce::uint16> ({ 1, 0xFFFE }));
    EXPECT_EQ (text->getPropertyId(), -32768);
    EXPECT_TRUE (text->isTextValue());
    EXPECT_EQ (text->getText(), "hello");
    EXPECT_EQ (text->getValue(), 0);

    auto value = decodeNotification<VeltranePropertyChangedNotification> (
        FrameBuilder (0x8006).byte (0).int16 (7).int32 (99).getFrame());
    EXPECT_EQ (value->getPropertyId(), 7);
    EXPECT_FALSE (value->isTextValue());
    EXPECT_EQ (value->getValue(), 99);
    EXPECT_EQ (value->getText(), "");

    auto negative = decodeNotification<VeltranePropertyChangedNotification> (
        FrameBuilder (0x8006).byte (0).int16 (0x9000).int32 (5).getFrame());
    EXPECT_EQ (negative->getPropertyId(), (juce::int16) 0x9000);
    EXPECT_FALSE (negative->isTextValue());
}

TEST (NotificationDecoding, ShortenedPayloadsAreMalformed)
{
    const auto frame = FrameBuilder (0x8006).byte (1).int16 (1).int16 (0x8001).text ("x").getFrame();

    for (size_t keep = 0; keep < frame.getSize() - 6; ++keep)
        EXPECT_TRUE (decodeNotification<VeltranePropertyChangedNotification> (frame, keep)->isMalformed()) << keep;

    EXPECT_TRUE (decodeNotification<VeltraneEvent> (FrameBuilder (0x8002).int32 (1).getFrame())->isMalformed());
}
