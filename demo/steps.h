// One run of the real program, step by step, as a user would go through it, with a screenshot
// of each step. Every step has a bound; a step that does not come in time fails the run.
#pragma once

#include <string>

#include "driver.h"
#include "sample_tree.h"

struct Demo {
    std::wstring exe;   // the program to drive
    std::wstring shots; // where the .bmp screenshots go
    SampleTree tree;
    Running program;
    HWND confirm = NULL;
    std::wstring failure; // the step that failed and why
};

// Prints a line (UTF-8) and flushes it, so the log is whole even if the run is cut short.
void say(const std::wstring &line);

bool showMainWindow(Demo *demo);
bool confirmRun(Demo *demo);
bool watchProgress(Demo *demo);
bool readSummary(Demo *demo);
bool closeProgram(Demo *demo);
