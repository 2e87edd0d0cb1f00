// tovrith_demo <tovrith.exe> <screenshot folder>
// Makes a sample tree, drives the program through one run on it with a screenshot of each step,
// closes the program, checks what is left of the tree and removes it. Exit code 0 when every
// step went as it should, 1 otherwise (the last line says which step failed).
#include <windows.h>

#include <stdio.h>

#include "steps.h"
#include "support/fs.h"

namespace {

// Enough empty folders to keep the progress window up for a few seconds: each visit takes a
// little over 2 ms.
const int kBatch = 600;

bool prepare(Demo *demo) {
    std::wstring problem;
    if (!makeSampleTree(kBatch, &demo->tree, &problem)) {
        demo->failure = L"0. sample tree: " + problem;
        return false;
    }
    say(L"Sample tree: " + demo->tree.root + L" (" + std::to_wstring(expectedVisits(demo->tree)) +
        L" folders, " + demo->tree.file + L")");
    if (!makeDir(demo->shots)) {
        demo->failure = L"0. screenshots: could not make " + demo->shots;
        return false;
    }
    return true;
}

bool checkTree(Demo *demo) {
    std::wstring wrong = checkAfterRun(demo->tree);
    if (!wrong.empty()) {
        demo->failure = L"6. the tree after the run: " + wrong;
        return false;
    }
    say(L"6. " + demo->tree.file + L" is still there, unchanged; every empty folder is gone");
    removeTree(demo->tree.root);
    if (exists(demo->tree.root)) {
        demo->failure = L"7. removing the sample tree: " + demo->tree.root + L" is still there";
        return false;
    }
    say(L"7. Removed the sample tree");
    return true;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: tovrith_demo <tovrith.exe> <screenshot folder>\n");
        return 2;
    }
    Demo demo;
    demo.exe = argv[1];
    demo.shots = argv[2];
    bool ok = prepare(&demo) && showMainWindow(&demo) && confirmRun(&demo) &&
              watchProgress(&demo) && readSummary(&demo) && closeProgram(&demo) && checkTree(&demo);
    if (ok)
        return 0;
    say(L"The demonstration failed at step " + demo.failure);
    killProgram(&demo.program);
    if (!demo.tree.root.empty())
        removeTree(demo.tree.root);
    return 1;
}
