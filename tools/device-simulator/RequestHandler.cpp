#include "RequestHandler.h"

#include "protocol/FrameBuilder.h"
#include "protocol/MessageIds.h"

#include <cstdio>
#include <cstring>

namespace
{
constexpr size_t maxPayload = ReceivedMessage::maxPayloadLength;

FrameBuilder& addText (FrameBuilder& builder, const std::string& bytes)
{
    return builder.rawText (bytes.data(), bytes.size());
}

FrameBuilder& addDateTime (FrameBuilder& builder, std::time_t time)
{
    if (time == 0)
        return builder.dateTime (0, 0, 0, 0, 0);

    std::tm local {};
    ::localtime_r (&time, &local);
    return builder.dateTime (local.tm_year + 1900, local.tm_mon, local.tm_mday, local.tm_hour, local.tm_min);
}

/** The frame, or nothing when its payload would be over the limit. */
std::optional<juce::MemoryBlock> frameWithinLimit (const FrameBuilder& builder)
{
    auto frame = builder.getFrame();

    if (frame.getSize() - (size_t) ReceivedMessage::headerSize > maxPayload)
        return std::nullopt;

    return frame;
}
} // namespace

RequestHandler::RequestHandler (DeviceFileSystem& fs, const SimulatedIdentity& id)
    : fileSystem (fs), identity (id), readBuffer (maxFileBlockSize)
{
}

const std::vector<std::pair<juce::uint16, juce::int32>>& RequestHandler::getIntegerProperties()
{
    static const std::vector<std::pair<juce::uint16, juce::int32>> table {
        { 0x0001, 1 }, { 0x0002, 100 }, { 0x0010, -5 } };
    return table;
}

const std::vector<std::pair<juce::uint16, std::string>>& RequestHandler::getTextProperties()
{
    static const std::vector<std::pair<juce::uint16, std::string>> table {
        { 0x8000, "device simulator" }, { 0x8001, "1.0" } };
    return table;
}

juce::MemoryBlock RequestHandler::answer (const DecodedRequest& request, const Faults& faults)
{
    juce::MemoryBlock frame;

    if (faults.failureText)
        frame = failure (request, *faults.failureText);
    else if (faults.answerId >= 0)
        frame = stockResponse (faults.answerId, request);
    else
        frame = carryOut (request, faults);

    if (faults.serial || faults.serialOffset != 0)
    {
        const auto serial = faults.serial ? *faults.serial
                                          : (juce::int32) ((juce::uint32) request.serial + (juce::uint32) faults.serialOffset);
        const auto littleEndian = juce::ByteOrder::swapIfBigEndian ((juce::uint32) serial);

        if (frame.getSize() >= (size_t) ReceivedMessage::headerSize + 4)
            frame.copyFrom (&littleEndian, ReceivedMessage::headerSize, 4);
    }

    return frame;
}

juce::MemoryBlock RequestHandler::carryOut (const DecodedRequest& request, const Faults& faults)
{
    if (request.kind == RequestKind::unknown)
    {
        char id[16];
        std::snprintf (id, sizeof (id), "0x%04x", (int) request.messageId);
        return failure (request, std::string ("Unknown request id ") + id);
    }

    if (request.malformed)
        return failure (request, "Malformed request");

    switch (request.kind)
    {
        case RequestKind::whoAmI:
            return stockResponse (MessageId::whoAmIResponse, request);

        case RequestKind::entryInfo:      return answerEntryInfo (request, faults);
        case RequestKind::folderContents: return answerFolderContents (request, faults);
        case RequestKind::fileOpen:       return answerOpen (request, faults);
        case RequestKind::fileRead:       return answerRead (request, faults);
        case RequestKind::getProperty:    return answerProperty (request);
        case RequestKind::getProperties:  return answerProperties (request);

        case RequestKind::entryCreate:
            return successOrFailure (request, fileSystem.createFolder (request.path));

        case RequestKind::entryMove:
            return successOrFailure (request, fileSystem.move (request.path, request.toPath));

        case RequestKind::entryDelete:
            return successOrFailure (request, fileSystem.remove (request.path));

        case RequestKind::fileWrite:
            return successOrFailure (request, writeBlock (request, faults));

        case RequestKind::fileSeek:
            return successOrFailure (request, fileSystem.seek (request.handle, request.position, request.seekMode));

        case RequestKind::fileClose:
            return successOrFailure (request, fileSystem.close (request.handle));

        case RequestKind::unknown:
        case RequestKind::unexpected:
            break;
    }

    return failure (request, "Not answered");
}

juce::MemoryBlock RequestHandler::answerEntryInfo (const DecodedRequest& request, const Faults& faults)
{
    DeviceFileSystem::Entry entry;
    const auto problem = fileSystem.getEntry (request.path, entry);

    if (! problem.empty())
        return failure (request, problem);

    // The request says which kind of entry the host is after; an entry of the other kind
    // doesn't count as there.
    const bool exists = entry.exists && entry.isFolder == request.isFolder;

    if (! exists)
        entry = {};

    FrameBuilder builder (MessageId::fileSystemEntryInfoResponse);
    builder.int32 (request.serial).boolean (true);
    addText (builder, DeviceFileSystem::getName (request.path))
        .boolean (exists)
        .int64 (exists && faults.size ? *faults.size : entry.size)
        .boolean (entry.readOnly)
        .boolean (entry.isFolder);
    addDateTime (builder, entry.changed);
    addDateTime (builder, entry.modified);
    addDateTime (builder, entry.accessed);

    if (auto frame = frameWithinLimit (builder))
        return *frame;

    return failure (request, "Name too long");
}

juce::MemoryBlock RequestHandler::answerFolderContents (const DecodedRequest& request, const Faults& faults)
{
    std::vector<std::string> files, folders;
    const auto problem = fileSystem.listFolder (request.path, files, folders);

    if (! problem.empty())
        return failure (request, problem);

    files.insert (files.end(), faults.extraFiles.begin(), faults.extraFiles.end());
    folders.insert (folders.end(), faults.extraFolders.begin(), faults.extraFolders.end());

    // A listing must fit one frame: the names that don't fit are left out, files first.
    size_t budget = maxPayload - 12;
    size_t leftOut = 0;

    auto fit = [&] (std::vector<std::string>& names)
    {
        size_t kept = 0;

        while (kept < names.size() && names[kept].size() + 4 <= budget)
            budget -= names[kept++].size() + 4;

        leftOut += names.size() - kept;
        names.resize (kept);
    };

    fit (files);
    fit (folders);

    if (leftOut > 0)
        std::fprintf (stderr, "device-simulator: %zu names of %s don't fit the answer and are left out\n",
                      leftOut, request.path.c_str());

    FrameBuilder builder (MessageId::folderContentsResponse);
    builder.int32 (request.serial);

    for (const auto* names : { &files, &folders })
    {
        builder.int32 ((juce::int32) names->size());

        for (const auto& name : *names)
            addText (builder, name);
    }

    return builder.getFrame();
}

juce::MemoryBlock RequestHandler::answerOpen (const DecodedRequest& request, const Faults& faults)
{
    if (request.access != 1 && request.access != 2)
        return failure (request, "Unknown access " + std::to_string (request.access));

    juce::int64 handle = 0, size = 0;
    const auto problem = fileSystem.open (request.path, request.access == 2, handle, size);

    if (! problem.empty())
        return failure (request, problem);

    return FrameBuilder (MessageId::fileOpenResponse)
               .int32 (request.serial).int64 (handle).int64 (faults.size ? *faults.size : size).getFrame();
}

juce::MemoryBlock RequestHandler::answerRead (const DecodedRequest& request, const Faults& faults)
{
    auto wanted = juce::jmin (request.count, (juce::int64) maxFileBlockSize);

    if (faults.readLimit)
        wanted = juce::jmin (wanted, *faults.readLimit);

    size_t got = 0;
    const auto problem = fileSystem.read (request.handle, readBuffer, (size_t) wanted, got);

    if (! problem.empty())
        return failure (request, problem);

    if (faults.corruptOffset && *faults.corruptOffset < (juce::int64) got)
        readBuffer[(size_t) *faults.corruptOffset] ^= 0xFF;

    return FrameBuilder (MessageId::fileReadResponse)
               .int32 (request.serial).int64 (0).int32 ((juce::int32) got).bytes (readBuffer, got).getFrame();
}

std::string RequestHandler::writeBlock (const DecodedRequest& request, const Faults& faults)
{
    const auto count = (size_t) request.count;

    if (! faults.corruptOffset || *faults.corruptOffset >= request.count)
        return fileSystem.write (request.handle, request.data, count);

    // A device that stores one byte wrong and still reports success.
    juce::HeapBlock<juce::uint8> corrupted (count);
    std::memcpy (corrupted, request.data, count);
    corrupted[(size_t) *faults.corruptOffset] ^= 0xFF;
    return fileSystem.write (request.handle, corrupted, count);
}

juce::MemoryBlock RequestHandler::answerProperty (const DecodedRequest& request)
{
    FrameBuilder builder (MessageId::getPropertyResponse);
    builder.int32 (request.serial).int16 (request.propertyId);

    for (const auto& property : getIntegerProperties())
        if (property.first == request.propertyId)
            return builder.int32 (property.second).getFrame();

    for (const auto& property : getTextProperties())
        if (property.first == request.propertyId)
            return addText (builder, property.second).getFrame();

    return failure (request, "No property " + std::to_string (request.propertyId));
}

juce::MemoryBlock RequestHandler::answerProperties (const DecodedRequest& request)
{
    FrameBuilder builder (MessageId::getPropertiesResponse);
    builder.int32 (request.serial).int16 ((int) getIntegerProperties().size());

    for (const auto& property : getIntegerProperties())
        builder.int16 (property.first).int32 (property.second);

    builder.int16 ((int) getTextProperties().size());

    for (const auto& property : getTextProperties())
        addText (builder.int16 (property.first), property.second);

    return builder.getFrame();
}

juce::MemoryBlock RequestHandler::stockResponse (int messageId, const DecodedRequest& request) const
{
    FrameBuilder builder ((juce::uint16) messageId);
    builder.int32 (request.serial);

    switch (messageId)
    {
        case MessageId::whoAmIResponse:
            builder.int16 (identity.familyId).int16 (identity.deviceId)
                   .int16 (identity.protocolVersion).int16 (identity.firmwareVersion);
            addText (builder, identity.firstText);
            addText (builder, identity.secondText);
            break;

        case MessageId::failureResponse:
            addText (builder, "Refused");
            break;

        case MessageId::fileSystemEntryInfoResponse:
            builder.boolean (true);
            addText (builder, DeviceFileSystem::getName (request.path))
                .boolean (false).int64 (0).boolean (false).boolean (false)
                .dateTime (0, 0, 0, 0, 0).dateTime (0, 0, 0, 0, 0).dateTime (0, 0, 0, 0, 0);
            break;

        case MessageId::fileOpenResponse:        builder.int64 (-1).int64 (0); break;
        case MessageId::fileReadResponse:        builder.int64 (0).int32 (0); break;
        case MessageId::folderContentsResponse:  builder.int32 (0).int32 (0); break;
        case MessageId::getPropertiesResponse:   builder.int16 (0).int16 (0); break;
        case MessageId::processLaunchResponse:   builder.int64 (1); break;
        case MessageId::getPropertyResponse:     builder.int16 (0).int32 (0); break;
        default:                                 break;
    }

    if (auto frame = frameWithinLimit (builder))
        return *frame;

    return failure (request, "Answer too large");
}

juce::MemoryBlock RequestHandler::failure (const DecodedRequest& request, const std::string& text) const
{
    std::fprintf (stderr, "device-simulator: %s serial=%d refused: %s\n",
                  getKindName (request.kind), (int) request.serial, quoteForLog (text).c_str());

    // The text is cut to what one frame can carry (a path may be that long).
    const auto length = juce::jmin (text.size(), maxPayload - 8);
    return FrameBuilder (MessageId::failureResponse).int32 (request.serial).rawText (text.data(), length).getFrame();
}

juce::MemoryBlock RequestHandler::successOrFailure (const DecodedRequest& request, const std::string& text) const
{
    if (! text.empty())
        return failure (request, text);

    return FrameBuilder (MessageId::successResponse).int32 (request.serial).getFrame();
}
