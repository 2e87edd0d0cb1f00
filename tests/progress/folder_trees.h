// Trees for runs of the progress window, and counts of what a run left.
#pragma once

#include <set>
#include <string>

// root\gNN\fNNN: `groups` folders of `perGroup` leaves each. Every leaf whose number is a
// multiple of `fileEvery` holds a file (so it stays); 1 puts a file in every leaf, 0 in none.
// Returns how many folders it made, the root included, or -1 when one could not be made.
int makeGrid(const std::wstring &root, int groups, int perGroup, int fileEvery);

// Folders at and below root (0 when root is gone), and files below it.
int countFolders(const std::wstring &root);
int countFiles(const std::wstring &root);

// Both counts from one walk.
struct Tally {
    int folders = 0, files = 0;
    bool operator==(const Tally &o) const {
        return folders == o.folders && files == o.files;
    }
};
Tally tally(const std::wstring &root);

// The plain paths of root and every folder below it.
std::set<std::wstring> listFolders(const std::wstring &root);
