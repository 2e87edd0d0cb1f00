// Drives the real tovrith.exe from another process, as a user would: finds its windows by caption
// and control ids, types, ticks boxes, presses buttons, reads and answers its message boxes.
// Every wait has a bound, so a caller can fail but never hang.
#pragma once

#include <windows.h>

#include <string>

struct Running {
    HANDLE process = NULL;
    DWORD pid = 0;
    HWND main = NULL; // the main window, once it is up
};

// Starts the program with the given command-line arguments and waits for its main window. On
// false the process may still be running: end it with killProgram.
bool startProgram(const std::wstring &exe, const std::wstring &args, Running *r,
                  DWORD timeoutMs = 20000);

// Waits for a message box of the process (a dialog holding the static text 0xFFFF) that is not
// `except`; NULL on time-out.
HWND waitMessageBox(DWORD pid, DWORD timeoutMs, HWND except = NULL);
std::wstring messageBoxText(HWND box);

// Waits for the progress window of the process (the dialog with the Cancel control 5010).
HWND waitProgressWindow(DWORD pid, DWORD timeoutMs);

// Waits for a dialog of the process that holds a child window with exactly this text (the
// folder picker is found by its title line); NULL on time-out.
HWND waitDialogHolding(DWORD pid, const std::wstring &text, DWORD timeoutMs);

// Waits until the window is destroyed or hidden; false on time-out.
bool waitGone(HWND window, DWORD timeoutMs);

// Waits until the main window takes input again: enabled, with no message box or progress
// window of the process left; false on time-out.
bool waitMainReady(Running *r, DWORD timeoutMs);

// The text of any window, read with a bounded cross-process WM_GETTEXT.
std::wstring windowText(HWND window);
std::wstring controlText(HWND window, int id);
void setControlText(HWND window, int id, const std::wstring &text);
void setCheck(HWND window, int id, bool checked);
bool isChecked(HWND window, int id);

// The control that has the keyboard focus on the GUI thread that owns the window.
HWND focusedControl(HWND window);

// Posts a key press (down and up) or a character to a control of the program. Its dialog loop
// hands posted keyboard messages to the dialog manager, as it does typed keys.
void postKey(HWND control, UINT key);
void postChar(HWND control, wchar_t c);

// Posts WM_COMMAND with the control id (a posted BM_CLICK is sometimes lost under Wine).
void press(HWND window, int id);
void postClose(HWND window);

// Waits for the process to end; false on time-out.
bool waitExit(Running *r, DWORD timeoutMs, DWORD *exitCode);
// Ends the process if still running and closes its handle.
void killProgram(Running *r);

// One whole run from the main window: type the root, set both boxes, Proceed, answer Yes, wait
// for the final message and return its text, then answer it. false (with what happened in
// *summary) when a step did not come within the bound.
bool runOnce(Running *r, const std::wstring &root, bool skipSystem, bool skipHidden,
             std::wstring *summary, DWORD timeoutMs);
