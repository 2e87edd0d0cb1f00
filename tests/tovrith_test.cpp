// The program's engine in this process: the sweep on real folders, then the progress window.
// After it the real program, driven from another process as a user would, and its resources.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <functional>
#include <random>
#include <vector>

#include "progress/progress.h"
#include "support.h"
#include <imagehlp.h> // after windows.h

namespace {

// The program's code is linked in, so its platform calls go through this executable's imports,
// some taken by the test: the stop check (the only 2 ms wait) first calls the test with the visit
// and the stop event; reads are counted, patterns measured, removals after the stop refused.
extern "C" DWORD(WINAPI *__imp_WaitForSingleObject)(HANDLE, DWORD);
extern "C" DWORD(WINAPI *__imp_GetFileAttributesW)(LPCWSTR);
extern "C" decltype(FindFirstFileExW) *__imp_FindFirstFileExW;
extern "C" BOOL(WINAPI *__imp_RemoveDirectoryW)(LPCWSTR);
const auto realWait = __imp_WaitForSingleObject;
const auto realRead = __imp_GetFileAttributesW;
const auto realFind = __imp_FindFirstFileExW;
const auto realRemove = __imp_RemoveDirectoryW;
const DWORD tester = GetCurrentThreadId();
std::function<void(int visit, HANDLE stop)> atCheck;
int checks, reads;

DWORD WINAPI gatedWait(HANDLE object, DWORD ms) {
    if (ms == 2 && atCheck)
        atCheck(++checks, object);
    return realWait(object, ms);
}

DWORD WINAPI countedRead(LPCWSTR path) {
    reads += GetCurrentThreadId() != tester;
    return realRead(path);
}

HANDLE WINAPI checkedFind(LPCWSTR path, FINDEX_INFO_LEVELS level, LPVOID found,
                          FINDEX_SEARCH_OPS search, LPVOID filter, DWORD flags) {
    EXPECT_GT((size_t)LARGO_RUTA, wcslen(path)) << "units in a pattern, its NUL not counted";
    return realFind(path, level, found, search, filter, flags);
}

BOOL WINAPI refusedRemove(LPCWSTR) {
    ADD_FAILURE() << "a removal attempt after the stop";
    return FALSE;
}

// From now on visits count from 1 and call check; nullptr lets them by.
void gate(std::function<void(int visit, HANDLE stop)> check) {
    take(&__imp_WaitForSingleObject, gatedWait);
    take(&__imp_GetFileAttributesW, countedRead);
    take(&__imp_FindFirstFileExW, checkedFind);
    take(&__imp_RemoveDirectoryW, realRemove);
    checks = reads = 0;
    atCheck = check;
}

DatosTarea task;

// Waits for the worker (a hang ends at the test's bound): "exit 1, visited 3, removed 1: a/ a/f".
std::wstring ended(HANDLE worker, const std::wstring &root) {
    WaitForSingleObject(worker, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(worker, &code);
    CloseHandle(worker);
    return L"exit " + std::to_wstring(code) + L", " +
           outcome(task.carpetasRecorridas, task.carpetasBorradas, readTree(root));
}

// Sweeps root, with `typed` typed after it, on a thread as the program does, with the filters off
// (true: such folders are entered) or on. A stop is raised for the check of visit `stop`.
std::wstring sweep(const std::wstring &root, bool system, bool hidden, const wchar_t *typed = L"",
                   int stop = 0, SIZE_T stack = 0) {
    task = {};
    wcsncpy(task.carpetaRaiz, (root + typed).c_str(), LARGO_RUTA - 1);
    task.recorrerSistema = system;
    task.recorrerOcultas = hidden;
    task.eventoCancelar = CreateEventW(NULL, TRUE, FALSE, NULL);
    gate([=](int visit, HANDLE event) {
        if (visit != stop)
            return;
        EXPECT_EQ(visit - 1, reads) << "attributes read before the check";
        take(&__imp_RemoveDirectoryW, refusedRemove);
        SetEvent(event);
    });
    const std::wstring left =
        ended(CreateThread(NULL, stack, ThreadProc, &task, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL),
              root);
    CloseHandle(task.eventoCancelar);
    return left;
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
        {L"F/:h F/x/", L"", true, false, L"exit 1, visited 2, removed 0: F/ F/x/"},
        {L"F/:h F/x/", L"", false, true, L"exit 1, visited 3, removed 3: -"},
        {L"F/:s F/x/", L"", false, true, L"exit 1, visited 2, removed 0: F/ F/x/"},
        {L"F/:s F/x/", L"", true, false, L"exit 1, visited 3, removed 3: -"},
        // A link is never entered; Windows removes it, Wine cannot while its target holds anything.
        {L"L/:l", L"", true, true,
         onWine ? L"exit 1, visited 2, removed 0: L/" : L"exit 1, visited 2, removed 2: -"},
    };
    for (const Case &c : cases) {
        const std::wstring root = newRoot();
        ASSERT_TRUE(makeTree(root, c.tree)) << c.tree;
        EXPECT_EQ(c.after, sweep(root, c.system, c.hidden, c.typed, c.stop)) << c.tree;
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
// longer path is ever formed, nor one cut short (gggg starts like ggggg), typed or found. A
// listing pattern needs two units more: ffff goes on the first attempt, and eeee, which holds a
// file, is not listed.
// The deepest nesting the buffers allow, about 1,280 levels, takes minutes under Wine, where every
// open costs in proportion to its depth. What it needs is stack for each level: a quarter of the
// levels run on a quarter of the stack reserved in tovrith.exe (Wine gives a thread at least 1 MiB,
// so an eighth would not tell).
TEST(Sweep, PathAndNestingLimits) {
    const std::wstring root = newRoot(), deep = root + L"\\d";
    ASSERT_TRUE(makeTree(root, L"d/ p/"));
    const std::wstring parent = chain(root + L"\\p", LARGO_RUTA - 10, 255);
    ASSERT_TRUE(makeTree(parent, L"eeee/x ffff/ gggg/ ggggg/"));
    EXPECT_EQ(L"exit 1, visited 1, removed 0: ", sweep(parent + L"\\ggggg", true, true));
    EXPECT_EQ(L"exit 1, visited 4, removed 2: eeee/ eeee/x ggggg/", sweep(parent, true, true));
    LOADED_IMAGE program;
    ASSERT_TRUE(MapAndLoad("tovrith.exe", NULL, &program, FALSE, TRUE)) << "no tovrith.exe";
    const SIZE_T stack = program.FileHeader->OptionalHeader.SizeOfStackReserve / 4;
    UnMapAndLoad(&program);
    const int levels = (int)(LARGO_RUTA - 5 - deep.size()) / 2 / 4;
    chain(deep, deep.size() + 2 * levels, 1);
    const std::wstring all = std::to_wstring(levels + 1);
    EXPECT_EQ(L"exit 1, visited " + all + L", removed " + all + L": -",
              sweep(deep, true, true, L"", 0, stack))
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
        EXPECT_EQ(L"exit 1, " + model(tree, system, hidden), sweep(root, system, hidden))
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
    std::wstring box, after;
};

// The worker is held 700 ms in the visit where the user acts, past the window's next poll: a
// message shown, or a window ended, before the worker's end is seen while it runs.
TEST(Progress, RunsCancelsAndReports) {
    const wchar_t canceled[] = L"The task has been canceled by the user";
    const wchar_t stopped[] = L"exit 0, visited 2, removed 0: a/ a/b/ a/b/c/ f";
    const Act acts[] = {
        {"Cancel", WM_COMMAND, IDC_CANCELAR, canceled, stopped},
        {"Enter", WM_KEYDOWN, VK_RETURN, canceled, stopped},
        {"a close request", WM_CLOSE, 0, canceled, stopped},
        {"Escape", WM_KEYDOWN, VK_ESCAPE, L"I have traversed 4 folders and I have erased 3",
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
        task.carpetasRecorridas = task.carpetasBorradas = 1000; // every run starts them at 0
        shown.clear();
        gate([&](int visit, HANDLE) {
            if (visit != 2)
                return;
            worker = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE,
                                GetCurrentThreadId());
            HWND button = GetDlgItem(task.ventanaProgreso, IDC_CANCELAR);
            PostMessageW(c.message == WM_KEYDOWN ? button : task.ventanaProgreso, c.message,
                         c.wParam, 0);
            Sleep(700);
        });
        abrirDialogoDeProgreso(&task);
        EXPECT_FALSE(WaitForSingleObject(worker, 0)) << "the window went before its worker";
        EXPECT_EQ(c.after, ended(worker, root)); // the record outlives the worker
        EXPECT_EQ(c.box, shown);
        DestroyWindow(task.ventanaPrincipal);
        removeTree(root);
    }
    gate(nullptr);
    UnhookWindowsHookEx(hook);
}

const std::wstring SAID = L"" TEXTO_TITULO L": "; // the caption of every message

class Front : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(start(&program)) << "no main window came";
    }
    void TearDown() override {
        EXPECT_EQ(0u, stop(&program));
    }
    // Types, presses Proceed once the window takes input and answers with the button: the message.
    std::wstring proceed(const std::wstring &typed, int button) {
        poll([&] { return IsWindowEnabled(program.main); }, 15000);
        SetDlgItemTextW(program.main, IDC_CARPETA, typed.c_str());
        press(program.main, IDC_PROCEDER);
        return answer(program, button);
    }
    Program program;
};

// Both boxes start checked. Enter and Escape do nothing. Browse, then Cancel in the picker,
// leaves the field as it was.
TEST_F(Front, FirstStateKeysAndBrowse) {
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(program.main, IDC_NO_SISTEMA));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(program.main, IDC_NO_OCULTAS));
    HWND field = GetDlgItem(program.main, IDC_CARPETA);
    PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(field, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(field, WM_CHAR, L'z', 0); // after the keys: it shows they have been handled
    ASSERT_TRUE(poll([&] { return text(program.main, IDC_CARPETA) == L"z"; }, 5000));
    EXPECT_FALSE(waitWindow(program, MESSAGE_TEXT, 700)) << "a message came";
    press(program.main, IDC_EXAMINAR);
    const int title = 0x3742; // the classic folder picker's title line
    HWND picker = waitWindow(program, title);
    EXPECT_EQ(L"Please, especify the root folder:", text(picker, title));
    EXPECT_EQ(program.main, GetWindow(picker, GW_OWNER));
    press(picker, IDCANCEL);
    EXPECT_TRUE(poll([&] { return IsWindowEnabled(program.main); }, 5000));
    EXPECT_EQ(L"z", text(program.main, IDC_CARPETA));
}

// The folder test takes paths shorter than 260 units on Windows; Wine's takes longer ones, so the
// program sets the limit itself. The field gives at most 2,598 characters. No to the confirmation
// leaves the tree and the field as they were.
TEST_F(Front, RefusesWhatIsNotAFolderAndNoChangesNothing) {
    const std::wstring root = newRoot();
    const std::wstring a(259 - root.size(), L'a'), b(258 - root.size(), L'b'), c(2700, L'c');
    const std::wstring longest = root + L"\\" + b, tooLong = root + L"\\" + a;
    ASSERT_TRUE(makeTree(root, a + L"/ " + b + L"/ file"));
    for (const std::wstring &typed : {std::wstring(), root + L"\\file", root + L"\\no", tooLong, c})
        EXPECT_EQ(SAID + typed.substr(0, 2598) + L"\r\nIs not a folder.", proceed(typed, IDOK));
    EXPECT_EQ(SAID + L"I am going to erase the folders that do not contain any file within:\r\n" +
                  longest + L"\r\nAre you sure?",
              proceed(longest, IDNO));
    EXPECT_EQ(a + L"/ " + b + L"/ file", readTree(root));
    EXPECT_EQ(longest, text(program.main, IDC_CARPETA));
    removeTree(root);
}

// Each box sets its own option only, whichever of the two is unchecked. After the run the window
// keeps what the user set.
TEST_F(Front, EachBoxSetsItsOwnOption) {
    const struct {
        int box;
        const wchar_t *left;
    } cases[] = {{IDC_NO_OCULTAS, L"keep sys/"}, {IDC_NO_SISTEMA, L"hid/ keep"}};
    for (const auto &c : cases) {
        const std::wstring root = newRoot();
        ASSERT_TRUE(makeTree(root, L"keep plain/ hid/:h sys/:s"));
        CheckDlgButton(program.main, IDC_NO_SISTEMA, BST_CHECKED);
        CheckDlgButton(program.main, IDC_NO_OCULTAS, BST_CHECKED);
        CheckDlgButton(program.main, c.box, BST_UNCHECKED);
        proceed(root, IDYES);
        EXPECT_EQ(SAID + L"I have traversed 4 folders and I have erased 2",
                  answer(program, IDOK, 60000));
        EXPECT_EQ(c.left, readTree(root));
        EXPECT_EQ(root, text(program.main, IDC_CARPETA));
        EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(program.main, c.box));
        removeTree(root);
    }
}

TEST(Resources, VersionRecordAndManifest) {
    std::vector<char> record(GetFileVersionInfoSizeW(L"tovrith.exe", NULL));
    ASSERT_TRUE(GetFileVersionInfoW(L"tovrith.exe", 0, (DWORD)record.size(), record.data()));
    auto value = [&](const wchar_t *name) {
        void *found = NULL;
        UINT length = 0;
        VerQueryValueW(record.data(), name, &found, &length);
        return found;
    };
    const auto *fixed = (VS_FIXEDFILEINFO *)value(L"\\");
    ASSERT_TRUE(fixed);
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionMS) << "0.1";
    EXPECT_EQ(0u, fixed->dwFileVersionLS) << ".0.0";
    EXPECT_STREQ(L"Removes folders that contain no files",
                 (wchar_t *)value(L"\\StringFileInfo\\040904E4\\FileDescription"));
    EXPECT_STREQ(L"0.1a", (wchar_t *)value(L"\\StringFileInfo\\040904E4\\FileVersion"));
    // With a long-path declaration Windows' folder test would take long paths, and the program
    // sets its own limit. The manifest is stored as it is written.
    std::ifstream file("tovrith.exe", std::ios::binary);
    const std::string exe{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(std::string::npos, exe.find("longPathAware"));
    EXPECT_NE(std::string::npos, exe.find("asInvoker"));
}

} // namespace
