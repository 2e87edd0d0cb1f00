// The tree the demonstration sweeps, under a fresh temporary folder: a few empty folders, nested
// empty folders, a batch of empty folders that keeps the progress window up for a few seconds,
// and a folder holding a file, which must come through untouched.
#pragma once

#include <string>
#include <vector>

struct SampleTree {
    std::wstring root;
    std::vector<std::wstring> emptyFolders; // below root; every one should be removed
    std::vector<std::wstring> keptFolders;  // root and the file's folder; they must stay
    std::wstring file;
    std::string fileContent;
};

// false (with what failed in *problem) when the tree could not be made.
bool makeSampleTree(int batch, SampleTree *tree, std::wstring *problem);

// What the program should report for the tree.
int expectedVisits(const SampleTree &tree);
int expectedRemovals(const SampleTree &tree);

// Looks at the tree after a run: the file with its content, the kept folders, and no empty
// folder left. Empty when all is as it should be, otherwise what is wrong.
std::wstring checkAfterRun(const SampleTree &tree);
