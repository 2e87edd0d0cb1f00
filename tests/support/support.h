// What the tests, the demonstration and the benchmark share: folder trees written as short
// descriptions, a model of the sweep's rules, and a driver of the real program.
//
// A description lists entries separated by spaces, "/" between names, a folder ending in "/".
// Its marks follow a colon: "h" hidden, "s" system, "l" a link to a folder outside every tree
// that always holds a file and a folder. "a/b/ a/f c/:h": a folder a holding the folder b and
// the file f, and a hidden folder c.
#pragma once

#include <windows.h>

#include <string>

#include "resources/ids.h"

bool onWine();
// A new empty folder under the temporary folder.
std::wstring newRoot();
// Makes the described entries below root (files empty); false if one could not be made.
bool makeTree(const std::wstring &root, const std::wstring &description);
// What is below root, described in path order; "-" when root itself is gone.
std::wstring readTree(const std::wstring &root);
void removeTree(const std::wstring &root);
// This many folders, each in one made before it, a file in one in fileEvery; with marks, a
// quarter of them hidden, system or links.
std::wstring randomTree(unsigned seed, int folders, int fileEvery, bool marks);
// A sweep's counters and what it left of root: "visited 3, removed 1: a/ a/f".
std::wstring outcome(int visited, int removed, const std::wstring &root);
// The same line as the rules give it, for the described tree and filters off (true: such
// folders are entered) or on.
std::wstring model(const std::wstring &description, bool system, bool hidden);

// Starts a command line in folder dir (under Wine, a Linux program, of which it gets no handle),
// then waits until path is there, or with present false, gone.
bool runUntil(std::wstring command, const std::wstring &dir, const std::wstring &path,
              bool present);

// Calls done every step ms until it answers true, for at most ms; its last answer.
template <typename Done> bool poll(Done done, DWORD ms, DWORD step = 20) {
    for (DWORD start = GetTickCount(); !done(); Sleep(step)) {
        if (GetTickCount() - start >= ms)
            return false;
    }
    return true;
}

// The real tovrith.exe, beside this executable, driven from another process as a user would.
// Every wait has a bound, so a caller can fail but never hang.
struct Program {
    PROCESS_INFORMATION process;
    HWND main;
};

enum { MESSAGE_TEXT = 0xFFFF }; // a message box's text

std::wstring programPath();
// Starts the program and waits for its main window; false when it does not come.
bool start(Program *program);
// Closes the main window and returns the exit code; ends a program that does not end.
DWORD stop(Program *program);
// Waits for a visible window of the program that holds the control `id`.
HWND waitWindow(const Program &program, int id, DWORD ms = 15000);
// Sends to a control (id 0: the window), giving up after 5 s rather than hang.
DWORD_PTR send(HWND window, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
std::wstring text(HWND window, int id);
// A click: WM_COMMAND posted with the control's id (a posted BM_CLICK is sometimes lost).
void press(HWND window, int id);
// The control of the program that has the keyboard focus.
HWND focus(const Program &program);
// Waits for a message box, answers it with the button (0: the Enter key) and waits for it to go;
// returns "caption: text".
std::wstring answer(const Program &program, int button, DWORD ms = 15000);
