#include "SimulatorTestSupport.h"

namespace
{
juce::uint32 millisecondsSince (juce::uint32 start)
{
    return juce::Time::getMillisecondCounter() - start;
}

juce::MemoryBlock bytes (std::initializer_list<int> values)
{
    juce::MemoryBlock block;

    for (auto value : values)
    {
        const auto byte = (char) value;
        block.append (&byte, 1);
    }

    return block;
}

/** The 6-byte header, then the payload it announces, straight from the line. */
juce::MemoryBlock receiveRawFrame (SimulatorConnection& connection)
{
    auto frame = connection.receiveBytes (6);

    if (frame.getSize() == 6)
        frame.append (connection.receiveBytes (juce::ByteOrder::littleEndianInt (frame.begin() + 2)).getData(),
                      juce::ByteOrder::littleEndianInt (frame.begin() + 2));

    return frame;
}
} // namespace

using SimulatorFaults = SimulatorTest;

TEST_F (SimulatorFaults, DelayHoldsBackTheChosenAnswerOnly)
{
    start ({ "--rule", "WhoAmIRequest#1 delay 400" });

    WhoAmIRequest first, second;
    const auto sent = juce::Time::getMillisecondCounter();
    ASSERT_TRUE (connection.send (first));
    EXPECT_EQ (connection.receiveResponse (100), nullptr);
    auto late = connection.receiveResponse();
    ASSERT_NE (late, nullptr);
    EXPECT_EQ (late->getSerialNumber(), first.getSerialNumber());
    EXPECT_GE (millisecondsSince (sent), 390u);

    EXPECT_NE (connection.exchange<WhoAmIResponse> (second), nullptr);
}

TEST_F (SimulatorFaults, DroppedRequestIsNeitherCarriedOutNorAnswered)
{
    start ({ "--rule", "FileSystemEntryCreateRequest#1 drop" });

    FileSystemEntryCreateRequest lost ("/mnt/nandfs/d"), retried ("/mnt/nandfs/d");
    ASSERT_TRUE (connection.send (lost));
    EXPECT_EQ (connection.receiveResponse (500), nullptr);
    EXPECT_FALSE (hostFile ("/mnt/nandfs/d").exists());

    EXPECT_NE (connection.exchange<SuccessResponse> (retried), nullptr);
    EXPECT_TRUE (hostFile ("/mnt/nandfs/d").isDirectory());
}

TEST_F (SimulatorFaults, FailRefusesChosenPathsWithTheGivenText)
{
    ASSERT_TRUE (hostFile ("/mnt/nandfs/locked/f.txt").create());
    ASSERT_TRUE (hostFile ("/mnt/nandfs/open/f.txt").create());
    ASSERT_TRUE (hostFile ("/mnt/nandfs/r.bin").replaceWithText ("0123456789"));
    start ({ "--rule", "* path=/mnt/nandfs/locked/* fail Device busy",
             "--rule", "FileReadRequest path=/mnt/nandfs/r.bin fail \"read error\"",
             "--rule", "FolderContentsRequest path=/mnt/nandfs/open fail \"\"" });

    FileSystemEntryDeleteRequest deleteLocked ("/mnt/nandfs//locked/f.txt");
    FolderContentsRequest listLocked ("/mnt/nandfs/locked/"), listOpen ("/mnt/nandfs/open");
    EXPECT_EQ (connection.expectRefusal (deleteLocked), "Device busy");
    EXPECT_TRUE (hostFile ("/mnt/nandfs/locked/f.txt").existsAsFile());
    EXPECT_EQ (connection.expectRefusal (listOpen), "(empty)");

    // The pattern's "locked/*" doesn't take in the folder itself.
    EXPECT_NE (connection.exchange<FolderContentsResponse> (listLocked), nullptr);

    // A handle's requests are matched by the path its file was opened with.
    const auto handle = openFile ("/mnt/nandfs/r.bin", 1);
    FileReadRequest read (handle, 10);
    EXPECT_EQ (connection.expectRefusal (read), "read error");
}

TEST_F (SimulatorFaults, AnswerAsSendsAStockResponseOfAnotherClass)
{
    start ({ "--rule", "FileOpenRequest#1 answer-as SuccessResponse",
             "--rule", "WhoAmIRequest#1 answer-as 0x8003" });

    FileOpenRequest open ("/mnt/nandfs/new.txt", 0);
    EXPECT_NE (connection.exchange<SuccessResponse> (open), nullptr);
    EXPECT_FALSE (hostFile ("/mnt/nandfs/new.txt").exists());

    WhoAmIRequest whoAmI;
    ASSERT_TRUE (connection.send (whoAmI));
    auto frame = connection.receiveFrame();
    ASSERT_NE (frame, nullptr);
    EXPECT_EQ (frame->readShort(), 0x8003);
    frame->readInt();
    EXPECT_EQ (frame->readInt(), whoAmI.getSerialNumber());
}

TEST_F (SimulatorFaults, SerialRulesAnswerWithAnotherSerialNumber)
{
    start ({ "--rule", "WhoAmIRequest#1 serial-offset -1", "--rule", "WhoAmIRequest#2 serial 123456" });

    WhoAmIRequest stale, fixed;
    ASSERT_TRUE (connection.send (stale));
    auto first = connection.receiveResponse();
    ASSERT_NE (first, nullptr);
    EXPECT_EQ (first->getSerialNumber(), stale.getSerialNumber() - 1);

    ASSERT_TRUE (connection.send (fixed));
    auto second = connection.receiveResponse();
    ASSERT_NE (dynamic_cast<WhoAmIResponse*> (second.get()), nullptr);
    EXPECT_EQ (second->getSerialNumber(), 123456);
}

TEST_F (SimulatorFaults, RawBytesGoBeforeOrAfterTheAnswer)
{
    start ({ "--rule", "WhoAmIRequest#1 raw before 07 80 00 00 00 00",
             "--rule", "WhoAmIRequest#1 raw 0102 03" });

    WhoAmIRequest whoAmI;
    ASSERT_TRUE (connection.send (whoAmI));
    EXPECT_EQ (connection.receiveBytes (6), bytes ({ 0x07, 0x80, 0, 0, 0, 0 }));

    const auto answer = receiveRawFrame (connection);
    ASSERT_GE (answer.getSize(), 10u);
    EXPECT_EQ (juce::ByteOrder::littleEndianShort (answer.begin()), 0x0001);
    EXPECT_EQ ((juce::int32) juce::ByteOrder::littleEndianInt (answer.begin() + 6), whoAmI.getSerialNumber());
    EXPECT_EQ (connection.receiveBytes (3), bytes ({ 1, 2, 3 }));
}

TEST_F (SimulatorFaults, BabbleSendsStrayHeadersAroundTheAnswer)
{
    start ({ "--rule", "WhoAmIRequest#1 babble before 2 0x0012", "--rule", "WhoAmIRequest#1 babble 100000" });

    WhoAmIRequest whoAmI, next;
    ASSERT_TRUE (connection.send (whoAmI));
    EXPECT_EQ (connection.receiveBytes (12), bytes ({ 0x12, 0, 0, 0, 0, 0, 0x12, 0, 0, 0, 0, 0 }));
    EXPECT_EQ (juce::ByteOrder::littleEndianShort (receiveRawFrame (connection).begin()), 0x0001);

    const auto stray = connection.receiveBytes (600000);
    ASSERT_EQ (stray.getSize(), 600000u);

    for (size_t i = 0; i < stray.getSize(); ++i)
        ASSERT_EQ ((int) (juce::uint8) stray[i], i % 6 == 0 ? 2 : 0) << "at byte " << i;

    EXPECT_NE (connection.exchange<WhoAmIResponse> (next), nullptr);
}

TEST_F (SimulatorFaults, PiecesOfAnAnswerArriveApartAndStillMakeTheFrame)
{
    start ({ "--rule", "WhoAmIRequest#1 split 6 600", "--rule", "WhoAmIRequest#2 chunk 1 20" });

    WhoAmIRequest split, byteByByte;
    auto sent = juce::Time::getMillisecondCounter();
    EXPECT_NE (connection.exchange<WhoAmIResponse> (split), nullptr);
    EXPECT_GE (millisecondsSince (sent), 590u);

    sent = juce::Time::getMillisecondCounter();
    auto identity = connection.exchange<WhoAmIResponse> (byteByByte);
    ASSERT_NE (identity, nullptr);
    EXPECT_EQ (identity->getFirstText(), "Device simulator");
    EXPECT_GE (millisecondsSince (sent), 20u * 50u);   // the frame has more than 50 bytes
}

TEST_F (SimulatorFaults, TruncatedAnswerStopsShortOfItsLength)
{
    start ({ "--rule", "WhoAmIRequest#1 truncate 8" });

    WhoAmIRequest cut, next;
    ASSERT_TRUE (connection.send (cut));
    const auto received = connection.receiveBytes (100, 500);
    ASSERT_EQ (received.getSize(), 8u);
    EXPECT_GT (juce::ByteOrder::littleEndianInt (received.begin() + 2), 8u);

    // The next answer comes whole, right behind the cut one.
    ASSERT_TRUE (connection.send (next));
    const auto whole = receiveRawFrame (connection);
    ASSERT_GE (whole.getSize(), 10u);
    EXPECT_EQ ((juce::int32) juce::ByteOrder::littleEndianInt (whole.begin() + 6), next.getSerialNumber());
}

TEST_F (SimulatorFaults, ReadLimitAndFakeSizeBendFileAnswers)
{
    const auto content = pattern (20000);
    ASSERT_TRUE (hostFile ("/mnt/nandfs/data.bin").replaceWithData (content.getData(), content.getSize()));
    ASSERT_TRUE (hostFile ("/mnt/nandfs/big.bin").replaceWithText ("0123456789"));
    start ({ "--rule", "FileReadRequest#2 read-limit 100",
             "--rule", "FileReadRequest#3- read-limit 0",
             "--rule", "* path=/mnt/nandfs/big.bin size 4294967306" });

    const auto handle = openFile ("/mnt/nandfs/data.bin", 1);
    FileReadRequest read (handle, 8169);
    std::vector<int> counts;

    for (int i = 0; i < 4; ++i)
    {
        auto block = connection.exchange<FileReadResponse> (read);
        ASSERT_NE (block, nullptr);
        counts.push_back (block->getCount());
        read.takeNextSerialNumber();
    }

    EXPECT_EQ (counts, (std::vector<int> { 8169, 100, 0, 0 }));

    juce::int64 size = 0;
    openFile ("/mnt/nandfs/big.bin", 1, &size);
    EXPECT_EQ (size, 4294967306LL);

    FileSystemEntryInfoRequest info ("/mnt/nandfs/big.bin", false);
    auto entry = connection.exchange<FileSystemEntryInfoResponse> (info);
    ASSERT_NE (entry, nullptr);
    EXPECT_EQ (entry->getInfo().size, 4294967306LL);
}

TEST_F (SimulatorFaults, CorruptInvertsOneByteOfAWriteOrARead)
{
    start ({ "--rule", "FileWriteRequest#1 path=/mnt/nandfs/f.bin corrupt 5",
             "--rule", "FileWriteRequest#2 corrupt 100",   // beyond the data: nothing
             "--rule", "FileReadRequest#2 corrupt 3" });

    const auto content = pattern (100, 3);
    const auto handle = openFile ("/mnt/nandfs/f.bin", 0);

    for (int i = 0; i < 2; ++i)
    {
        juce::MemoryInputStream source (content, false);
        FileWriteRequest write (handle, source);
        ASSERT_NE (connection.exchange<SuccessResponse> (write), nullptr);
    }

    auto expected = content;
    expected[5] = (char) ~expected[5];
    expected.append (content.getData(), content.getSize());
    juce::MemoryBlock stored;
    ASSERT_TRUE (hostFile ("/mnt/nandfs/f.bin").loadFileAsData (stored));
    EXPECT_EQ (stored, expected);

    // The same bytes read twice; the second read has its byte 3 inverted.
    for (int i = 0; i < 2; ++i)
    {
        FileSeekRequest rewind (handle, 0, 0);
        ASSERT_NE (connection.exchange<SuccessResponse> (rewind), nullptr);
        FileReadRequest read (handle, 1000);
        auto block = connection.exchange<FileReadResponse> (read);
        ASSERT_NE (block, nullptr);

        if (i == 1)
            expected[3] = (char) ~expected[3];

        EXPECT_EQ (juce::MemoryBlock (block->getData(), (size_t) block->getCount()), expected) << "read " << i + 1;
    }
}

TEST_F (SimulatorFaults, HostileNamesAreAddedToListings)
{
    ASSERT_TRUE (hostFile ("/mnt/nandfs/real.txt").create());
    start ({ "--rule", "FolderContentsRequest add-files .. a/b \"\" .",
             "--rule", "FolderContentsRequest add-folders \"..\" \"/\"" });

    FolderContentsRequest list ("/mnt/nandfs");
    auto contents = connection.exchange<FolderContentsResponse> (list);
    ASSERT_NE (contents, nullptr);
    EXPECT_EQ (contents->getFileNames(), juce::StringArray ({ "real.txt", "..", "a/b", "", "." }));
    EXPECT_EQ (contents->getFolderNames(), juce::StringArray ({ "..", "/" }));
}

TEST_F (SimulatorFaults, OrdinalsCountRequestsOfTheRulesKind)
{
    ASSERT_TRUE (hostFile ("/mnt/nandfs/data.bin").replaceWithText ("0123456789"));
    start ({ "--rule", "FileReadRequest#2 fail second read",
             "--rule", "*#5 fail fifth request",
             "--rule", "FolderContentsRequest#2-3 fail listing" });

    const auto handle = openFile ("/mnt/nandfs/data.bin", 1);                // request 1
    FileReadRequest read (handle, 2);
    EXPECT_NE (connection.exchange<FileReadResponse> (read), nullptr);      // 2, read 1
    read.takeNextSerialNumber();
    EXPECT_EQ (connection.expectRefusal (read), "second read");             // 3, read 2
    read.takeNextSerialNumber();
    EXPECT_NE (connection.exchange<FileReadResponse> (read), nullptr);      // 4, read 3

    WhoAmIRequest fifth, sixth;
    EXPECT_EQ (connection.expectRefusal (fifth), "fifth request");
    EXPECT_NE (connection.exchange<WhoAmIResponse> (sixth), nullptr);

    std::vector<bool> refused;

    for (int i = 0; i < 4; ++i)
    {
        FolderContentsRequest list ("/mnt/nandfs");
        ASSERT_TRUE (connection.send (list));
        auto answer = connection.receiveResponse();
        ASSERT_NE (answer, nullptr);
        refused.push_back (dynamic_cast<FailureResponse*> (answer.get()) != nullptr);
    }

    EXPECT_EQ (refused, (std::vector<bool> { false, true, true, false }));
}

TEST_F (SimulatorFaults, SendsEveryKindOfNotificationAfterTheAnswer)
{
    start ({ "--rule", "WhoAmIRequest#1 notify terminated 1234 -1",
             "--rule", "WhoAmIRequest#1 notify 0x8001",
             "--rule", "WhoAmIRequest#1 notify event -7 0x200000001",
             "--rule", "WhoAmIRequest#1 notify 0x8005 0102",
             "--rule", "WhoAmIRequest#1 notify property 1,65534 5 99",
             "--rule", "WhoAmIRequest#1 notify property - 0x8000 \"hello there\"" });

    WhoAmIRequest whoAmI;
    EXPECT_NE (connection.exchange<WhoAmIResponse> (whoAmI), nullptr);

    std::vector<std::unique_ptr<ReceivedMessage>> frames;

    for (int i = 0; i < 6; ++i)
    {
        auto frame = connection.receiveFrame();
        ASSERT_NE (frame, nullptr) << "notification " << i;
        ASSERT_TRUE (frame->isNotification());
        frame->readShort();
        frame->readInt();
        frames.push_back (std::move (frame));
    }

    ProcessTerminatedNotification terminated (std::move (frames[0]));
    EXPECT_EQ (terminated.getProcessId(), 1234);
    EXPECT_EQ (terminated.getProcessExitCode(), -1);

    EXPECT_EQ (frames[1]->getData()[0] | frames[1]->getData()[1] << 8, 0x8001);
    EXPECT_EQ (frames[1]->getPayloadLength(), 0u);

    VeltraneEvent event (std::move (frames[2]));
    EXPECT_EQ (event.getEventId(), -7);
    EXPECT_EQ (event.getArgument(), 0x200000001LL);

    EXPECT_EQ (frames[3]->getData()[0] | frames[3]->getData()[1] << 8, 0x8005);
    EXPECT_EQ (frames[3]->getPayloadLength(), 2u);

    VeltranePropertyChangedNotification integer (std::move (frames[4]));
    EXPECT_EQ (integer.getPropertyPath(), juce::Array<juce::uint16> ({ 1, 65534 }));
    EXPECT_EQ (integer.getPropertyId(), 5);
    EXPECT_FALSE (integer.isTextValue());
    EXPECT_EQ (integer.getValue(), 99);
    EXPECT_FALSE (integer.isMalformed());

    VeltranePropertyChangedNotification text (std::move (frames[5]));
    EXPECT_TRUE (text.getPropertyPath().isEmpty());
    EXPECT_TRUE (text.isTextValue());
    EXPECT_EQ (text.getText(), "hello there");
}

TEST_F (SimulatorFaults, NotificationsCanPrecedeADelayedAnswerOrComeAtStart)
{
    start ({ "--rule", "start notify event 42 0",
             "--rule", "FolderContentsRequest#1 notify before event 1 2",
             "--rule", "FolderContentsRequest#1 delay 300" });

    auto atStart = connection.receiveFrame();
    ASSERT_NE (atStart, nullptr);
    atStart->readShort();
    atStart->readInt();
    EXPECT_EQ (VeltraneEvent (std::move (atStart)).getEventId(), 42);

    FolderContentsRequest list ("/mnt/nandfs");
    ASSERT_TRUE (connection.send (list));
    auto first = connection.receiveFrame();
    ASSERT_NE (first, nullptr);
    EXPECT_TRUE (first->isNotification());

    auto answer = connection.receiveResponse();
    ASSERT_NE (dynamic_cast<FolderContentsResponse*> (answer.get()), nullptr);
    EXPECT_EQ (answer->getSerialNumber(), list.getSerialNumber());
}

TEST_F (SimulatorFaults, ScriptFileHoldsRulesAndBadRulesStopTheStart)
{
    auto script = root.getSiblingFile (root.getFileName() + ".rules");
    ASSERT_TRUE (script.replaceWithText ("# a late device\n"
                                         "\n"
                                         "   # indented comment\n"
                                         "WhoAmIRequest#1 serial-offset 10\n"));
    start ({ "--script", script.getFullPathName() });

    WhoAmIRequest whoAmI;
    ASSERT_TRUE (connection.send (whoAmI));
    auto answer = connection.receiveResponse();
    ASSERT_NE (answer, nullptr);
    EXPECT_EQ (answer->getSerialNumber(), whoAmI.getSerialNumber() + 10);

    ASSERT_TRUE (script.replaceWithText ("WhoAmIRequest#1 drop\nWhoAmIRequest#0 drop\n"));

    for (const auto& arguments : { juce::StringArray { "--script", script.getFullPathName() },
                                   juce::StringArray { "--rule", "NoSuchRequest drop" },
                                   juce::StringArray { "--rule", "WhoAmIRequest#2-1 drop" },
                                   juce::StringArray { "--rule", "* delay soon" },
                                   juce::StringArray { "--rule", "start delay 5" },
                                   juce::StringArray { "--rule", "* raw 123" },
                                   juce::StringArray { "--rule", "* fail \"unclosed" } })
    {
        SimulatorProcess refused;
        auto all = juce::StringArray { "--root", root.getFullPathName() };
        all.addArray (arguments);
        EXPECT_FALSE (refused.start (all)) << arguments.joinIntoString (" ");
        EXPECT_EQ (refused.getExitCode(), 1) << arguments.joinIntoString (" ");
    }

    script.deleteFile();
}

using SimulatorLink = SimulatorTest;

TEST_F (SimulatorLink, AnswersTakeLatencyPlusBothFramesAtTheRateAndQueueOnTheLink)
{
    constexpr int rate = 100000, latencyMs = 20;
    const auto content = pattern (2 * maxFileBlockSize, 5);
    ASSERT_TRUE (hostFile ("/mnt/nandfs/r.bin").replaceWithData (content.getData(), content.getSize()));
    start ({ "--rate", juce::String (rate), "--latency-ms=" + juce::String (latencyMs) });
    const auto handle = openFile ("/mnt/nandfs/r.bin", 1);

    // Two block reads sent together: each takes its request (header, serial, handle,
    // count) and its answer (the same and the data) through the link, the second after the
    // first. One millisecond less for the test's own millisecond counter.
    const size_t roundTripBytes = 2 * (6 + 4 + 8 + 4) + maxFileBlockSize;
    const auto linkMs = (juce::uint32) (roundTripBytes * 1000 / rate);
    FileReadRequest first (handle, maxFileBlockSize), second (handle, maxFileBlockSize);
    const auto sent = juce::Time::getMillisecondCounter();
    ASSERT_TRUE (connection.send (first) && connection.send (second));

    auto answer = connection.receiveResponse();
    ASSERT_NE (dynamic_cast<FileReadResponse*> (answer.get()), nullptr);
    EXPECT_GE (millisecondsSince (sent) + 1, latencyMs + linkMs);

    answer = connection.receiveResponse();
    ASSERT_NE (dynamic_cast<FileReadResponse*> (answer.get()), nullptr);
    EXPECT_EQ (answer->getSerialNumber(), second.getSerialNumber());
    EXPECT_GE (millisecondsSince (sent) + 1, latencyMs + 2 * linkMs);

    for (const auto* option : { "--rate=0", "--rate=1000000001", "--rate=fast", "--latency-ms=-1", "--latency-ms=60001" })
    {
        SimulatorProcess refused;
        EXPECT_FALSE (refused.start ({ "--root", root.getFullPathName(), option })) << option;
        EXPECT_EQ (refused.getExitCode(), 1) << option;
    }
}
