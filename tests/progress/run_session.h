// What a run of the progress window shares between the test's thread (which runs the window
// and the hooks that watch it) and the driver thread (which acts as the user).
#pragma once

#include <atomic>
#include <mutex>
#include <set>

#include "window_run.h"

struct Session {
    RunLog *log;
    RunOptions options;
    DWORD uiThread;
    HWND owner;
    LARGE_INTEGER start, frequency;
    std::mutex lock; // guards log->shown and log->messages, written by the hooks
    std::function<void(Driver &)> script;
    HANDLE worker = NULL; // the driver's own handles on the worker and the stop event
    HANDLE event = NULL;
    DWORD workerId = 0;
    // The worker's hold: 0 off, 1 armed, 2 holding; `held` is raised when it stops there.
    std::atomic<int> hold{0};
    HANDLE held = CreateEventW(NULL, TRUE, FALSE, NULL);
    HANDLE release = CreateEventW(NULL, TRUE, FALSE, NULL);
    std::atomic<bool> uiDone{false};
    std::set<HWND> boxesSeen;

    ~Session() {
        CloseHandle(held);
        CloseHandle(release);
    }

    double nowMs() {
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return (t.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
    }
};

// The progress window (it has the Cancel and current-folder controls).
bool isProgress(HWND w);
