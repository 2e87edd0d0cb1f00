// The program's engine in this process: the sweep on real folders, then the progress window.
// After it the real program, driven from another process as a user would, and its resources.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <functional>
#include <map>
#include <optional>
#include <random>

#include "progress/progress.h"
#include "support.h"
#include <imagehlp.h> // after windows.h
#include <winioctl.h>
#include <shlobj.h>

namespace {

// The program's code is linked in, so its platform calls go through this executable's imports,
// some taken by the test. Each reports to `at` (a path, for "found" an entry's name): "check" at
// the stop check (the only 2 ms wait; `checks` counts them), "open" and "opened" around a folder's
// open, "list" and "more" before a listing's first and next calls, "found" for each entry it gives,
// "refused" after a failed removal, "write" before an attribute write and "put back" before one
// that puts a read-only mark back. Nothing is read, listed or removed once a stop is raised.
#define IMPORT(f)                                                                                  \
    extern "C" decltype(&f) __imp_##f;                                                             \
    const auto real##f = __imp_##f // the platform's own
IMPORT(WaitForSingleObject);
IMPORT(NtCreateFile);
IMPORT(NtQueryDirectoryFile);
IMPORT(GetFileInformationByHandleEx);
IMPORT(NtQueryInformationFile);
IMPORT(SetFileInformationByHandle);
IMPORT(DeviceIoControl);
IMPORT(CancelSynchronousIo);
IMPORT(GetProcAddress);
IMPORT(MsgWaitForMultipleObjectsEx);
IMPORT(GetTickCount64);
std::function<void(const wchar_t *call, const std::wstring &path)> at;
int checks;
bool stopped;

// The call's error stays for the program to read, whatever the test does meanwhile.
void report(const wchar_t *call, const std::wstring &path) {
    const DWORD error = GetLastError();
    if (at)
        at(call, path);
    SetLastError(error);
}

// The plain path of an open file.
std::wstring pathOf(HANDLE file) {
    wchar_t path[LARGO_RUTA] = L"";
    GetFinalPathNameByHandleW(file, path, LARGO_RUTA, 0);
    return path + (wcsncmp(path, L"\\\\?\\", 4) ? 0 : 4);
}

// What Windows keeps of a folder and Wine does not, and what a file system that breaks the rules
// says of it: one record per folder, by plain path.
struct Folder {
    // Windows refuses to remove a folder marked read-only unless told to ignore the mark (Windows
    // 10 1809 and later); Wine keeps no such mark, and refuses to be told. Windows Security refuses
    // a protected folder's removal (denied), and opens asking for any of these rights (refusing)
    // are refused as Windows Security does, or as for a folder the user may not list.
    bool readOnly = false, denied = false;
    ACCESS_MASK refusing = 0;
    int refused = 0; // opens
    // Its reparse tag, which Wine makes none of, and what its data says: a mount point's name, or
    // data that stops "short" in its header or whose name lies "past" it; a cloud folder's contents
    // "not fetched", or "all ones" its handles give for an ID.
    DWORD tag = 0;
    std::wstring data = L"";
    // Wine has no named streams: one (0), more than fit (a status), a query its file system refuses
    // (FAT), or a list that points past its end (1).
    std::optional<NTSTATUS> streams = std::nullopt;
    // Another volume's serial number, from every handle or from those that did not open it as
    // itself (its filter's view).
    bool otherVolume = false, viewElsewhere = false;
    // Its listing gives "nothing" (a success with no bytes, for ever), an entry that points "past"
    // the reply, one "cut" by its end or whose "name past" it ends, a byte count "over" the buffer,
    // or its entries "endless"ly; its entry in its parent's listing by name is "renamed" and
    // hidden; it has "extended" attributes; or it has the ID of another folder (like).
    std::wstring says = L"";
    LONGLONG like = 0;
    bool viewed = false; // listed, a cloud folder as its filter shows it
};

// Windows as the tests see it, the calls counted; the Root a test makes clears it at the end.
struct Windows {
    std::map<std::wstring, Folder> folders = {};
    bool ignoringMarkWorks = false;
    // No reparse tags (FAT, exFAT), and with some drivers no listings that give file IDs.
    bool fat = false;
    // This many attribute writes failed, as Cancel's cut of a stalled call cuts them.
    int cutWrites = 0;
    int markWrites = 0, plainRemovals = 0, accessRefusals = 0;
    // The progress window's messages, in turn; its request that keeps a hidden window's timer
    // resolution on Windows 11 (control mask, state mask, version); the calls that cut the worker's
    // stalled call short (whose thread, whether the stop was raised by then); tickFirst's tick.
    std::wstring shown = L"", asked = L"", cancels = L"";
    bool ticked = false;
} os;

// A cloud folder must never be listed or removed through a handle that opened it as itself.
std::map<HANDLE, bool> asItself;
const DWORD CLOUD = 0x9000001A; // IO_REPARSE_TAG_CLOUD

LONGLONG idOf(const std::wstring &path) {
    HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    BY_HANDLE_FILE_INFORMATION info = {};
    GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    return (LONGLONG)info.nFileIndexHigh << 32 | info.nFileIndexLow;
}

BOOL failing(DWORD error) {
    SetLastError(error);
    return FALSE;
}

DatosTarea task;

// The stop check comes right after the folder is handed to the window.
DWORD WINAPI gatedWait(HANDLE object, DWORD ms) {
    checks += ms == 2;
    EXPECT_TRUE(ms != 2 || !wcsstr(task.carpetaMostrada + 2, L"\\\\"))
        << "a separator doubled in " << task.carpetaMostrada;
    if (ms == 2)
        report(L"check", L"");
    return realWaitForSingleObject(object, ms);
}

NTSTATUS NTAPI recordedOpen(PHANDLE folder, ACCESS_MASK access, POBJECT_ATTRIBUTES name,
                            PIO_STATUS_BLOCK status, PLARGE_INTEGER size, ULONG attributes,
                            ULONG share, ULONG disposition, ULONG options, PVOID ea, ULONG eaSize) {
    const std::wstring path = pathOf(name->RootDirectory) + L"\\" +
                              std::wstring(name->ObjectName->Buffer, name->ObjectName->Length / 2);
    Folder &f = os.folders[path];
    if ((access & f.refusing) && ++f.refused)
        return (NTSTATUS)0xC0000022; // STATUS_ACCESS_DENIED
    EXPECT_FALSE(f.tag == CLOUD && f.viewed && (options & FILE_OPEN_REPARSE_POINT))
        << "a cloud folder opened afresh as itself";
    report(L"open", path);
    const NTSTATUS opened = realNtCreateFile(folder, access, name, status, size, attributes, share,
                                             disposition, options, ea, eaSize);
    if (NT_SUCCESS(opened))
        asItself[*folder] = options & FILE_OPEN_REPARSE_POINT;
    report(L"opened", path);
    return opened;
}

void expectNotAsItself(HANDLE folder, const std::wstring &path, const char *what) {
    EXPECT_FALSE(os.folders[path].tag == CLOUD && asItself[folder])
        << "a cloud folder " << what << " as itself";
}

NTSTATUS NTAPI reportedList(HANDLE folder, HANDLE event, PIO_APC_ROUTINE routine, PVOID context,
                            PIO_STATUS_BLOCK status, PVOID entries, ULONG size,
                            FILE_INFORMATION_CLASS kind, BOOLEAN one, PUNICODE_STRING pattern,
                            BOOLEAN restart) {
    const bool late = stopped;
    EXPECT_FALSE(late) << "a folder listed after the stop";
    const std::wstring path = pathOf(folder);
    expectNotAsItself(folder, path, "listed");
    report(restart ? L"list" : L"more", path);
    if (os.fat && kind == (FILE_INFORMATION_CLASS)CON_ID)
        return (NTSTATUS)0xC0000003; // STATUS_INVALID_INFO_CLASS
    os.folders[path].viewed = true;
    const std::wstring lie = os.folders[path].says;
    static int calls;
    if (lie == L"nothing" && ++calls % 1000) { // a build that never gives up ends all the same
        status->Information = 0;
        return 0; // STATUS_SUCCESS
    }
    if (lie == L"endless" && late)
        return (NTSTATUS)0x80000006; // STATUS_NO_MORE_FILES
    const NTSTATUS listed =
        realNtQueryDirectoryFile(folder, event, routine, context, status, entries, size, kind, one,
                                 pattern, restart || lie == L"endless");
    EntradaDeListado *last = NULL;
    for (auto *e = (EntradaDeListado *)entries;
         NT_SUCCESS(listed) && kind == (FILE_INFORMATION_CLASS)CON_ID && e;
         e = e->siguiente ? (EntradaDeListado *)((BYTE *)e + e->siguiente) : NULL) {
        const std::wstring name(e->nombre, e->largoNombre / sizeof(wchar_t));
        const Folder &f = os.folders[path + L"\\" + name];
        if (f.tag) // 0x400000: FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS
            e->atributos |= f.data == L"not fetched" ? 0x400000 : FILE_ATTRIBUTE_REPARSE_POINT;
        if (f.says == L"extended" && !f.tag)
            e->largoAtributosExtendidos = 24;
        if (f.like)
            e->id.QuadPart = f.like;
        if (pattern && f.says == L"renamed") {
            e->nombre[0] ^= 1;
            e->atributos |= FILE_ATTRIBUTE_HIDDEN;
        }
        report(L"found", name);
        last = e;
    }
    // The entry before the last points past the reply's end, or the last one's head is not whole.
    if (last && (lie == L"past" || lie == L"cut"))
        status->Information = (BYTE *)last - (BYTE *)entries + (lie == L"cut" ? 4 : -4);
    if (last && lie == L"name past")
        last->largoNombre += 8;
    if (lie == L"over")
        status->Information = size + 8;
    return listed;
}

BOOL WINAPI modelInfo(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
    EXPECT_FALSE(stopped) << "a folder read after the stop";
    const Folder &f = os.folders[pathOf(file)];
    if (kind == FileAttributeTagInfo && os.fat)
        return failing(ERROR_INVALID_PARAMETER);
    if (!realGetFileInformationByHandleEx(file, kind, info, size))
        return FALSE;
    if (kind == FileAttributeTagInfo && f.tag) {
        ((FILE_ATTRIBUTE_TAG_INFO *)info)->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        ((FILE_ATTRIBUTE_TAG_INFO *)info)->ReparseTag = f.tag;
    }
    if (kind == FileBasicInfo && f.readOnly)
        ((FILE_BASIC_INFO *)info)->FileAttributes |= FILE_ATTRIBUTE_READONLY;
    auto *identity = kind == (FILE_INFO_BY_HANDLE_CLASS)18 ? (Identidad *)info : NULL; // FileIdInfo
    if (identity && (f.otherVolume || (f.viewElsewhere && !asItself[file])))
        identity->volumen ^= 1;
    if (identity && f.data == L"all ones")
        memset(identity->id, 0xFF, sizeof identity->id);
    return TRUE;
}

// A named stream reads as "::$DATA" for the unnamed one, then ":name:$DATA".
// Extended attributes and IDs not their own, which a hostile file system gives, are here too.
NTSTATUS NTAPI modelStreams(HANDLE file, PIO_STATUS_BLOCK status, PVOID info, ULONG size,
                            FILE_INFORMATION_CLASS kind) {
    const Folder &f = os.folders[pathOf(file)];
    const NTSTATUS got = realNtQueryInformationFile(file, status, info, size, kind);
    if (kind == FileInternalInformation && NT_SUCCESS(got) && f.like)
        *(LONGLONG *)info = f.like;
    if (kind == FileEaInformation && NT_SUCCESS(got) && !f.says.empty())
        *(ULONG *)info = f.says == L"extended" ? 24 : 0;
    if (kind != FileStreamInformation || !f.streams)
        return got;
    // With 1 the unnamed stream, then where no next one is.
    const NTSTATUS s = *f.streams;
    const std::wstring name = s == 1 ? L"::$DATA" : L":AFP_AfpInfo:$DATA";
    const ULONG length = (ULONG)(name.size() * sizeof(wchar_t)),
                whole = sizeof(FILE_STREAM_INFORMATION) + length + 2;
    auto *stream = (FILE_STREAM_INFORMATION *)info;
    *stream = {s == 1 ? whole : 0, length, {}, {}, {}};
    memcpy(stream->StreamName, name.c_str(), length);
    status->Information = NT_SUCCESS(s) ? whole : 0;
    return NT_SUCCESS(s) ? 0 : s;
}

BOOL WINAPI modelMount(HANDLE file, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                       LPDWORD got, LPOVERLAPPED overlapped) {
    const Folder &mount = os.folders[pathOf(file)];
    if (code != FSCTL_GET_REPARSE_POINT || !mount.tag)
        return realDeviceIoControl(file, code, in, inSize, out, outSize, got, overlapped);
    // Its tag, the data's size, a reserved word, where its two names start and their sizes, the
    // names; a wchar_t is a WORD.
    const std::wstring &name = mount.data;
    const WORD size = (WORD)(name.size() * sizeof(wchar_t)), past = name == L"past" ? 900 : 0;
    const WORD head[] = {3, 0xA000, (WORD)(size + 12), 0, past, size, (WORD)(size + 2), 0};
    const std::wstring data = std::wstring(head, head + 8) + name + L'\0' + L'\0';
    // "short": a reply that stops inside its header, the buffer left as a junction's.
    *got = name == L"short" ? 4 : (DWORD)(data.size() * sizeof(wchar_t));
    memcpy(out, data.c_str(), *got);
    return TRUE;
}

// A put-back of a read-only mark reports "put back" first, for the test to cut it.
BOOL WINAPI modelSetInfo(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
    const std::wstring path = pathOf(file);
    Folder &f = os.folders[path];
    const bool ex = kind == (FILE_INFO_BY_HANDLE_CLASS)21; // FileDispositionInfoEx
    const bool ignoringMark = ex && (*(DWORD *)info & 0x10);
    const bool removal = ex || kind == FileDispositionInfo;
    EXPECT_FALSE(removal && !f.says.empty() && f.viewed && f.says != L"renamed")
        << "a folder whose listing was cut short asked to go";
    EXPECT_FALSE(stopped && removal) << "a removal after the stop";
    if (removal) {
        expectNotAsItself(file, path, "removed");
        EXPECT_FALSE(f.tag == CLOUD && !f.viewed)
            << "a cloud folder marked before its filter's view was listed";
    }
    os.plainRemovals += kind == FileDispositionInfo;
    const DWORD attributes = kind == FileBasicInfo ? ((FILE_BASIC_INFO *)info)->FileAttributes : 0;
    os.markWrites += kind == FileBasicInfo;
    if (kind == FileBasicInfo)
        report(attributes & FILE_ATTRIBUTE_READONLY ? L"put back" : L"write", path);
    if (kind == FileBasicInfo && os.cutWrites > 0) {
        os.cutWrites--;
        return failing(ERROR_OPERATION_ABORTED);
    }
    if (attributes) // 0 leaves them as they are
        f.readOnly = attributes & FILE_ATTRIBUTE_READONLY;
    if (ex && !os.ignoringMarkWorks)
        return failing(ERROR_INVALID_PARAMETER);
    os.accessRefusals += removal && f.denied;
    FILE_DISPOSITION_INFO remove = {TRUE};
    const BOOL done =
        removal && f.denied           ? failing(ERROR_ACCESS_DENIED)
        : !ignoringMark && f.readOnly ? failing(ERROR_ACCESS_DENIED)
        : ex ? realSetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof remove)
             : realSetFileInformationByHandle(file, kind, info, size);
    if (!done && removal)
        report(L"refused", path);
    return done;
}

// A new run's record, for the folder typed: the visits count from 1, and no folder has been listed.
void begin(const std::wstring &typed) {
    task = {};
    wcsncpy(task.carpetaRaiz, typed.c_str(), LARGO_RUTA - 1);
    checks = 0;
    stopped = false;
    for (auto &f : os.folders)
        f.second.viewed = false;
}

std::function<void()> whenEnded; // once the worker has ended, before the tree is read

// Waits for the worker (a hang ends at the test's bound), then clears `at`: "exit 1, visited 3,
// removed 1: a/ a/f".
std::wstring ended(HANDLE worker, const std::wstring &root) {
    WaitForSingleObject(worker, INFINITE);
    if (whenEnded)
        whenEnded();
    at = nullptr;
    whenEnded = nullptr;
    stopped = false;
    DWORD code = 0;
    GetExitCodeThread(worker, &code);
    CloseHandle(worker);
    return L"exit " + std::to_wstring(code) + L", " +
           outcome(task.carpetasRecorridas, task.carpetasBorradas, readTree(root));
}

// Sweeps root, or the folder typed as `typed`, on a thread as the program does, with the filters
// off (true: such folders are entered) or on, and reads root back. Calls go to `at` as it is.
std::wstring sweep(const std::wstring &root, bool system, bool hidden, std::wstring typed = L"",
                   SIZE_T stack = 0) {
    begin(typed.empty() ? root : typed);
    task.recorrerSistema = system;
    task.recorrerOcultas = hidden;
    task.eventoCancelar = CreateEventW(NULL, TRUE, FALSE, NULL);
    task.ventanaProgreso = HWND_MESSAGE; // the folder shown is kept, and posted to no window
    const std::wstring left =
        ended(CreateThread(NULL, stack, ThreadProc, &task, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL),
              root);
    CloseHandle(task.eventoCancelar);
    return left;
}

// A new root, with the folder beside it that its links lead to, and Windows as the test models it.
// When the test ends, also at a failed assertion, nothing outside the tree may have changed; the
// model is cleared, and the root goes with everything beside it (named as it is, and more).
struct Root : std::wstring {
    Root() : std::wstring(newRoot()) {
        makeTree(*this + L"-target", L"inner/ keep");
    }
    ~Root() {
        EXPECT_EQ(L"inner/ keep", readTree(*this + L"-target")) << "outside the tree";
        os = {};
        removeTree(*this);
        WIN32_FIND_DATAW found;
        const HANDLE left = FindFirstFileW((*this + L"*").c_str(), &found);
        EXPECT_EQ(INVALID_HANDLE_VALUE, left)
            << "left in the temporary folder: " << found.cFileName;
        FindClose(left);
    }
};

// Has `at` act once, at the nth call of this kind on this path, after what it did before.
void when(const wchar_t *call, const std::wstring &path, std::function<void()> act, int nth = 1) {
    at = [=, before = at, calls = 0](const wchar_t *made, const std::wstring &on) mutable {
        if (before)
            before(made, on);
        if (!wcscmp(made, call) && on == path && ++calls == nth)
            act();
    };
}

// Another program moves folder (below root; "" is the root) away and puts a link to a folder
// outside the tree in its place, root-target or a folder in it (to): a Windows program
// (MoveFileW), which a held folder refuses, or one that ignores share modes, as setting a junction
// on a held folder does on Windows, or as a server that follows its links lets anyone; that one
// moves a folder of the root, or the root, into root-moved. With back, it takes the link away and
// puts the folder back. Why a move failed.
DWORD swapForLink(const std::wstring &root, const std::wstring &folder, bool ignoresSharing,
                  const wchar_t *to = L"", bool back = false) {
    const size_t cut = root.rfind(L'\\');
    const std::wstring name = root.substr(cut + 1), leaf = folder.empty() ? name : folder,
                       at = folder.empty() ? name : name + L"/" + folder,
                       moved = name + L"-moved/" + leaf;
    if (!ignoresSharing && !MoveFileW((root + L"\\" + folder).c_str(), (root + L"-moved").c_str()))
        return GetLastError();
    if (!ignoresSharing)
        return makeTree(root, folder + L"/:l") ? 0 : ERROR_GEN_FAILURE;
    // The folder moved away takes its last name once the link is there: that is waited for.
    const bool done =
        runUntil(back ? L"Z:\\bin\\sh -c \"rm " + at + L" && mv " + moved + L" " + at + L"\""
                      : L"Z:\\bin\\sh -c \"mkdir -p " + name + L"-moved && mv " + at + L" " +
                            moved + L".part && ln -sr " + name + L"-target" + to + L" " + at +
                            L" && mv " + moved + L".part " + moved + L"\"",
                 root.substr(0, cut), root + L"-moved\\" + leaf, !back);
    return done ? 0 : ERROR_GEN_FAILURE;
}

struct Case {
    const wchar_t *tree;
    const wchar_t *typed;              // after the root
    bool system, hidden;               // entered
    std::wstring after, windows = L""; // under Wine, and on Windows where it differs
    int stop = 0;                      // the visit whose check finds the stop raised
    // This folder is swapped for a link (swapForLink) at the nth call on a path ending so.
    const wchar_t *folder = L"", *call = L"", *path = L"";
    DWORD refused = 0;
    int nth = 1;
    bool ignoresSharing = false;
    bool back = false; // to the empty folder inner, taken back as soon as the open returns
};

TEST(Sweep, SmallTrees) {
    const wchar_t *const swapped = L"exit 1, visited 2, removed 0: a/",
                         *windows = L"exit 1, visited 2, removed 2: -",
                         *held = L"exit 1, visited 3, removed 0: a/ a/b/ a/b/f",
                         *moved = L"exit 1, visited 3, removed 2: a/";
    const Case cases[] = {
        // An empty folder goes on the first attempt; one emptied by its children on the second.
        {L"", L"", true, true, L"exit 1, visited 1, removed 1: -"},
        {L"a/b/", L"", true, true, L"exit 1, visited 3, removed 3: -"},
        // Files are not visited, nor are "." and "..". A file keeps every folder above it.
        {L"a/ b/c/ b/d/f e/g/ h", L"", true, true,
         L"exit 1, visited 7, removed 4: b/ b/d/ b/d/f h"},
        // A root typed with a separator after it gets no second one below.
        {L"", L"\\", true, true, L"exit 1, visited 1, removed 1: -"},
        {L"a/ b/f c/d/", L"\\", true, true, L"exit 1, visited 5, removed 3: b/ b/f"},
        // The visit that sees a stop is counted; nothing is read or removed from then on.
        {L"", L"", true, true, L"exit 0, visited 1, removed 0: ", L"", 1},
        {L"a/b/c/", L"", true, true, L"exit 0, visited 4, removed 0: a/ a/b/ a/b/c/", L"", 4},
        {L"a/ b/ c/", L"", true, true, L"exit 0, visited 2, removed 0: a/ b/ c/", L"", 2},
        // Each filter skips its own attribute only: counted, neither listed nor removed.
        {L"F/:h F/x/", L"", true, false, L"exit 1, visited 2, removed 0: F/ F/x/"},
        {L"F/:h F/x/", L"", false, true, L"exit 1, visited 3, removed 3: -"},
        {L"F/:s F/x/", L"", false, true, L"exit 1, visited 2, removed 0: F/ F/x/"},
        {L"F/:s F/x/", L"", true, false, L"exit 1, visited 3, removed 3: -"},
        // Windows' path parsing reads another object for these names (h. as h, nul and com1 as
        // devices, x. as x): each is judged as itself, by its own entry.
        {L"h/f h./:h nul/:h com1/:h x./", L"", true, false,
         L"exit 1, visited 6, removed 1: com1/ h/ h./ h/f nul/"},
        {L"h/f h./:h nul/:h com1/:h x./", L"", true, true, L"exit 1, visited 6, removed 4: h/ h/f"},
        // A link is never entered. Windows removes it; under Wine, where it opens as its target,
        // it is left alone.
        {L"a/:l", L"", true, true, swapped, windows},
        // Nor is one put in a folder's place: once the folder is held (before it is judged, its
        // first removal is tried and it is listed) the move is refused.
        {L"a/b/f", L"", true, true, held, L"", 0, L"a", L"opened", L"\\a", ERROR_SHARING_VIOLATION},
        {L"a/b/f", L"", true, true, held, L"", 0, L"a", L"refused", L"\\a",
         ERROR_SHARING_VIOLATION},
        {L"a/b/f", L"", true, true, held, L"", 0, L"a", L"list", L"\\a", ERROR_SHARING_VIOLATION},
        // Before that, after its parent's listing gave it, a link takes its place.
        {L"a/b/f", L"", true, true, L"exit 1, visited 3, removed 0: a/ a/b/",
         L"exit 1, visited 3, removed 3: -", 0, L"a/b", L"found", L"b"},
        // A program that ignores share modes moves a held folder away and links its name outside:
        // at its child's stop check, at its own listing, and between its child's first removal
        // attempt and that child's listing. What the walk holds stays what it opened, and its
        // second attempt goes through that: a, moved away, is counted once its name no longer
        // leads to it. (Wine's removal at close acts on the name, so it stays where it was moved.)
        {L"a/inner/", L"", true, true, moved, L"", 0, L"a", L"check", L"", 0, 3, true},
        {L"a/c/", L"", true, true, moved, L"", 0, L"a", L"list", L"\\a", 0, 1, true},
        {L"a/inner/x/", L"", true, true, L"exit 1, visited 4, removed 1: a/", L"", 0, L"a",
         L"refused", L"\\a\\inner", 0, 1, true},
        // Such a program puts a link at a name right before an open and takes it away as soon as
        // the open returns: the open, which followed it, holds a folder outside that is not the
        // one listed. At a visit's open, whether the folder holds a file or nothing; and from
        // before a folder's second attempt, the root's too, to the open that looks for it after.
        {L"a/f", L"", true, true, L"exit 1, visited 2, removed 0: a/ a/f", L"", 0, L"a", L"open",
         L"\\a", 0, 1, true, true},
        {L"a/", L"", true, true, L"exit 1, visited 2, removed 0: a/", L"", 0, L"a", L"open", L"\\a",
         0, 1, true, true},
        {L"a/b/", L"", true, true, moved, L"", 0, L"a", L"more", L"\\a", 0, 1, true, true},
        {L"a/", L"", true, true, L"exit 1, visited 2, removed 2: ", L"", 0, L"", L"more", L"", 0, 1,
         true, true},
        // The root too is judged by its entry: one put in its place right before its own open.
        {L"a/", L"", true, true, L"exit 1, visited 1, removed 0: a/", L"", 0, L"", L"open", L"root",
         0, 1, true, true},
    };
    for (const Case &c : cases) {
        if (c.ignoresSharing && !onWine)
            continue; // such a program is Linux's
        const Root root;
        ASSERT_TRUE(makeTree(root, c.tree)) << c.tree;
        DWORD refused = *c.call ? ERROR_INVALID_FUNCTION : 0; // until the swap
        int matched = 0;
        std::wstring swapped; // the open to take it back after
        at = [&](const wchar_t *call, const std::wstring &path) {
            stopped = stopped || (!wcscmp(call, L"check") && checks == c.stop);
            if (stopped)
                SetEvent(task.eventoCancelar);
            if (!wcscmp(call, L"opened") && path == swapped) {
                swapped.clear();
                swapForLink(root, c.folder, true, L"", true);
            }
            if (refused != ERROR_INVALID_FUNCTION || wcscmp(call, c.call) ||
                !path.ends_with(wcscmp(c.path, L"root") ? c.path : root.c_str()) ||
                ++matched < c.nth)
                return;
            refused = swapForLink(root, c.folder, c.ignoresSharing, c.back ? L"/inner" : L"");
            swapped = c.back ? path : L"";
        };
        const std::wstring &after = onWine || c.windows.empty() ? c.after : c.windows;
        EXPECT_EQ(after, sweep(root, c.system, c.hidden, root + c.typed)) << c.tree << c.call;
        EXPECT_EQ(c.refused, refused) << c.tree << c.call;
    }
}

// Makes folders one in another below path, names of at most `most` units, until the deepest
// path is `length` units long; returns it.
std::wstring chain(std::wstring path, size_t length, size_t most) {
    while (path.size() < length) {
        size_t left = length - path.size();
        // A level takes two units at least: never leave one.
        size_t name = left <= most + 1 ? left - 1 : left == most + 2 ? most - 1 : most;
        path += L"\\" + std::wstring(name, L'n');
        CreateDirectoryW((L"\\\\?\\" + path).c_str(), NULL);
    }
    return path;
}

// A folder is visited only when its path with the \\?\ prefix and a NUL fits a path buffer: no
// longer path is ever formed, nor one cut short (gggg starts like ggggg), typed or found. ffff
// goes on the first attempt; eeee holds a file.
// The deepest nesting the buffers allow, about 1,280 levels, takes minutes under Wine, where every
// open costs in proportion to its depth. What it needs is stack for each level: a quarter of the
// levels run on a quarter of the stack reserved in tovrith.exe (Wine gives a thread at least 1 MiB,
// so an eighth would not tell).
TEST(Sweep, PathAndNestingLimits) {
    const Root root;
    const std::wstring deep = root + L"\\d";
    ASSERT_TRUE(makeTree(root, L"d/ p/"));
    const std::wstring parent = chain(root + L"\\p", LARGO_RUTA - 10, 255);
    ASSERT_TRUE(makeTree(parent, L"eeee/x ffff/ gggg/ ggggg/"));
    EXPECT_EQ(L"exit 1, visited 1, removed 0: ", sweep(parent + L"\\ggggg", true, true));
    EXPECT_EQ(L"exit 1, visited 4, removed 2: eeee/ eeee/x ggggg/", sweep(parent, true, true));
    LOADED_IMAGE program;
    ASSERT_TRUE(MapAndLoad("tovrith.exe", NULL, &program, FALSE, TRUE)) << "no tovrith.exe";
    const SIZE_T stack = program.FileHeader->OptionalHeader.SizeOfStackReserve / 4;
    UnMapAndLoad(&program);
    const int levels = (int)(LARGO_RUTA - 5 - deep.size()) / 2 / 4;
    chain(deep, deep.size() + 2 * levels, 1);
    const std::wstring all = std::to_wstring(levels + 1);
    EXPECT_EQ(L"exit 1, visited " + all + L", removed " + all + L": -",
              sweep(deep, true, true, L"", stack))
        << levels << " levels on " << stack << " bytes of stack";
}

// Seeded random trees with files, hidden and system folders and links, swept with random filters:
// every file stays, and a folder goes exactly when the rules say.
TEST(Sweep, RandomTreesFollowTheRules) {
    const char *seeded = getenv("TOVRITH_SEED"), *counted = getenv("TOVRITH_TREES");
    const unsigned seed = seeded ? strtoul(seeded, NULL, 10) : GetTickCount();
    const unsigned trees = counted ? strtoul(counted, NULL, 10) : 200;
    printf("seed %u, %u trees (TOVRITH_SEED and TOVRITH_TREES replay them)\n", seed, trees);
    fflush(stdout);
    for (unsigned i = 0; i < trees && !HasFailure(); i++) {
        std::mt19937 random(seed + i);
        const int folders = 5 + random() % 26;
        const bool system = random() % 2;
        const bool hidden = random() % 2;
        const std::wstring tree = randomTree(random(), folders, 4, true);
        const Root root;
        ASSERT_TRUE(makeTree(root, tree)) << tree;
        EXPECT_EQ(L"exit 1, " + model(tree, system, hidden), sweep(root, system, hidden))
            << "tree " << i << " of seed " << seed << ", filters " << !system << !hidden << ": "
            << tree;
    }
}

// Windows refuses to remove a folder marked read-only; Explorer removes it. An empty one goes, by
// a removal told to ignore the mark or, where that is refused, with the mark taken off for its
// second attempt, and put back if it still cannot go (something is put in e as its mark comes
// off): checked by reading it back, and written again if that write was cut short. One that stays
// (b holds a file, h a folder that stays) keeps its mark and gets no attribute write at all.
TEST(Sweep, ReadOnlyEmptyFoldersGo) {
    const Root root;
    const std::wstring marked = root + L"\\";
    const struct {
        bool ignoring;
        int cut; // put-backs of e cut short
        const wchar_t *after;
        int writes; // off and on for e, off for a and c
        const wchar_t *marks;
    } cases[] = {
        {false, 0, L"exit 1, visited 8, removed 3: b/ b/f e/ e/late h/ h/i/ h/i/f", 4, L"b e h "},
        {false, 1, L"exit 1, visited 8, removed 3: b/ b/f e/ e/late h/ h/i/ h/i/f", 5, L"b e h "},
        {true, 0, L"exit 1, visited 8, removed 4: b/ b/f h/ h/i/ h/i/f", 0, L"b h "}};
    for (const auto &c : cases) {
        ASSERT_TRUE(makeTree(root, L"a/ b/f c/d/ e/ h/i/f"));
        os = {.ignoringMarkWorks = c.ignoring};
        for (const wchar_t *name : {L"a", L"b", L"c", L"e", L"h"})
            os.folders[marked + name].readOnly = true;
        bool putBack = false;
        at = [&](const wchar_t *call, const std::wstring &path) {
            if (!wcscmp(call, L"write") && path == marked + L"e")
                makeTree(root, L"e/late");
            if (!wcscmp(call, L"put back") && path == marked + L"e" && !putBack) {
                os.cutWrites = c.cut;
                putBack = true;
            }
        };
        EXPECT_EQ(c.after, sweep(root, true, true)) << c.ignoring << c.cut;
        EXPECT_EQ(c.writes, os.markWrites) << "attribute writes";
        EXPECT_TRUE(!c.ignoring || !os.plainRemovals)
            << "a plain removal after one that ignores marks";
        std::wstring marks;
        for (const auto &f : os.folders)
            if (f.second.readOnly && GetFileAttributesW(f.first.c_str()) != INVALID_FILE_ATTRIBUTES)
                marks += f.first.substr(marked.size()) + L" ";
        EXPECT_EQ(c.marks, marks) << "marked folders left";
        DeleteFileW((root + L"\\e\\late").c_str());
    }
}

// A volume mounted at a folder is another drive: neither removed nor entered (vol). A junction is
// a link: never entered (j, which cannot go; je goes). A folder another program holds without
// sharing delete (a command prompt's current folder) cannot go, but is listed (held); one the user
// may remove but not list goes when empty (lr, not lf/g).
// What no listing shows stays: a folder carrying a named stream (s/t), or more than a small buffer
// holds of them (u), keeps its ancestors; a file system that refuses the query has none (w). A
// cloud folder goes only once listed whole as its filter shows it (d, c/x), and an entry whose
// contents are not on the disk keeps it (k). A cloud folder whose view is another volume's (v),
// whose ID is all ones (o), or whose name is linked elsewhere once it is held as itself (cs) is not
// known to be the one held: left alone. One whose name is linked outside during its listing (e) is
// held all the same, through one handle from its listing to its removal: what goes is the folder
// listed. (Wine's removal at close acts on the name, so there it stays where it was moved, though
// counted.) The links are put by a Linux program: on Windows, e and cs simply go.
// And what a file system says is checked, not trusted (a server's or a filter's replies may be any
// bytes). A listing cut short by a reply that is not whole keeps its folder, with no second
// attempt, and what it did not give: one that gives nothing (n), an entry past it (p), an entry
// (h) or a name (q) cut by its end, more bytes than asked for (g). Reparse data that stops short
// (ms), or whose name lies past it (mp), says a volume. A stream list that points past its end
// keeps its folder (sp); so do extended attributes (ea, and the cloud folder ec, whose entry gives
// its tag there). A link marked read-only stays (rl); another goes (ln). A protected folder's
// opens are refused once each (pr, pr/q). A folder carrying the ID of the root's parent, the
// root's, or its grandparent's is left alone (u1, u2, u3). A name that Windows' path parsing reads
// without its trailing space goes as itself ("z ": Wine names its handle without the space, so no
// folder of the shorter name is modelled).
TEST(Sweep, WhatTheFileSystemSays) {
    const Root root, other;
    const std::wstring in = root + L"\\", up = root.substr(0, root.rfind(L'\\')),
                       a = other + L"\\a";
    const ACCESS_MASK writing = DELETE | FILE_WRITE_ATTRIBUTES;
    const DWORD mount = IO_REPARSE_TAG_MOUNT_POINT, link = IO_REPARSE_TAG_SYMLINK;
    ASSERT_TRUE(
        makeTree(root, L"s/t/ u/ w/ k/x/ v/ o/ d/ e/ n/x/ p/x/ h/x/ q/x/ g/x/ ms/ mp/ je/ sp/ ea/ "
                       L"ec/ rl/ ln/ pr/q/ u1/ u2/ u3/ vol/ j/x/ held/sub/ c/x/ cs/x/ lr/ lf/g/") &&
        makeTree(other, L"a/ b/ g") && CreateDirectoryW((L"\\\\?\\" + in + L"z ").c_str(), NULL));
    os.folders = {{in + L"s\\t", {.streams = 0}},
                  {in + L"u", {.streams = (NTSTATUS)0x80000005}}, // STATUS_BUFFER_OVERFLOW
                  {in + L"w", {.streams = (NTSTATUS)0xC000000D}}, // STATUS_INVALID_PARAMETER
                  {in + L"sp", {.streams = 1}},
                  {in + L"k", {.tag = CLOUD}},
                  {in + L"k\\x", {.tag = CLOUD, .data = L"not fetched"}},
                  {in + L"v", {.tag = CLOUD, .viewElsewhere = true}},
                  {in + L"o", {.tag = CLOUD, .data = L"all ones"}},
                  {in + L"d", {.tag = CLOUD}},
                  {in + L"e", {.tag = CLOUD}},
                  {in + L"ms", {.tag = mount, .data = L"short"}},
                  {in + L"mp", {.tag = mount, .data = L"past"}},
                  {in + L"je", {.tag = mount, .data = L"\\??\\C:\\elsewhere"}},
                  {in + L"ec", {.tag = CLOUD, .says = L"extended"}},
                  {in + L"rl", {.readOnly = true, .tag = link}},
                  {in + L"ln", {.tag = link}},
                  {in + L"n", {.says = L"nothing"}},
                  {in + L"p", {.says = L"past"}},
                  {in + L"q", {.says = L"name past"}},
                  {in + L"h", {.says = L"cut"}},
                  {in + L"g", {.says = L"over"}},
                  {in + L"ea", {.says = L"extended"}},
                  {in + L"u1", {.like = idOf(up)}},
                  {in + L"u2", {.like = idOf(root)}},
                  {in + L"u3", {.like = idOf(up.substr(0, up.rfind(L'\\')))}},
                  {in + L"pr", {.refusing = writing}},
                  {in + L"pr\\q", {.refusing = writing}},
                  {in + L"vol",
                   {.tag = mount, .data = L"\\??\\Volume{0c4f7a56-1c2e-11ef-9a3e-806e6f6e6963}\\"}},
                  {in + L"j", {.tag = mount, .data = L"\\??\\C:\\elsewhere"}},
                  {in + L"c", {.tag = CLOUD}},
                  {in + L"c\\x", {.tag = CLOUD}},
                  {in + L"cs", {.tag = CLOUD}},
                  {in + L"lr", {.refusing = FILE_LIST_DIRECTORY}},
                  {in + L"lf", {.refusing = FILE_LIST_DIRECTORY}}};
    os.ignoringMarkWorks = true;
    // e's name is linked outside by a program that ignores share modes, a Linux one; d, held as
    // its filter shows it, cannot be moved by a Windows program.
    if (onWine)
        when(L"more", in + L"e", [&] { EXPECT_EQ(0u, swapForLink(root, L"e", true, L"/inner")); });
    DWORD moved = 0;
    when(L"list", in + L"d", [&] { moved = swapForLink(root, L"d", false); });
    if (onWine)
        when(L"opened", in + L"cs", [&] { EXPECT_EQ(0u, swapForLink(root, L"cs", true)); });
    HANDLE held =
        CreateFileW((in + L"held").c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    const std::wstring left =
        L"ea/ ec/ g/ g/x/ h/ h/x/ held/ j/ j/x/ k/ k/x/ lf/ lf/g/ mp/ ms/ n/ n/x/ "
        L"o/ p/ p/x/ pr/ pr/q/ q/ q/x/ rl/ s/ s/t/ sp/ u/ u1/ u2/ u3/ v/ vol/";
    EXPECT_EQ(onWine ? L"exit 1, visited 38, removed 10: cs/ e/ " + left
                     : L"exit 1, visited 39, removed 12: " + left,
              sweep(root, true, true));
    CloseHandle(held);
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, moved) << "a cloud folder's view moved";
    for (const wchar_t *protectedOne : {L"pr", L"pr\\q"})
        EXPECT_EQ(1, os.folders[in + protectedOne].refused) << protectedOne << ": opens refused";
    // On a drive that gives no reparse tags nor file IDs (FAT, exFAT) the links stay all the same,
    // as the handle's attributes say, and folders are listed in the basic form.
    os = {.fat = true};
    ASSERT_TRUE(makeTree(root, L"f"));
    EXPECT_EQ(onWine ? L"exit 1, visited 37, removed 34: cs/ e/ f"
                     : L"exit 1, visited 35, removed 34: f",
              sweep(root, true, true));
    // A root that has become a link is left alone. A removal Windows Security refuses is asked
    // once, in one form, whichever it is. The root's entry: one of another name is not its own
    // (the root, judged by its handle, is not hidden); one with extended attributes keeps it. A
    // file is never removed as a folder, even by a removal told to ignore its read-only mark.
    const struct {
        const wchar_t *root;
        Folder is;
        bool ignoring;
        const wchar_t *left;
        int refusals; // of removals, for access
    } roots[] = {{L"b", {.tag = link}, true, L"removed 0: a/ b/ g", 0},
                 {L"a", {.denied = true}, false, L"removed 0: a/ b/ g", 1},
                 {L"a", {.denied = true}, true, L"removed 0: a/ b/ g", 1},
                 {L"a", {.says = L"renamed"}, true, L"removed 1: b/ g", 0},
                 {L"a", {.says = L"extended"}, true, L"removed 0: a/ b/ g", 0},
                 {L"g", {.readOnly = true}, true, L"removed 0: a/ b/ g", 0}};
    for (const auto &c : roots) {
        CreateDirectoryW(a.c_str(), NULL);
        os = {.folders = {{other + L"\\" + c.root, c.is}}, .ignoringMarkWorks = c.ignoring};
        EXPECT_EQ(L"exit 1, visited 1, " + std::wstring(c.left),
                  sweep(other, true, false, other + L"\\" + c.root))
            << c.root << c.ignoring;
        EXPECT_EQ(c.refusals, os.accessRefusals) << "removals refused for access";
    }
    // A listing that never ends: a stop raised during it is seen before its next call.
    ASSERT_TRUE(makeTree(a, L"e/f"));
    os.folders = {{a + L"\\e", {.says = L"endless"}}};
    when(
        L"more", a + L"\\e", [&] { stopped = SetEvent(task.eventoCancelar); }, 50);
    EXPECT_EQ(L"exit 0, visited 2, removed 0: e/ e/f", sweep(a, true, true));
}

// A real folder in disguise: a read-only bind mount, where the tests run as root in a mount
// namespace of their own (tools/test makes one and says so; in a chroot it cannot), shows the
// root's parent inside the root as a plain folder with its ID, as a server that follows its own
// links shows one. It is neither entered nor removed; read-only, it could lose nothing even so.
TEST(Sweep, ParentMountedInTheRoot) {
    const Root root;
    const size_t cut = root.rfind(L'\\');
    const std::wstring name = root.substr(cut + 1), seen = root + L"\\up\\" + name;
    ASSERT_TRUE(makeTree(root, L"up/ keep"));
    const wchar_t *own = _wgetenv(L"TOVRITH_NAMESPACE");
    if (!onWine || !own || !*own ||
        !runUntil(L"Z:\\bin\\mount --bind -o ro . " + name + L"/up", root.substr(0, cut), seen,
                  true))
        GTEST_SKIP() << "no bind mount: not root in a mount namespace of its own";
    // Lazily: under Wine 10 the mount was once still busy after the sweep had ended.
    whenEnded = [&] {
        runUntil(L"Z:\\bin\\umount -l " + name + L"/up", root.substr(0, cut), seen, false);
    };
    EXPECT_EQ(L"exit 1, visited 2, removed 0: keep up/", sweep(root, true, true));
}

// Another program moves the folder that holds the root away and makes an empty folder of the
// root's name in a new one in its place, just before the root's second attempt: that attempt
// reaches the root that was swept, through the folder that held it, never the new one. (Wine's
// removal at close acts on the name, so the root moved away stays too, though counted.)
TEST(Sweep, RootsParentMovedAway) {
    const Root scratch;
    ASSERT_TRUE(makeTree(scratch, L"p/r/x/"));
    const std::wstring done = scratch + L"-moved"; // made last, beside
    when(L"more", scratch + L"\\p\\r", [&] {
        runUntil(L"Z:\\bin\\sh -c \"mv p p-moved && mkdir -p p/r && touch ../" +
                     done.substr(done.rfind(L'\\') + 1) + L"\"",
                 scratch, done, true);
    });
    EXPECT_EQ(L"exit 1, visited 2, removed 2: p/ p-moved/ p-moved/r/ p/r/",
              sweep(scratch, true, true, scratch + L"\\p\\r"));
}

// A folder listed in many calls, whose handle under Wine then refuses a mark though all has gone:
// tried again through a fresh one, on its parent's volume, first one that is not.
TEST(Sweep, LongListings) {
    const Root root;
    os.folders[root].otherVolume = true; // the fresh handle must be on its parent's volume
    std::wstring many;
    for (int i = 0; i < 400; i++)
        many += L"m/" + std::wstring(100, L'n') + std::to_wstring(i) + L"/ ";
    for (const wchar_t *after : {L"visited 402, removed 400: m/", L"visited 402, removed 402: -"}) {
        ASSERT_TRUE(makeTree(root, many));
        EXPECT_EQ(L"exit 1, " + std::wstring(after), sweep(root, true, true));
        os = {};
    }
}

// A drive made for the test, its root hidden and system as on Windows (Wine keeps a folder's DOS
// attributes with it), its current folder keep.
TEST(Sweep, DriveLetters) {
    const Root drive;
    ASSERT_TRUE(makeTree(drive, L"e1/ e2/e3/ full/f keep/f keep/sub/ sub/"));
    ASSERT_TRUE(SetFileAttributesW(drive.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    std::wstring letter = L"Q:";
    while (GetDriveTypeW((letter + L"\\").c_str()) != DRIVE_NO_ROOT_DIR)
        letter[0]++;
    ASSERT_TRUE(defineDrive(letter, drive));
    wchar_t was[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, was);
    EXPECT_TRUE(SetCurrentDirectoryW((letter + L"\\keep").c_str()));
    const std::wstring all = L"exit 1, visited 1, removed 0: e1/ e2/ e2/e3/ full/ full/f keep/ "
                             L"keep/f keep/sub/ sub/";
    // Relative to the drive's current folder, with no \\?\ form: counted, nothing else.
    EXPECT_EQ(all, sweep(drive, true, true, letter + L"sub"));
    // The root is skipped by the default filters, whether the separator is typed or not.
    EXPECT_EQ(all, sweep(drive, false, false, letter + L"\\"));
    EXPECT_EQ(all, sweep(drive, false, false, letter));
    // With both filters off a bare letter sweeps the drive's root, and that alone.
    EXPECT_EQ(L"exit 1, visited 8, removed 5: full/ full/f keep/ keep/f",
              sweep(drive, true, true, letter));
    SetCurrentDirectoryW(was);
    EXPECT_TRUE(defineDrive(letter, L""));
}

// The progress window, modal on this thread as in the program. The user acts from inside a visit
// of the worker, and a hook answers every message box as it comes, as Wine's own tests do.

HANDLE worker;

LRESULT CALLBACK answerBoxes(int code, WPARAM wParam, LPARAM lParam) {
    HWND box = (HWND)wParam;
    if (code == HCBT_ACTIVATE && GetDlgItem(box, MESSAGE_TEXT)) {
        EXPECT_EQ(task.ventanaProgreso, GetWindow(box, GW_OWNER));
        EXPECT_FALSE(IsWindowEnabled(task.ventanaPrincipal)) << "the main window takes input";
        os.shown += text(box, MESSAGE_TEXT);
        os.shown += WaitForSingleObject(worker, 0) ? L" WHILE THE WORKER RAN" : L"";
        EXPECT_EQ(L"OK", buttons(box));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

// The current-folder line once it shows path, or as it is after 1.5 s; read from the worker, it
// says "(no answer)" when the window does not answer within 300 ms.
std::wstring lineBy(const std::wstring &path) {
    wchar_t shown[LARGO_RUTA];
    poll(
        [&] {
            wcscpy(shown, L"(no answer)");
            SendMessageTimeoutW(GetDlgItem(task.ventanaProgreso, IDC_CARPETA_ACTUAL), WM_GETTEXT,
                                LARGO_RUTA, (LPARAM)shown, SMTO_BLOCK, 300, NULL);
            return path == shown;
        },
        1500);
    return shown;
}

BOOL WINAPI recordRequest(HANDLE, PROCESS_INFORMATION_CLASS kind, LPVOID state, DWORD size) {
    const auto *a = (PROCESS_POWER_THROTTLING_STATE *)state;
    if (kind == ProcessPowerThrottling && size == sizeof *a)
        os.asked = std::to_wstring(a->ControlMask) + L" " + std::to_wstring(a->StateMask) + L" " +
                   std::to_wstring(a->Version);
    return TRUE;
}

FARPROC WINAPI lookUp(HMODULE module, LPCSTR name) {
    if (HIWORD(name) && !strcmp(name, "SetProcessInformation"))
        return (FARPROC)(void *)recordRequest;
    return realGetProcAddress(module, name);
}

DWORD workerId;

// Each kind of call once.
BOOL WINAPI recordCancel(HANDLE thread) {
    const bool raised = !WaitForSingleObject(task.eventoCancelar, 0);
    const std::wstring call =
        std::wstring(GetThreadId(thread) == workerId ? L"the worker" : L"another") +
        (raised ? L" after the stop;" : L" BEFORE THE STOP;");
    if (os.cancels.find(call) == std::wstring::npos)
        os.cancels += call;
    return realCancelSynchronousIo(thread);
}

// The worker's clock stands still: once it has sent the window its first folder, only the
// window's own poll brings it a newer one.
ULONGLONG WINAPI stillClock() {
    return 1000;
}

// Holds the worker in a call that stalls, as one on a share whose server went away does, until it
// is cut short; a timer ends it after ms otherwise. The call's error.
DWORD stalled(DWORD ms = 10000) {
    HANDLE pipe[2], timer = NULL;
    CreatePipe(&pipe[0], &pipe[1], NULL, 0);
    auto write = [](PVOID end, BOOLEAN) {
        DWORD written;
        WriteFile(end, "", 1, &written, NULL);
    };
    // Without its timer the read would wait for ever: the call does not stall then.
    char byte;
    DWORD read, error = ERROR_GEN_FAILURE;
    if (CreateTimerQueueTimer(&timer, NULL, write, pipe[1], ms, 0, WT_EXECUTEONLYONCE)) {
        error = ReadFile(pipe[0], &byte, 1, &read, NULL) ? ERROR_SUCCESS : GetLastError();
        DeleteTimerQueueTimer(NULL, timer, INVALID_HANDLE_VALUE); // once it has run, if it has
    }
    CloseHandle(pipe[0]);
    CloseHandle(pipe[1]);
    return error;
}

// Once Cancel's wait sees the worker ended, a tick comes first: the wait still owns the end.
DWORD WINAPI tickFirst(DWORD n, const HANDLE *h, DWORD ms, DWORD wake, DWORD flags) {
    const DWORD r = realMsgWaitForMultipleObjectsEx(n, h, ms, wake, flags);
    if (r != WAIT_OBJECT_0 || os.ticked)
        return r;
    os.ticked = true;
    PostMessageW(task.ventanaProgreso, WM_TIMER, ID_TEMPORIZADOR, 0);
    return WAIT_OBJECT_0 + 1;
}

// The imports are taken once, for the whole run.
bool takeImports() {
    take(&__imp_WaitForSingleObject, gatedWait);
    take(&__imp_NtCreateFile, recordedOpen);
    take(&__imp_NtQueryDirectoryFile, reportedList);
    take(&__imp_GetFileInformationByHandleEx, modelInfo);
    take(&__imp_NtQueryInformationFile, modelStreams);
    take(&__imp_SetFileInformationByHandle, modelSetInfo);
    take(&__imp_DeviceIoControl, modelMount);
    take(&__imp_CancelSynchronousIo, recordCancel);
    take(&__imp_GetProcAddress, lookUp);
    take(&__imp_MsgWaitForMultipleObjectsEx, tickFirst);
    return take(&__imp_GetTickCount64, stillClock);
}
[[maybe_unused]] const bool taken = takeImports();

// Runs the progress window on root, modal on this thread as in the program, over a main window of
// its own; `at` acts from inside the worker. What the worker left, once it has ended.
std::wstring runWindow(const std::wstring &root) {
    os = {.folders = os.folders}; // the window's records start empty
    begin(root);
    task.ventanaPrincipal = CreateWindowW(L"Static", L"", 0, 0, 0, 0, 0, 0, 0, 0, 0);
    task.carpetasRecorridas = task.carpetasBorradas = 1000; // every run starts them at 0
    HHOOK hook = SetWindowsHookExW(WH_CBT, answerBoxes, NULL, GetCurrentThreadId());
    abrirDialogoDeProgreso(&task);
    UnhookWindowsHookEx(hook);
    EXPECT_FALSE(WaitForSingleObject(worker, 0)) << "the window went before its worker";
    const std::wstring left = ended(worker, root); // the record outlives the worker
    DestroyWindow(task.ventanaPrincipal);
    return left;
}

struct Act {
    const char *what;
    UINT message; // posted at the third visit; keys to the Cancel button, which has the focus
    WPARAM wParam;
    std::wstring box, after;
};

// The worker is held in its second folder and its third, which it does not send the window (see
// stillClock): the line still comes to show each. At the third the user acts. After Cancel the
// worker stalls in a call, while more Cancels and a close request come: the call is cut short, the
// window goes on answering, and only one message is shown, once the worker has ended.
TEST(Progress, RunsCancelsAndReports) {
    const wchar_t canceled[] = L"The task has been canceled by the user";
    const wchar_t stopped[] = L"exit 0, visited 3, removed 0: a/ a/b/ a/b/c/ f";
    const Act acts[] = {
        {"Cancel", WM_COMMAND, IDC_CANCELAR, canceled, stopped},
        {"Enter", WM_KEYDOWN, VK_RETURN, canceled, stopped},
        {"a close request", WM_CLOSE, 0, canceled, stopped},
        {"Escape", WM_KEYDOWN, VK_ESCAPE, L"I have traversed 4 folders and I have erased 3",
         L"exit 1, visited 4, removed 3: f"},
    };
    for (const Act &c : acts) {
        SCOPED_TRACE(c.what);
        const Root root;
        ASSERT_TRUE(makeTree(root, L"a/b/c/ f"));
        at = [&](const wchar_t *call, const std::wstring &) {
            const HWND window = task.ventanaProgreso, button = GetDlgItem(window, IDC_CANCELAR);
            if (wcscmp(call, L"check") || checks < 2 || checks > 3)
                return;
            const std::wstring folder = root + (checks == 2 ? L"\\a" : L"\\a\\b");
            EXPECT_EQ(folder, lineBy(folder));
            if (checks == 2)
                return;
            workerId = GetCurrentThreadId();
            worker = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, workerId);
            PostMessageW(c.message == WM_KEYDOWN ? button : window, c.message, c.wParam, 0);
            if (c.box != canceled)
                return Sleep(700); // past the window's next poll
            EXPECT_TRUE(poll([&] { return !WaitForSingleObject(task.eventoCancelar, 0); }, 5000));
            PostMessageW(window, WM_COMMAND, IDC_CANCELAR, 0);
            PostMessageW(window, WM_CLOSE, 0, 0);
            PostMessageW(button, WM_KEYDOWN, VK_RETURN, 0);
            EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, stalled()) << "a stalled call cut short";
            EXPECT_EQ(folder, lineBy(folder)) << "while Cancel waits";
            EXPECT_FALSE(IsWindowEnabled(task.ventanaPrincipal)) << "while Cancel waits";
        };
        EXPECT_EQ(c.after, runWindow(root));
        EXPECT_EQ(c.box, os.shown);
        EXPECT_EQ(L"4 0 1", os.asked) << "the timer request kept while hidden";
        EXPECT_EQ(c.box == canceled ? L"the worker after the stop;" : L"", os.cancels)
            << "calls that cut a stalled call short";
    }
}

// Cancel pressed while a read-only mark is put back, a call that stalls as on a share, does not
// cut it short: the mark is back on the folder that stays (something came into e as its mark came
// off). Cut, each put-back would fail.
TEST(Progress, CancelLeavesAReadOnlyMarkOn) {
    const Root root;
    ASSERT_TRUE(makeTree(root, L"e/"));
    const std::wstring e = root + L"\\e";
    os.folders[e].readOnly = true;
    at = [&](const wchar_t *call, const std::wstring &path) {
        if (path == e && !wcscmp(call, L"write"))
            makeTree(root, L"e/late");
        if (path != e || wcscmp(call, L"put back"))
            return;
        worker =
            OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentThreadId());
        PostMessageW(task.ventanaProgreso, WM_COMMAND, IDC_CANCELAR, 0);
        EXPECT_TRUE(poll([&] { return !WaitForSingleObject(task.eventoCancelar, 0); }, 5000));
        os.cutWrites += stalled(400) == ERROR_OPERATION_ABORTED;
    };
    EXPECT_EQ(L"exit 0, visited 2, removed 0: e/ e/late", runWindow(root));
    EXPECT_EQ(L"The task has been canceled by the user", os.shown);
    EXPECT_TRUE(os.folders[e].readOnly) << "the mark put back";
}

const std::wstring SAID = L"" TEXTO_TITULO L": "; // the caption of every message

std::wstring confirmation(const std::wstring &root) {
    return SAID + L"I am going to erase the folders that do not contain any file within:\r\n" +
           root + L"\r\nAre you sure?";
}

class Front : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(start(&program)) << "no main window came";
    }
    void TearDown() override {
        EXPECT_EQ(0u, stop(&program));
    }
    // Types, presses Proceed once the window takes input and answers with the button: the message.
    std::wstring proceed(const std::wstring &typed, int button) {
        poll([&] { return IsWindowEnabled(program.main); }, 15000);
        SetDlgItemTextW(program.main, IDC_CARPETA, typed.c_str());
        press(program.main, IDC_PROCEDER);
        return answer(program, button);
    }
    Program program;
};

// Both boxes start checked. Enter and Escape do nothing. Browse, then Cancel in the picker,
// leaves the field as it was; OK on its first selection, the desktop, puts that in the field.
TEST_F(Front, FirstStateKeysAndBrowse) {
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(program.main, IDC_NO_SISTEMA));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(program.main, IDC_NO_OCULTAS));
    HWND field = GetDlgItem(program.main, IDC_CARPETA);
    PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(field, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(field, WM_CHAR, L'z', 0); // after the keys: it shows they have been handled
    ASSERT_TRUE(poll([&] { return text(program.main, IDC_CARPETA) == L"z"; }, 5000));
    EXPECT_FALSE(waitWindow(program, MESSAGE_TEXT, 700)) << "a message came";
    const int title = 0x3742; // the classic folder picker's title line
    wchar_t desktop[MAX_PATH] = L"";
    SHGetFolderPathW(NULL, CSIDL_DESKTOPDIRECTORY, NULL, 0, desktop);
    const std::pair<int, std::wstring> answers[] = {{IDCANCEL, L"z"}, {IDOK, desktop}};
    for (const auto &c : answers) {
        press(program.main, IDC_EXAMINAR);
        HWND picker = waitWindow(program, title);
        EXPECT_EQ(L"Please, especify the root folder:", text(picker, title));
        EXPECT_EQ(program.main, GetWindow(picker, GW_OWNER));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(picker, c.first))) << c.first;
        press(picker, c.first);
        EXPECT_TRUE(poll([&] { return IsWindowEnabled(program.main); }, 5000));
        EXPECT_EQ(c.second, text(program.main, IDC_CARPETA));
    }
}

// The folder test takes paths shorter than 260 units on Windows; Wine's takes longer ones, so the
// program sets the limit itself. The field gives at most 2,598 characters. A link given as the
// root is refused; a folder below one is not. No to the confirmation leaves the tree and the field
// as they were.
TEST_F(Front, RefusesWhatIsNotAFolderAndNoChangesNothing) {
    const Root root;
    const std::wstring a(259 - root.size(), L'a'), b(258 - root.size(), L'b'), c(2700, L'c');
    const std::wstring longest = root + L"\\" + b, tooLong = root + L"\\" + a;
    const std::wstring tree = a + L"/ " + b + L"/ file link/";
    ASSERT_TRUE(makeTree(root, a + L"/ " + b + L"/ file link/:l"));
    const wchar_t *const no = L"Is not a folder.", *link = L"Is a link to another folder.";
    const std::pair<std::wstring, const wchar_t *> refusals[] = {
        {L"", no}, {root + L"\\file", no},   {root + L"\\no", no},      {tooLong, no},
        {c, no},   {root + L"\\link", link}, {root + L"\\link\\", link}};
    for (const auto &r : refusals) {
        EXPECT_EQ(SAID + r.first.substr(0, 2598) + L"\r\n" + r.second, proceed(r.first, IDOK));
        EXPECT_EQ(r.first, text(program.main, IDC_CARPETA));
    }
    EXPECT_EQ(confirmation(root + L"\\link\\inner"), proceed(root + L"\\link\\inner", IDNO));
    EXPECT_EQ(confirmation(longest), proceed(longest, IDNO));
    EXPECT_EQ(tree, readTree(root));
    EXPECT_EQ(L"inner/ keep", readTree(root + L"-target")) << "the link's target";
    EXPECT_EQ(longest, text(program.main, IDC_CARPETA));
}

// Each box sets its own option only, whichever of the two is unchecked. After the run the window
// keeps what the user set.
TEST_F(Front, EachBoxSetsItsOwnOption) {
    const struct {
        int box;
        const wchar_t *left;
    } cases[] = {{IDC_NO_OCULTAS, L"keep sys/"}, {IDC_NO_SISTEMA, L"hid/ keep"}};
    for (const auto &c : cases) {
        const Root root;
        ASSERT_TRUE(makeTree(root, L"keep plain/ hid/:h sys/:s"));
        CheckDlgButton(program.main, IDC_NO_SISTEMA, BST_CHECKED);
        CheckDlgButton(program.main, IDC_NO_OCULTAS, BST_CHECKED);
        CheckDlgButton(program.main, c.box, BST_UNCHECKED);
        ASSERT_EQ(confirmation(root), proceed(root, IDYES));
        EXPECT_EQ(SAID + L"I have traversed 4 folders and I have erased 2",
                  answer(program, IDOK, 60000));
        EXPECT_EQ(c.left, readTree(root));
        EXPECT_EQ(root, text(program.main, IDC_CARPETA));
        EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(program.main, c.box));
    }
}

} // namespace
