#include "protocol/VeltraneRequests.h"
#include "base/DeviceText.h"

#include <atomic>

namespace
{
// Requests are built on the GUI thread one after another; the counter is atomic all the
// same, so that tests and tools may build requests anywhere. Unsigned, so that it wraps.
std::atomic<juce::uint32> serialCounter { 0 };

void writeByte (juce::OutputStream& stream, int value)
{
    stream.writeByte ((char) (juce::uint8) value);
}

void writePropertyPath (juce::OutputStream& stream, const juce::Array<juce::uint16>& path)
{
    writeByte (stream, path.size());

    for (auto entry : path)
        stream.writeShort ((short) entry);
}

juce::String propertyPathProblem (const juce::Array<juce::uint16>& path)
{
    if (path.size() <= maxPropertyPathLength)
        return {};

    return "property path of " + juce::String (path.size()) + " entries is longer than "
           + juce::String (maxPropertyPathLength);
}
} // namespace

//==============================================================================
juce::int32 VeltraneClientRequest::takeSerialNumber() noexcept
{
    return (juce::int32) serialCounter.fetch_add (1);
}

juce::int32 VeltraneClientRequest::peekSerialNumber() noexcept
{
    return (juce::int32) serialCounter.load();
}

VeltraneClientRequest::VeltraneClientRequest (juce::uint16 id)
    : messageId (id), serialNumber (takeSerialNumber())
{
}

bool VeltraneClientRequest::write (juce::OutputStream& stream)
{
    if (getEncodingProblem().isNotEmpty())
        return false;

    writeMessage (stream);
    return true;
}

void VeltraneClientRequest::writeHeader (juce::OutputStream& stream, juce::uint32 payloadLength) const
{
    stream.writeShort ((short) messageId);
    stream.writeInt ((int) payloadLength);
    stream.writeInt (serialNumber);
}

//==============================================================================
WireText::WireText (const juce::String& text)
    : bytes (DeviceText::encode (text))
{
}

void WireText::writeTo (juce::OutputStream& stream) const
{
    stream.writeInt ((int) bytes.getSize());

    if (bytes.getSize() > 0)
        stream.write (bytes.getData(), bytes.getSize());
}

//==============================================================================
WhoAmIRequest::WhoAmIRequest() : VeltraneClientRequest (MessageId::whoAmIRequest) {}

void WhoAmIRequest::writeMessage (juce::OutputStream& stream)
{
    writeHeader (stream, 4);
}

FileSystemEntryInfoRequest::FileSystemEntryInfoRequest (const juce::String& p, bool folder)
    : VeltraneClientRequest (MessageId::fileSystemEntryInfoRequest), path (p), isFolder (folder)
{
}

void FileSystemEntryInfoRequest::writeMessage (juce::OutputStream& stream)
{
    const WireText text (path);
    writeHeader (stream, 5 + text.getEncodedSize());
    stream.writeBool (isFolder);
    text.writeTo (stream);
}

FileSystemEntryCreateRequest::FileSystemEntryCreateRequest (const juce::String& p)
    : VeltraneClientRequest (MessageId::fileSystemEntryCreateRequest), path (p)
{
}

void FileSystemEntryCreateRequest::writeMessage (juce::OutputStream& stream)
{
    const WireText text (path);
    writeHeader (stream, 6 + text.getEncodedSize());
    writeByte (stream, 1);
    text.writeTo (stream);
    writeByte (stream, 1);
}

FileSystemEntryMoveRequest::FileSystemEntryMoveRequest (const juce::String& from, const juce::String& to, bool folder)
    : VeltraneClientRequest (MessageId::fileSystemEntryMoveRequest), fromPath (from), toPath (to), isFolder (folder)
{
}

void FileSystemEntryMoveRequest::writeMessage (juce::OutputStream& stream)
{
    const WireText from (fromPath), to (toPath);
    writeHeader (stream, 7 + from.getEncodedSize() + to.getEncodedSize());
    writeByte (stream, isFolder ? 1 : 0);
    from.writeTo (stream);
    to.writeTo (stream);
    writeByte (stream, 0);
    writeByte (stream, 1);
}

FileSystemEntryDeleteRequest::FileSystemEntryDeleteRequest (const juce::String& p)
    : VeltraneClientRequest (MessageId::fileSystemEntryDeleteRequest), path (p)
{
}

void FileSystemEntryDeleteRequest::writeMessage (juce::OutputStream& stream)
{
    const WireText text (path);
    writeHeader (stream, 7 + text.getEncodedSize());
    writeByte (stream, 1);
    text.writeTo (stream);
    writeByte (stream, 1);
    writeByte (stream, 0);
}

FileOpenRequest::FileOpenRequest (const juce::String& p, int openMode)
    : VeltraneClientRequest (MessageId::fileOpenRequest), path (p), mode (openMode), readAccess (openMode != 0)
{
}

void FileOpenRequest::writeMessage (juce::OutputStream& stream)
{
    const WireText text (path);
    writeHeader (stream, 6 + text.getEncodedSize());
    text.writeTo (stream);
    writeByte (stream, readAccess ? 1 : 2);
    writeByte (stream, mode & 0xff);
}

FileReadRequest::FileReadRequest (juce::int64 h, juce::uint32 c)
    : VeltraneClientRequest (MessageId::fileReadRequest), handle (h), count (c)
{
}

void FileReadRequest::writeMessage (juce::OutputStream& stream)
{
    writeHeader (stream, 16);
    stream.writeInt64 (handle);
    stream.writeInt ((int) juce::jmin (count, maxFileBlockSize));
}

FileWriteRequest::FileWriteRequest (juce::int64 h, juce::InputStream& s)
    : VeltraneClientRequest (MessageId::fileWriteRequest), handle (h), source (s), block (maxFileBlockSize)
{
}

void FileWriteRequest::writeMessage (juce::OutputStream& stream)
{
    // The block is read before the header is written, so that the header states the
    // bytes really sent even when the source delivers fewer than it announced.
    const auto remaining = source.getTotalLength() - source.getPosition();
    const auto wanted = (int) juce::jlimit ((juce::int64) 0, (juce::int64) maxFileBlockSize, remaining);
    lastBlockSize = wanted > 0 ? juce::jmax (0, source.read (block, wanted)) : 0;

    writeHeader (stream, 16 + (juce::uint32) lastBlockSize);
    stream.writeInt64 (handle);
    stream.writeInt (lastBlockSize);
    stream.write (block, (size_t) lastBlockSize);
}

FileSeekRequest::FileSeekRequest (juce::int64 h, juce::int64 p, juce::uint8 m)
    : VeltraneClientRequest (MessageId::fileSeekRequest), handle (h), position (p), seekMode (m)
{
}

void FileSeekRequest::writeMessage (juce::OutputStream& stream)
{
    writeHeader (stream, 21);
    stream.writeInt64 (handle);
    stream.writeInt64 (position);
    writeByte (stream, seekMode);
}

FileCloseRequest::FileCloseRequest (juce::int64 h)
    : VeltraneClientRequest (MessageId::fileCloseRequest), handle (h)
{
}

void FileCloseRequest::writeMessage (juce::OutputStream& stream)
{
    writeHeader (stream, 12);
    stream.writeInt64 (handle);
}

FolderContentsRequest::FolderContentsRequest (const juce::String& p)
    : VeltraneClientRequest (MessageId::folderContentsRequest), path (p)
{
}

void FolderContentsRequest::writeMessage (juce::OutputStream& stream)
{
    const WireText text (path);
    writeHeader (stream, 4 + text.getEncodedSize());
    text.writeTo (stream);
}

GetPropertiesRequest::GetPropertiesRequest (const juce::Array<juce::uint16>& path)
    : VeltraneClientRequest (MessageId::getPropertiesRequest), propertyPath (path)
{
}

juce::String GetPropertiesRequest::getEncodingProblem() const
{
    return propertyPathProblem (propertyPath);
}

void GetPropertiesRequest::writeMessage (juce::OutputStream& stream)
{
    writeHeader (stream, 5 + 2 * (juce::uint32) propertyPath.size());
    writePropertyPath (stream, propertyPath);
}

GetPropertyRequest::GetPropertyRequest (const juce::Array<juce::uint16>& path, juce::uint16 id)
    : VeltraneClientRequest (MessageId::getPropertyRequest), propertyPath (path), propertyId (id)
{
}

juce::String GetPropertyRequest::getEncodingProblem() const
{
    return propertyPathProblem (propertyPath);
}

void GetPropertyRequest::writeMessage (juce::OutputStream& stream)
{
    writeHeader (stream, 7 + 2 * (juce::uint32) propertyPath.size());
    writePropertyPath (stream, propertyPath);
    stream.writeShort ((short) propertyId);
}
