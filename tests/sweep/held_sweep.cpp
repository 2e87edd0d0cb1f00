#include "held_sweep.h"

#include <string.h>

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

// The slot of this program's import table through which its code calls dll!function.
static void **importSlot(const char *dll, const char *function) {
    BYTE *base = (BYTE *)GetModuleHandleW(NULL);
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress);
    for (; d->Name; d++) {
        if (_stricmp((const char *)(base + d->Name), dll) != 0 || !d->OriginalFirstThunk)
            continue;
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME *byName = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            if (strcmp((const char *)byName->Name, function) == 0)
                return (void **)&slots->u1.Function;
        }
    }
    return NULL;
}

static bool installGate() {
    if (realWait)
        return true;
    void **slot = importSlot("kernel32.dll", "WaitForSingleObject");
    DWORD old;
    if (!slot || !VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old))
        return false;
    realWait = (WaitFn)*slot;
    *slot = (void *)gatedWait;
    VirtualProtect(slot, sizeof *slot, old, &old);
    return true;
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
