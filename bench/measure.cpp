#include "measure.h"

#include <psapi.h>
#include <shellapi.h>

double nowMs() {
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

// Wine 8.0 fills these from /proc/<pid>/status: the peak working set is VmHWM, a true peak,
// but the "peak" pagefile usage is the current RssAnon + VmSwap. On Windows both are peaks.
bool peakMemory(HANDLE process, PeakMemory *out) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters))
        return false;
    out->workingSetMiB = counters.PeakWorkingSetSize / 1048576.0;
    out->pagefileMiB = counters.PeakPagefileUsage / 1048576.0;
    return true;
}

std::vector<std::wstring> arguments() {
    int count = 0;
    wchar_t **list = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> out;
    for (int i = 1; list && i < count; i++)
        out.push_back(list[i]);
    LocalFree(list);
    return out;
}

std::wstring ownFolder() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}
