#include "FaultRules.h"
#include "DeviceFileSystem.h"

#include "protocol/FrameBuilder.h"
#include "protocol/MessageIds.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>

namespace
{
using Words = std::vector<std::string>;

// babble keeps its frames in memory: 6 bytes each, at most 60 MB.
constexpr juce::int64 maxBabbleFrames = 10000000;

int hexDigitValue (char c) noexcept
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/** Splits a rule into words at blanks. Double quotes group blanks into a word ("" is an
    empty word); \", \\ and \xHH work inside and outside quotes. */
bool splitWords (const std::string& text, Words& words, std::string& error)
{
    std::string word;
    bool inWord = false, quoted = false;

    for (size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];

        if (! quoted && (c == ' ' || c == '\t' || c == '\r' || c == '\n'))
        {
            if (inWord)
                words.push_back (word);

            word.clear();
            inWord = false;
            continue;
        }

        inWord = true;

        if (c == '"')
        {
            quoted = ! quoted;
        }
        else if (c != '\\')
        {
            word += c;
        }
        else if (i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\'))
        {
            word += text[++i];
        }
        else if (i + 3 < text.size() && text[i + 1] == 'x'
                 && hexDigitValue (text[i + 2]) >= 0 && hexDigitValue (text[i + 3]) >= 0)
        {
            word += (char) (hexDigitValue (text[i + 2]) * 16 + hexDigitValue (text[i + 3]));
            i += 3;
        }
        else
        {
            error = "a backslash must start \\\", \\\\ or \\xHH";
            return false;
        }
    }

    if (quoted)
    {
        error = "a quote is not closed";
        return false;
    }

    if (inWord)
        words.push_back (word);

    return true;
}

bool parseHexBytes (const Words& words, size_t first, juce::MemoryBlock& bytes, std::string& error)
{
    for (size_t i = first; i < words.size(); ++i)
    {
        const auto& word = words[i];

        for (size_t k = 0; k < word.size(); k += 2)
        {
            const int high = hexDigitValue (word[k]);
            const int low = k + 1 < word.size() ? hexDigitValue (word[k + 1]) : -1;

            if (high < 0 || low < 0)
            {
                error = "\"" + word + "\" is not an even number of hex digits";
                return false;
            }

            const auto byte = (char) (high * 16 + low);
            bytes.append (&byte, 1);
        }
    }

    return true;
}

/** A notification frame: terminated PID CODE | event ID ARGUMENT | property PATH ID VALUE |
    ID [HEX...]. */
bool parseNotification (const Words& words, size_t first, juce::MemoryBlock& frame, std::string& error)
{
    if (first >= words.size())
    {
        error = "notify needs a kind: terminated, event, property or an id";
        return false;
    }

    const auto& kind = words[first];
    const auto argumentCount = words.size() - first - 1;
    juce::int64 a = 0, b = 0;

    auto expectArguments = [&] (size_t count, const char* usage)
    {
        if (argumentCount == count)
            return true;

        error = std::string ("usage: notify ") + usage;
        return false;
    };

    if (kind == "terminated")
    {
        if (! expectArguments (2, "terminated PROCESS-ID EXIT-CODE")
            || ! parseInteger (words[first + 1], LLONG_MIN, LLONG_MAX, a, error)
            || ! parseInteger (words[first + 2], INT_MIN, INT_MAX, b, error))
            return false;

        frame = FrameBuilder (MessageId::processTerminatedNotification).int64 (a).int32 ((juce::int32) b).getFrame();
        return true;
    }

    if (kind == "event")
    {
        if (! expectArguments (2, "event EVENT-ID ARGUMENT")
            || ! parseInteger (words[first + 1], INT_MIN, INT_MAX, a, error)
            || ! parseInteger (words[first + 2], LLONG_MIN, LLONG_MAX, b, error))
            return false;

        frame = FrameBuilder (MessageId::eventNotification).int32 ((juce::int32) a).int64 (b).getFrame();
        return true;
    }

    if (kind == "property")
    {
        if (! expectArguments (3, "property PATH|- PROPERTY-ID VALUE"))
            return false;

        FrameBuilder builder (MessageId::propertyChangedNotification);
        Words path;

        if (words[first + 1] != "-")
        {
            std::string list = words[first + 1] + ",";

            for (size_t start = 0, comma; (comma = list.find (',', start)) != std::string::npos; start = comma + 1)
                path.push_back (list.substr (start, comma - start));
        }

        if (path.size() > 255)
        {
            error = "a property path has at most 255 entries";
            return false;
        }

        builder.byte ((int) path.size());

        for (const auto& entry : path)
        {
            if (! parseInteger (entry, 0, 0xFFFF, a, error))
                return false;

            builder.int16 ((int) a);
        }

        if (! parseInteger (words[first + 2], 0, 0xFFFF, a, error))
            return false;

        builder.int16 ((int) a);
        const auto& value = words[first + 3];

        if (isTextPropertyId ((juce::uint16) a))
            builder.rawText (value.data(), value.size());
        else if (parseInteger (value, INT_MIN, INT_MAX, b, error))
            builder.int32 ((juce::int32) b);
        else
            return false;

        frame = builder.getFrame();
        return true;
    }

    juce::MemoryBlock payload;

    if (! parseInteger (kind, 0, 0xFFFF, a, error) || ! parseHexBytes (words, first + 1, payload, error))
    {
        error = "notify needs terminated, event, property or an id with hex payload bytes: " + error;
        return false;
    }

    frame = FrameBuilder ((juce::uint16) a).bytes (payload.getData(), payload.getSize()).getFrame();
    return true;
}

bool parseResponseId (const std::string& text, int& id, std::string& error)
{
    static const std::pair<const char*, juce::uint16> names[] = {
        { "WhoAmIResponse",              MessageId::whoAmIResponse },
        { "SuccessResponse",             MessageId::successResponse },
        { "FailureResponse",             MessageId::failureResponse },
        { "FileSystemEntryInfoResponse", MessageId::fileSystemEntryInfoResponse },
        { "FileOpenResponse",            MessageId::fileOpenResponse },
        { "FileReadResponse",            MessageId::fileReadResponse },
        { "FolderContentsResponse",      MessageId::folderContentsResponse },
        { "GetPropertiesResponse",       MessageId::getPropertiesResponse },
        { "ProcessLaunchResponse",       MessageId::processLaunchResponse },
        { "GetPropertyResponse",         MessageId::getPropertyResponse },
    };

    for (const auto& name : names)
    {
        if (text == name.first)
        {
            id = name.second;
            return true;
        }
    }

    juce::int64 number = 0;

    if (! parseInteger (text, 0, 0xFFFF, number, error))
    {
        error = "answer-as needs a response class name or a message id, not " + text;
        return false;
    }

    id = (int) number;
    return true;
}

/** "N", "N-" or "N-M": which of the requests a rule selects counts from 1. */
bool parseOrdinals (const std::string& text, juce::int64& first, juce::int64& last, std::string& error)
{
    const auto dash = text.find ('-');

    if (! parseInteger (text.substr (0, dash), 1, LLONG_MAX, first, error))
        return false;

    if (dash == std::string::npos)
        last = first;
    else if (dash + 1 == text.size())
        last = LLONG_MAX;
    else if (! parseInteger (text.substr (dash + 1), first, LLONG_MAX, last, error))
        return false;

    return true;
}

bool parseAction (const Words& words, size_t at, bool atStart, std::function<void (Faults&)>& apply, std::string& error)
{
    if (at >= words.size())
    {
        error = "the rule has no action";
        return false;
    }

    const auto& name = words[at];
    const Words arguments (words.begin() + (long) at + 1, words.end());
    juce::int64 a = 0, b = 5;

    auto expectArguments = [&] (size_t least, size_t most, const char* usage)
    {
        if (arguments.size() >= least && arguments.size() <= most)
            return true;

        error = std::string ("usage: ") + usage;
        return false;
    };

    if (atStart && name != "raw" && name != "notify")
    {
        error = "a start rule can only send raw bytes or notifications";
        return false;
    }

    if (name == "raw" || name == "notify")
    {
        size_t first = 0;
        bool before = false;

        if (! arguments.empty() && (arguments[0] == "before" || arguments[0] == "after"))
        {
            before = arguments[0] == "before";
            first = 1;
        }

        juce::MemoryBlock bytes;

        if (name == "raw" ? ! parseHexBytes (arguments, first, bytes, error)
                          : ! parseNotification (arguments, first, bytes, error))
            return false;

        if (bytes.isEmpty())
        {
            error = "raw needs hex bytes";
            return false;
        }

        apply = [before, bytes] (Faults& f) { (before ? f.before : f.after).push_back (bytes); };
        return true;
    }

    if (name == "babble")
    {
        size_t first = 0;
        bool before = false;

        if (! arguments.empty() && (arguments[0] == "before" || arguments[0] == "after"))
        {
            before = arguments[0] == "before";
            first = 1;
        }

        const auto usage = "babble [before|after] COUNT [ID]";
        juce::int64 id = MessageId::successResponse;

        if (arguments.size() < first + 1 || arguments.size() > first + 2)
        {
            error = std::string ("usage: ") + usage;
            return false;
        }

        if (! parseInteger (arguments[first], 1, maxBabbleFrames, a, error)
            || (arguments.size() == first + 2 && ! parseInteger (arguments[first + 1], 0, 0xFFFF, id, error)))
            return false;

        // COUNT frames of a header only: the id and a payload length of 0.
        const auto header = FrameBuilder ((juce::uint16) id).getFrame();
        juce::MemoryBlock bytes ((size_t) a * header.getSize());

        for (size_t i = 0; i < (size_t) a; ++i)
            bytes.copyFrom (header.getData(), (int) (i * header.getSize()), header.getSize());

        apply = [before, bytes] (Faults& f) { (before ? f.before : f.after).push_back (bytes); };
        return true;
    }

    if (name == "delay")
    {
        if (! expectArguments (1, 1, "delay MILLISECONDS") || ! parseInteger (arguments[0], 0, INT_MAX, a, error))
            return false;

        apply = [a] (Faults& f) { f.delayMs = (int) a; };
        return true;
    }

    if (name == "drop")
    {
        if (! expectArguments (0, 0, "drop"))
            return false;

        apply = [] (Faults& f) { f.drop = true; };
        return true;
    }

    if (name == "fail")
    {
        std::string text = arguments.empty() ? "Refused" : arguments[0];

        for (size_t i = 1; i < arguments.size(); ++i)
            text += " " + arguments[i];

        apply = [text] (Faults& f) { f.failureText = text; };
        return true;
    }

    if (name == "answer-as")
    {
        int id = 0;

        if (! expectArguments (1, 1, "answer-as CLASS|ID") || ! parseResponseId (arguments[0], id, error))
            return false;

        apply = [id] (Faults& f) { f.answerId = id; };
        return true;
    }

    if (name == "serial" || name == "serial-offset")
    {
        if (! expectArguments (1, 1, "serial NUMBER, serial-offset NUMBER") || ! parseInteger (arguments[0], INT_MIN, INT_MAX, a, error))
            return false;

        if (name == "serial")
            apply = [a] (Faults& f) { f.serial = (juce::int32) a; };
        else
            apply = [a] (Faults& f) { f.serialOffset = (juce::int32) a; };

        return true;
    }

    if (name == "chunk" || name == "split")
    {
        if (! expectArguments (1, 2, "chunk SIZE [GAP-MS], split OFFSET [GAP-MS]")
            || ! parseInteger (arguments[0], 1, INT_MAX, a, error)
            || (arguments.size() > 1 && ! parseInteger (arguments[1], 0, INT_MAX, b, error)))
            return false;

        if (name == "chunk")
            apply = [a, b] (Faults& f) { f.pieceSize = (int) a; f.splitOffset = 0; f.pieceGapMs = (int) b; };
        else
            apply = [a, b] (Faults& f) { f.splitOffset = (int) a; f.pieceSize = 0; f.pieceGapMs = (int) b; };

        return true;
    }

    if (name == "truncate" || name == "read-limit" || name == "size")
    {
        const juce::int64 least = name == "size" ? LLONG_MIN : 0;

        if (! expectArguments (1, 1, "truncate BYTES, read-limit BYTES, size BYTES")
            || ! parseInteger (arguments[0], least, name == "truncate" ? INT_MAX : LLONG_MAX, a, error))
            return false;

        if (name == "truncate")
            apply = [a] (Faults& f) { f.truncateTo = (int) a; };
        else if (name == "read-limit")
            apply = [a] (Faults& f) { f.readLimit = a; };
        else
            apply = [a] (Faults& f) { f.size = a; };

        return true;
    }

    if (name == "corrupt")
    {
        if (! expectArguments (1, 1, "corrupt OFFSET") || ! parseInteger (arguments[0], 0, LLONG_MAX, a, error))
            return false;

        apply = [a] (Faults& f) { f.corruptOffset = a; };
        return true;
    }

    if (name == "add-files" || name == "add-folders")
    {
        if (! expectArguments (1, SIZE_MAX, "add-files NAME..., add-folders NAME..."))
            return false;

        const bool files = name == "add-files";
        apply = [files, arguments] (Faults& f)
        {
            auto& names = files ? f.extraFiles : f.extraFolders;
            names.insert (names.end(), arguments.begin(), arguments.end());
        };
        return true;
    }

    error = "unknown action \"" + name + "\"";
    return false;
}
} // namespace

bool parseInteger (const std::string& text, juce::int64 least, juce::int64 most, juce::int64& value, std::string& error)
{
    const bool negative = ! text.empty() && text[0] == '-';
    const size_t start = (! text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    const bool isHex = text.compare (start, 2, "0x") == 0 || text.compare (start, 2, "0X") == 0;
    const auto digits = text.substr (start + (isHex ? 2 : 0));
    char* end = nullptr;
    errno = 0;
    const auto magnitude = digits.empty() || digits[0] == '-' || digits[0] == '+'
                               ? 0ULL : std::strtoull (digits.c_str(), &end, isHex ? 16 : 10);

    if (digits.empty() || end == nullptr || *end != 0 || errno != 0
        || magnitude > (negative ? (unsigned long long) LLONG_MAX + 1 : (unsigned long long) LLONG_MAX))
    {
        error = "\"" + text + "\" is not a number";
        return false;
    }

    value = negative ? (juce::int64) (0 - magnitude) : (juce::int64) magnitude;

    if (value < least || value > most)
    {
        error = text + " is outside " + std::to_string (least) + ".." + std::to_string (most);
        return false;
    }

    return true;
}

bool FaultRules::addRule (const std::string& text, std::string& error)
{
    Words words;

    if (! splitWords (text, words, error))
        return false;

    if (words.empty())
    {
        error = "the rule is empty";
        return false;
    }

    Rule rule;
    size_t next = 1;

    if (words[0] == "start")
    {
        rule.atStart = true;
    }
    else
    {
        const auto hash = words[0].find ('#');
        const auto kindName = words[0].substr (0, hash);
        RequestKind kind;

        if (kindName != "*" && ! findKindByName (kindName, kind))
        {
            error = "\"" + kindName + "\" is not a request class (WhoAmIRequest, FileReadRequest, ...), * or start";
            return false;
        }

        if (kindName != "*")
            rule.kind = kind;

        if (hash != std::string::npos && ! parseOrdinals (words[0].substr (hash + 1), rule.firstOrdinal, rule.lastOrdinal, error))
            return false;

        if (words.size() > 1 && words[1].compare (0, 5, "path=") == 0)
        {
            auto pattern = words[1].substr (5);
            std::string normalised;

            if (! pattern.empty() && pattern.back() != '*' && DeviceFileSystem::normalise (pattern, normalised))
                pattern = normalised;

            rule.pathPattern = pattern;
            next = 2;
        }
    }

    if (! parseAction (words, next, rule.atStart, rule.apply, error))
        return false;

    rules.push_back (std::move (rule));
    return true;
}

bool FaultRules::addScript (const std::string& path, std::string& error)
{
    std::ifstream script (path);

    if (! script)
    {
        error = "can't read " + path;
        return false;
    }

    std::string line;

    for (int number = 1; std::getline (script, line); ++number)
    {
        const auto first = line.find_first_not_of (" \t\r");

        if (first == std::string::npos || line[first] == '#')
            continue;

        if (! addRule (line, error))
        {
            error = path + ":" + std::to_string (number) + ": " + error;
            return false;
        }
    }

    return true;
}

std::vector<juce::MemoryBlock> FaultRules::getStartOutput() const
{
    std::vector<juce::MemoryBlock> output;

    for (const auto& rule : rules)
    {
        if (! rule.atStart)
            continue;

        Faults faults;
        rule.apply (faults);
        output.insert (output.end(), faults.before.begin(), faults.before.end());
        output.insert (output.end(), faults.after.begin(), faults.after.end());
    }

    return output;
}

bool FaultRules::matchesPath (const Rule& rule, const DecodedRequest& request, const std::string& handlePath) const
{
    if (! rule.pathPattern)
        return true;

    const auto& pattern = *rule.pathPattern;
    const bool isPrefix = ! pattern.empty() && pattern.back() == '*';

    for (const auto* candidate : { &request.path, &request.toPath, &handlePath })
    {
        if (candidate->empty())
            continue;

        std::string path;

        if (! DeviceFileSystem::normalise (*candidate, path))
            path = *candidate;

        const auto prefixLength = pattern.size() - 1;

        if (isPrefix ? path.compare (0, prefixLength, pattern, 0, prefixLength) == 0 : path == pattern)
            return true;
    }

    return false;
}

Faults FaultRules::match (const DecodedRequest& request, const std::string& handlePath)
{
    Faults faults;

    for (auto& rule : rules)
    {
        if (rule.atStart || (rule.kind && *rule.kind != request.kind) || ! matchesPath (rule, request, handlePath))
            continue;

        ++rule.seen;

        if (rule.seen >= rule.firstOrdinal && rule.seen <= rule.lastOrdinal)
            rule.apply (faults);
    }

    return faults;
}
