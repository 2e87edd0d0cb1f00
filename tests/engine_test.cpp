// The program's engine in this process: the sweep on real folders, then the progress window.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <random>

#include "progress/progress.h"
#include "support.h"

namespace {

// The program's code is linked into the test, so its platform calls go through this executable's
// imports, some of which the test takes. The sweep's stop check, the program's only 2 ms wait,
// first calls the test's function with the visit's number and the stop event. The worker's
// attribute reads are counted, so are its removal attempts once it has seen its stop, and the
// longest path it hands over is kept.
extern "C" DWORD(WINAPI *__imp_WaitForSingleObject)(HANDLE, DWORD);
extern "C" DWORD(WINAPI *__imp_GetFileAttributesW)(LPCWSTR);
extern "C" BOOL(WINAPI *__imp_RemoveDirectoryW)(LPCWSTR);
extern "C" decltype(FindFirstFileExW) *__imp_FindFirstFileExW;
const auto realWait = __imp_WaitForSingleObject;
const auto realRead = __imp_GetFileAttributesW;
const auto realRemove = __imp_RemoveDirectoryW;
const auto realFind = __imp_FindFirstFileExW;
const DWORD tester = GetCurrentThreadId(); // whose calls are the test's own
std::function<void(int visit, HANDLE stop)> atCheck;
int checks, reads, lateRemovals;
size_t longest;
bool stopped;

DWORD WINAPI gatedWait(HANDLE object, DWORD ms) {
    if (ms == 2 && atCheck)
        atCheck(++checks, object);
    DWORD result = realWait(object, ms);
    stopped |= ms == 2 && result != WAIT_TIMEOUT;
    return result;
}

bool byWorker(LPCWSTR path) {
    bool worker = GetCurrentThreadId() != tester;
    if (worker)
        longest = std::max(longest, wcslen(path));
    return worker;
}

DWORD WINAPI countedRead(LPCWSTR path) {
    reads += byWorker(path);
    return realRead(path);
}

BOOL WINAPI countedRemove(LPCWSTR path) {
    lateRemovals += byWorker(path) && stopped;
    return realRemove(path);
}

HANDLE WINAPI measuredFind(LPCWSTR path, FINDEX_INFO_LEVELS level, LPVOID found,
                           FINDEX_SEARCH_OPS search, LPVOID filter, DWORD flags) {
    byWorker(path);
    return realFind(path, level, found, search, filter, flags);
}

template <typename F> void take(F *slot, F function) {
    DWORD was;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was);
    *slot = function;
}

// From now on visits count from 1 and call check; nullptr lets them by.
void gate(std::function<void(int visit, HANDLE stop)> check) {
    take(&__imp_WaitForSingleObject, gatedWait);
    take(&__imp_GetFileAttributesW, countedRead);
    take(&__imp_RemoveDirectoryW, countedRemove);
    take(&__imp_FindFirstFileExW, measuredFind);
    checks = reads = lateRemovals = 0;
    longest = 0;
    stopped = false;
    atCheck = check;
}

DatosTarea task;

// How a run ended: "exit 1, visited 3, removed 1: a/ a/f", what is left of root.
std::wstring ended(DWORD code, const std::wstring &root) {
    return L"exit " + std::to_wstring(code) + L", " +
           outcome(task.carpetasRecorridas, task.carpetasBorradas, root);
}

// Sweeps the folder typed as `typed` on a thread, as the program does, with the filters off
// (true: such folders are entered) or on. A stop is raised for the check of visit `stop`.
std::wstring sweep(const std::wstring &typed, bool system, bool hidden, const std::wstring &root,
                   int stop = 0, SIZE_T stack = 0) {
    task = {};
    wcsncpy(task.carpetaRaiz, typed.c_str(), LARGO_RUTA - 1);
    task.recorrerSistema = system;
    task.recorrerOcultas = hidden;
    task.eventoCancelar = CreateEventW(NULL, TRUE, FALSE, NULL);
    gate([=](int visit, HANDLE event) {
        if (visit != stop)
            return;
        EXPECT_EQ(visit - 1, reads) << "attributes read before the check";
        SetEvent(event);
    });
    HANDLE thread =
        CreateThread(NULL, stack, ThreadProc, &task, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    if (WaitForSingleObject(thread, 60000)) {
        ADD_FAILURE() << "the sweep did not end within a minute; stopped";
        SetEvent(task.eventoCancelar);
        WaitForSingleObject(thread, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    CloseHandle(task.eventoCancelar);
    EXPECT_EQ(0, lateRemovals) << "removal attempts after the stop";
    EXPECT_GT((size_t)LARGO_RUTA, longest) << "units in a path, its NUL not counted";
    return ended(code, root);
}

struct Case {
    const wchar_t *tree;
    const wchar_t *typed; // after the root
    bool system, hidden;
    std::wstring after;
    int stop = 0; // the visit whose check finds the stop raised
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
        // The visit that sees a stop is counted; nothing is read or removed from then on.
        {L"", L"", true, true, L"exit 0, visited 1, removed 0: ", 1},
        {L"a/b/c/", L"", true, true, L"exit 0, visited 4, removed 0: a/ a/b/ a/b/c/", 4},
        {L"a/ b/ c/", L"", true, true, L"exit 0, visited 2, removed 0: a/ b/ c/", 2},
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
        const std::wstring root = newRoot();
        ASSERT_TRUE(makeTree(root, c.tree)) << c.tree;
        EXPECT_EQ(c.after, sweep(root + c.typed, c.system, c.hidden, root, c.stop)) << c.tree;
        removeTree(root);
    }
}

// Makes folders one in another below path, names of at most `most` units, until the deepest
// path is `length` units long; returns it.
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
// longer path is ever formed, nor one cut short (gggg starts like ggggg). A listing pattern needs
// two units more: ffff goes on the first attempt, and eeee, which holds a file, is not listed.
TEST(Sweep, PathLimit) {
    const std::wstring root = newRoot(), parent = chain(root, LARGO_RUTA - 10, 255);
    const std::wstring full = parent + L"\\eeee", fits = parent + L"\\ffff";
    const std::wstring past = parent + L"\\ggggg";
    ASSERT_TRUE(makeTree(parent, L"eeee/x ffff/ gggg/ ggggg/"));
    EXPECT_EQ(L"exit 1, visited 1, removed 0: ", sweep(past, true, true, past));
    EXPECT_EQ(L"exit 1, visited 1, removed 0: x", sweep(full, true, true, full));
    EXPECT_EQ(L"exit 1, visited 1, removed 1: -", sweep(fits, true, true, fits));
    ASSERT_TRUE(makeTree(parent, L"ffff/"));
    EXPECT_EQ(L"exit 1, visited 4, removed 2: eeee/ eeee/x ggggg/",
              sweep(parent, true, true, parent));
    removeTree(root);
}

// The deepest nesting the path buffers allow, about 1,280 levels below the temporary folder, takes
// minutes under Wine, where every open costs in proportion to its depth. What it needs is stack
// for each level: a quarter of the levels run on a quarter of the program's stack (Wine gives a
// thread at least 1 MiB, so an eighth would not tell).
TEST(Sweep, DeepestNestingFitsTheProgramsStack) {
    HMODULE program = LoadLibraryExW(L"tovrith.exe", NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(program) << "cannot read tovrith.exe";
    BYTE *image = (BYTE *)((ULONG_PTR)program & ~(ULONG_PTR)3);
    IMAGE_NT_HEADERS *headers = (IMAGE_NT_HEADERS *)(image + ((IMAGE_DOS_HEADER *)image)->e_lfanew);
    const SIZE_T stack = headers->OptionalHeader.SizeOfStackReserve / 4;
    FreeLibrary(program);
    const std::wstring root = newRoot();
    const int levels = (int)(LARGO_RUTA - 5 - root.size()) / 2 / 4;
    chain(root, root.size() + 2 * levels, 1);
    const std::wstring all = std::to_wstring(levels + 1);
    EXPECT_EQ(L"exit 1, visited " + all + L", removed " + all + L": -",
              sweep(root, true, true, root, 0, stack))
        << levels << " levels on " << stack << " bytes of stack";
    removeTree(root);
}

// Seeded random trees with files, hidden and system folders and links, swept with random filters:
// every file stays, and a folder goes exactly when the rules say.
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
        const std::wstring tree = randomTree(random(), folders, 4, true), root = newRoot();
        ASSERT_TRUE(makeTree(root, tree)) << tree;
        EXPECT_EQ(L"exit 1, " + model(tree, system, hidden), sweep(root, system, hidden, root))
            << "tree " << i << " of seed " << seed << ", filters " << !system << !hidden << ": "
            << tree;
        removeTree(root);
    }
}

// The progress window, modal on this thread as in the program. The user acts from inside a visit
// of the worker, and a hook answers every message box as it comes, as Wine's own tests do.

HANDLE worker;
std::wstring shown; // every message, in turn

LRESULT CALLBACK answerBoxes(int code, WPARAM wParam, LPARAM lParam) {
    HWND box = (HWND)wParam;
    if (code == HCBT_ACTIVATE && GetDlgItem(box, MESSAGE_TEXT)) {
        EXPECT_EQ(task.ventanaProgreso, GetWindow(box, GW_OWNER));
        EXPECT_FALSE(IsWindowEnabled(task.ventanaPrincipal)) << "the main window takes input";
        shown += text(box, MESSAGE_TEXT);
        shown += WaitForSingleObject(worker, 0) ? L" WHILE THE WORKER RAN" : L"";
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

struct Act {
    const char *what;
    UINT message; // posted at the second visit; keys to the Cancel button, which has the focus
    WPARAM wParam;
    INT_PTR result;
    std::wstring box, after;
};

// The worker is held 700 ms in the visit where the user acts, past the window's next poll: a
// message shown, or a window ended, before the worker's end is seen while it runs.
TEST(Progress, RunsCancelsAndReports) {
    const wchar_t canceled[] = L"The task has been canceled by the user";
    const wchar_t stopped[] = L"exit 0, visited 2, removed 0: a/ a/b/ a/b/c/ f";
    const Act acts[] = {
        {"Cancel", WM_COMMAND, IDC_CANCELAR, 1, canceled, stopped},
        {"Enter", WM_KEYDOWN, VK_RETURN, 1, canceled, stopped},
        {"a close request", WM_CLOSE, 0, 1, canceled, stopped},
        {"Escape", WM_KEYDOWN, VK_ESCAPE, 0, L"I have traversed 4 folders and I have erased 3",
         L"exit 1, visited 4, removed 3: f"},
    };
    HHOOK hook = SetWindowsHookExW(WH_CBT, answerBoxes, NULL, GetCurrentThreadId());
    for (const Act &c : acts) {
        SCOPED_TRACE(c.what);
        const std::wstring root = newRoot();
        ASSERT_TRUE(makeTree(root, L"a/b/c/ f"));
        task = {};
        wcscpy(task.carpetaRaiz, root.c_str());
        task.ventanaPrincipal = CreateWindowW(L"Static", L"", 0, 0, 0, 0, 0, 0, 0, 0, 0);
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
        EXPECT_FALSE(WaitForSingleObject(worker, 0)) << "the window went before its worker";
        // The record may not go while the worker runs, even when the test fails.
        WaitForSingleObject(worker, INFINITE);
        DWORD code = 0;
        GetExitCodeThread(worker, &code);
        CloseHandle(worker);
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.box, shown);
        EXPECT_EQ(c.after, ended(code, root));
        EXPECT_TRUE(IsWindowEnabled(task.ventanaPrincipal));
        DestroyWindow(task.ventanaPrincipal);
        removeTree(root);
    }
    gate(nullptr);
    UnhookWindowsHookEx(hook);
}

} // namespace
