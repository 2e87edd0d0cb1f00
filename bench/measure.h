// Clocks, memory figures and argument access shared by the benchmark programs. Figures are
// printed as name=value pairs on one line for bench/run to read.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Milliseconds on the performance counter.
double nowMs();

struct PeakMemory {
    double workingSetMiB;
    double pagefileMiB;
};

// Peak working set and peak private (pagefile-backed) bytes of the process.
bool peakMemory(HANDLE process, PeakMemory *out);

// The program's arguments, without its own name.
std::vector<std::wstring> arguments();

// The folder that holds this executable, with a trailing backslash.
std::wstring ownFolder();
