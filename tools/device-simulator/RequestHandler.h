#pragma once

#include "DeviceFileSystem.h"
#include "FaultRules.h"

/** What the simulated device answers to WhoAmIRequest. */
struct SimulatedIdentity
{
    int familyId = 0x0012;
    int deviceId = 0x0003;
    int protocolVersion = 0x0100;
    int firmwareVersion = 0x0204;
    std::string firstText = "Device simulator";
    std::string secondText = "serial 00000001";
};

/** Carries out requests on the device's file system and builds the answer frames, bent as
    the faults of the request ask. */
class RequestHandler
{
public:
    RequestHandler (DeviceFileSystem& fileSystem, const SimulatedIdentity& identity);

    /** The whole answer frame for the request. */
    juce::MemoryBlock answer (const DecodedRequest& request, const Faults& faults);

    /** The fixed property table: integer-valued ids and text-valued ids. */
    static const std::vector<std::pair<juce::uint16, juce::int32>>& getIntegerProperties();
    static const std::vector<std::pair<juce::uint16, std::string>>& getTextProperties();

private:
    juce::MemoryBlock carryOut (const DecodedRequest& request, const Faults& faults);
    juce::MemoryBlock answerEntryInfo (const DecodedRequest& request, const Faults& faults);
    juce::MemoryBlock answerFolderContents (const DecodedRequest& request, const Faults& faults);
    juce::MemoryBlock answerOpen (const DecodedRequest& request, const Faults& faults);
    juce::MemoryBlock answerRead (const DecodedRequest& request, const Faults& faults);
    std::string writeBlock (const DecodedRequest& request, const Faults& faults);
    juce::MemoryBlock answerProperty (const DecodedRequest& request);
    juce::MemoryBlock answerProperties (const DecodedRequest& request);
    juce::MemoryBlock stockResponse (int messageId, const DecodedRequest& request) const;

    /** A FailureResponse, logged on standard error. */
    juce::MemoryBlock failure (const DecodedRequest& request, const std::string& text) const;

    /** SuccessResponse when text is empty, the failure otherwise. */
    juce::MemoryBlock successOrFailure (const DecodedRequest& request, const std::string& text) const;

    DeviceFileSystem& fileSystem;
    SimulatedIdentity identity;
    juce::HeapBlock<juce::uint8> readBuffer;
};
