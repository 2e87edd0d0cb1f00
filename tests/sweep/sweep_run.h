// Runs of the sweep engine for tests: a zeroed task record with a real manual-reset stop event,
// swept on the calling thread or on a worker thread, and the state of a tree before and after.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "sweep/sweep.h"

struct Outcome {
    DWORD exitCode;
    int visited;
    int removed;
};

bool operator==(const Outcome &a, const Outcome &b);
void PrintTo(const Outcome &o, std::ostream *os);

// One run's record: both filters off unless asked, no windows, the stop event not raised.
struct Task {
    explicit Task(const std::wstring &root, bool visitSystem = true, bool visitHidden = true);
    ~Task();
    DatosTarea *operator->() {
        return record.get();
    }
    Outcome outcome(DWORD exitCode) const;
    std::unique_ptr<DatosTarea> record;
};

// Sweeps root on a worker thread; a sweep that overruns a minute is stopped and fails the test.
Outcome sweep(const std::wstring &root, bool visitSystem = true, bool visitHidden = true);

// Sweeps on a new thread with the process's default stack, as the program does. When it has not
// ended within the bound, raises the stop event, waits for the end and returns false.
bool sweepOnThread(Task &task, DWORD timeoutMs, Outcome *outcome);

// Everything below root by path relative to it: "<dir>", "<link>", or a file's content.
typedef std::map<std::wstring, std::string> Snapshot;
Snapshot snapshot(const std::wstring &root);
