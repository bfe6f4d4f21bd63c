// The C++ half of the Python package usb_file_utility; see usb_file_utility/__init__.py.

#include "PythonDevice.h"
#include "PythonLog.h"
#include "PythonText.h"
#include "device/PortChoice.h"

namespace py = pybind11;

PYBIND11_MODULE (_usb_file_utility, m)
{
    ILogger::install (&PythonLog::instance());

    m.def ("ports", []
    {
        juce::Array<AvailablePort> found;

        {
            py::gil_scoped_release release;
            found = PortChoice::listPorts();
        }

        PythonLog::instance().flush();
        py::list result;
        const auto portType = py::module_::import ("usb_file_utility._types").attr ("Port");

        for (const auto& port : found)
            result.append (portType (toPython (port.portName), toPython (port.description), toPython (port.slot)));

        return result;
    });

    const auto device = [] (const py::handle& text) { return fromPython (text); };
    const auto local = [] (const py::handle& path) { return localPathFromPython (path); };

    py::class_<PythonDevice> (m, "_Device")
        .def (py::init ([] (const py::object& port) { return new PythonDevice (port.is_none() ? juce::String() : fromPython (port)); }),
              py::arg ("port") = py::none())
        .def_property_readonly ("port", [] (const PythonDevice& d) { return toPython (d.getPortName()); })
        .def ("close", &PythonDevice::close)
        .def ("identify", &PythonDevice::identify)
        .def ("ls", [=] (PythonDevice& d, const py::handle& path, bool longListing) { return d.list (device (path), longListing); })
        .def ("get", [=] (PythonDevice& d, const py::handle& remote, const py::handle& to, const py::object& progress)
              { d.get (device (remote), local (to), progress); })
        .def ("put", [=] (PythonDevice& d, const py::handle& from, const py::handle& remote, bool verify, const py::object& progress)
              { d.put (local (from), device (remote), verify, progress); })
        .def ("get_tree", [=] (PythonDevice& d, const py::handle& remote, const py::handle& to, const py::object& progress)
              { d.getTree (device (remote), local (to), progress); })
        .def ("put_tree", [=] (PythonDevice& d, const py::handle& from, const py::handle& remote, bool verify, const py::object& progress)
              { d.putTree (local (from), device (remote), verify, progress); })
        .def ("rm", [=] (PythonDevice& d, const py::handle& path) { d.remove (device (path)); })
        .def ("mkdir", [=] (PythonDevice& d, const py::handle& path) { d.makeFolder (device (path)); })
        .def ("mv", [=] (PythonDevice& d, const py::handle& from, const py::handle& to) { d.move (device (from), device (to)); })
        .def ("read_bytes", [=] (PythonDevice& d, const py::handle& path) { return d.readBytes (device (path)); })
        .def ("update", [=] (PythonDevice& d, const py::handle& image, bool force, bool verify)
              { return d.update (local (image), force, verify); })
        .def ("next_notification", &PythonDevice::nextNotification);
}
