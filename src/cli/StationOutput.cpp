#include "cli/StationOutput.h"
#include "cli/Console.h"
#include "cli/TerminalText.h"

#include <cmath>

namespace
{
using Json = nlohmann::ordered_json;

double roundedSeconds (double seconds)
{
    return std::round (seconds * 1000.0) / 1000.0;
}

/** The text in a column of that width; a longer one keeps its end, where port paths differ. */
juce::String column (const juce::String& text, int width)
{
    return text.length() > width ? "~" + text.getLastCharacters (width - 1) : text.paddedRight (' ', width);
}
} // namespace

StationOutput::StationOutput (Console& c, const juce::String& junitPath)
    : console (c),
      junitFile (junitPath.isNotEmpty() ? juce::File::getCurrentWorkingDirectory().getChildFile (junitPath) : juce::File()),
      // A terminal that shows the rows needs no second line per device under them.
      linesPerDevice (! c.isJson() && ! (c.showsProgress() && c.printsToTerminal()))
{
}

StationOutput::Row& StationOutput::rowFor (const DeviceReport& report)
{
    auto& row = rows[report.slot];
    row.port = report.port;
    row.mac = report.macAddress;
    changed = true;
    return row;
}

void StationOutput::printEvent (const char* event, const DeviceReport& report,
                                const std::function<void (Json&)>& more)
{
    if (! console.isJson())
        return;

    Json object;
    object["event"] = event;
    object["slot"] = report.slot.toStdString();
    object["port"] = report.port.toStdString();
    object["mac"] = report.macAddress.isNotEmpty() ? Json (report.macAddress.toStdString()) : Json();
    more (object);
    console.printJson (object);
}

void StationOutput::jobStarting (const DeviceReport& report)
{
    const juce::ScopedLock sl (lock);
    auto& row = rowFor (report);
    row.result = "working";
    row.step.clear();
    row.percent = -1;
}

void StationOutput::deviceIdentified (const DeviceReport& report)
{
    printEvent ("started", report, [&] (Json& object)
    {
        const auto& identity = report.identity;
        object["identity"] = Json { { "familyId", identity.familyId },
                                    { "deviceId", identity.deviceId },
                                    { "protocolVersion", identity.protocolVersion },
                                    { "firmwareVersion", identity.firmwareVersion },
                                    { "firstText", Console::displayText (identity.firstText) },
                                    { "secondText", Console::displayText (identity.secondText) } };
    });
}

void StationOutput::stepStarted (const DeviceReport& report)
{
    const juce::ScopedLock sl (lock);
    auto& row = rowFor (report);
    row.step = report.currentStep;
    row.percent = -1;
}

void StationOutput::stepEnded (const DeviceReport& report)
{
    {
        const juce::ScopedLock sl (lock);
        rowFor (report);
    }

    const auto& step = report.steps.getReference (report.steps.size() - 1);
    printEvent ("step", report, [&] (Json& object)
    {
        object["step"] = Console::displayText (step.name);
        object["ok"] = step.passed;

        if (step.detail.isNotEmpty())
            object["detail"] = step.detail.toStdString();

        object["seconds"] = roundedSeconds (step.seconds);
    });
}

void StationOutput::stepProgress (const DeviceReport& report, double fraction)
{
    const juce::ScopedLock sl (lock);
    auto& row = rows[report.slot];
    const auto percent = (int) (fraction * 100.0);
    changed = changed || percent != row.percent;
    row.percent = percent;
}

void StationOutput::jobFinished (const DeviceReport& report)
{
    {
        const juce::ScopedLock sl (lock);
        auto& row = rowFor (report);
        row.result = report.passed ? "passed" : "failed";
        row.step = report.passed ? juce::String() : report.error;
        row.percent = -1;
        ++(report.passed ? row.passed : row.failed);
        row.lastError = report.error;
        finished.add (report);
        writeJUnit();
    }

    printEvent (report.passed ? "passed" : "failed", report, [&] (Json& object)
    {
        if (! report.passed)
        {
            const auto failedStep = report.steps.isEmpty() ? juce::String() : report.steps.getLast().name;
            object["step"] = Console::displayText (failedStep);
            object["error"] = Console::displayText (report.error);
        }

        object["seconds"] = roundedSeconds (report.seconds);
    });

    if (linesPerDevice)
    {
        console.printLine ((juce::String (report.passed ? "passed" : "failed") + "\t" + report.slot + "\t" + report.port + "\t"
                            + (report.macAddress.isNotEmpty() ? report.macAddress : "-") + "\t"
                            + juce::String (report.seconds, 1) + "\t" + report.error).toStdString());
    }
}

void StationOutput::slotEmptied (const juce::String& slot, const juce::String&)
{
    const juce::ScopedLock sl (lock);

    if (auto row = rows.find (slot); row != rows.end())
    {
        row->second.result = "waiting";
        row->second.step.clear();
        row->second.mac.clear();
        changed = true;
    }
}

void StationOutput::redraw()
{
    if (! console.showsProgress())
        return;

    std::string block;

    {
        const juce::ScopedLock sl (lock);

        if (! changed)
            return;

        changed = false;
        block = (column ("SLOT", 12) + " " + column ("PORT", 16) + " " + column ("MAC", 17) + " "
                + column ("STEP", 20) + " " + column ("%", 4) + " RESULT").toStdString();

        for (const auto& [slot, row] : rows)
        {
            const auto line = column (slot, 12) + " " + column (row.port, 16) + " " + column (row.mac, 17) + " "
                            + column (row.step, 20) + " "
                            + column (row.percent >= 0 ? juce::String (row.percent) : juce::String(), 4) + " "
                            + row.result;
            block += "\n" + TerminalText::escapeControls (TerminalText::rawBytes (line.substring (0, 100)));
        }
    }

    console.setProgressLine (block);
}

void StationOutput::printSummary()
{
    console.clearProgressLine();

    if (console.isJson())
        return;

    const juce::ScopedLock sl (lock);
    int passed = 0, failed = 0;

    for (const auto& [slot, row] : rows)
    {
        passed += row.passed;
        failed += row.failed;
    }

    console.printLine ("Station: " + std::to_string (passed) + " passed, " + std::to_string (failed) + " failed");

    for (const auto& [slot, row] : rows)
    {
        auto line = "  " + slot.paddedRight (' ', 12) + " " + juce::String (row.passed) + " passed, "
                  + juce::String (row.failed) + " failed";

        if (row.failed > 0)
            line += "  (last: " + row.lastError + ")";

        console.printLine (line.toStdString());
    }
}

void StationOutput::writeJUnit()
{
    if (junitFile == juce::File())
        return;

    juce::XmlElement suite ("testsuite");
    int failures = 0;
    double seconds = 0;

    for (const auto& report : finished)
    {
        auto* testCase = suite.createNewChildElement ("testcase");
        testCase->setAttribute ("classname", "station." + report.slot);
        testCase->setAttribute ("name", report.slot + (report.port != report.slot ? " " + report.port : juce::String())
                                        + (report.macAddress.isNotEmpty() ? " " + report.macAddress : juce::String()));
        testCase->setAttribute ("time", roundedSeconds (report.seconds));
        testCase->setAttribute ("timestamp", report.startTime.toISO8601 (true));

        if (! report.passed)
        {
            auto* failure = testCase->createNewChildElement ("failure");
            failure->setAttribute ("message", report.error);
            failure->addTextElement (report.error);
            ++failures;
        }

        seconds += report.seconds;
    }

    suite.setAttribute ("name", "usb-file-utility station");
    suite.setAttribute ("tests", finished.size());
    suite.setAttribute ("failures", failures);
    suite.setAttribute ("errors", 0);
    suite.setAttribute ("time", roundedSeconds (seconds));

    // Written to a temporary file and moved over the report, so that a station killed at
    // any moment leaves a whole report.
    if (! suite.writeTo (junitFile) && junitOk)
    {
        junitOk = false;
        console.error ("Can't write the JUnit report " + junitFile.getFullPathName());
    }
}
