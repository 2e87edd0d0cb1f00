// Seeded random trees of empty folders, files, hidden and system folders and links, swept with
// random filters: every file stays as it was, and a folder goes exactly when, by the rules, it
// held nothing to keep. TOVRITH_SEED and TOVRITH_TREES replay a run.
#include <gtest/gtest.h>

#include <windows.h>

#include <mmsystem.h>
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <sstream>
#include <vector>

#include "folder_links.h"
#include "support/fs.h"
#include "sweep_run.h"

namespace {

const DWORD H = FILE_ATTRIBUTE_HIDDEN, S = FILE_ATTRIBUTE_SYSTEM;

struct Node {
    std::wstring path;
    DWORD attributes;
    bool link; // to a folder outside the tree that is never empty
    std::vector<std::pair<std::wstring, std::string>> files;
    std::vector<int> children;
};

struct Tree {
    std::vector<Node> nodes; // parents before children; 0 is the root
    bool visitSystem, visitHidden, trailingBackslash;
};

// The oracle, from the rules alone: whether node i goes; counts what the sweep should count.
bool goes(const Tree &t, int i, Outcome *expected, std::vector<bool> *gone) {
    const Node &n = t.nodes[i];
    expected->visited++;
    bool g;
    if ((!t.visitSystem && (n.attributes & S)) || (!t.visitHidden && (n.attributes & H)))
        g = false;
    else if (n.link)
        // Windows removes the link itself. Wine's RemoveDirectoryW fails on a Linux link whose
        // target holds anything, and the link is never entered.
        g = !runningOnWine();
    else {
        g = n.files.empty();
        for (int c : n.children)
            g = goes(t, c, expected, gone) && g;
    }
    expected->removed += g;
    (*gone)[i] = g;
    return g;
}

const wchar_t *const NAMES[] = {L"a",   L"Bb",         L"with space",    L"&",
                                L"x&y", L"\U0001F600", L"\u00e9t\u00e9", L"\u6570\u636e",
                                L"n.d", L"\U0001D11E"};

Tree randomTree(std::mt19937 &rng, const std::wstring &root, bool links) {
    auto one = [&](unsigned in) { return rng() % in == 0; };
    Tree t;
    t.visitSystem = one(2), t.visitHidden = one(2), t.trailingBackslash = one(8);
    t.nodes.push_back({root, (one(24) ? H : 0) | (one(24) ? S : 0), false, {}, {}});
    std::vector<int> depth = {0};
    int count = 5 + rng() % 26;
    for (int i = 1; i < count; i++) {
        int parent;
        do
            parent = rng() % i;
        while (t.nodes[parent].link || depth[parent] >= 5);
        Node n = {t.nodes[parent].path + L"\\" + NAMES[rng() % 10] + L"-" + std::to_wstring(i),
                  0,
                  links && one(12),
                  {},
                  {}};
        if (!n.link)
            n.attributes = (one(8) ? H : 0) | (one(8) ? S : 0);
        t.nodes[parent].children.push_back(i);
        t.nodes.push_back(n);
        depth.push_back(depth[parent] + 1);
    }
    for (Node &n : t.nodes)
        for (int f = n.link || !one(4) ? 0 : 1 + rng() % 2; f > 0; f--) {
            std::string content(rng() % 40, '\0');
            for (char &c : content)
                c = char(rng());
            n.files.push_back({n.path + L"\\f" + std::to_wstring(f) + L"\U0001F600.bin", content});
        }
    return t;
}

bool build(const Tree &t, const std::wstring &outside) {
    std::string why;
    for (const Node &n : t.nodes) {
        if (n.link ? !makeFolderLink(n.path, outside, &why) : !makeDir(n.path))
            return false;
        for (const auto &f : n.files)
            if (!makeFile(f.first, f.second))
                return false;
    }
    for (const Node &n : t.nodes)
        if (n.attributes && !setAttributes(n.path, n.attributes))
            return false;
    return true;
}

std::string describe(const Tree &t) {
    std::ostringstream os;
    os << "filters: system " << (t.visitSystem ? "visited" : "skipped") << ", hidden "
       << (t.visitHidden ? "visited" : "skipped") << (t.trailingBackslash ? ", root\\" : "");
    for (const Node &n : t.nodes) {
        os << "\n  " << std::string(n.path.begin(), n.path.end()) << (n.link ? " -> outside" : "")
           << (n.attributes & H ? " hidden" : "") << (n.attributes & S ? " system" : "");
        if (!n.files.empty())
            os << " " << n.files.size() << " file(s)";
    }
    return os.str();
}

unsigned fromEnvironment(const char *name, unsigned otherwise) {
    const char *v = getenv(name);
    return v && *v ? (unsigned)strtoul(v, NULL, 10) : otherwise;
}

TEST(RandomTrees, FilesStayAndFoldersGoExactlyWhenTheyHeldNothingToKeep) {
    const unsigned seed = fromEnvironment("TOVRITH_SEED", GetTickCount() ^ GetCurrentProcessId());
    const unsigned trees = fromEnvironment("TOVRITH_TREES", 200);
    const std::wstring outside = makeTempRoot(L"random-linked");
    ASSERT_TRUE(makeFile(outside + L"\\keep.txt", "kept") && makeDir(outside + L"\\inner") &&
                makeDir(outside + L"\\deeper\\x"));
    const Snapshot outsideBefore = snapshot(outside);
    std::string why;
    const bool links = makeFolderLink(outside + L"\\probe", outside + L"\\inner", &why) &&
                       removeFolderLink(outside + L"\\probe");
    printf("seed %u, %u trees (TOVRITH_SEED, TOVRITH_TREES replay them); links: %s\n", seed, trees,
           links ? "yes" : why.c_str());
    timeBeginPeriod(1); // a 2 ms wait would take a whole 15.6 ms tick on Windows
    int folders = 0, visited = 0;
    for (unsigned i = 0; i < trees && !HasFailure(); i++) {
        std::mt19937 rng(seed + i);
        const std::wstring root = makeTempRoot(L"random");
        Tree t = randomTree(rng, root, links);
        SCOPED_TRACE("tree " + std::to_string(i) + " of seed " + std::to_string(seed) + ", " +
                     describe(t));
        bool withLinks = false;
        for (const Node &n : t.nodes)
            withLinks |= n.link;
        if (build(t, outside)) {
            Outcome expected = {1, 0, 0};
            std::vector<bool> gone(t.nodes.size());
            goes(t, 0, &expected, &gone);
            EXPECT_EQ(expected, sweep(root + (t.trailingBackslash ? L"\\" : L""), t.visitSystem,
                                      t.visitHidden));
            for (size_t n = 0; n < t.nodes.size(); n++) {
                EXPECT_EQ(!gone[n], exists(t.nodes[n].path)) << t.nodes[n].path;
                for (const auto &f : t.nodes[n].files) {
                    std::string now;
                    EXPECT_TRUE(readFile(f.first, &now) && now == f.second) << f.first;
                }
            }
            EXPECT_EQ(outsideBefore, snapshot(outside)) << "a link's target was changed";
            folders += (int)t.nodes.size(), visited += expected.visited;
        } else {
            ADD_FAILURE() << "could not make the tree";
        }
        if (withLinks)
            removeTreeWithLinks(root);
        else
            removeTree(root);
    }
    timeEndPeriod(1);
    removeTree(outside);
    printf("%d folders in all, %d visits\n", folders, visited);
}

} // namespace
