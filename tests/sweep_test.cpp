// The sweep on real folders: what it visits, removes and keeps, its filters, its stop, its limits.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <random>

#include "driver.h"
#include "gate.h"
#include "sweep/sweep.h"
#include "tree.h"

namespace {

DatosTarea task;

// Sweeps the folder typed as `typed` on a worker thread, as the program does; filters off (true:
// such folders are entered) or on. The result as a line: "exit 1, visited 3, removed 1: a/ a/f",
// what is left of root at its end.
std::wstring sweep(const std::wstring &typed, bool system, bool hidden, const std::wstring &root,
                   SIZE_T stack = 0) {
    task = {};
    wcsncpy(task.carpetaRaiz, typed.c_str(), LARGO_RUTA - 1);
    task.recorrerSistema = system;
    task.recorrerOcultas = hidden;
    task.eventoCancelar = CreateEventW(NULL, TRUE, FALSE, NULL);
    HANDLE worker =
        CreateThread(NULL, stack, ThreadProc, &task, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    if (WaitForSingleObject(worker, 60000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the sweep did not end within a minute; stopped";
        SetEvent(task.eventoCancelar);
        WaitForSingleObject(worker, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeThread(worker, &code);
    CloseHandle(worker);
    CloseHandle(task.eventoCancelar);
    return L"exit " + std::to_wstring(code) + L", " +
           outcome(task.carpetasRecorridas, task.carpetasBorradas, root);
}

struct Case {
    const wchar_t *tree;
    const wchar_t *typed; // after the root
    bool system, hidden;
    std::wstring after;
};

TEST(Sweep, SmallTrees) {
    const Case cases[] = {
        // An empty folder goes on the first attempt; one emptied by its children on the second.
        {L"", L"", true, true, L"exit 1, visited 1, removed 1: -"},
        {L"a/b/", L"", true, true, L"exit 1, visited 3, removed 3: -"},
        // Files are not visited, nor are "." and "..". A file keeps every folder above it.
        {L"a/ b/c/ b/d/f e/g/ h", L"", true, true,
         L"exit 1, visited 7, removed 4: b/ b/d/ b/d/f h"},
        // A root typed with a separator after it gets no second one, in its pattern or below.
        {L"", L"\\", true, true, L"exit 1, visited 1, removed 1: -"},
        {L"a/ b/f c/d/", L"\\", true, true, L"exit 1, visited 5, removed 3: b/ b/f"},
        // Each filter skips its own attribute only: counted, neither listed nor removed.
        {L"F/:h F/x/", L"", true, false, L"exit 1, visited 2, removed 0: F/:h F/x/"},
        {L"F/:h F/x/", L"", false, true, L"exit 1, visited 3, removed 3: -"},
        {L"F/:s F/x/", L"", false, true, L"exit 1, visited 2, removed 0: F/:s F/x/"},
        {L"F/:s F/x/", L"", true, false, L"exit 1, visited 3, removed 3: -"},
        {L"F/:hs F/x/", L"", true, false, L"exit 1, visited 2, removed 0: F/:hs F/x/"},
        {L"F/:hs F/x/", L"", false, true, L"exit 1, visited 2, removed 0: F/:hs F/x/"},
        // A link is never entered. Wine cannot remove a link whose target holds anything;
        // Windows removes the link itself.
        {L"L/:l", L"", true, true,
         onWine() ? L"exit 1, visited 2, removed 0: L/:l" : L"exit 1, visited 2, removed 2: -"},
    };
    for (const Case &c : cases) {
        std::wstring root = newRoot(), typed = root + c.typed;
        ASSERT_TRUE(makeTree(root, c.tree)) << c.tree;
        EXPECT_EQ(c.after, sweep(typed, c.system, c.hidden, root)) << c.tree << " as " << typed;
        EXPECT_EQ(L"inner/ keep", readTree(linkTarget()));
        removeTree(root);
    }
}

// For every visit k, the stop is raised just before k's check: k is counted, and nothing is read
// or removed after it, so the tree stays as it was at that moment.
TEST(Sweep, StopEndsTheWalkAtTheVisitThatSeesIt) {
    for (int k = 1; k <= 7; k++) {
        std::wstring root = newRoot(), atStop = L"never stopped";
        ASSERT_TRUE(makeTree(root, L"a/ b/c/ b/d/f e/g/ h"));
        gate([&](int visit, HANDLE stop) {
            if (visit != k)
                return;
            atStop = L"exit 0, " + outcome(k, task.carpetasBorradas, root);
            SetEvent(stop);
        });
        EXPECT_EQ(atStop, sweep(root, true, true, root)) << "stop at visit " << k;
        gate(nullptr);
        removeTree(root);
    }
}

// Makes folders one in another below path, names of at most `most` units, until the path of the
// deepest is `length` units long; returns it.
std::wstring chain(std::wstring path, size_t length, size_t most) {
    while (path.size() < length) {
        size_t left = length - path.size();
        // A level takes two units at least: never leave one.
        size_t name = left <= most + 1 ? left - 1 : left == most + 2 ? most - 1 : most;
        path += L"\\" + std::wstring(name, L'n');
        CreateDirectoryW((L"\\\\?\\" + path).c_str(), NULL);
    }
    return path;
}

// A folder is visited only when its path with the \\?\ prefix and a NUL fits a path buffer: no
// longer path is ever formed. Its listing pattern needs two units more.
TEST(Sweep, PathLimit) {
    const std::wstring root = newRoot(), parent = chain(root, LARGO_RUTA - 10, 255);
    const std::wstring fits = parent + L"\\ffff", past = parent + L"\\ggggg";
    ASSERT_TRUE(makeTree(parent, L"ffff/ ggggg/"));
    EXPECT_EQ(L"exit 1, visited 1, removed 0: ", sweep(past, true, true, past));
    // Its pattern would not fit, so only the first attempt can remove it.
    EXPECT_EQ(L"exit 1, visited 1, removed 1: -", sweep(fits, true, true, fits));
    ASSERT_TRUE(makeTree(parent, L"ffff/"));
    EXPECT_EQ(L"exit 1, visited 2, removed 1: ggggg/", sweep(parent, true, true, parent));
    removeTree(root);
}

// The deepest nesting the path buffers allow is about 1,280 levels below the temporary folder.
// Under Wine every open costs in proportion to its depth, so a sweep that deep takes minutes; what
// it needs is stack for every level, so an eighth of the levels run on an eighth of the program's.
TEST(Sweep, DeepestNestingFitsTheProgramsStack) {
    HMODULE program = LoadLibraryExW(programPath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(program) << "cannot read " << programPath();
    BYTE *image = (BYTE *)((ULONG_PTR)program & ~(ULONG_PTR)3);
    IMAGE_NT_HEADERS *headers = (IMAGE_NT_HEADERS *)(image + ((IMAGE_DOS_HEADER *)image)->e_lfanew);
    SIZE_T stack = headers->OptionalHeader.SizeOfStackReserve;
    FreeLibrary(program);
    const std::wstring root = newRoot();
    const int levels = (int)(LARGO_RUTA - 5 - root.size()) / 2 / 8;
    chain(root, root.size() + 2 * levels, 1);
    std::wstring all = std::to_wstring(levels + 1);
    EXPECT_EQ(L"exit 1, visited " + all + L", removed " + all + L": -",
              sweep(root, true, true, root, stack / 8))
        << levels << " levels on " << stack / 8 << " bytes of stack";
    removeTree(root);
}

// Seeded random trees with files, hidden and system folders and links, swept with random
// filters: every file stays, and a folder goes exactly when the rules say.
TEST(Sweep, RandomTreesFollowTheRules) {
    const char *seeded = getenv("TOVRITH_SEED"), *counted = getenv("TOVRITH_TREES");
    const unsigned seed = seeded ? strtoul(seeded, NULL, 10) : GetTickCount();
    const unsigned trees = counted ? strtoul(counted, NULL, 10) : 200;
    printf("seed %u, %u trees (TOVRITH_SEED and TOVRITH_TREES replay them)\n", seed, trees);
    fflush(stdout);
    for (unsigned i = 0; i < trees && !HasFailure(); i++) {
        std::mt19937 random(seed + i);
        const int folders = 5 + random() % 26;
        const bool system = random() % 2;
        const bool hidden = random() % 2;
        std::wstring tree = randomTree(random(), folders, 4, true), root = newRoot();
        ASSERT_TRUE(makeTree(root, tree)) << tree;
        EXPECT_EQ(L"exit 1, " + model(tree, system, hidden), sweep(root, system, hidden, root))
            << "tree " << i << " of seed " << seed << ", filters " << !system << !hidden << ": "
            << tree;
        EXPECT_EQ(L"inner/ keep", readTree(linkTarget()));
        removeTree(root);
    }
}

} // namespace
