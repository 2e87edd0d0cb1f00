// The Windows side of bench/run, one command a run (see wmain); figures go out as name=value
// pairs. A sweep lasts as long as its worker thread: the engine and the program are timed alike,
// from the system's record of when that thread began and ended. Both filters are off.
#include <windows.h>
#include <mmsystem.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <stdio.h>
#include <stdlib.h>

#include <set>

#include "support.h"
#include "sweep/sweep.h"

// The import slots through which the engine, linked into this program, reaches the platform.
extern "C" decltype(&WaitForSingleObject) __imp_WaitForSingleObject;
extern "C" decltype(&NtCreateFile) __imp_NtCreateFile;
extern "C" decltype(&NtQueryDirectoryFile) __imp_NtQueryDirectoryFile;
extern "C" decltype(&GetFileInformationByHandleEx) __imp_GetFileInformationByHandleEx;
extern "C" decltype(&NtQueryInformationFile) __imp_NtQueryInformationFile;
extern "C" decltype(&SetFileInformationByHandle) __imp_SetFileInformationByHandle;
extern "C" decltype(&DeviceIoControl) __imp_DeviceIoControl;
extern "C" decltype(&CloseHandle) __imp_CloseHandle;

namespace {

double nowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

// Waits for the thread, then reads how long it lived: its creation and exit times, in 100 ns.
// The Ex wait is not one of the calls timed in the engine's place.
double lifeMs(HANDLE thread) {
    WaitForSingleObjectEx(thread, INFINITE, FALSE);
    ULARGE_INTEGER created, ended, kernel, user;
    GetThreadTimes(thread, (FILETIME *)&created, (FILETIME *)&ended, (FILETIME *)&kernel,
                   (FILETIME *)&user);
    CloseHandle(thread);
    return (ended.QuadPart - created.QuadPart) / 1e4;
}

double peakMiB(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(process, &counters, sizeof counters);
    return counters.PeakWorkingSetSize / 1048576.0;
}

// The tree's description in UTF-8, for the Linux side to make: Wine makes a new name only after
// reading its whole folder, which would take minutes on a flat 20,000.
int describe(const std::wstring &shape, int n) {
    std::wstring tree = shape == L"random" ? randomTree(20240601, n, 20, false) : L"";
    for (int i = 1; shape == L"flat" && i <= n; i++)
        tree += L"n" + std::to_wstring(i) + L"/ ";
    std::string out(tree.size() * 3, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, tree.data(), (int)tree.size(), &out[0],
                                   (int)out.size(), NULL, NULL));
    fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int measureFloor() {
    HANDLE never = CreateEventW(NULL, TRUE, FALSE, NULL);
    timeBeginPeriod(1);
    double start = nowMs();
    for (int i = 0; i < 1000; i++)
        WaitForSingleObject(never, 2);
    printf("floor_ms=%.4f\n", (nowMs() - start) / 1000);
    timeEndPeriod(1);
    return 0;
}

// Each platform call the engine makes, timed where it is imported. The information calls are
// counted by the class asked for, a removal also by how it ended: under Wine one that is refused
// costs far less than one that works, and Wine 8 refuses the Ex call as unsupported. A folder
// marked to go goes as its handle closes: that close is counted apart. Each row, in the table's
// order: its kind and its name, kept side by side.
#define CALL_ROWS(ROW)                                                                             \
    ROW(kWait, "stop-check wait")                                                                  \
    ROW(kOpen, "NtCreateFile")                                                                     \
    ROW(kTag, "GetFileInformationByHandleEx tag")                                                  \
    ROW(kIdentity, "GetFileInformationByHandleEx identity")                                        \
    ROW(kListedId, "NtQueryInformationFile listed ID")                                             \
    ROW(kStreams, "NtQueryInformationFile streams")                                                \
    ROW(kListRestart, "NtQueryDirectoryFile, first")                                               \
    ROW(kListNext, "NtQueryDirectoryFile, more")                                                   \
    ROW(kBasicRead, "GetFileInformationByHandleEx basic")                                          \
    ROW(kRemoves, "SetFileInformationByHandle removes")                                            \
    ROW(kNotEmpty, "SetFileInformationByHandle not empty")                                         \
    ROW(kExUnsupported, "SetFileInformationByHandle Ex unsupported")                               \
    ROW(kRefused, "SetFileInformationByHandle refused")                                            \
    ROW(kAttributeWrite, "SetFileInformationByHandle attributes")                                  \
    ROW(kMountPoint, "DeviceIoControl (mount point)")                                              \
    ROW(kCloseGoes, "CloseHandle, marked to go")                                                   \
    ROW(kClose, "CloseHandle, not marked")
#define ROW_KIND(kind, name) kind,
#define ROW_NAME(kind, name) name,
enum { CALL_ROWS(ROW_KIND) kKinds };
const char *const kCallNames[kKinds] = {CALL_ROWS(ROW_NAME)};
double callMs[kKinds];
long callCount[kKinds];
const DWORD kMainThread = GetCurrentThreadId(); // its own calls (closing the worker) not counted

// The row a call is counted in: its own for most calls.
template <typename R, typename... A> int rowOf(int kind, R, DWORD, A...) {
    return kind;
}

HANDLE marked; // the last handle through which a folder was marked to go, until it closes

// The information calls, taken as kTag (get) and kRemoves (set), by the classes the engine uses.
int rowOf(int kind, BOOL done, DWORD error, HANDLE folder, FILE_INFO_BY_HANDLE_CLASS type, LPVOID,
          DWORD) {
    if (type == FileBasicInfo)
        return kind == kTag ? kBasicRead : kAttributeWrite;
    if (type == FileAttributeTagInfo)
        return kTag;
    if (type == (FILE_INFO_BY_HANDLE_CLASS)18) // FileIdInfo
        return kIdentity;
    if (done) {
        marked = folder;
        return kRemoves;
    }
    if (error == ERROR_DIR_NOT_EMPTY)
        return kNotEmpty;
    return type != FileDispositionInfo && error == ERROR_INVALID_PARAMETER ? kExUnsupported
                                                                           : kRefused;
}

// What a handle holds: the ID a listing gives, or named streams.
int rowOf(int, NTSTATUS, DWORD, HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
          FILE_INFORMATION_CLASS type) {
    return type == FileInternalInformation ? kListedId : kStreams;
}

// The listing: its first entries, or more.
int rowOf(int, NTSTATUS, DWORD, HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID,
          ULONG, FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN restart) {
    return restart ? kListRestart : kListNext;
}

// CloseHandle: the folder marked through this handle goes now.
int rowOf(int, BOOL, DWORD, HANDLE handle) {
    if (handle != marked)
        return kClose;
    marked = NULL;
    return kCloseGoes;
}

template <int kind, typename F> struct Timed;
template <int kind, typename R, typename... A> struct Timed<kind, R(WINAPI *)(A...)> {
    static inline R(WINAPI *real)(A...);
    static R WINAPI call(A... a) {
        if (GetCurrentThreadId() == kMainThread)
            return real(a...);
        double start = nowMs();
        R result = real(a...);
        const DWORD error = GetLastError();
        const int k = rowOf(kind, result, error, a...);
        callMs[k] += nowMs() - start;
        callCount[k]++;
        SetLastError(error); // the engine reads it after a refused removal
        return result;
    }
};

template <int kind, typename F> void timeCalls(F &slot) {
    Timed<kind, F>::real = slot;
    take(&slot, Timed<kind, F>::call);
}

int engine(const std::wstring &root, bool calls) {
    static DatosTarea task; // two path buffers: kept off the stack
    wcsncpy(task.carpetaRaiz, root.c_str(), LARGO_RUTA - 1);
    task.recorrerSistema = 1;
    task.recorrerOcultas = 1;
    task.eventoCancelar = CreateEventW(NULL, TRUE, FALSE, NULL);
    // As the progress window does: without it a 2 ms wait on Windows lasts a 15.6 ms tick.
    timeBeginPeriod(1);
    if (calls) {
        timeCalls<kWait>(__imp_WaitForSingleObject);
        timeCalls<kListedId>(__imp_NtQueryInformationFile);
        timeCalls<kOpen>(__imp_NtCreateFile);
        timeCalls<kListRestart>(__imp_NtQueryDirectoryFile);
        timeCalls<kTag>(__imp_GetFileInformationByHandleEx);
        timeCalls<kRemoves>(__imp_SetFileInformationByHandle);
        timeCalls<kMountPoint>(__imp_DeviceIoControl);
        timeCalls<kClose>(__imp_CloseHandle);
    }
    double ms = lifeMs(CreateThread(NULL, 0, ThreadProc, &task, 0, NULL));
    timeEndPeriod(1);
    printf("visited=%d removed=%d ms=%.1f peak_ws_mib=%.2f\n", task.carpetasRecorridas,
           task.carpetasBorradas, ms, peakMiB(GetCurrentProcess()));
    if (!calls)
        return 0;
    const int visited = task.carpetasRecorridas;
    printf("%-41s %7s %9s %10s\n", "call", "calls", "mean us", "ms/folder");
    for (int k = 0; k < kKinds; k++)
        printf("%-41s %7ld %9.1f %10.3f\n", kCallNames[k], callCount[k],
               callCount[k] ? callMs[k] * 1000 / callCount[k] : 0, callMs[k] / visited);
    printf("%-41s %7d %9s %10.3f\n", "all, walk included", visited, "", ms / visited);
    return 0;
}

std::set<DWORD> threadsOf(DWORD pid) {
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == pid)
            ids.insert(entry.th32ThreadID);
    CloseHandle(snapshot);
    return ids;
}

// Proceeds on root with both filters off and answers Yes. Returns the worker, which the
// progress window starts as it opens: the one thread a run adds to the program.
HANDLE proceed(const Program &program, const std::wstring &root) {
    poll([&] { return IsWindowEnabled(program.main) != FALSE; }, 15000);
    SetDlgItemTextW(program.main, IDC_CARPETA, root.c_str());
    CheckDlgButton(program.main, IDC_NO_SISTEMA, BST_UNCHECKED);
    CheckDlgButton(program.main, IDC_NO_OCULTAS, BST_UNCHECKED);
    press(program.main, IDC_PROCEDER);
    HWND confirm = waitWindow(program, MESSAGE_TEXT);
    std::set<DWORD> before = threadsOf(program.process.dwProcessId);
    press(confirm, IDYES);
    HANDLE worker = NULL;
    poll(
        [&] {
            for (DWORD id : threadsOf(program.process.dwProcessId))
                if (!worker && !before.count(id))
                    worker = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, 0, id);
            return worker != NULL;
        },
        15000, 1);
    return worker;
}

int program(const std::wstring &root) {
    Program program;
    HANDLE worker = start(&program) ? proceed(program, root) : NULL;
    double ms = worker ? lifeMs(worker) : 0;
    std::wstring said = answer(program, IDOK, 60000);
    double peak = peakMiB(program.process.hProcess);
    DWORD code = stop(&program);
    int visited = -1;
    int removed = -1;
    swscanf(said.c_str(), L"" TEXTO_TITULO L": I have traversed %d folders and I have erased %d",
            &visited, &removed);
    printf("visited=%d removed=%d ms=%.1f peak_ws_mib=%.2f exit=%lu\n", visited, removed, ms, peak,
           code);
    return !worker || code;
}

int cancel(const std::wstring &root, int rounds) {
    Program program;
    if (!start(&program))
        return 1;
    bool canceled = true;
    for (int i = 0; i < rounds; i++) {
        CloseHandle(proceed(program, root));
        HWND progress = waitWindow(program, IDC_CARPETA_ACTUAL);
        Sleep(1000);
        double pressed = nowMs();
        press(progress, IDC_CANCELAR);
        poll([&] { return waitWindow(program, MESSAGE_TEXT, 0) != NULL; }, 15000, 1);
        printf("%s%.1f", i ? "," : "cancel_ms=", nowMs() - pressed);
        canceled &=
            answer(program, IDOK) == L"" TEXTO_TITULO L": The task has been canceled by the user";
    }
    printf(" canceled=%d exit=%lu\n", canceled, stop(&program));
    return !canceled;
}

} // namespace

// tree flat|random N, floor, engine|calls ROOT, program ROOT, cancel ROOT ROUNDS
int wmain(int argc, wchar_t **argv) {
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"tree" && argc == 4)
        return describe(argv[2], _wtoi(argv[3]));
    if (command == L"floor")
        return measureFloor();
    if ((command == L"engine" || command == L"calls") && argc == 3)
        return engine(argv[2], command == L"calls");
    if (command == L"program" && argc == 3)
        return program(argv[2]);
    if (command == L"cancel" && argc == 4)
        return cancel(argv[2], _wtoi(argv[3]));
    return 2;
}
