// The test thread's side of a run: the window itself, hooks that watch what reaches it, and
// stand-ins for some platform calls of the program.
#include "window_run.h"

#include <stdio.h>

#include "support/import_patch.h"
#include "run_session.h"

typedef DWORD(WINAPI *GetFileAttributesFn)(LPCWSTR);
typedef UINT_PTR(WINAPI *SetTimerFn)(HWND, UINT_PTR, UINT, TIMERPROC);
typedef HANDLE(WINAPI *CreateThreadFn)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE,
                                       LPVOID, DWORD, LPDWORD);

bool isProgress(HWND w) {
    return w && GetDlgItem(w, IDC_CANCELAR) && GetDlgItem(w, IDC_CARPETA_ACTUAL);
}

namespace {

// The run in progress, read by hooks and stand-ins that run on other threads.
std::atomic<Session *> current{nullptr};
CreateThreadFn realCreateThread;
SetTimerFn realSetTimer;
GetFileAttributesFn realGetFileAttributes;

// The progress window or one of its controls (not a window it owns, such as its message box).
bool inProgress(HWND w) {
    return isProgress(w) || ((GetWindowLongW(w, GWL_STYLE) & WS_CHILD) && isProgress(GetParent(w)));
}

void note(Session *s, UINT message, WPARAM wParam, bool sent) {
    std::lock_guard<std::mutex> hold(s->lock);
    s->log->messages.push_back({message, wParam, sent, s->nowMs()});
}

LRESULT CALLBACK onSent(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT *m = (const CWPSTRUCT *)lParam;
    Session *s = current;
    if (code == HC_ACTION && s) {
        if (m->message == WM_SETTEXT && GetDlgCtrlID(m->hwnd) == IDC_CARPETA_ACTUAL &&
            inProgress(m->hwnd)) {
            std::lock_guard<std::mutex> hold(s->lock);
            s->log->shown.push_back((const wchar_t *)m->lParam);
        } else if ((m->message == WM_COMMAND || m->message == WM_CLOSE) && isProgress(m->hwnd)) {
            note(s, m->message, m->wParam, true);
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

LRESULT CALLBACK onRetrieved(int code, WPARAM wParam, LPARAM lParam) {
    const MSG *m = (const MSG *)lParam;
    Session *s = current;
    if (code == HC_ACTION && wParam == PM_REMOVE && s) {
        bool mine = inProgress(m->hwnd);
        switch (m->message) {
        case WM_TIMER:
        case WM_COMMAND:
        case WM_CLOSE:
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            if (mine)
                note(s, m->message, m->wParam, false);
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

// Stands in for CreateThread in the program's code: keeps a handle of the worker, or refuses it.
HANDLE WINAPI spyCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                              LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD flags,
                              LPDWORD id) {
    Session *s = current;
    if (!s || routine != ThreadProc)
        return realCreateThread(security, stack, routine, parameter, flags, id);
    s->log->workerStarts++;
    HANDLE event = ((DatosTarea *)parameter)->eventoCancelar;
    if (event && !s->event)
        DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &s->event, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
    if (s->options.failWorkerStart) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    HANDLE h = realCreateThread(security, stack, routine, parameter, flags, id);
    if (h) {
        HANDLE mine = NULL;
        DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &mine, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        HANDLE old = InterlockedExchangePointer(&s->worker, mine);
        if (old)
            CloseHandle(old);
        s->workerId = GetThreadId(h);
    }
    return h;
}

// Stands in for GetFileAttributesW: on the worker thread, stops there while the hold is armed.
DWORD WINAPI spyGetFileAttributes(LPCWSTR path) {
    Session *s = current;
    int armed = 1;
    if (s && GetCurrentThreadId() == s->workerId && s->hold.compare_exchange_strong(armed, 2)) {
        SetEvent(s->held);
        WaitForSingleObject(s->release, 20000);
    }
    return realGetFileAttributes(path);
}

// Stands in for SetTimer in the program's code, to note the period it asks for.
UINT_PTR WINAPI spySetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC callback) {
    Session *s = current;
    if (s && isProgress(window))
        s->log->timerPeriods.push_back(period);
    return realSetTimer(window, id, period, callback);
}

// Handles open on the object, this one included; 0 when the platform does not say.
// (GetProcessHandleCount cannot show a leak under Wine 8: it always answers 0.)
int openHandles(HANDLE h) {
    struct {
        ULONG attributes;
        ACCESS_MASK access;
        ULONG handles, references;
        ULONG reserved[10];
    } basic = {};
    typedef LONG(NTAPI * QueryObject)(HANDLE, int, PVOID, ULONG, PULONG);
    static QueryObject query =
        (QueryObject)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject");
    if (!h || !query || query(h, 0 /* ObjectBasicInformation */, &basic, sizeof basic, NULL) < 0)
        return 0;
    return (int)basic.handles;
}

DWORD WINAPI driverMain(LPVOID parameter) {
    Session *s = (Session *)parameter;
    Driver d(s);
    s->script(d);
    d.finish();
    return 0;
}

} // namespace

int RunLog::count(UINT message, WPARAM wParam) const {
    int n = 0;
    for (const SeenMessage &m : messages)
        n += m.message == message && m.wParam == wParam;
    return n;
}

int RunLog::first(UINT message, WPARAM wParam) const {
    for (size_t i = 0; i < messages.size(); ++i)
        if (messages[i].message == message && messages[i].wParam == wParam)
            return (int)i;
    return -1;
}

static void restoreImports() {
    if (realCreateThread)
        swapImport("kernel32.dll", "CreateThread", (void *)realCreateThread);
    if (realSetTimer)
        swapImport("user32.dll", "SetTimer", (void *)realSetTimer);
    if (realGetFileAttributes)
        swapImport("kernel32.dll", "GetFileAttributesW", (void *)realGetFileAttributes);
    realCreateThread = NULL;
    realSetTimer = NULL;
    realGetFileAttributes = NULL;
}

RunLog runWindow(DatosTarea *task, const std::function<void(Driver &)> &script,
                 const RunOptions &options) {
    RunLog log;
    Session s;
    s.log = &log;
    s.options = options;
    s.uiThread = GetCurrentThreadId();
    s.owner = task->ventanaPrincipal;
    s.script = script;
    QueryPerformanceFrequency(&s.frequency);
    QueryPerformanceCounter(&s.start);

    HANDLE driver = CreateThread(NULL, 0, driverMain, &s, CREATE_SUSPENDED, NULL);
    realCreateThread =
        (CreateThreadFn)swapImport("kernel32.dll", "CreateThread", (void *)spyCreateThread);
    realSetTimer = (SetTimerFn)swapImport("user32.dll", "SetTimer", (void *)spySetTimer);
    realGetFileAttributes = (GetFileAttributesFn)swapImport("kernel32.dll", "GetFileAttributesW",
                                                            (void *)spyGetFileAttributes);
    if (!driver || !realCreateThread || !realSetTimer || !realGetFileAttributes) {
        log.failure = !driver ? "no driver thread" : "a platform function is not imported";
        restoreImports();
        if (driver) {
            TerminateThread(driver, 1);
            CloseHandle(driver);
        }
        return log;
    }
    current = &s;
    HHOOK sent = SetWindowsHookExW(WH_CALLWNDPROC, onSent, NULL, s.uiThread);
    HHOOK retrieved = SetWindowsHookExW(WH_GETMESSAGE, onRetrieved, NULL, s.uiThread);
    ResumeThread(driver);

    log.result = abrirDialogoDeProgreso(task);

    if (s.worker) {
        log.workerEndedAtReturn = WaitForSingleObject(s.worker, 0) == WAIT_OBJECT_0;
        GetExitCodeThread(s.worker, &log.workerExitCode);
    }
    s.uiDone = true;
    SetEvent(s.release);
    if (WaitForSingleObject(driver, 30000) != WAIT_OBJECT_0) {
        fprintf(stderr, "The driver thread did not end\n");
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    CloseHandle(driver);
    UnhookWindowsHookEx(sent);
    UnhookWindowsHookEx(retrieved);
    restoreImports();
    current = nullptr;
    log.eventHandlesLeft = openHandles(s.event) - 1;
    log.workerHandlesLeft = openHandles(s.worker) - 1;
    if (s.worker) {
        // A worker that outlived the window is waited for here, so it cannot outlive the test.
        WaitForSingleObject(s.worker, 30000);
        CloseHandle(s.worker);
    }
    if (s.event)
        CloseHandle(s.event);
    return log;
}

std::string narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 128 ? (char)c : '?';
    return out;
}

std::string describe(const RunLog &log) {
    std::string out = "result " + std::to_string(log.result);
    if (!log.failure.empty())
        out += ", failure: " + log.failure;
    for (const SeenBox &b : log.boxes)
        out += "\n  box \"" + narrow(b.text) + "\" caption \"" + narrow(b.caption) + "\" icon " +
               std::to_string(b.icon) + " at " + std::to_string((int)b.atMs) + " ms";
    out += "\n  workers " + std::to_string(log.workerStarts) + ", ended at return " +
           std::to_string(log.workerEndedAtReturn) + ", exit code " +
           std::to_string(log.workerExitCode);
    return out;
}
