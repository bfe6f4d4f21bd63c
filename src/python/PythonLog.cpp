#include "PythonLog.h"
#include "base/DeviceText.h"

#include <pybind11/pybind11.h>

namespace
{
thread_local PythonLog::Capture* currentCapture = nullptr;
}

PythonLog::Capture::Capture() : previous (currentCapture)   { currentCapture = this; }
PythonLog::Capture::~Capture()                              { currentCapture = previous; }

PythonLog& PythonLog::instance()
{
    static PythonLog log;
    return log;
}

void PythonLog::log (juce::String text)
{
    if (currentCapture != nullptr)
        currentCapture->lines.add (text);

    const std::lock_guard<std::mutex> guard (lock);
    waiting.push_back (std::move (text));
}

void PythonLog::flush()
{
    std::vector<juce::String> lines;

    {
        const std::lock_guard<std::mutex> guard (lock);
        lines.swap (waiting);
    }

    if (lines.empty())
        return;

    auto logger = pybind11::module_::import ("logging").attr ("getLogger") ("usb_file_utility");

    for (const auto& line : lines)
        logger.attr ("info") (pybind11::str (DeviceText::toDisplay (line).toStdString()));
}
