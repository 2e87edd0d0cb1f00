#include "support.h"

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <vector>

namespace {

// By path below the root, "/" between names ("" is the root): for a folder "/" and its marks,
// for a file nothing, for a folder the model removes "-".
typedef std::map<std::wstring, std::wstring> Entries;

bool has(const std::wstring &marks, wchar_t mark) {
    return marks.find(mark) != std::wstring::npos;
}

std::wstring longForm(const std::wstring &root, std::wstring path = L"") {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return L"\\\\?\\" + root + (path.empty() ? L"" : L"\\" + path);
}

Entries parse(const std::wstring &description) {
    Entries entries = {{L"", L"/"}};
    std::wistringstream words(description);
    for (std::wstring word; words >> word;) {
        size_t end = std::min(word.find(L':'), word.size());
        bool folder = word[end - 1] == L'/';
        for (size_t at = word.find(L'/'); at < end - folder; at = word.find(L'/', at + 1))
            entries.insert({word.substr(0, at), L"/"});
        entries[word.substr(0, end - folder)] = folder ? word.substr(end - 1) : L"";
    }
    return entries;
}

std::wstring describe(const Entries &entries) {
    std::wstring out;
    for (const auto &e : entries)
        if (!e.first.empty() && e.second != L"-")
            out += (out.empty() ? L"" : L" ") + e.first + (e.second.empty() ? L"" : L"/");
    return out;
}

void readInto(const std::wstring &root, const std::wstring &prefix, Entries *entries) {
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((longForm(root, prefix) + L"\\*").c_str(), &d);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &d)) {
        const std::wstring path = prefix + (prefix.empty() ? L"" : L"/") + d.cFileName;
        const DWORD a = d.dwFileAttributes;
        if (!wcscmp(d.cFileName, L".") || !wcscmp(d.cFileName, L".."))
            continue;
        (*entries)[path] = a & FILE_ATTRIBUTE_DIRECTORY ? L"/" : L"";
        if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT))
            readInto(root, path, entries);
    }
    FindClose(h);
}

// Wine 8.0 makes no folder link of its own: there a link is a Linux one, relative, made from the
// temporary folder. Every link of a tree points to one folder beside it.
void makeLink(const std::wstring &root, const std::wstring &path) {
    const size_t cut = root.rfind(L'\\');
    const std::wstring link = longForm(root, path).substr(4), target = root + L"-target";
    makeTree(target, L"inner/ keep");
    runUntil(onWine ? L"Z:\\bin\\ln -sr \"" + target.substr(cut + 1) + L"\" \"" +
                          root.substr(cut + 1) + L"/" + path + L"\""
                    : L"cmd /c mklink /J \"" + link + L"\" \"" + target + L"\"",
             root.substr(0, cut), link, true);
}

} // namespace

std::wstring newRoot() {
    wchar_t temp[MAX_PATH], name[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    GetTempFileNameW(temp, L"tov", 0, name); // made as a file with a name not yet taken
    DeleteFileW(name);
    CreateDirectoryW(name, NULL);
    GetLongPathNameW(name, name, MAX_PATH); // as the system names it back, not in 8.3 form
    return name;
}

bool makeTree(const std::wstring &root, const std::wstring &description) {
    for (const auto &e : parse(description)) {
        const std::wstring path = longForm(root, e.first), &marks = e.second;
        DWORD attributes = (has(marks, L'h') ? FILE_ATTRIBUTE_HIDDEN : 0) |
                           (has(marks, L's') ? FILE_ATTRIBUTE_SYSTEM : 0);
        if (has(marks, L'l'))
            makeLink(root, e.first);
        else if (marks.empty())
            CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL));
        else
            CreateDirectoryW(path.c_str(), NULL);
        SetFileAttributesW(path.c_str(), attributes);
        DWORD made = GetFileAttributesW(path.c_str());
        if (made == INVALID_FILE_ATTRIBUTES || (made & attributes) != attributes)
            return false;
    }
    return true;
}

std::wstring readTree(const std::wstring &root) {
    Entries entries;
    readInto(root, L"", &entries);
    bool gone = GetFileAttributesW(longForm(root).c_str()) == INVALID_FILE_ATTRIBUTES;
    return gone ? L"-" : describe(entries);
}

// Links go as links: under Wine only a Linux program can take one away.
void removeTree(const std::wstring &root) {
    const size_t cut = root.rfind(L'\\');
    const std::wstring name = onWine ? root.substr(cut + 1) : root;
    std::wstring names;
    for (const wchar_t *beside : {L"-target", L"-moved", L""}) // the root last: its end is seen
        names += L" \"" + name + beside + L"\"";
    CreateDirectoryW(longForm(root).c_str(), NULL); // a root already gone would show no end
    runUntil(onWine ? L"Z:\\bin\\rm -rf" + names : L"cmd /c rmdir /s /q" + names,
             root.substr(0, cut), root, false);
}

// Wine finds its drives as links in the prefix's dosdevices folder; c: is ../drive_c.
bool defineDrive(const std::wstring &letter, const std::wstring &folder) {
    if (!onWine)
        return DefineDosDeviceW(folder.empty() ? DDD_REMOVE_DEFINITION : 0, letter.c_str(),
                                folder.empty() ? NULL : folder.c_str());
    std::wstring devices = _wgetenv(L"WINEPREFIX"), target = folder.substr(folder.empty() ? 0 : 2);
    std::replace(devices.begin(), devices.end(), L'/', L'\\');
    std::replace(target.begin(), target.end(), L'\\', L'/');
    const std::wstring link = std::wstring(1, towlower(letter[0])) + L":";
    return runUntil(folder.empty() ? L"Z:\\bin\\rm " + link
                                   : L"Z:\\bin\\ln -sfn ../drive_c" + target + L" " + link,
                    L"Z:" + devices + L"\\dosdevices", letter + L"\\", !folder.empty());
}

std::wstring randomTree(unsigned seed, int folders, int fileEvery, bool marks) {
    static const wchar_t *const names[] = {L"a", L"x&y", L"\U0001F600\u00e9", L"\u6570.d"};
    static const wchar_t *const kinds[] = {L"/:h ", L"/:s ", L"/:hs ", L"/:l ", L"/ "};
    std::mt19937 random(seed);
    std::vector<std::wstring> made = {L""};
    std::wstring out;
    for (int i = 1; i <= folders; i++) {
        std::wstring parent = made[random() % made.size()];
        std::wstring path =
            parent + (parent.empty() ? L"" : L"/") + names[random() % 4] + std::to_wstring(i);
        unsigned kind = marks ? std::min(random() % 16, 4u) : 4;
        out += path + kinds[kind];
        if (kind != 3)
            made.push_back(path);
        if (kind != 3 && random() % fileEvery == 0)
            out += path + L"/f ";
    }
    return out;
}

std::wstring outcome(int visited, int removed, const std::wstring &left) {
    return L"visited " + std::to_wstring(visited) + L", removed " + std::to_wstring(removed) +
           L": " + left;
}

std::wstring model(const std::wstring &description, bool system, bool hidden) {
    Entries entries = parse(description);
    int visited = 0, removed = 0;
    // Whether the folder at path goes: visited and counted, then skipped by a filter, or removed
    // when nothing below it is kept. Every subfolder is visited, even after a file. Windows
    // removes a link itself; under Wine, where it opens as its target, it is left alone.
    std::function<bool(const std::wstring &)> goes = [&](const std::wstring &path) {
        visited++;
        const std::wstring marks = entries[path], prefix = path.empty() ? L"" : path + L"/";
        if ((!system && has(marks, L's')) || (!hidden && has(marks, L'h')))
            return false;
        bool gone = has(marks, L'l') ? !onWine : true;
        for (auto c = entries.upper_bound(prefix);
             !has(marks, L'l') && c != entries.end() && c->first.rfind(prefix, 0) == 0; ++c) {
            if (c->first.find(L'/', prefix.size()) == std::wstring::npos)
                gone = (!c->second.empty() && goes(c->first)) && gone;
        }
        removed += gone;
        entries[path] = gone ? L"-" : marks;
        return gone;
    };
    std::wstring left = goes(L"") ? L"-" : describe(entries);
    return outcome(visited, removed, left);
}

bool runUntil(std::wstring command, const std::wstring &dir, const std::wstring &path,
              bool present) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, dir.c_str(), &si, &pi))
        return false;
    // Wine leaves stale values here for a Linux program: closing them could close a handle of
    // this process, standard output among them.
    if (!onWine) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    const std::wstring where = longForm(path);
    auto there = [&] { return GetFileAttributesW(where.c_str()) != INVALID_FILE_ATTRIBUTES; };
    return poll([&] { return there() == present; }, 10000, 1);
}

bool start(Program *program) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    wchar_t line[] = L"tovrith.exe";
    program->main = NULL;
    if (CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &program->process))
        program->main = waitWindow(*program, IDC_CARPETA, 30000);
    return program->main != NULL;
}

DWORD stop(Program *program) {
    DWORD code = STILL_ACTIVE;
    PostMessageW(program->main, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(program->process.hProcess, 10000))
        TerminateProcess(program->process.hProcess, code);
    GetExitCodeProcess(program->process.hProcess, &code);
    CloseHandle(program->process.hProcess);
    CloseHandle(program->process.hThread);
    return code;
}

// The program makes all its windows on its first thread.
HWND waitWindow(const Program &program, int id, DWORD ms) {
    static HWND found;
    auto holds = [](HWND window, LPARAM id) {
        found = IsWindowVisible(window) && GetDlgItem(window, (int)id) ? window : NULL;
        return (BOOL)!found;
    };
    found = NULL;
    poll([&] { return !EnumThreadWindows(program.process.dwThreadId, holds, id) && found; }, ms);
    return found;
}

std::wstring text(HWND window, int id) {
    wchar_t got[5200] = L"";
    id ? GetDlgItemTextW(window, id, got, 5200) : GetWindowTextW(window, got, 5200);
    return got;
}

void press(HWND window, int id) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(window, id));
}

std::wstring buttons(HWND box) {
    static const wchar_t *const names[] = {L"OK",     L"Cancel", L"Abort", L"Retry",
                                           L"Ignore", L"Yes",    L"No"};
    std::wstring offered;
    for (int id = IDOK; id <= IDNO; id++)
        if (GetWindowLongW(GetDlgItem(box, id), GWL_STYLE) & WS_VISIBLE)
            offered += (offered.empty() ? L"" : L" ") + std::wstring(names[id - IDOK]);
    return offered;
}

std::wstring answer(const Program &program, int button, DWORD ms) {
    HWND box = waitWindow(program, MESSAGE_TEXT, ms);
    std::wstring said = text(box, 0) + L": " + text(box, MESSAGE_TEXT);
    if (IsWindowEnabled(program.main))
        said += L" [the main window takes input]";
    const std::wstring offered = buttons(box);
    if (offered != (button == IDYES || button == IDNO ? L"Yes No" : L"OK"))
        said += L" [buttons: " + offered + L"]";
    // A box takes a posted command even for a button it lacks: click one that is there.
    if (!GetDlgItem(box, button))
        button = offered.rfind(L"Yes", 0) == 0 ? IDYES : IDOK;
    press(box, button);
    poll([&] { return !IsWindow(box); }, 15000);
    return said;
}
