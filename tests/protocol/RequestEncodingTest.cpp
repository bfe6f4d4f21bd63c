#include "protocol/VeltraneRequests.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
using Bytes = std::vector<juce::uint8>;

Bytes encode (VeltraneClientRequest& request)
{
    juce::MemoryOutputStream out;
    EXPECT_TRUE (request.write (out));
    auto* data = static_cast<const juce::uint8*> (out.getData());
    return { data, data + out.getDataSize() };
}

void append (Bytes& to, const Bytes& more)
{
    for (auto byte : more)
        to.push_back (byte);
}

Bytes littleEndian (juce::uint64 value, int width)
{
    Bytes bytes;
    for (int i = 0; i < width; ++i)
        bytes.push_back ((juce::uint8) (value >> (8 * i)));
    return bytes;
}

Bytes le32 (juce::int32 v)  { return littleEndian ((juce::uint32) v, 4); }
Bytes le64 (juce::int64 v)  { return littleEndian ((juce::uint64) v, 8); }

/** Header and serial number of a request, then the given payload bytes. */
Bytes frame (int id, const VeltraneClientRequest& request, std::initializer_list<Bytes> fields)
{
    Bytes payload = le32 (request.getSerialNumber());
    for (auto& f : fields)
        append (payload, f);

    Bytes all = littleEndian ((juce::uint16) id, 2);
    append (all, le32 ((juce::int32) payload.size()));
    append (all, payload);
    return all;
}

Bytes text (const std::string& utf8)
{
    auto b = le32 ((juce::int32) utf8.size());
    for (auto c : utf8)
        b.push_back ((juce::uint8) c);
    return b;
}
} // namespace

TEST (SerialCounter, EachRequestTakesTheNextNumber)
{
    const auto first = VeltraneClientRequest::peekSerialNumber();
    WhoAmIRequest a;
    FileCloseRequest b (1);
    EXPECT_EQ (a.getSerialNumber(), first);
    EXPECT_EQ (b.getSerialNumber(), first + 1);

    b.takeNextSerialNumber();
    EXPECT_EQ (b.getSerialNumber(), first + 2);
    EXPECT_EQ (VeltraneClientRequest::peekSerialNumber(), first + 3);
}

TEST (RequestEncoding, RequestsWithoutTextsAreByteExact)
{
    WhoAmIRequest whoAmI;
    EXPECT_EQ (encode (whoAmI), frame (0x0000, whoAmI, {}));
    EXPECT_EQ (encode (whoAmI).size(), 10u);

    FileCloseRequest close (0x0102030405060708);
    EXPECT_EQ (encode (close), frame (0x0010, close, { le64 (0x0102030405060708) }));

    FileSeekRequest seek (-2, 1LL << 40, 3);
    EXPECT_EQ (encode (seek), frame (0x000F, seek, { le64 (-2), le64 (1LL << 40), { 3 } }));
    EXPECT_EQ (encode (seek).size(), 6u + 21u);
}

TEST (RequestEncoding, PathRequestsCarryTheirConstantBytes)
{
    FolderContentsRequest list ("/a");
    EXPECT_EQ (encode (list), frame (0x0011, list, { { 2, 0, 0, 0, 0x2F, 0x61 } }));

    FolderContentsRequest empty ("");
    EXPECT_EQ (encode (empty), frame (0x0011, empty, { le32 (0) }));

    FileSystemEntryInfoRequest infoFolder ("/mnt", true), infoFile ("/mnt", false);
    EXPECT_EQ (encode (infoFolder), frame (0x0004, infoFolder, { { 1 }, text ("/mnt") }));
    EXPECT_EQ (encode (infoFile), frame (0x0004, infoFile, { { 0 }, text ("/mnt") }));

    FileSystemEntryCreateRequest create ("/x");
    EXPECT_EQ (encode (create), frame (0x0007, create, { { 1 }, text ("/x"), { 1 } }));

    FileSystemEntryDeleteRequest remove ("/x");
    EXPECT_EQ (encode (remove), frame (0x0009, remove, { { 1 }, text ("/x"), { 1, 0 } }));

    FileSystemEntryMoveRequest moveFile ("/a", "/bc", false), moveFolder ("/a", "/bc", true);
    EXPECT_EQ (encode (moveFile), frame (0x0008, moveFile, { { 0 }, text ("/a"), text ("/bc"), { 0, 1 } }));
    EXPECT_EQ (encode (moveFolder), frame (0x0008, moveFolder, { { 1 }, text ("/a"), text ("/bc"), { 0, 1 } }));
}

TEST (RequestEncoding, OpenModesBecomeAccessAndModeBytes)
{
    FileOpenRequest forReading ("/f", 1), forWriting ("/f", 0), otherMode ("/f", 0x1FF);
    EXPECT_EQ (encode (forReading), frame (0x000A, forReading, { text ("/f"), { 1, 1 } }));
    EXPECT_EQ (encode (forWriting), frame (0x000A, forWriting, { text ("/f"), { 2, 0 } }));
    EXPECT_EQ (encode (otherMode), frame (0x000A, otherMode, { text ("/f"), { 1, 0xFF } }));
}

TEST (RequestEncoding, TextsGoAsUtf8WithTheirByteCount)
{
    FolderContentsRequest list (juce::String::fromUTF8 ("/Gr\xc3\xbc\xc3\x9f" "e"));
    EXPECT_EQ (encode (list), frame (0x0011, list, { text ("/Gr\xc3\xbc\xc3\x9f" "e") }));
}

TEST (RequestEncoding, ReadCountIsClampedOnTheWireOnly)
{
    FileReadRequest big (7, 10000), exact (7, 8169), small (7, 5);
    EXPECT_EQ (encode (big), frame (0x000C, big, { le64 (7), le32 (8169) }));
    EXPECT_EQ (big.getCount(), 10000u);
    EXPECT_EQ (encode (exact), frame (0x000C, exact, { le64 (7), le32 (8169) }));
    EXPECT_EQ (encode (small), frame (0x000C, small, { le64 (7), le32 (5) }));

    FileReadRequest huge (7, 0xFFFFFFFF);
    EXPECT_EQ (encode (huge), frame (0x000C, huge, { le64 (7), le32 (8169) }));
}

TEST (RequestEncoding, WriteRequestSendsTheSourceBlockByBlock)
{
    juce::MemoryBlock content (20000);
    for (size_t i = 0; i < content.getSize(); ++i)
        content[i] = (char) (i * 7);

    juce::MemoryInputStream source (content, false);
    FileWriteRequest write (99, source);

    auto first = encode (write);
    ASSERT_EQ (first.size(), 6u + 8185u);
    EXPECT_EQ (Bytes (first.begin() + 2, first.begin() + 6), le32 (8185));
    EXPECT_EQ (Bytes (first.begin() + 10, first.begin() + 18), le64 (99));
    EXPECT_EQ (Bytes (first.begin() + 18, first.begin() + 22), le32 (8169));
    EXPECT_EQ (memcmp (first.data() + 22, content.getData(), 8169), 0);
    EXPECT_EQ (write.getLastBlockSize(), 8169);

    encode (write);
    source.setPosition (19900);
    auto last = encode (write);
    EXPECT_EQ (last.size(), 6u + 116u);
    EXPECT_EQ (Bytes (last.begin() + 18, last.begin() + 22), le32 (100));
    EXPECT_EQ (memcmp (last.data() + 22, static_cast<const char*> (content.getData()) + 19900, 100), 0);

    auto empty = encode (write);
    EXPECT_EQ (empty.size(), 6u + 16u);
    EXPECT_EQ (Bytes (empty.begin() + 18, empty.begin() + 22), le32 (0));
    EXPECT_EQ (write.getLastBlockSize(), 0);
}

namespace
{
/** A stream that claims more bytes than it delivers. */
class ShortStream : public juce::InputStream
{
public:
    juce::int64 getTotalLength() override { return 1000; }
    bool isExhausted() override { return delivered >= 10; }
    int read (void* dest, int n) override
    {
        const int count = juce::jmin (n, 10 - delivered);
        memset (dest, 'z', (size_t) juce::jmax (0, count));
        delivered += juce::jmax (0, count);
        return juce::jmax (0, count);
    }
    juce::int64 getPosition() override { return delivered; }
    bool setPosition (juce::int64) override { return false; }

    int delivered = 0;
};
} // namespace

TEST (RequestEncoding, WriteRequestHeaderStatesTheBytesReallySent)
{
    ShortStream source;
    FileWriteRequest write (1, source);

    auto bytes = encode (write);
    EXPECT_EQ (bytes.size(), 6u + 16u + 10u);
    EXPECT_EQ (Bytes (bytes.begin() + 2, bytes.begin() + 6), le32 (26));
    EXPECT_EQ (Bytes (bytes.begin() + 18, bytes.begin() + 22), le32 (10));
    EXPECT_EQ (write.getLastBlockSize(), 10);
}

TEST (RequestEncoding, PropertyRequests)
{
    GetPropertyRequest none ({}, 0x0005);
    EXPECT_EQ (encode (none), frame (0x001A, none, { { 0 }, { 5, 0 } }));

    GetPropertyRequest two ({ 0x0102, 0xFFFF }, 0x8001);
    EXPECT_EQ (encode (two), frame (0x001A, two, { { 2, 0x02, 0x01, 0xFF, 0xFF }, { 0x01, 0x80 } }));

    GetPropertiesRequest all (juce::Array<juce::uint16> { 7 });
    EXPECT_EQ (encode (all), frame (0x0013, all, { { 1, 7, 0 } }));
}

TEST (RequestEncoding, PropertyPathsLongerThan255EntriesAreRefused)
{
    juce::Array<juce::uint16> path;
    for (int i = 0; i < 255; ++i)
        path.add ((juce::uint16) i);

    GetPropertiesRequest longest (path);
    EXPECT_TRUE (longest.getEncodingProblem().isEmpty());
    EXPECT_EQ (encode (longest).size(), 6u + 5u + 510u);

    path.add (255);
    GetPropertiesRequest tooLong (path);
    GetPropertyRequest tooLongToo (path, 1);
    juce::MemoryOutputStream out;
    EXPECT_FALSE (tooLong.write (out));
    EXPECT_FALSE (tooLongToo.write (out));
    EXPECT_EQ (out.getDataSize(), 0u);
    EXPECT_TRUE (tooLong.getEncodingProblem().contains ("256"));
}
