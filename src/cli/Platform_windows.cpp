#include "cli/Platform.h"

#include "transport/WindowsHeaders.h"

#include <atomic>
#include <io.h>
#include <shellapi.h>

namespace
{
std::atomic<bool> interrupted { false };

BOOL WINAPI onConsoleControl (DWORD)
{
    if (interrupted.exchange (true))
        return FALSE;   // the second time: the default handler ends the process

    return TRUE;
}
} // namespace

std::vector<std::string> Platform::arguments (int argc, char** argv)
{
    int count = 0;

    if (auto** wide = CommandLineToArgvW (GetCommandLineW(), &count))
    {
        std::vector<std::string> result;

        for (int i = 0; i < count; ++i)
            result.push_back (juce::String (juce::CharPointer_UTF16 (reinterpret_cast<const juce::CharPointer_UTF16::CharType*> (wide[i]))).toStdString());

        LocalFree (wide);
        return result;
    }

    return std::vector<std::string> (argv, argv + argc);
}

void Platform::setUpConsole()
{
    SetConsoleOutputCP (CP_UTF8);

    // The station's rows are redrawn with cursor movements.
    DWORD mode = 0;
    const auto error = GetStdHandle (STD_ERROR_HANDLE);

    if (GetConsoleMode (error, &mode))
        SetConsoleMode (error, mode | 0x0004 /* ENABLE_VIRTUAL_TERMINAL_PROCESSING */);
}

bool Platform::isTerminal (std::FILE* stream)
{
    return _isatty (_fileno (stream)) != 0;
}

void Platform::catchInterrupts()
{
    SetConsoleCtrlHandler (onConsoleControl, TRUE);
}

bool Platform::wasInterrupted() noexcept
{
    return interrupted.load();
}

bool Platform::copyStandardInput (juce::OutputStream& out)
{
    const auto input = GetStdHandle (STD_INPUT_HANDLE);
    char buffer[65536];

    for (;;)
    {
        DWORD got = 0;

        if (! ReadFile (input, buffer, sizeof (buffer), &got, nullptr))
            return GetLastError() == ERROR_BROKEN_PIPE;   // the writer has closed its end

        if (got == 0)
            return true;

        if (! out.write (buffer, got))
            return false;
    }
}
