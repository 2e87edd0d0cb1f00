// The deepest nesting the path limit allows, one-letter names below a short root, is swept to
// the bottom on a thread with the program's stack, with a listing open on every level.
#include <gtest/gtest.h>

#include <windows.h>

#include <mmsystem.h>

#include <stdio.h>

#include <algorithm>
#include <vector>

#include "folder_links.h"
#include "held_sweep.h"
#include "support/fs.h"
#include "unix_side.h"
#include "sweep_run.h"

namespace {

const size_t LONGEST = LARGO_RUTA - 5;

// Handles this process has open, from the system's handle table (GetProcessHandleCount reports 0
// under Wine 8.0).
DWORD openHandles() {
    typedef LONG(NTAPI * Query)(ULONG, PVOID, ULONG, PULONG);
    struct Entry {
        USHORT process, backTrace;
        BYTE type, flags;
        USHORT handle;
        PVOID object;
        ULONG access;
    };
    Query query =
        (Query)(void *)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    std::vector<BYTE> buf(1 << 20);
    ULONG got = 0;
    const LONG TOO_SMALL = (LONG)0xC0000004;
    LONG status;
    while ((status = query(16 /* SystemHandleInformation */, buf.data(), (ULONG)buf.size(),
                           &got)) == TOO_SMALL)
        buf.resize(buf.size() * 2);
    if (status != 0)
        return 0;
    ULONG count = *(ULONG *)buf.data();
    Entry *entries = (Entry *)(buf.data() + sizeof(void *));
    DWORD mine = 0;
    for (ULONG i = 0; i < count; i++)
        mine += entries[i].process == (USHORT)GetCurrentProcessId();
    return mine;
}

// A short root on the temporary folder's drive, so that the chain is as deep as it can be.
std::wstring shortRoot() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring root = std::wstring(temp, 3) + L"tvd" + std::to_wstring(GetCurrentProcessId());
    removeTree(root);
    return CreateDirectoryW(root.c_str(), NULL) ? root : makeTempRoot(L"deep");
}

// root\d\d... depth levels down. Wine looks up a missing folder's parent a level at a time, so
// making a thousand levels one by one takes minutes there; mkdir makes them in one go.
void makeChain(const std::wstring &root, int depth) {
    std::wstring below = L"d";
    for (int i = 1; i < depth; i++)
        below += L"/d";
    std::wstring path = root;
    for (int i = 0; i < depth; i++)
        path += L"\\d";
    if (runningOnWine() && startUnix("/bin/mkdir", L"-p " + below, root) && waitUntil(path, true))
        return;
    for (path = root; depth-- > 0;)
        CreateDirectoryW(longForm(path += L"\\d").c_str(), NULL);
}

TEST(Deep, ChainToThePathLimitIsSweptToTheBottom) {
    const std::wstring root = shortRoot();
    std::wstring path = root;
    int depth = 0;
    while (path.size() + 2 <= LONGEST) {
        path += L"\\d";
        depth++;
    }
    makeChain(root, depth);
    ASSERT_TRUE(isDir(path));
    // Held at every check, to see how many handles the walk keeps open at once.
    Task task(root);
    DWORD handles = openHandles(), most = 0;
    timeBeginPeriod(1); // a 2 ms wait would take a whole 15.6 ms tick on Windows
    DWORD start = GetTickCount();
    HeldSweep held(task);
    while (held.waitParked() == HeldSweep::Parked) {
        most = std::max(most, openHandles());
        held.letGo();
    }
    Outcome outcome;
    ASSERT_TRUE(held.finish(&outcome, 200000)); // the way up, removing
    DWORD ms = GetTickCount() - start;
    timeEndPeriod(1);
    EXPECT_EQ((Outcome{1, depth + 1, depth + 1}), outcome);
    EXPECT_FALSE(exists(root));
    printf("nesting of %d levels below %ls (deepest path %zu units) swept in %lu ms; handles "
           "open: %lu before, at most %lu during the walk\n",
           depth, root.c_str(), path.size(), ms, handles, most);
    removeTreeWithLinks(root);
}

} // namespace
