// Folder trees for tests, written as short descriptions: entries separated by spaces, "/" between
// names, a folder ending in "/", a file not. Marks follow a folder's "/" after a colon: "h" hidden,
// "s" system, "l" a link to a folder outside every tree, which always holds a file and a folder.
// "a/b/ a/f c/:h" is a folder a holding the folder b and the file f, and a hidden folder c.
#pragma once

#include <windows.h>

#include <string>

bool onWine();
// A new empty folder under the temporary folder.
std::wstring newRoot();
// Makes the described entries below root (files empty); false if one could not be made.
bool makeTree(const std::wstring &root, const std::wstring &description);
// What is below root, described, in path order; "-" when root itself is gone.
std::wstring readTree(const std::wstring &root);
// Removes root and everything below it; links go as links, their target stays.
void removeTree(const std::wstring &root);
// The folder every link points to.
std::wstring linkTarget();
// A random tree of this many folders, each in one made before it, a file in one folder in
// fileEvery; with marks, a quarter of the folders are hidden, system or links.
std::wstring randomTree(unsigned seed, int folders, int fileEvery, bool marks);

// A sweep's counters and what it left, as one line: "visited 3, removed 1: a/ a/f".
std::wstring outcome(int visited, int removed, const std::wstring &root);
// The line the rules give for the described tree, with these filters off (true: such folders
// are entered) or on.
std::wstring model(const std::wstring &description, bool system, bool hidden);

// Starts a command line (a Linux program, under Wine) in folder dir, then waits until path is
// there or, with present false, gone: Wine gives no handle to wait on for a Linux program.
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
