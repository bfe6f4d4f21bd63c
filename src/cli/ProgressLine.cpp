#include "cli/ProgressLine.h"
#include "cli/Console.h"
#include "cli/Platform.h"
#include "cli/TerminalText.h"

ProgressLine::ProgressLine (Console& c)
    : console (c)
{
}

ProgressLine::~ProgressLine()
{
    console.clearProgressLine();
}

bool ProgressLine::isCancelled()
{
    return Platform::wasInterrupted();
}

void ProgressLine::changed (bool important)
{
    if (console.showsProgress() && isDueForRedraw (important))
        console.setProgressLine (TerminalText::escapeControls (describe().toStdString()));
}
