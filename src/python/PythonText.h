#pragma once

#include <juce_core/juce_core.h>
#include <pybind11/pybind11.h>

/** Device texts as Python strings: bytes that aren't UTF-8 become surrogate escapes, as
    os.fsdecode gives them, and go back to the device as the same bytes. */
pybind11::str toPython (const juce::String& deviceText);
juce::String fromPython (const pybind11::handle& text);

/** A host path (str, bytes or os.PathLike) as the host names it. */
juce::String localPathFromPython (const pybind11::handle& path);
