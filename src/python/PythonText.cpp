#include "PythonText.h"
#include "base/DeviceText.h"

namespace py = pybind11;

py::str toPython (const juce::String& deviceText)
{
    const auto bytes = DeviceText::encode (deviceText);
    return py::reinterpret_steal<py::str> (PyUnicode_DecodeUTF8 (static_cast<const char*> (bytes.getData()),
                                                                 (Py_ssize_t) bytes.getSize(), "surrogateescape"));
}

juce::String fromPython (const py::handle& text)
{
    const auto bytes = py::reinterpret_steal<py::bytes> (PyUnicode_AsEncodedString (text.ptr(), "utf-8", "surrogateescape"));

    if (! bytes)
        throw py::error_already_set();

    const auto view = std::string_view (bytes);
    return DeviceText::decode (reinterpret_cast<const juce::uint8*> (view.data()), view.size());
}

juce::String localPathFromPython (const py::handle& path)
{
    const auto bytes = py::module_::import ("os").attr ("fsencode") (path).cast<std::string>();
    return juce::String::fromUTF8 (bytes.data(), (int) bytes.size());
}
