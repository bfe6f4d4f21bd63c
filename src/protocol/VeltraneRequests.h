#pragma once

#include "protocol/MessageIds.h"

/** Base of everything the host sends. */
class VeltraneClientOutputMessage
{
public:
    virtual ~VeltraneClientOutputMessage() = default;

    /** Writes the whole frame to the stream. Returns false, having written nothing, when
        the message can't be encoded. */
    virtual bool write (juce::OutputStream& stream) = 0;
};

/** A request: a frame whose payload starts with the request's serial number. Each request
    takes its serial number from one process-wide counter when it is constructed. */
class VeltraneClientRequest : public VeltraneClientOutputMessage
{
public:
    bool write (juce::OutputStream& stream) override;

    juce::uint16 getMessageId() const noexcept     { return messageId; }
    juce::int32 getSerialNumber() const noexcept   { return serialNumber; }

    /** Gives the request the counter's next serial number, so that the same request
        object can be sent again (one block after another of a transfer). */
    void takeNextSerialNumber() noexcept           { serialNumber = takeSerialNumber(); }

    /** The id of the response class that answers this request, or -1 when any
        acknowledgement will do. */
    virtual int getExpectedResponseId() const noexcept { return -1; }

    /** Why the request can't be encoded, or an empty text when it can. */
    virtual juce::String getEncodingProblem() const { return {}; }

    /** The process-wide serial counter: returns its value and increments it. It starts at 0
        and wraps from the largest int32 to the smallest. */
    static juce::int32 takeSerialNumber() noexcept;

    /** The value the next request will get, without taking it. */
    static juce::int32 peekSerialNumber() noexcept;

protected:
    explicit VeltraneClientRequest (juce::uint16 messageId);

    /** Writes the frame; called by write once the request is known to be encodable. */
    virtual void writeMessage (juce::OutputStream& stream) = 0;

    /** Writes the header and the serial number. payloadLength includes the serial number. */
    void writeHeader (juce::OutputStream& stream, juce::uint32 payloadLength) const;

private:
    juce::uint16 messageId;
    juce::int32 serialNumber;
};

/** A text as it goes on the wire: its bytes are computed once, so that the payload length
    can be known before the header is written. */
class WireText
{
public:
    explicit WireText (const juce::String& text);

    juce::uint32 getEncodedSize() const noexcept   { return 4 + (juce::uint32) bytes.getSize(); }
    void writeTo (juce::OutputStream& stream) const;

private:
    juce::MemoryBlock bytes;
};

class WhoAmIRequest final : public VeltraneClientRequest
{
public:
    WhoAmIRequest();
    int getExpectedResponseId() const noexcept override { return MessageId::whoAmIResponse; }

protected:
    void writeMessage (juce::OutputStream&) override;
};

class FileSystemEntryInfoRequest final : public VeltraneClientRequest
{
public:
    FileSystemEntryInfoRequest (const juce::String& path, bool isFolder);
    int getExpectedResponseId() const noexcept override { return MessageId::fileSystemEntryInfoResponse; }

protected:
    void writeMessage (juce::OutputStream&) override;

private:
    juce::String path;
    bool isFolder;
};

class FileSystemEntryCreateRequest final : public VeltraneClientRequest
{
public:
    explicit FileSystemEntryCreateRequest (const juce::String& path);

protected:
    void writeMessage (juce::OutputStream&) override;

private:
    juce::String path;
};

class FileSystemEntryMoveRequest final : public VeltraneClientRequest
{
public:
    FileSystemEntryMoveRequest (const juce::String& fromPath, const juce::String& toPath, bool isFolder);

protected:
    void writeMessage (juce::OutputStream&) override;

private:
    juce::String fromPath, toPath;
    bool isFolder;
};

class FileSystemEntryDeleteRequest final : public VeltraneClientRequest
{
public:
    explicit FileSystemEntryDeleteRequest (const juce::String& path);

protected:
    void writeMessage (juce::OutputStream&) override;

private:
    juce::String path;
};

class FileOpenRequest final : public VeltraneClientRequest
{
public:
    /** mode 1 opens an existing file for reading, mode 0 creates one for writing. */
    FileOpenRequest (const juce::String& path, int mode);
    int getExpectedResponseId() const noexcept override { return MessageId::fileOpenResponse; }

protected:
    void writeMessage (juce::OutputStream&) override;

private:
    juce::String path;
    int mode;
    bool readAccess;
};

class FileReadRequest final : public VeltraneClientRequest
{
public:
    /** Asks for count bytes; at most 8169 are asked for on the wire. */
    FileReadRequest (juce::int64 handle, juce::uint32 count);
    int getExpectedResponseId() const noexcept override { return MessageId::fileReadResponse; }

    juce::uint32 getCount() const noexcept { return count; }

protected:
    void writeMessage (juce::OutputStream&) override;

private:
    juce::int64 handle;
    juce::uint32 count;
};

/** Carries the next block (at most 8169 bytes) of its source stream, which it reads but
    does not own; writing it again sends the block after. */
class FileWriteRequest final : public VeltraneClientRequest
{
public:
    FileWriteRequest (juce::int64 handle, juce::InputStream& source);

    /** The number of data bytes the last write carried. */
    int getLastBlockSize() const noexcept { return lastBlockSize; }

protected:
    void writeMessage (juce::OutputStream&) override;

private:
    juce::int64 handle;
    juce::InputStream& source;
    juce::HeapBlock<juce::uint8> block;
    int lastBlockSize = 0;
};

class FileSeekRequest final : public VeltraneClientRequest
{
public:
    FileSeekRequest (juce::int64 handle, juce::int64 position, juce::uint8 seekMode);

protected:
    void writeMessage (juce::OutputStream&) override;

private:
    juce::int64 handle, position;
    juce::uint8 seekMode;
};

class FileCloseRequest final : public VeltraneClientRequest
{
public:
    explicit FileCloseRequest (juce::int64 handle);

protected:
    void writeMessage (juce::OutputStream&) override;

private:
    juce::int64 handle;
};

class FolderContentsRequest final : public VeltraneClientRequest
{
public:
    explicit FolderContentsRequest (const juce::String& path);
    int getExpectedResponseId() const noexcept override { return MessageId::folderContentsResponse; }

protected:
    void writeMessage (juce::OutputStream&) override;

private:
    juce::String path;
};

/** A property path goes on the wire with a one-byte count: longer paths are refused. */
constexpr int maxPropertyPathLength = 255;

class GetPropertiesRequest final : public VeltraneClientRequest
{
public:
    explicit GetPropertiesRequest (const juce::Array<juce::uint16>& propertyPath);
    int getExpectedResponseId() const noexcept override { return MessageId::getPropertiesResponse; }
    juce::String getEncodingProblem() const override;

protected:
    void writeMessage (juce::OutputStream&) override;

private:
    juce::Array<juce::uint16> propertyPath;
};

class GetPropertyRequest final : public VeltraneClientRequest
{
public:
    GetPropertyRequest (const juce::Array<juce::uint16>& propertyPath, juce::uint16 propertyId);
    int getExpectedResponseId() const noexcept override { return MessageId::getPropertyResponse; }
    juce::String getEncodingProblem() const override;

protected:
    void writeMessage (juce::OutputStream&) override;

private:
    juce::Array<juce::uint16> propertyPath;
    juce::uint16 propertyId;
};
