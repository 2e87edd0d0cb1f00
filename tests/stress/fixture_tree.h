// Seeded random folder trees for the stress runs, and the state of a tree read back from disk.
#pragma once

#include <windows.h>

#include <map>
#include <random>
#include <string>
#include <vector>

// One entry below a root, keyed by its path relative to the root ("" is the root itself).
struct Entry {
    bool folder = false;
    DWORD attributes = 0; // folders: as read back from disk
    std::string content;  // files
};

using Tree = std::map<std::wstring, Entry>;

struct TreeShape {
    int folders;       // below the root
    int maxDepth;      // levels below the root
    double fileChance; // per folder, one or more files
    double hiddenChance;
    double systemChance;
};

// Makes a random tree under root (which exists and is empty): folders with random names, some
// holding files of random content (empty ones too), some hidden, system or both. The root
// itself may be made hidden or system too, rarely. false if the disk refused.
bool makeRandomTree(const std::wstring &root, const TreeShape &shape, std::mt19937 &random);

// Everything below and including root as it is on disk now; empty when root is gone.
Tree readTree(const std::wstring &root);

// The full path of a relative path below root.
std::wstring pathOf(const std::wstring &root, const std::wstring &relative);

// Folders of `before` that are no longer on disk.
int foldersGone(const std::wstring &root, const Tree &before);

// The relative path of the folder holding a relative path ("" for a child of the root).
std::wstring parentOf(const std::wstring &relative);
