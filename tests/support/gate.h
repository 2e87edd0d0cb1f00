// The program's code is linked into the test, so its calls go through this executable's import of
// WaitForSingleObject. The gate takes that slot: at the sweep's stop check, the program's only
// 2 ms wait, it first calls the test's function on the worker thread with the visit's number and
// the stop event. A test can stop the sweep at the visit it chooses, or act while it is held.
#pragma once

#include <windows.h>

#include <functional>

extern "C" DWORD(WINAPI *__imp_WaitForSingleObject)(HANDLE, DWORD);

inline std::function<void(int visit, HANDLE stop)> atCheck;
inline int checks;
inline DWORD(WINAPI *realWait)(HANDLE, DWORD) = __imp_WaitForSingleObject;

inline DWORD WINAPI gatedWait(HANDLE object, DWORD ms) {
    if (ms == 2 && atCheck)
        atCheck(++checks, object);
    return realWait(object, ms);
}

// From now on visits count from 1 and call check; nullptr lets them by.
inline void gate(std::function<void(int visit, HANDLE stop)> check) {
    DWORD was;
    VirtualProtect(&__imp_WaitForSingleObject, sizeof(void *), PAGE_READWRITE, &was);
    __imp_WaitForSingleObject = gatedWait;
    checks = 0;
    atCheck = check;
}
