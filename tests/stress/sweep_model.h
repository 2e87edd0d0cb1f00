// What a sweep must do to a tree: which folders may go, and what a run to its end reports.
#pragma once

#include <set>
#include <string>

#include "fixture_tree.h"

struct Outcome {
    // Folders that held no file anywhere below them and that no filter keeps: the only ones a
    // sweep may remove, and those a sweep that ends by itself does remove.
    std::set<std::wstring> removable;
    // Folders a sweep that ends by itself visits: every folder it reaches, whether or not it
    // passes the filters, except below a filtered folder or an empty one (removed unlisted).
    int visited = 0;
};

Outcome expectedOutcome(const Tree &before, bool skipSystem, bool skipHidden);

// Compares the tree after a run with the tree before it. Every problem found is appended to
// *problems, one line each, naming the path. complete: the run ended by itself, so exactly the
// removable folders must be gone.
void compareAfterRun(const Tree &before, const Tree &after, const Outcome &expected, bool complete,
                     std::string *problems);

std::string narrow(const std::wstring &text);
