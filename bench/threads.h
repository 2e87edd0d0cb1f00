// Finds, from outside, the thread a program starts, so that the end of its sweep can be timed
// exactly instead of at the progress window's next 500 ms poll tick.
#pragma once

#include <windows.h>

#include <set>

std::set<DWORD> threadIds(DWORD pid);

// Polls for a thread of the process that is not in `before` and opens it for waiting and for
// its times; NULL on time-out.
HANDLE waitNewThread(DWORD pid, const std::set<DWORD> &before, DWORD timeoutMs);
