#include "held_sweep.h"

#include "support/import_patch.h"

static const DWORD BOUND_MS = 20000;

typedef DWORD(WINAPI *WaitFn)(HANDLE, DWORD);
static WaitFn realWait;
static volatile DWORD heldThread;
static HANDLE heldEvent, arrived, go;

static DWORD WINAPI gatedWait(HANDLE object, DWORD ms) {
    if (GetCurrentThreadId() == heldThread && object == heldEvent) {
        SetEvent(arrived);
        realWait(go, BOUND_MS);
    }
    return realWait(object, ms);
}

static bool installGate() {
    if (realWait)
        return true;
    realWait = (WaitFn)swapImport("kernel32.dll", "WaitForSingleObject", (void *)gatedWait);
    return realWait != NULL;
}

HeldSweep::HeldSweep(Task &task) : task_(task), worker_(NULL) {
    if (!installGate())
        return;
    if (!task_->ventanaProgreso)
        task_->ventanaProgreso = GetDesktopWindow();
    task_->avisoPendiente = 1;
    arrived = CreateEventW(NULL, FALSE, FALSE, NULL);
    go = CreateEventW(NULL, FALSE, FALSE, NULL);
    heldEvent = task_->eventoCancelar;
    DWORD id = 0;
    worker_ = CreateThread(NULL, 0, ThreadProc, task_.record.get(), CREATE_SUSPENDED, &id);
    heldThread = id;
    if (worker_)
        ResumeThread(worker_);
}

HeldSweep::~HeldSweep() {
    Outcome ignored;
    // Still running only when the test gave up on it: stop it rather than wait for its end.
    if (worker_) {
        SetEvent(task_->eventoCancelar);
        finish(&ignored);
    }
    CloseHandle(arrived);
    CloseHandle(go);
    arrived = go = NULL;
}

HeldSweep::State HeldSweep::waitParked() {
    if (!worker_)
        return TimedOut;
    HANDLE both[2] = {arrived, worker_};
    switch (WaitForMultipleObjects(2, both, FALSE, BOUND_MS)) {
    case WAIT_OBJECT_0:
        return Parked;
    case WAIT_OBJECT_0 + 1:
        return Ended;
    default:
        return TimedOut;
    }
}

void HeldSweep::letGo() {
    SetEvent(go);
}

bool HeldSweep::stopHere(Outcome *outcome) {
    SetEvent(task_->eventoCancelar);
    return finish(outcome);
}

bool HeldSweep::finish(Outcome *outcome, DWORD timeoutMs) {
    heldThread = 0;
    SetEvent(go);
    if (!worker_ || WaitForSingleObject(worker_, timeoutMs) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeThread(worker_, &code);
    CloseHandle(worker_);
    worker_ = NULL;
    *outcome = task_.outcome(code);
    return true;
}

std::vector<std::wstring> recordVisits(Task &task, Outcome *outcome) {
    std::vector<std::wstring> shown;
    HeldSweep held(task);
    while (held.waitParked() == HeldSweep::Parked) {
        shown.push_back(task->carpetaMostrada);
        held.letGo();
    }
    *outcome = {~0u, -1, -1};
    held.finish(outcome);
    return shown;
}
