// Drives the real tovrith.exe from another process, as a user would: finds its windows by their
// controls, types, ticks, presses and reads. Every wait has a bound, so a caller can fail but
// never hang.
#pragma once

#include <windows.h>

#include <string>

#include "resources/ids.h"
#include "tree.h"

// The control that holds a message box's text.
enum { MESSAGE_TEXT = 0xFFFF };

struct Program {
    PROCESS_INFORMATION process;
    HWND main;
};

// tovrith.exe, beside this executable.
std::wstring programPath();
// Starts the program and waits for its main window; false when it does not come.
bool start(Program *program);
// Closes the main window and returns the exit code; ends a process that does not end by itself.
DWORD stop(Program *program);

// Waits for a visible window of the program that holds the control `id`; NULL when none came.
HWND waitWindow(const Program &program, int id, DWORD ms = 15000);
// Sends to a control, giving up after 5 s rather than hang on a window that does not answer.
DWORD_PTR send(HWND window, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
std::wstring text(HWND window, int id);
void setText(HWND window, int id, const std::wstring &text);
// A click: WM_COMMAND posted with the control's id (a posted BM_CLICK is sometimes lost).
void press(HWND window, int id);
// Waits for a message box of the program, answers it with the button and waits for it to go;
// returns its text, "" when none came.
std::wstring answer(const Program &program, int button, DWORD ms = 15000);
