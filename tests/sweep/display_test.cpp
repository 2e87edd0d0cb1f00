// What the progress window would show: a real window on the test thread takes the folder the
// worker leaves in the record each time it is told, as the progress window does.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/fs.h"
#include "sweep_run.h"

namespace {

struct Shown {
    DatosTarea *task;
    std::vector<std::wstring> texts;
};

LRESULT CALLBACK displayProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    if (message != WM_CARPETA_NUEVA)
        return DefWindowProcW(window, message, wp, lp);
    Shown *shown = (Shown *)GetWindowLongPtrW(window, GWLP_USERDATA);
    // Cleared before the read: a folder left after the read is then told again.
    InterlockedExchange(&shown->task->avisoPendiente, 0);
    AcquireSRWLockShared(&shown->task->cerrojoCarpeta);
    shown->texts.push_back(shown->task->carpetaMostrada);
    ReleaseSRWLockShared(&shown->task->cerrojoCarpeta);
    Sleep(5); // slower than the worker's visits, so that updates merge as on a busy screen
    return 0;
}

HWND makeDisplayWindow(Shown *shown) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = displayProc;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.lpszClassName = L"TovrithTestDisplay";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                             wc.hInstance, NULL);
    SetWindowLongPtrW(w, GWLP_USERDATA, (LONG_PTR)shown);
    return w;
}

// The visit order, from a listing of our own: a folder is listed when it holds anything.
void expectedVisits(const std::wstring &dir, std::vector<std::wstring> *order) {
    order->push_back(dir);
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &d);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    do {
        std::wstring n = d.cFileName;
        if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && n != L"." && n != L"..")
            expectedVisits(dir + L"\\" + n, order);
    } while (FindNextFileW(h, &d));
    FindClose(h);
}

TEST(Display, WindowSeesVisitedFoldersInOrderEndingWithTheLast) {
    std::wstring root = makeTempRoot(L"display");
    for (int i = 0; i < 5; i++)
        for (int j = 0; j < 4; j++) {
            std::wstring d = root + L"\\d" + std::to_wstring(i) + L"\\e" + std::to_wstring(j);
            ASSERT_TRUE((i + j) % 3 ? makeDir(d) : makeFile(d + L"\\f", "f"));
        }
    std::vector<std::wstring> order;
    expectedVisits(root, &order);

    Task task(root);
    Shown shown = {task.record.get(), {}};
    task->ventanaProgreso = makeDisplayWindow(&shown);
    ASSERT_NE(HWND(NULL), task->ventanaProgreso);
    HANDLE worker = CreateThread(NULL, 0, ThreadProc, task.record.get(), 0, NULL);
    ASSERT_NE(HANDLE(NULL), worker);
    DWORD start = GetTickCount();
    bool ended = false;
    MSG m;
    while (!ended && GetTickCount() - start < 30000) {
        ended = MsgWaitForMultipleObjects(1, &worker, FALSE, 100, QS_ALLINPUT) == WAIT_OBJECT_0;
        while (PeekMessageW(&m, NULL, 0, 0, PM_REMOVE))
            DispatchMessageW(&m);
    }
    if (!ended) {
        SetEvent(task->eventoCancelar);
        WaitForSingleObject(worker, 20000);
    }
    DestroyWindow(task->ventanaProgreso);
    ASSERT_TRUE(ended) << "the sweep did not end within 30 s";
    CloseHandle(worker);
    removeTree(root);

    EXPECT_EQ((int)order.size(), task->carpetasRecorridas);
    ASSERT_FALSE(shown.texts.empty());
    // Updates are merged, and one folder may be read twice; never out of order.
    size_t at = 0;
    for (const std::wstring &t : shown.texts) {
        auto found = std::find(order.begin() + at, order.end(), t);
        ASSERT_NE(order.end(), found) << "shown out of order or never visited: " << t;
        at = found - order.begin();
    }
    EXPECT_EQ(order.back(), shown.texts.back());
    printf("visited %zu folders, the window was told %zu times\n", order.size(),
           shown.texts.size());
}

} // namespace
