// The platform-independent half of SerialPort: construction and the meaning of the line
// settings. Opening, configuring and closing live in SerialPort_windows.cpp and
// SerialPort_posix.cpp.
#include "transport/SerialLineSettings.h"

SerialPort::SerialPort (const juce::String& portName, const SerialPortSettings& settings)
{
    open (portName);
    configure (settings);
}

bool SerialPort::isOpen() const noexcept
{
    return handle.load() != closedHandle;
}

namespace serial
{
LineSettings decodeSettings (const SerialPortSettings& settings) noexcept
{
    LineSettings line;
    line.baudRate = settings.baudRate;
    line.dataBits = settings.dataBits;

    switch (settings.parity)
    {
        case 1:  line.parity = Parity::odd; break;
        case 2:  line.parity = Parity::even; break;
        case 3:  line.parity = Parity::space; break;
        case 4:  line.parity = Parity::mark; break;
        default: line.parity = Parity::none; break;
    }

    switch (settings.stopBits)
    {
        case 1:  line.stopBits = StopBits::oneAndAHalf; break;
        case 2:  line.stopBits = StopBits::two; break;
        default: line.stopBits = StopBits::one; break;
    }

    switch (settings.flowControl)
    {
        case 1:  line.flowControl = FlowControl::hardwareHandshake; break;
        case 2:  line.flowControl = FlowControl::xonXoff; break;
        default: line.flowControl = FlowControl::none; break;
    }

    return line;
}

DcbValues makeDcbValues (const SerialPortSettings& settings) noexcept
{
    enum : juce::uint8 { noParity = 0, oddParity = 1, evenParity = 2, markParity = 3, spaceParity = 4 };
    enum : juce::uint8 { oneStopBit = 0, oneAndAHalfStopBits = 1, twoStopBits = 2 };
    enum : juce::uint8 { controlEnable = 1, controlHandshake = 2 };

    const auto line = decodeSettings (settings);

    DcbValues dcb;
    dcb.baudRate = (juce::uint32) line.baudRate;
    dcb.byteSize = (juce::uint8) (line.dataBits & 0xff);

    switch (line.parity)
    {
        case Parity::odd:   dcb.parity = oddParity; break;
        case Parity::even:  dcb.parity = evenParity; break;
        case Parity::space: dcb.parity = spaceParity; break;
        case Parity::mark:  dcb.parity = markParity; break;
        case Parity::none:  dcb.parity = noParity; break;
    }

    dcb.parityCheck = line.parity != Parity::none;

    switch (line.stopBits)
    {
        case StopBits::oneAndAHalf: dcb.stopBits = oneAndAHalfStopBits; break;
        case StopBits::two:         dcb.stopBits = twoStopBits; break;
        case StopBits::one:         dcb.stopBits = oneStopBit; break;
    }

    switch (line.flowControl)
    {
        case FlowControl::hardwareHandshake:
            dcb.outxCtsFlow = true;
            dcb.outxDsrFlow = true;
            dcb.dtrControl = controlHandshake;
            dcb.rtsControl = controlHandshake;
            break;

        case FlowControl::xonXoff:
            dcb.outX = true;
            dcb.inX = true;
            dcb.dtrControl = controlEnable;
            dcb.rtsControl = controlEnable;
            break;

        case FlowControl::none:
            dcb.dtrControl = controlEnable;
            dcb.rtsControl = controlEnable;
            break;
    }

    return dcb;
}
} // namespace serial
