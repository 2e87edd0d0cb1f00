// Shared by the tests, the demonstration and the benchmark: folder trees written as short
// descriptions, a model of the sweep's rules, and a driver of the real program.
// A description lists entries separated by spaces, "/" between names, a folder ending in "/",
// its marks after a colon: "h" hidden, "s" system, "l" a link to a folder beside the tree that
// always holds a file and a folder. "a/b/ a/f c/:h" is a folder a holding the folder b and the
// file f, and a hidden folder c.
#pragma once

#include <windows.h>

#include <string>

#include "resources/ids.h"

const bool onWine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != NULL;
std::wstring newRoot(); // a new empty folder under the temporary folder
bool makeTree(const std::wstring &root, const std::wstring &description); // files are empty
std::wstring readTree(const std::wstring &root); // in path order, no marks; "-": root is gone
// Removes root and what the tests put beside it: root-target (links' target), root-moved.
void removeTree(const std::wstring &root);
// Makes letter ("Q:") a drive whose root is folder; with folder empty, takes it away.
bool defineDrive(const std::wstring &letter, const std::wstring &folder);
// This many folders, each in one made before it, a file in one in fileEvery; with marks, a
// quarter of them hidden, system or links.
std::wstring randomTree(unsigned seed, int folders, int fileEvery, bool marks);
// A sweep's counters and what it left: "visited 3, removed 1: a/ a/f".
std::wstring outcome(int visited, int removed, const std::wstring &left);
// The outcome the rules give for the described tree, the filters off (true: entered) or on.
std::wstring model(const std::wstring &description, bool system, bool hidden);
// Starts a command line in folder dir, then waits until path is there or, with present false,
// gone: under Wine a Linux program gives no handle to wait on.
bool runUntil(std::wstring command, const std::wstring &dir, const std::wstring &path,
              bool present);

// Calls done every step ms until it answers true, for at most ms; its last answer.
template <typename Done> bool poll(Done done, DWORD ms, DWORD step = 20) {
    for (DWORD start = GetTickCount(); !done(); Sleep(step))
        if (GetTickCount() - start >= ms)
            return false;
    return true;
}

// Puts function in an import slot: the program's code linked in then calls it instead.
template <typename F> bool take(F *slot, F function) {
    DWORD was;
    const bool writable = VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was);
    *slot = function;
    return writable;
}

// The real tovrith.exe, beside this executable, driven from another process as a user would.
// Every wait has a bound; a program that stops answering holds a call until the test's own bound.
struct Program {
    PROCESS_INFORMATION process;
    HWND main;
};

enum { MESSAGE_TEXT = 0xFFFF }; // a message box's text

bool start(Program *program); // false when no main window comes
DWORD stop(Program *program); // closes the main window; the exit code
HWND waitWindow(const Program &program, int id, DWORD ms = 15000); // one holding control id
std::wstring text(HWND window, int id); // of a control, or with id 0 of the window
void press(HWND window, int id);        // WM_COMMAND posted: a posted BM_CLICK is sometimes lost
std::wstring buttons(HWND box);         // those a message box offers: "OK", "Yes No"
// Waits for a message box and clicks the button, once it is there; waits for the box to go.
// "caption: text", then " [buttons: ...]" unless it offers Yes and No for a Yes or a No, else OK.
std::wstring answer(const Program &program, int button, DWORD ms = 15000);
