#include "sweep_run.h"

#include <gtest/gtest.h>

#include <ostream>

#include "support/fs.h"

bool operator==(const Outcome &a, const Outcome &b) {
    return a.exitCode == b.exitCode && a.visited == b.visited && a.removed == b.removed;
}

void PrintTo(const Outcome &o, std::ostream *os) {
    *os << "{exit " << o.exitCode << ", visited " << o.visited << ", removed " << o.removed << "}";
}

Task::Task(const std::wstring &root, bool visitSystem, bool visitHidden)
    : record(new DatosTarea()) {
    wcsncpy(record->carpetaRaiz, root.c_str(), LARGO_RUTA - 1);
    record->recorrerSistema = visitSystem;
    record->recorrerOcultas = visitHidden;
    record->eventoCancelar = CreateEventW(NULL, TRUE, FALSE, NULL);
}

Task::~Task() {
    CloseHandle(record->eventoCancelar);
}

Outcome Task::outcome(DWORD exitCode) const {
    return {exitCode, record->carpetasRecorridas, record->carpetasBorradas};
}

Outcome sweep(const std::wstring &root, bool visitSystem, bool visitHidden) {
    Task task(root, visitSystem, visitHidden);
    Outcome outcome = {~0u, -1, -1};
    if (!sweepOnThread(task, 60000, &outcome))
        ADD_FAILURE() << "the sweep did not end within a minute and was stopped: " << root;
    return outcome;
}

bool sweepOnThread(Task &task, DWORD timeoutMs, Outcome *outcome) {
    HANDLE worker = CreateThread(NULL, 0, ThreadProc, task.record.get(), 0, NULL);
    if (!worker)
        return false;
    bool ended = WaitForSingleObject(worker, timeoutMs) == WAIT_OBJECT_0;
    if (!ended) {
        SetEvent(task.record->eventoCancelar);
        WaitForSingleObject(worker, 20000);
    }
    DWORD code = 0;
    GetExitCodeThread(worker, &code);
    CloseHandle(worker);
    *outcome = task.outcome(code);
    return ended;
}

static void snapshotInto(const std::wstring &dir, const std::wstring &rel, Snapshot *out) {
    for (const WIN32_FIND_DATAW &d : listEntries(dir)) {
        std::wstring path = dir + L"\\" + d.cFileName, key = rel + d.cFileName;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            (*out)[key] = "<link>";
        } else if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*out)[key] = "<dir>";
            snapshotInto(path, key + L"\\", out);
        } else if (!readFile(path, &(*out)[key])) {
            (*out)[key] = "<unreadable>";
        }
    }
}

Snapshot snapshot(const std::wstring &root) {
    Snapshot s;
    snapshotInto(root, L"", &s);
    return s;
}
