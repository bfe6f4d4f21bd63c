#include "app/Settings.h"

namespace
{
juce::ApplicationProperties& properties()
{
    static juce::ApplicationProperties applicationProperties;
    static bool configured = false;

    if (! configured)
    {
        applicationProperties.setStorageParameters (Settings::storageOptions());
        configured = true;
    }

    return applicationProperties;
}

juce::PropertiesFile* userSettings()
{
    return properties().getUserSettings();
}
} // namespace

juce::PropertiesFile::Options Settings::storageOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "KX9ManufacturingUSBUtility";
    options.filenameSuffix = "properties";
    options.folderName = "zem";
    options.millisecondsBeforeSaving = 500;
    options.storageFormat = juce::PropertiesFile::storeAsXML;

   #if JUCE_LINUX || JUCE_BSD
    // The framework would use ~/zem; settings belong in the user's config folder.
    const auto configHome = juce::SystemStats::getEnvironmentVariable ("XDG_CONFIG_HOME", {});
    const auto configFolder = juce::File::isAbsolutePath (configHome) ? juce::File (configHome)
                                                                      : juce::File ("~/.config");
    options.folderName = configFolder.getChildFile ("zem").getFullPathName();
   #endif

    return options;
}

void Settings::open()
{
    properties();
}

void Settings::close()
{
    properties().closeFiles();
}

juce::String Settings::get (const juce::String& key)
{
    if (auto* file = userSettings())
        return file->getValue (key, {});

    return {};
}

void Settings::set (const juce::String& key, const juce::String& value)
{
    if (auto* file = userSettings())
        file->setValue (key, value);
}

void Settings::setAndSave (const juce::String& key, const juce::String& value)
{
    if (auto* file = userSettings())
    {
        file->setValue (key, value);
        file->saveIfNeeded();
    }
}
