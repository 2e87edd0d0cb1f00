#include "call_costs.h"

#include <mmsystem.h>
#include <stdio.h>

#include "measure.h"

namespace {

// Time spent in each platform call the sweep makes, and how often it was made.
struct Cost {
    const char *name;
    double ms;
    long calls;
};

enum { kWait, kAttributes, kRemoveFails, kRemoveWorks, kListOpen, kListNext, kListClose, kCount };

Cost costs[kCount] = {{"stop-check wait", 0, 0},
                      {"GetFileAttributesW", 0, 0},
                      {"RemoveDirectoryW fails", 0, 0},
                      {"RemoveDirectoryW works", 0, 0},
                      {"FindFirstFileExW", 0, 0},
                      {"FindNextFileW", 0, 0},
                      {"FindClose", 0, 0}};

HANDLE never;

void add(int which, double since) {
    costs[which].ms += nowMs() - since;
    costs[which].calls++;
}

// The engine's order of calls on one folder, each timed: wait, attributes, removal, listing,
// children, second removal. prefixed is the path with the extended-length prefix.
void visit(const std::wstring &prefixed) {
    double t = nowMs();
    WaitForSingleObject(never, 2);
    add(kWait, t);
    t = nowMs();
    GetFileAttributesW(prefixed.c_str() + 4);
    add(kAttributes, t);
    t = nowMs();
    if (RemoveDirectoryW(prefixed.c_str())) {
        add(kRemoveWorks, t);
        return;
    }
    add(kRemoveFails, t);
    WIN32_FIND_DATAW entry;
    t = nowMs();
    HANDLE list = FindFirstFileExW((prefixed + L"\\*").c_str(), FindExInfoStandard, &entry,
                                   FindExSearchNameMatch, NULL, 0);
    add(kListOpen, t);
    if (list == INVALID_HANDLE_VALUE)
        return;
    for (;;) {
        std::wstring name = entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
            visit(prefixed + L"\\" + name);
        t = nowMs();
        BOOL more = FindNextFileW(list, &entry);
        add(kListNext, t);
        if (!more)
            break;
    }
    t = nowMs();
    FindClose(list);
    add(kListClose, t);
    t = nowMs();
    add(RemoveDirectoryW(prefixed.c_str()) ? kRemoveWorks : kRemoveFails, t);
}

} // namespace

int measureCallCosts(const std::wstring &root) {
    never = CreateEventW(NULL, TRUE, FALSE, NULL);
    timeBeginPeriod(1);
    double start = nowMs();
    visit(L"\\\\?\\" + root);
    double total = nowMs() - start;
    timeEndPeriod(1);
    CloseHandle(never);
    long folders = costs[kWait].calls;
    printf("%-24s %9s %10s %12s\n", "call", "calls", "mean us", "ms/folder");
    double accounted = 0;
    for (const Cost &c : costs) {
        accounted += c.ms;
        printf("%-24s %9ld %10.1f %12.3f\n", c.name, c.calls, c.calls ? c.ms * 1000 / c.calls : 0,
               folders ? c.ms / folders : 0);
    }
    printf("%-24s %9ld %10s %12.3f\n", "all, walk included", folders, "",
           folders ? total / folders : 0);
    printf("%-24s %9s %10s %12.3f\n", "not in a call", "", "",
           folders ? (total - accounted) / folders : 0);
    return 0;
}
