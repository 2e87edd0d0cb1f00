// The program's code is linked into the test, so its platform calls go through this executable's
// imports, and the gate takes some of those slots. At the sweep's stop check (the program's only
// 2 ms wait) it calls the test's function on the worker thread, with the visit's number and the
// stop event. It counts the worker's attribute reads, and the reads, listings and removals that
// come after the sweep has seen a stop: there may be none.
#pragma once

#include <windows.h>

#include <functional>

extern "C" {
extern DWORD(WINAPI *__imp_WaitForSingleObject)(HANDLE, DWORD);
extern DWORD(WINAPI *__imp_GetFileAttributesW)(LPCWSTR);
extern BOOL(WINAPI *__imp_FindNextFileW)(HANDLE, LPWIN32_FIND_DATAW);
extern BOOL(WINAPI *__imp_RemoveDirectoryW)(LPCWSTR);
}

inline std::function<void(int visit, HANDLE stop)> atCheck;
inline int checks, reads, afterStop;
inline DWORD sweeper; // the thread that makes the checks
inline bool checking; // in the test's function, whose own calls are not the sweep's
inline bool stopped;  // the sweep has seen its stop

inline DWORD(WINAPI *realWait)(HANDLE, DWORD) = __imp_WaitForSingleObject;
inline DWORD(WINAPI *realRead)(LPCWSTR) = __imp_GetFileAttributesW;
inline BOOL(WINAPI *realNext)(HANDLE, LPWIN32_FIND_DATAW) = __imp_FindNextFileW;
inline BOOL(WINAPI *realRemove)(LPCWSTR) = __imp_RemoveDirectoryW;

inline bool sweeping() {
    return GetCurrentThreadId() == sweeper && !checking;
}

inline DWORD WINAPI gatedWait(HANDLE object, DWORD ms) {
    if (ms == 2 && atCheck) {
        sweeper = GetCurrentThreadId();
        checking = true;
        atCheck(++checks, object);
        checking = false;
    }
    DWORD result = realWait(object, ms);
    stopped |= sweeping() && ms == 2 && result != WAIT_TIMEOUT;
    return result;
}

inline DWORD WINAPI countedRead(LPCWSTR path) {
    reads += sweeping();
    afterStop += sweeping() && stopped;
    return realRead(path);
}

inline BOOL WINAPI countedNext(HANDLE listing, LPWIN32_FIND_DATAW entry) {
    afterStop += sweeping() && stopped;
    return realNext(listing, entry);
}

inline BOOL WINAPI countedRemove(LPCWSTR path) {
    afterStop += sweeping() && stopped;
    return realRemove(path);
}

// Puts a function in an import slot of this executable.
template <typename F> void take(F *slot, F function) {
    DWORD was;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was);
    *slot = function;
}

// From now on visits count from 1 and call check; nullptr lets them by.
inline void gate(std::function<void(int visit, HANDLE stop)> check) {
    take(&__imp_WaitForSingleObject, gatedWait);
    take(&__imp_GetFileAttributesW, countedRead);
    take(&__imp_FindNextFileW, countedNext);
    take(&__imp_RemoveDirectoryW, countedRemove);
    checks = reads = afterStop = 0;
    sweeper = 0;
    stopped = false;
    atCheck = check;
}
