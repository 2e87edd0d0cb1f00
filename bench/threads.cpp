#include "threads.h"

#include <tlhelp32.h>

std::set<DWORD> threadIds(DWORD pid) {
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == pid)
            ids.insert(entry.th32ThreadID);
    CloseHandle(snapshot);
    return ids;
}

HANDLE waitNewThread(DWORD pid, const std::set<DWORD> &before, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        for (DWORD id : threadIds(pid)) {
            if (before.count(id))
                continue;
            HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
            if (thread)
                return thread;
        }
        if (GetTickCount() - start >= timeoutMs)
            return NULL;
        Sleep(1);
    }
}
