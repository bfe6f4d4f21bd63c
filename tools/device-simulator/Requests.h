#pragma once

#include "protocol/ReceivedMessage.h"

#include <cstdio>
#include <string>
#include <vector>

/** The requests the simulated device understands, and the two kinds of frame it does not
    answer as requests. */
enum class RequestKind
{
    whoAmI,
    entryInfo,
    entryCreate,
    entryMove,
    entryDelete,
    fileOpen,
    fileRead,
    fileWrite,
    fileSeek,
    fileClose,
    folderContents,
    getProperties,
    getProperty,
    unknown,     ///< an id in the request range that no request has; refused
    unexpected   ///< a response or notification id; never answered
};

/** The class name of a request kind, as the request log and the fault rules spell it. */
const char* getKindName (RequestKind kind);

/** The kind whose class name is name; false when no request has that name. */
bool findKindByName (const std::string& name, RequestKind& kind);

/** One frame from the host, decoded field by field. Texts are kept as the bytes that came,
    so that names go back to the host file system unchanged. */
struct DecodedRequest
{
    juce::uint16 messageId = 0;
    RequestKind kind = RequestKind::unknown;
    juce::int32 serial = 0;
    bool malformed = false;                 ///< the frame ended before the request's fields did

    bool isFolder = false;
    std::string path;
    std::string toPath;                     ///< a move's destination
    std::vector<int> flags;                 ///< the constant bytes of create, move and delete
    int access = 0, mode = 0, seekMode = 0;
    juce::int64 handle = 0, position = 0;
    juce::int64 count = 0;                  ///< bytes asked for (read) or carried (write)
    const juce::uint8* data = nullptr;      ///< a write's bytes, inside the frame
    std::vector<juce::uint16> propertyPath;
    juce::uint16 propertyId = 0;

    bool hasHandle() const noexcept;

    /** One line for the request log: class name, serial number and fields. */
    std::string describe() const;
};

/** Decodes a complete frame from the host. data points into the frame, which must outlive
    the result. */
DecodedRequest decodeRequest (ReceivedMessage& frame);

/** A text for a log line: as it is when it is printable UTF-8 without spaces, otherwise in
    double quotes with \", \\ and \xHH escapes. */
std::string quoteForLog (const std::string& bytes);

/** The --log file: one line per request, flushed at once so that a test can read it while
    the simulator runs. */
class RequestLog
{
public:
    ~RequestLog();

    /** Creates or truncates the file. Returns false when it can't be opened. */
    bool open (const std::string& path);

    /** Writes the line when a file is open. */
    void write (const std::string& line);

    bool isOpen() const noexcept { return file != nullptr; }

private:
    std::FILE* file = nullptr;
};
