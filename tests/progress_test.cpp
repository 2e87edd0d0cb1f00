// The progress window, modal on this thread as in the program. The user's part is played from the
// worker's own stop check (see gate.h), and every message box is answered by a hook as it comes,
// the way Wine's own tests close them.
#include <gtest/gtest.h>

#include "gate.h"
#include "progress/progress.h"
#include "tree.h"

namespace {

HANDLE worker;
// Every message shown, each followed by "!" when the worker was still running.
std::wstring shown;

LRESULT CALLBACK answerBoxes(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = (HWND)wParam;
    if (code == HCBT_ACTIVATE && GetDlgItem(window, 0xFFFF)) {
        wchar_t text[LARGO_RUTA] = L"";
        GetDlgItemTextW(window, 0xFFFF, text, LARGO_RUTA);
        shown += text + std::wstring(WaitForSingleObject(worker, 0) ? L"!" : L"");
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

const wchar_t CANCELED[] = L"The task has been canceled by the user";
const wchar_t STOPPED[] = L"exit 0, visited 2, removed 0: a/ a/b/ c/ c/f d/";
const wchar_t SUMMARY[] = L"I have traversed 5 folders and I have erased 3";
const wchar_t SWEPT[] = L"exit 1, visited 5, removed 3: c/ c/f";

struct Case {
    const char *what;
    UINT message; // posted at the second visit: keys to the control that has the focus
    WPARAM wParam;
    INT_PTR result;
    const wchar_t *box;
    const wchar_t *after;
};

// At the second visit the user acts, and the worker is then held in that visit past the window's
// next poll: a message shown, or a window ended, before the worker's end is seen while it runs.
TEST(Progress, RunsCancelsAndReports) {
    const Case cases[] = {
        {"Cancel", WM_COMMAND, IDC_CANCELAR, 1, CANCELED, STOPPED},
        {"Enter", WM_KEYDOWN, VK_RETURN, 1, CANCELED, STOPPED},
        {"a close request", WM_CLOSE, 0, 1, CANCELED, STOPPED},
        {"Escape", WM_KEYDOWN, VK_ESCAPE, 0, SUMMARY, SWEPT},
    };
    HHOOK hook = SetWindowsHookExW(WH_CBT, answerBoxes, NULL, GetCurrentThreadId());
    DatosTarea task = {};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring root = newRoot();
        ASSERT_TRUE(makeTree(root, L"a/b/ c/f d/"));
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
            GUITHREADINFO focus = {};
            focus.cbSize = sizeof focus;
            GetGUIThreadInfo(GetWindowThreadProcessId(task.ventanaProgreso, NULL), &focus);
            HWND to = c.message == WM_KEYDOWN ? focus.hwndFocus : task.ventanaProgreso;
            PostMessageW(to, c.message, c.wParam, 0);
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
        EXPECT_EQ(c.after, L"exit " + std::to_wstring(code) + L", " +
                               outcome(task.carpetasRecorridas, task.carpetasBorradas, root));
        removeTree(root);
    }
    gate(nullptr);
    UnhookWindowsHookEx(hook);
}

} // namespace
