#pragma once

#include <juce_core/juce_core.h>

/** The message ids of the protocol. 0x0000-0x7FFF are requests and their responses,
    0x8000-0x8006 the device's own notifications. */
namespace MessageId
{
    constexpr juce::uint16 whoAmIRequest                 = 0x0000;
    constexpr juce::uint16 whoAmIResponse                = 0x0001;
    constexpr juce::uint16 successResponse               = 0x0002;
    constexpr juce::uint16 failureResponse               = 0x0003;
    constexpr juce::uint16 fileSystemEntryInfoRequest    = 0x0004;
    constexpr juce::uint16 fileSystemEntryInfoResponse   = 0x0005;
    constexpr juce::uint16 fileSystemEntryCreateRequest  = 0x0007;
    constexpr juce::uint16 fileSystemEntryMoveRequest    = 0x0008;
    constexpr juce::uint16 fileSystemEntryDeleteRequest  = 0x0009;
    constexpr juce::uint16 fileOpenRequest               = 0x000A;
    constexpr juce::uint16 fileOpenResponse              = 0x000B;
    constexpr juce::uint16 fileReadRequest               = 0x000C;
    constexpr juce::uint16 fileReadResponse              = 0x000D;
    constexpr juce::uint16 fileWriteRequest              = 0x000E;
    constexpr juce::uint16 fileSeekRequest               = 0x000F;
    constexpr juce::uint16 fileCloseRequest              = 0x0010;
    constexpr juce::uint16 folderContentsRequest         = 0x0011;
    constexpr juce::uint16 folderContentsResponse        = 0x0012;
    constexpr juce::uint16 getPropertiesRequest          = 0x0013;
    constexpr juce::uint16 getPropertiesResponse         = 0x0014;
    constexpr juce::uint16 processLaunchResponse         = 0x0018;
    constexpr juce::uint16 getPropertyRequest            = 0x001A;
    constexpr juce::uint16 getPropertyResponse           = 0x001B;

    constexpr juce::uint16 processTerminatedNotification = 0x8000;
    constexpr juce::uint16 unhandledNotification1        = 0x8001;
    constexpr juce::uint16 eventNotification             = 0x8002;
    constexpr juce::uint16 unhandledNotification5        = 0x8005;
    constexpr juce::uint16 propertyChangedNotification   = 0x8006;
}

/** Property ids 0x8000 to 0x8018 carry a text value; every other id an int32. */
constexpr bool isTextPropertyId (juce::uint16 propertyId) noexcept
{
    return propertyId >= 0x8000 && propertyId <= 0x8018;
}

/** The most file data one read or write request carries: 8169 bytes and the 16 bytes of
    fixed fields fill the 8185-byte payload limit. */
constexpr juce::uint32 maxFileBlockSize = 8169;
