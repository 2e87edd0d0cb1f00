// The program's engine in this process: the sweep on real folders (what it visits, removes and
// keeps, its filters, its stop, its limits), then the progress window that runs it.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <random>

#include "gate.h"
#include "progress/progress.h"
#include "support.h"

namespace {

DatosTarea task;

// The run's end as a line: "exit 1, visited 3, removed 1: a/ a/f", what is left of root.
std::wstring ended(DWORD code, const std::wstring &root) {
    return L"exit " + std::to_wstring(code) + L", " +
           outcome(task.carpetasRecorridas, task.carpetasBorradas, root);
}

// Sweeps the folder typed as `typed` on a worker thread, as the program does, with the filters
// off (true: such folders are entered) or on.
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
    return ended(code, root);
}

struct Case {
    const wchar_t *tree;
    const wchar_t *typed; // after the root
    bool system, hidden;
    std::wstring after;
    int stopAt = 0; // the visit whose check finds the stop raised
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
        // The visit that sees a stop is counted, and neither reads nor removes its folder.
        {L"", L"", true, true, L"exit 0, visited 1, removed 0: ", 1},
        {L"a/b/c/", L"", true, true, L"exit 0, visited 4, removed 0: a/ a/b/ a/b/c/", 4},
        // Each filter skips its own attribute only: counted, neither listed nor removed.
        {L"F/:h F/x/", L"", true, false, L"exit 1, visited 2, removed 0: F/:h F/x/"},
        {L"F/:h F/x/", L"", false, true, L"exit 1, visited 3, removed 3: -"},
        {L"F/:s F/x/", L"", false, true, L"exit 1, visited 2, removed 0: F/:s F/x/"},
        {L"F/:s F/x/", L"", true, false, L"exit 1, visited 3, removed 3: -"},
        // A link is never entered. Wine cannot remove a link whose target holds anything;
        // Windows removes the link itself.
        {L"L/:l", L"", true, true,
         onWine() ? L"exit 1, visited 2, removed 0: L/:l" : L"exit 1, visited 2, removed 2: -"},
    };
    for (const Case &c : cases) {
        std::wstring root = newRoot(), typed = root + c.typed;
        ASSERT_TRUE(makeTree(root, c.tree)) << c.tree;
        gate([&](int visit, HANDLE stop) {
            if (visit == c.stopAt)
                SetEvent(stop);
        });
        EXPECT_EQ(c.after, sweep(typed, c.system, c.hidden, root)) << c.tree << " as " << typed;
        removeTree(root);
    }
    gate(nullptr);
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
// filters: every file stays, and a folder goes exactly when the rules say. One in four is stopped
// at a random visit, raised just before its check: that folder is counted, and nothing is read or
// removed after it, so the tree must stay as it was at that moment.
TEST(Sweep, RandomTreesFollowTheRules) {
    const char *seeded = getenv("TOVRITH_SEED"), *counted = getenv("TOVRITH_TREES");
    const unsigned seed = seeded ? strtoul(seeded, NULL, 10) : GetTickCount();
    const unsigned trees = counted ? strtoul(counted, NULL, 10) : 200;
    printf("seed %u, %u trees (TOVRITH_SEED and TOVRITH_TREES replay them)\n", seed, trees);
    fflush(stdout);
    for (unsigned i = 0; i < trees && !HasFailure(); i++) {
        std::mt19937 random(seed + i);
        const int folders = 5 + random() % 26, stopAt = i % 4 ? 0 : 1 + random() % folders;
        const bool system = random() % 2;
        const bool hidden = random() % 2;
        std::wstring tree = randomTree(random(), folders, 4, true), root = newRoot();
        std::wstring expected = L"exit 1, " + model(tree, system, hidden);
        ASSERT_TRUE(makeTree(root, tree)) << tree;
        gate([&](int visit, HANDLE stop) {
            if (visit != stopAt)
                return;
            expected = ended(0, root);
            SetEvent(stop);
        });
        EXPECT_EQ(expected, sweep(root, system, hidden, root))
            << "tree " << i << " of seed " << seed << ", filters " << !system << !hidden
            << ", stopped at " << stopAt << ": " << tree;
        gate(nullptr);
        removeTree(root);
    }
}

// The progress window, modal on this thread as in the program. The user's part is played from
// inside a visit (see gate.h), and every message box is answered by a hook as it comes, the way
// Wine's own tests close them.

HANDLE worker;
// Every message shown, each followed by "!" when the worker was still running.
std::wstring shown;

LRESULT CALLBACK answerBoxes(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = (HWND)wParam;
    if (code == HCBT_ACTIVATE && GetDlgItem(window, MESSAGE_TEXT)) {
        wchar_t text[LARGO_RUTA] = L"";
        GetDlgItemTextW(window, MESSAGE_TEXT, text, LARGO_RUTA);
        shown += text + std::wstring(WaitForSingleObject(worker, 0) ? L"!" : L"");
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

const wchar_t CANCELED[] = L"The task has been canceled by the user";
const wchar_t STOPPED[] = L"exit 0, visited 2, removed 0: a/ a/b/ c/ c/f d/";
const wchar_t SUMMARY[] = L"I have traversed 5 folders and I have erased 3";
const wchar_t SWEPT[] = L"exit 1, visited 5, removed 3: c/ c/f";

struct Act {
    const char *what;
    UINT message; // posted at the second visit: keys to the Cancel button, which has the focus
    WPARAM wParam;
    INT_PTR result;
    const wchar_t *box;
    const wchar_t *after;
};

// At the second visit the user acts, and the worker is then held in that visit past the window's
// next poll: a message shown, or a window ended, before the worker's end is seen while it runs.
TEST(Progress, RunsCancelsAndReports) {
    const Act acts[] = {
        {"Cancel", WM_COMMAND, IDC_CANCELAR, 1, CANCELED, STOPPED},
        {"Enter", WM_KEYDOWN, VK_RETURN, 1, CANCELED, STOPPED},
        {"a close request", WM_CLOSE, 0, 1, CANCELED, STOPPED},
        {"Escape", WM_KEYDOWN, VK_ESCAPE, 0, SUMMARY, SWEPT},
    };
    HHOOK hook = SetWindowsHookExW(WH_CBT, answerBoxes, NULL, GetCurrentThreadId());
    for (const Act &c : acts) {
        SCOPED_TRACE(c.what);
        std::wstring root = newRoot();
        ASSERT_TRUE(makeTree(root, L"a/b/ c/f d/"));
        task = {};
        wcscpy(task.carpetaRaiz, root.c_str());
        // Left from nowhere: every run must start its counters at 0.
        task.carpetasRecorridas = task.carpetasBorradas = 1000;
        shown.clear();
        gate([&](int visit, HANDLE) {
            if (visit == 1)
                worker = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE,
                                    GetCurrentThreadId());
            if (visit != 2)
                return;
            HWND button = GetDlgItem(task.ventanaProgreso, IDC_CANCELAR);
            PostMessageW(c.message == WM_KEYDOWN ? button : task.ventanaProgreso, c.message,
                         c.wParam, 0);
            Sleep(700);
        });
        INT_PTR result = abrirDialogoDeProgreso(&task);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 0)) << "the window went first";
        // The record is this frame's: the worker may not outlive it, even when the test fails.
        WaitForSingleObject(worker, INFINITE);
        DWORD code = 0;
        GetExitCodeThread(worker, &code);
        CloseHandle(worker);
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.box, shown) << "(\"!\": shown while the worker ran)";
        EXPECT_EQ(c.after, ended(code, root));
        removeTree(root);
    }
    gate(nullptr);
    UnhookWindowsHookEx(hook);
}

} // namespace
