#pragma once

#include <juce_data_structures/juce_data_structures.h>

/** The user settings file: "KX9ManufacturingUSBUtility.properties" (XML) in the folder
    "zem" of the user's application data (%APPDATA% on Windows, $XDG_CONFIG_HOME or
    ~/.config on Linux). Used on the message thread. When the folder can't be written,
    the settings live in memory only. */
namespace Settings
{
    /** The storage parameters: file name, folder, XML, 500 ms delay before saving. */
    juce::PropertiesFile::Options storageOptions();

    /** Sets the storage parameters; the file is opened on first use. */
    void open();

    /** Saves pending changes and closes the file (before the message manager goes). */
    void close();

    /** The value of a key, empty when absent. */
    juce::String get (const juce::String& key);

    /** Stores a value and saves the file at once if anything changed. */
    void setAndSave (const juce::String& key, const juce::String& value);

    /** Stores a value; the file is saved after the usual delay or at close. */
    void set (const juce::String& key, const juce::String& value);
}
