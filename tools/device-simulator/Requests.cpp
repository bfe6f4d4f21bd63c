#include "Requests.h"

#include "base/DeviceText.h"
#include "protocol/MessageIds.h"

namespace
{
struct KindInfo
{
    RequestKind kind;
    juce::uint16 messageId;
    const char* name;
};

constexpr KindInfo kinds[] = {
    { RequestKind::whoAmI,         MessageId::whoAmIRequest,                "WhoAmIRequest" },
    { RequestKind::entryInfo,      MessageId::fileSystemEntryInfoRequest,   "FileSystemEntryInfoRequest" },
    { RequestKind::entryCreate,    MessageId::fileSystemEntryCreateRequest, "FileSystemEntryCreateRequest" },
    { RequestKind::entryMove,      MessageId::fileSystemEntryMoveRequest,   "FileSystemEntryMoveRequest" },
    { RequestKind::entryDelete,    MessageId::fileSystemEntryDeleteRequest, "FileSystemEntryDeleteRequest" },
    { RequestKind::fileOpen,       MessageId::fileOpenRequest,              "FileOpenRequest" },
    { RequestKind::fileRead,       MessageId::fileReadRequest,              "FileReadRequest" },
    { RequestKind::fileWrite,      MessageId::fileWriteRequest,             "FileWriteRequest" },
    { RequestKind::fileSeek,       MessageId::fileSeekRequest,              "FileSeekRequest" },
    { RequestKind::fileClose,      MessageId::fileCloseRequest,             "FileCloseRequest" },
    { RequestKind::folderContents, MessageId::folderContentsRequest,        "FolderContentsRequest" },
    { RequestKind::getProperties,  MessageId::getPropertiesRequest,         "GetPropertiesRequest" },
    { RequestKind::getProperty,    MessageId::getPropertyRequest,           "GetPropertyRequest" },
};

// The ids the device itself sends. A host that sends one back (an echoing line, say) gets
// no answer, so that the two ends can't start a ping-pong of failures.
bool isDeviceMessageId (juce::uint16 id) noexcept
{
    switch (id)
    {
        case MessageId::whoAmIResponse:
        case MessageId::successResponse:
        case MessageId::failureResponse:
        case MessageId::fileSystemEntryInfoResponse:
        case MessageId::fileOpenResponse:
        case MessageId::fileReadResponse:
        case MessageId::folderContentsResponse:
        case MessageId::getPropertiesResponse:
        case MessageId::processLaunchResponse:
        case MessageId::getPropertyResponse:
            return true;
        default:
            return id >= 0x8000;
    }
}

RequestKind kindOfId (juce::uint16 id) noexcept
{
    for (const auto& info : kinds)
        if (info.messageId == id)
            return info.kind;

    return isDeviceMessageId (id) ? RequestKind::unexpected : RequestKind::unknown;
}

std::string readRawText (ReceivedMessage& frame)
{
    const auto count = frame.readInt();

    if (count <= 0)
        return {};

    if (auto* bytes = frame.readBytes (count))
        return std::string (reinterpret_cast<const char*> (bytes), (size_t) count);

    return {};
}

std::string hex (int value, int digits)
{
    char text[16];
    std::snprintf (text, sizeof (text), "0x%0*x", digits, value);
    return text;
}

std::string joinFlags (const std::vector<int>& flags)
{
    std::string text;

    for (size_t i = 0; i < flags.size(); ++i)
        text += (i > 0 ? "," : "") + std::to_string (flags[i]);

    return text;
}
} // namespace

const char* getKindName (RequestKind kind)
{
    for (const auto& info : kinds)
        if (info.kind == kind)
            return info.name;

    return kind == RequestKind::unknown ? "UnknownRequest" : "UnexpectedMessage";
}

bool findKindByName (const std::string& name, RequestKind& kind)
{
    for (const auto& info : kinds)
    {
        if (name == info.name)
        {
            kind = info.kind;
            return true;
        }
    }

    return false;
}

bool DecodedRequest::hasHandle() const noexcept
{
    return kind == RequestKind::fileRead || kind == RequestKind::fileWrite
        || kind == RequestKind::fileSeek || kind == RequestKind::fileClose;
}

DecodedRequest decodeRequest (ReceivedMessage& frame)
{
    DecodedRequest request;
    request.messageId = frame.readShort();
    frame.readInt(); // the payload length, already checked by the receiver
    request.kind = kindOfId (request.messageId);

    if (request.kind == RequestKind::unexpected)
        return request;

    request.serial = frame.readInt();

    switch (request.kind)
    {
        case RequestKind::entryInfo:
            request.isFolder = frame.readBool();
            request.path = readRawText (frame);
            break;

        case RequestKind::entryCreate:
            request.flags.push_back (frame.readByte());
            request.path = readRawText (frame);
            request.flags.push_back (frame.readByte());
            break;

        case RequestKind::entryMove:
            request.isFolder = frame.readBool();
            request.path = readRawText (frame);
            request.toPath = readRawText (frame);
            request.flags.push_back (frame.readByte());
            request.flags.push_back (frame.readByte());
            break;

        case RequestKind::entryDelete:
            request.flags.push_back (frame.readByte());
            request.path = readRawText (frame);
            request.flags.push_back (frame.readByte());
            request.flags.push_back (frame.readByte());
            break;

        case RequestKind::fileOpen:
            request.path = readRawText (frame);
            request.access = frame.readByte();
            request.mode = frame.readByte();
            break;

        case RequestKind::fileRead:
            request.handle = frame.readInt64();
            request.count = (juce::uint32) frame.readInt();
            break;

        case RequestKind::fileWrite:
            request.handle = frame.readInt64();
            request.count = frame.readInt();
            request.data = frame.readBytes (request.count);
            break;

        case RequestKind::fileSeek:
            request.handle = frame.readInt64();
            request.position = frame.readInt64();
            request.seekMode = frame.readByte();
            break;

        case RequestKind::fileClose:
            request.handle = frame.readInt64();
            break;

        case RequestKind::folderContents:
            request.path = readRawText (frame);
            break;

        case RequestKind::getProperties:
        case RequestKind::getProperty:
        {
            const int length = frame.readByte();

            for (int i = 0; i < length && ! frame.isTruncated(); ++i)
                request.propertyPath.push_back (frame.readShort());

            if (request.kind == RequestKind::getProperty)
                request.propertyId = frame.readShort();

            break;
        }

        case RequestKind::whoAmI:
        case RequestKind::unknown:
        case RequestKind::unexpected:
            break;
    }

    request.malformed = frame.isTruncated();
    return request;
}

std::string DecodedRequest::describe() const
{
    std::string line = getKindName (kind);

    if (kind == RequestKind::unknown || kind == RequestKind::unexpected)
        line += " id=" + hex (messageId, 4);

    if (kind == RequestKind::unexpected)
        return line;

    line += " serial=" + std::to_string (serial);

    switch (kind)
    {
        case RequestKind::entryInfo:
            line += " isFolder=" + std::to_string ((int) isFolder) + " path=" + quoteForLog (path);
            break;

        case RequestKind::entryCreate:
        case RequestKind::entryDelete:
            line += " path=" + quoteForLog (path) + " flags=" + joinFlags (flags);
            break;

        case RequestKind::entryMove:
            line += " isFolder=" + std::to_string ((int) isFolder) + " from=" + quoteForLog (path)
                  + " to=" + quoteForLog (toPath) + " flags=" + joinFlags (flags);
            break;

        case RequestKind::fileOpen:
            line += " path=" + quoteForLog (path) + " access=" + std::to_string (access)
                  + " mode=" + std::to_string (mode);
            break;

        case RequestKind::fileRead:
        case RequestKind::fileWrite:
            line += " handle=" + std::to_string (handle) + " count=" + std::to_string (count);
            break;

        case RequestKind::fileSeek:
            line += " handle=" + std::to_string (handle) + " position=" + std::to_string (position)
                  + " mode=" + std::to_string (seekMode);
            break;

        case RequestKind::fileClose:
            line += " handle=" + std::to_string (handle);
            break;

        case RequestKind::folderContents:
            line += " path=" + quoteForLog (path);
            break;

        case RequestKind::getProperties:
        case RequestKind::getProperty:
        {
            line += " propertyPath=";

            for (size_t i = 0; i < propertyPath.size(); ++i)
                line += (i > 0 ? "," : "") + std::to_string (propertyPath[i]);

            if (kind == RequestKind::getProperty)
                line += " id=" + hex (propertyId, 4);

            break;
        }

        case RequestKind::whoAmI:
        case RequestKind::unknown:
        case RequestKind::unexpected:
            break;
    }

    if (malformed)
        line += " malformed";

    return line;
}

std::string quoteForLog (const std::string& bytes)
{
    const auto* data = reinterpret_cast<const juce::uint8*> (bytes.data());
    const bool utf8 = DeviceText::isValidUtf8 (data, bytes.size());
    bool plain = utf8 && ! bytes.empty();

    for (auto byte : bytes)
        if ((juce::uint8) byte <= 0x20 || byte == '"' || byte == '\\' || byte == 0x7F)
            plain = false;

    if (plain)
        return bytes;

    std::string quoted = "\"";

    for (auto c : bytes)
    {
        const auto byte = (juce::uint8) c;

        if (c == '"' || c == '\\')
            quoted += std::string ("\\") + c;
        else if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && ! utf8))
            quoted += "\\x" + hex (byte, 2).substr (2);
        else
            quoted += c;
    }

    return quoted + "\"";
}

RequestLog::~RequestLog()
{
    if (file != nullptr)
        std::fclose (file);
}

bool RequestLog::open (const std::string& path)
{
    file = std::fopen (path.c_str(), "w");
    return file != nullptr;
}

void RequestLog::write (const std::string& line)
{
    if (file == nullptr)
        return;

    std::fputs (line.c_str(), file);
    std::fputc ('\n', file);
    std::fflush (file);
}
