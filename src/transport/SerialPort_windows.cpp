// SerialPort on a Windows COM port, opened for exclusive, overlapped access.
#include "transport/SerialLineSettings.h"
#include "transport/WindowsHeaders.h"

static_assert (sizeof (DCB) == 28, "DCBlength is the size of the structure");

namespace
{
DCB makeDcb (const serial::DcbValues& values) noexcept
{
    DCB dcb;
    memset (&dcb, 0, sizeof (dcb));   // every field not set below stays zero
    dcb.DCBlength = values.dcbLength;
    dcb.BaudRate = values.baudRate;
    dcb.ByteSize = values.byteSize;
    dcb.Parity = values.parity;
    dcb.StopBits = values.stopBits;
    dcb.fBinary = values.binary ? 1 : 0;
    dcb.fParity = values.parityCheck ? 1 : 0;
    dcb.fOutxCtsFlow = values.outxCtsFlow ? 1 : 0;
    dcb.fOutxDsrFlow = values.outxDsrFlow ? 1 : 0;
    dcb.fDtrControl = values.dtrControl;
    dcb.fRtsControl = values.rtsControl;
    dcb.fOutX = values.outX ? 1 : 0;
    dcb.fInX = values.inX ? 1 : 0;
    dcb.XonLim = values.xonLimit;
    dcb.XoffLim = values.xoffLimit;
    return dcb;
}

bool isRunningUnderWine()
{
    const auto ntdll = GetModuleHandleA ("ntdll.dll");
    return ntdll != nullptr && GetProcAddress (ntdll, "wine_get_version") != nullptr;
}
} // namespace

SerialPort::~SerialPort()
{
    close();
}

bool SerialPort::open (const juce::String& portName)
{
    close();
    // Ports above COM9 open only by their device path, so the tool adds it; a name already
    // given in that form (\\.\COM10) is taken as it is.
    devicePath = portName.startsWith ("\\\\.\\") ? portName : "\\\\.\\" + portName;

    const auto opened = CreateFileA (devicePath.toRawUTF8(), GENERIC_READ | GENERIC_WRITE,
                                     0,   // not shared: the port is ours alone
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);

    if (opened == INVALID_HANDLE_VALUE)
        return false;

    // A read returns at once with whatever is buffered, or with the first byte to arrive,
    // or with nothing after 10 s of silence. Writes have no time-out.
    COMMTIMEOUTS timeouts;
    memset (&timeouts, 0, sizeof (timeouts));
    GetCommTimeouts (opened, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 10000;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;

    // Wine (8) doesn't know that combination and waits for a full buffer instead; a 1 ms
    // interval time-out gives the same behaviour there: the read ends as soon as the line
    // is quiet after the first byte, or after 10 s without one.
    if (isRunningUnderWine())
    {
        timeouts.ReadIntervalTimeout = 1;
        timeouts.ReadTotalTimeoutMultiplier = 0;
    }

    SetCommTimeouts (opened, &timeouts);

    SetCommMask (opened, EV_RXCHAR);
    SetupComm (opened, 8192, 8192);

    handle = opened;
    return true;
}

bool SerialPort::configure (const SerialPortSettings& settings)
{
    const auto port = handle.load();

    if (port == closedHandle)
        return false;

    auto dcb = makeDcb (serial::makeDcbValues (settings));
    return SetCommState (port, &dcb) != FALSE;
}

void SerialPort::close()
{
    const auto port = handle.exchange (closedHandle);

    if (port == closedHandle)
        return;

    // No lease can be taken from here on. The write lock waits for the calls in progress
    // (each returns at once); the reads and writes they left pending are cancelled, so the
    // threads wake and see the closed port, before the handle's value is given back.
    const juce::ScopedWriteLock noCallInProgress (ioLock);
    CancelIoEx (port, nullptr);
    CloseHandle (port);
}

SerialPort::IoLease::IoLease (SerialPort& portToUse) noexcept : port (portToUse)
{
    // close() marks the port closed before it takes the write lock, so a lease taken in
    // time holds the lock before close() waits for it, and a later one sees the closed
    // handle (or the lock refused while close() has it).
    if (! port.ioLock.tryEnterRead())
        return;

    leased = port.handle.load();

    if (leased == closedHandle)
        port.ioLock.exitRead();
}

SerialPort::IoLease::~IoLease()
{
    if (leased != closedHandle)
        port.ioLock.exitRead();
}
