// Runs the progress window in this process, on the test's thread, while a driver thread acts as
// the user: it finds the window and its message boxes, presses, types, reads and answers them.
// Every wait has a bound; when one is hit the driver closes everything and the run says why.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "progress/progress.h"

// A message box as the user saw it.
struct SeenBox {
    HWND owner = NULL;
    std::wstring caption, text;
    UINT icon = 0;            // MB_ICONWARNING or MB_ICONINFORMATION when it shows that icon
    std::wstring folderShown; // what the progress window's control 5009 held meanwhile
    bool workerEnded = false; // whether the worker thread had ended when the box came
    double atMs = 0;          // first seen, in ms since the run began
};

// A message that reached the progress window: retrieved from its queue (timer ticks, posted
// commands and keys, also those meant for its controls) or sent to it (by the dialog manager).
struct SeenMessage {
    UINT message;
    WPARAM wParam;
    bool sent;
    double atMs;
};

struct RunLog {
    INT_PTR result = -1;
    std::string failure;  // what did not come within its bound; empty when everything did
    double openedMs = -1; // the progress window first seen on screen
    HWND progress = NULL;
    HWND progressOwner = NULL;
    bool ownerEnabledWhileOpen = true;
    std::vector<SeenBox> boxes;
    std::vector<std::wstring> shown; // every text put into control 5009, in order
    std::vector<SeenMessage> messages;
    std::vector<UINT> timerPeriods; // of the timers the window set on itself, in ms
    int workerStarts = 0;           // worker threads the window asked for
    bool workerEndedAtReturn = false;
    DWORD workerExitCode = STILL_ACTIVE;
    // Handles the program still holds on the run's stop event and worker thread once the
    // window has returned (0 when it closed them; -1 when they could not be counted).
    int eventHandlesLeft = -1, workerHandlesLeft = -1;

    int count(UINT message, WPARAM wParam) const;
    // Index of the first such message, or -1.
    int first(UINT message, WPARAM wParam) const;
};

struct RunOptions {
    DWORD boundMs = 30000;        // for the whole run
    DWORD holdBoxMs = 0;          // each message box stays up this long before it is answered
    bool failWorkerStart = false; // the window's request for a worker thread fails
};

struct Session;

// The user's side, handed to a script that runs on the driver thread.
class Driver {
  public:
    explicit Driver(Session *session) : s(session) {}
    // Waits for the progress window to be on screen; NULL, with the failure noted, if it is not.
    HWND waitProgress(DWORD boundMs = 10000);
    // Polls pred each millisecond; false, with the failure noted, on the bound or the run's end.
    bool waitFor(const char *what, DWORD boundMs, const std::function<bool()> &pred);
    // A click on the control: WM_COMMAND with its id (a posted BM_CLICK is sometimes lost
    // under Wine).
    void press(int id);
    void post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // A key pressed and released while the progress window has the keyboard focus.
    void key(WORD vk, bool alt = false);
    // The worker thread of this run (a handle of the driver's own), NULL before it exists.
    HANDLE worker();
    // Stops the worker at its next attribute read (after its stop check, before it touches the
    // folder) until released; false, with the failure noted, when it does not get there.
    bool holdWorker(DWORD boundMs = 10000);
    void releaseWorker();
    // Looks for message boxes for this long.
    void watch(DWORD ms);
    size_t boxesSeen();
    double nowMs();
    std::vector<SeenMessage> messages();
    void fail(const std::string &what);

    // After the script: answers every box until the window has ended, and closes everything
    // when the run outlives its bound.
    void finish();

  private:
    void lookForBoxes();
    void answer(HWND box);
    Session *s;
    HWND progress = NULL;
};

// Opens the window for the task on this thread and returns what was seen once it has ended.
RunLog runWindow(DatosTarea *task, const std::function<void(Driver &)> &script,
                 const RunOptions &options = RunOptions());

std::string narrow(const std::wstring &text);
// The run in a few lines, for assertion messages.
std::string describe(const RunLog &log);
