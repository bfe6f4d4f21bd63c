#pragma once

#include "transport/SerialPort.h"

/** The meaning of SerialPortSettings' numeric codes, shared by both native layers. */
namespace serial
{
enum class Parity { none, odd, even, space, mark };
enum class StopBits { one, oneAndAHalf, two };
enum class FlowControl { none, hardwareHandshake, xonXoff };

struct LineSettings
{
    juce::int32 baudRate = 115200;
    juce::int32 dataBits = 8;
    Parity parity = Parity::none;
    StopBits stopBits = StopBits::one;
    FlowControl flowControl = FlowControl::none;
};

/** Translates the program's codes; codes outside the documented ones mean none / one. */
LineSettings decodeSettings (const SerialPortSettings& settings) noexcept;

/** The Win32 DCB fields that configure sets, in Win32's own numbering. Every DCB field
    not named here is left zero. Kept free of <windows.h> so the mapping is checked on
    every platform. */
struct DcbValues
{
    juce::uint32 dcbLength = 28;
    juce::uint32 baudRate = 0;
    juce::uint8 byteSize = 0;
    juce::uint8 parity = 0;          // NOPARITY 0, ODDPARITY 1, EVENPARITY 2, MARKPARITY 3, SPACEPARITY 4
    juce::uint8 stopBits = 0;        // ONESTOPBIT 0, ONE5STOPBITS 1, TWOSTOPBITS 2
    bool binary = true;
    bool parityCheck = false;        // fParity
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    juce::uint8 dtrControl = 0;      // DTR_CONTROL_ENABLE 1, DTR_CONTROL_HANDSHAKE 2
    juce::uint8 rtsControl = 0;      // RTS_CONTROL_ENABLE 1, RTS_CONTROL_HANDSHAKE 2
    bool outX = false;
    bool inX = false;
    juce::uint16 xonLimit = 2048;
    juce::uint16 xoffLimit = 512;
};

DcbValues makeDcbValues (const SerialPortSettings& settings) noexcept;
} // namespace serial
