#pragma once

#include "protocol/MessageIds.h"
#include "protocol/ReceivedMessage.h"
#include "protocol/FileSystemEntryInfo.h"

#include <map>
#include <memory>

/** Common base of everything the host receives. */
class VeltraneClientInputMessage
{
public:
    virtual ~VeltraneClientInputMessage() = default;
};

/** A response: decoded from a complete frame, which it keeps. Each decoding constructor
    takes a frame whose read position is just past the 6-byte header. A frame too short for
    its fields leaves the response's message marked truncated (see isMalformed). */
class VeltraneClientResponse : public VeltraneClientInputMessage
{
public:
    juce::int32 getSerialNumber() const noexcept   { return serialNumber; }
    juce::uint16 getMessageId() const noexcept     { return messageId; }
    ReceivedMessage& getMessage() noexcept          { return *message; }

    /** True when the frame ended before the response's fields did. */
    bool isMalformed() const noexcept               { return message->isTruncated(); }

protected:
    VeltraneClientResponse (juce::uint16 messageId, std::unique_ptr<ReceivedMessage> message);

    std::unique_ptr<ReceivedMessage> message;

private:
    juce::int32 serialNumber;
    juce::uint16 messageId;
};

/** Builds the response class for the id, taking the frame; nullptr (the frame destroyed)
    for an id that is not a response. */
std::unique_ptr<VeltraneClientResponse> createResponse (juce::uint16 messageId,
                                                        std::unique_ptr<ReceivedMessage> message);

class WhoAmIResponse final : public VeltraneClientResponse
{
public:
    explicit WhoAmIResponse (std::unique_ptr<ReceivedMessage>);

    juce::uint16 getFamilyId() const noexcept        { return familyId; }
    juce::uint16 getDeviceId() const noexcept        { return deviceId; }
    juce::uint16 getProtocolVersion() const noexcept { return protocolVersion; }
    juce::uint16 getFirmwareVersion() const noexcept { return firmwareVersion; }
    const juce::String& getFirstText() const noexcept  { return firstText; }
    const juce::String& getSecondText() const noexcept { return secondText; }

private:
    juce::uint16 familyId, deviceId, protocolVersion, firmwareVersion;
    juce::String firstText, secondText;
};

class SuccessResponse final : public VeltraneClientResponse
{
public:
    explicit SuccessResponse (std::unique_ptr<ReceivedMessage>);
};

class FailureResponse final : public VeltraneClientResponse
{
public:
    explicit FailureResponse (std::unique_ptr<ReceivedMessage>);

    const juce::String& getFailureText() const noexcept { return failureText; }

private:
    juce::String failureText;
};

class FileSystemEntryInfoResponse final : public VeltraneClientResponse
{
public:
    explicit FileSystemEntryInfoResponse (std::unique_ptr<ReceivedMessage>);

    bool getStatus() const noexcept                      { return status; }
    const FileSystemEntryInfo& getInfo() const noexcept  { return info; }

private:
    bool status;
    FileSystemEntryInfo info;
};

class FileOpenResponse final : public VeltraneClientResponse
{
public:
    explicit FileOpenResponse (std::unique_ptr<ReceivedMessage>);

    juce::int64 getHandle() const noexcept { return handle; }
    juce::int64 getSize() const noexcept   { return size; }

private:
    juce::int64 handle, size;
};

/** Decoding stops before the data bytes: getData gives them in place. */
class FileReadResponse final : public VeltraneClientResponse
{
public:
    explicit FileReadResponse (std::unique_ptr<ReceivedMessage>);

    juce::int64 getUnusedValue() const noexcept { return unusedValue; }
    juce::int32 getCount() const noexcept       { return count; }
    const juce::uint8* getData() const noexcept { return data; }

private:
    juce::int64 unusedValue;
    juce::int32 count;
    const juce::uint8* data;
};

class FolderContentsResponse final : public VeltraneClientResponse
{
public:
    explicit FolderContentsResponse (std::unique_ptr<ReceivedMessage>);

    const juce::StringArray& getFileNames() const noexcept   { return fileNames; }
    const juce::StringArray& getFolderNames() const noexcept { return folderNames; }

    /** True when the answer filled its frame so nearly that one more name wouldn't have
        fitted: a device that has more names than one frame holds leaves the rest out. */
    bool mayBeCut() const noexcept     { return cut; }

private:
    juce::StringArray fileNames, folderNames;
    bool cut = false;
};

class GetPropertiesResponse final : public VeltraneClientResponse
{
public:
    explicit GetPropertiesResponse (std::unique_ptr<ReceivedMessage>);

    const std::map<juce::uint16, juce::int32>& getIntegerValues() const noexcept { return integerValues; }
    const std::map<juce::uint16, juce::String>& getTextValues() const noexcept   { return textValues; }

private:
    std::map<juce::uint16, juce::int32> integerValues;
    std::map<juce::uint16, juce::String> textValues;
};

class ProcessLaunchResponse final : public VeltraneClientResponse
{
public:
    explicit ProcessLaunchResponse (std::unique_ptr<ReceivedMessage>);

    juce::int64 getProcessId() const noexcept { return processId; }

private:
    juce::int64 processId;
};

class GetPropertyResponse final : public VeltraneClientResponse
{
public:
    explicit GetPropertyResponse (std::unique_ptr<ReceivedMessage>);

    bool isTextValue() const noexcept            { return isText; }
    juce::int32 getValue() const noexcept        { return value; }
    const juce::String& getText() const noexcept { return text; }

private:
    juce::int32 value = 0;
    juce::String text;
    bool isText = false;
};
