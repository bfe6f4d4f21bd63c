#pragma once

#include "Requests.h"

#include <juce_core/juce_core.h>

#include <functional>
#include <optional>

/** Parses a decimal or 0x-hexadecimal integer, optionally signed, that must lie within
    [least, most]. Returns false, with the reason in error, otherwise. */
bool parseInteger (const std::string& text, juce::int64 least, juce::int64 most, juce::int64& value, std::string& error);

/** What the rules that select one request ask for, merged in rule order: a later setting
    replaces an earlier one, lists are added to. */
struct Faults
{
    int delayMs = 0;
    bool drop = false;                       ///< the request is lost: not carried out, not answered
    std::optional<std::string> failureText;  ///< refused with this text, not carried out
    int answerId = -1;                       ///< answered with a stock response of this id, not carried out
    std::optional<juce::int32> serial;       ///< the serial number the answer carries
    juce::int32 serialOffset = 0;            ///< added to the request's serial number otherwise
    int pieceSize = 0;                       ///< the answer goes in pieces of this many bytes
    int splitOffset = 0;                     ///< the answer goes in two pieces, cut here
    int pieceGapMs = 5;                      ///< the pause between pieces
    int truncateTo = -1;                     ///< only the first bytes of the answer go out
    std::optional<juce::int64> readLimit;    ///< at most this many bytes per FileReadResponse
    std::optional<juce::int64> size;         ///< the size reported for the path
    std::optional<juce::int64> corruptOffset;   ///< this byte of a write's or read's data is inverted
    std::vector<std::string> extraFiles, extraFolders;   ///< added to a folder listing
    std::vector<juce::MemoryBlock> before, after;        ///< raw bytes and notifications around the answer
};

/** The fault-injection rules of the command line and the script, one rule a line; the
    grammar is in README.md. A rule selects requests by kind, ordinal and path, and each
    request is counted against every rule as it arrives, so that the same traffic always
    meets the same faults. */
class FaultRules
{
public:
    /** Parses one rule. Returns false, with the reason in error, when it is not valid. */
    bool addRule (const std::string& text, std::string& error);

    /** Reads rules from a file: one a line; blank lines and lines whose first non-blank
        character is '#' are skipped. The error names the line. */
    bool addScript (const std::string& path, std::string& error);

    /** What the "start" rules write, in rule order. */
    std::vector<juce::MemoryBlock> getStartOutput() const;

    /** Counts the request against every rule and merges the actions of the rules that
        select it. handlePath is the path a handle's file was opened with. */
    Faults match (const DecodedRequest& request, const std::string& handlePath);

private:
    struct Rule
    {
        bool atStart = false;
        std::optional<RequestKind> kind;      ///< any kind when empty
        juce::int64 firstOrdinal = 1, lastOrdinal = std::numeric_limits<juce::int64>::max();
        std::optional<std::string> pathPattern;
        juce::int64 seen = 0;                 ///< requests of the rule's kind and path so far
        std::function<void (Faults&)> apply;
    };

    bool matchesPath (const Rule& rule, const DecodedRequest& request, const std::string& handlePath) const;

    std::vector<Rule> rules;
};
