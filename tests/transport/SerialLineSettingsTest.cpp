#include "transport/SerialLineSettings.h"

#include <gtest/gtest.h>

namespace
{
SerialPortSettings withCodes (int parity, int stopBits, int flowControl)
{
    SerialPortSettings settings;
    settings.parity = parity;
    settings.stopBits = stopBits;
    settings.flowControl = flowControl;
    return settings;
}
} // namespace

TEST (SerialLineSettings, TheProgramsSettingsGiveTheExpectedDcb)
{
    const auto dcb = serial::makeDcbValues (SerialPortSettings());

    EXPECT_EQ (dcb.dcbLength, 28u);
    EXPECT_EQ (dcb.baudRate, 115200u);
    EXPECT_EQ (dcb.byteSize, 8);
    EXPECT_EQ (dcb.parity, 0);
    EXPECT_FALSE (dcb.parityCheck);
    EXPECT_EQ (dcb.stopBits, 0);
    EXPECT_TRUE (dcb.binary);
    EXPECT_TRUE (dcb.outxCtsFlow);
    EXPECT_TRUE (dcb.outxDsrFlow);
    EXPECT_EQ (dcb.dtrControl, 2);
    EXPECT_EQ (dcb.rtsControl, 2);
    EXPECT_FALSE (dcb.outX);
    EXPECT_FALSE (dcb.inX);
    EXPECT_EQ (dcb.xonLimit, 2048);
    EXPECT_EQ (dcb.xoffLimit, 512);
}

TEST (SerialLineSettings, ParityCodesSpaceAndMarkAreTheReverseOfWin32s)
{
    struct Case { int code; serial::Parity parity; int win32; };

    for (auto c : { Case { 0, serial::Parity::none, 0 }, Case { 1, serial::Parity::odd, 1 },
                    Case { 2, serial::Parity::even, 2 }, Case { 3, serial::Parity::space, 4 },
                    Case { 4, serial::Parity::mark, 3 }, Case { 7, serial::Parity::none, 0 },
                    Case { -1, serial::Parity::none, 0 } })
    {
        const auto settings = withCodes (c.code, 0, 0);
        EXPECT_EQ (serial::decodeSettings (settings).parity, c.parity) << c.code;
        EXPECT_EQ (serial::makeDcbValues (settings).parity, c.win32) << c.code;
        EXPECT_EQ (serial::makeDcbValues (settings).parityCheck, c.win32 != 0) << c.code;
    }
}

TEST (SerialLineSettings, StopBitCodes)
{
    struct Case { int code; serial::StopBits stopBits; int win32; };

    for (auto c : { Case { 0, serial::StopBits::one, 0 }, Case { 1, serial::StopBits::oneAndAHalf, 1 },
                    Case { 2, serial::StopBits::two, 2 }, Case { 5, serial::StopBits::one, 0 } })
    {
        const auto settings = withCodes (0, c.code, 0);
        EXPECT_EQ (serial::decodeSettings (settings).stopBits, c.stopBits) << c.code;
        EXPECT_EQ (serial::makeDcbValues (settings).stopBits, c.win32) << c.code;
    }
}

TEST (SerialLineSettings, FlowControlCodes)
{
    const auto xonXoff = serial::makeDcbValues (withCodes (0, 0, 2));
    EXPECT_EQ (serial::decodeSettings (withCodes (0, 0, 2)).flowControl, serial::FlowControl::xonXoff);
    EXPECT_TRUE (xonXoff.outX && xonXoff.inX);
    EXPECT_FALSE (xonXoff.outxCtsFlow || xonXoff.outxDsrFlow);
    EXPECT_EQ (xonXoff.dtrControl, 1);
    EXPECT_EQ (xonXoff.rtsControl, 1);

    for (int code : { 0, 3, -2 })
    {
        const auto none = serial::makeDcbValues (withCodes (0, 0, code));
        EXPECT_EQ (serial::decodeSettings (withCodes (0, 0, code)).flowControl, serial::FlowControl::none);
        EXPECT_FALSE (none.outX || none.inX || none.outxCtsFlow || none.outxDsrFlow) << code;
        EXPECT_EQ (none.dtrControl, 1) << code;
        EXPECT_EQ (none.rtsControl, 1) << code;
    }
}

TEST (SerialLineSettings, DataBitsTakeTheLowByteAndBaudIsCopied)
{
    SerialPortSettings settings;
    settings.dataBits = 0x107;
    settings.baudRate = 9600;

    EXPECT_EQ (serial::makeDcbValues (settings).byteSize, 7);
    EXPECT_EQ (serial::makeDcbValues (settings).baudRate, 9600u);
}
