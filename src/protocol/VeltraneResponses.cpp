#include "protocol/VeltraneResponses.h"

VeltraneClientResponse::VeltraneClientResponse (juce::uint16 id, std::unique_ptr<ReceivedMessage> m)
    : message (std::move (m)), serialNumber (message->readInt()), messageId (id)
{
}

std::unique_ptr<VeltraneClientResponse> createResponse (juce::uint16 messageId,
                                                        std::unique_ptr<ReceivedMessage> message)
{
    switch (messageId)
    {
        case MessageId::whoAmIResponse:              return std::make_unique<WhoAmIResponse> (std::move (message));
        case MessageId::successResponse:             return std::make_unique<SuccessResponse> (std::move (message));
        case MessageId::failureResponse:             return std::make_unique<FailureResponse> (std::move (message));
        case MessageId::fileSystemEntryInfoResponse: return std::make_unique<FileSystemEntryInfoResponse> (std::move (message));
        case MessageId::fileOpenResponse:            return std::make_unique<FileOpenResponse> (std::move (message));
        case MessageId::fileReadResponse:            return std::make_unique<FileReadResponse> (std::move (message));
        case MessageId::folderContentsResponse:      return std::make_unique<FolderContentsResponse> (std::move (message));
        case MessageId::getPropertiesResponse:       return std::make_unique<GetPropertiesResponse> (std::move (message));
        case MessageId::processLaunchResponse:       return std::make_unique<ProcessLaunchResponse> (std::move (message));
        case MessageId::getPropertyResponse:         return std::make_unique<GetPropertyResponse> (std::move (message));
        default:                                     return nullptr;
    }
}

WhoAmIResponse::WhoAmIResponse (std::unique_ptr<ReceivedMessage> m)
    : VeltraneClientResponse (MessageId::whoAmIResponse, std::move (m)),
      familyId (message->readShort()),
      deviceId (message->readShort()),
      protocolVersion (message->readShort()),
      firmwareVersion (message->readShort()),
      firstText (message->readText()),
      secondText (message->readText())
{
}

SuccessResponse::SuccessResponse (std::unique_ptr<ReceivedMessage> m)
    : VeltraneClientResponse (MessageId::successResponse, std::move (m))
{
}

FailureResponse::FailureResponse (std::unique_ptr<ReceivedMessage> m)
    : VeltraneClientResponse (MessageId::failureResponse, std::move (m)),
      failureText (message->readText())
{
}

FileSystemEntryInfoResponse::FileSystemEntryInfoResponse (std::unique_ptr<ReceivedMessage> m)
    : VeltraneClientResponse (MessageId::fileSystemEntryInfoResponse, std::move (m)),
      status (message->readBool())
{
    info.name = message->readText();
    info.exists = message->readBool();
    info.size = message->readInt64();
    info.writable = ! message->readBool();
    info.attributeFlag = message->readBool();
    info.firstTime = message->readDateTime();
    info.modificationTime = message->readDateTime();
    info.thirdTime = message->readDateTime();
}

FileOpenResponse::FileOpenResponse (std::unique_ptr<ReceivedMessage> m)
    : VeltraneClientResponse (MessageId::fileOpenResponse, std::move (m)),
      handle (message->readInt64()),
      size (message->readInt64())
{
}

FileReadResponse::FileReadResponse (std::unique_ptr<ReceivedMessage> m)
    : VeltraneClientResponse (MessageId::fileReadResponse, std::move (m)),
      unusedValue (message->readInt64()),
      count (message->readInt()),
      data (nullptr)
{
    // The bytes stay in the frame; taking them here checks that they all arrived and
    // leaves the read position at the end of the block.
    data = message->readBytes (count);
}

FolderContentsResponse::FolderContentsResponse (std::unique_ptr<ReceivedMessage> m)
    : VeltraneClientResponse (MessageId::folderContentsResponse, std::move (m))
{
    // Room for less than one more name of the longest kind (a count and 255 bytes).
    constexpr juce::uint32 longestEntry = 4 + 255;
    cut = message->getPayloadLength() > ReceivedMessage::maxPayloadLength - longestEntry;

    for (auto* names : { &fileNames, &folderNames })
    {
        const auto count = message->readInt();

        for (juce::int32 i = 0; i < count && ! message->isTruncated(); ++i)
        {
            auto name = message->readText();

            if (! message->isTruncated())
                names->add (name);
        }
    }
}

GetPropertiesResponse::GetPropertiesResponse (std::unique_ptr<ReceivedMessage> m)
    : VeltraneClientResponse (MessageId::getPropertiesResponse, std::move (m))
{
    const auto integerCount = message->readShort();

    for (int i = 0; i < integerCount && ! message->isTruncated(); ++i)
    {
        const auto id = message->readShort();
        integerValues[id] = message->readInt();
    }

    const auto textCount = message->readShort();

    for (int i = 0; i < textCount && ! message->isTruncated(); ++i)
    {
        const auto id = message->readShort();
        textValues[id] = message->readText();
    }
}

ProcessLaunchResponse::ProcessLaunchResponse (std::unique_ptr<ReceivedMessage> m)
    : VeltraneClientResponse (MessageId::processLaunchResponse, std::move (m)),
      processId (message->readInt64())
{
}

GetPropertyResponse::GetPropertyResponse (std::unique_ptr<ReceivedMessage> m)
    : VeltraneClientResponse (MessageId::getPropertyResponse, std::move (m))
{
    const auto propertyId = message->readShort();
    isText = isTextPropertyId (propertyId);

    if (isText)
        text = message->readText();
    else
        value = message->readInt();
}
