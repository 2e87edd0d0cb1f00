#include "tree.h"

#include <stdlib.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>
#include <vector>

namespace {

// By path below the root, with "/" between names ("" is the root): a folder's marks after a "/",
// nothing for a file, "-" for a folder the model has removed.
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
        size_t at = word.find(L'/');
        for (; at != std::wstring::npos && at + 1 < word.size() && word[at + 1] != L':';
             at = word.find(L'/', at + 1))
            entries.insert({word.substr(0, at), L"/"});
        entries[word.substr(0, at)] = at == std::wstring::npos ? L"" : word.substr(at);
    }
    return entries;
}

std::wstring format(const Entries &entries) {
    std::wstring out;
    for (const auto &e : entries) {
        if (!e.first.empty() && e.second != L"-")
            out += (out.empty() ? L"" : L" ") + e.first + e.second;
    }
    return out;
}

void readInto(const std::wstring &root, const std::wstring &prefix, Entries *entries) {
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((longForm(root, prefix) + L"\\*").c_str(), &d);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &d)) {
        std::wstring path = prefix + (prefix.empty() ? L"" : L"/") + d.cFileName;
        DWORD a = d.dwFileAttributes;
        std::wstring marks = L"/:";
        marks += a & FILE_ATTRIBUTE_HIDDEN ? L"h" : L"";
        marks += a & FILE_ATTRIBUTE_SYSTEM ? L"s" : L"";
        marks += a & FILE_ATTRIBUTE_REPARSE_POINT ? L"l" : L"";
        if (!wcscmp(d.cFileName, L".") || !wcscmp(d.cFileName, L".."))
            continue;
        bool folder = a & FILE_ATTRIBUTE_DIRECTORY;
        (*entries)[path] = !folder ? L"" : marks == L"/:" ? L"/" : marks;
        if (folder && !has(marks, L'l'))
            readInto(root, path, entries);
    }
    FindClose(h);
}

// Wine 8.0 makes no folder link of its own: there a link is a Linux one, relative to the
// temporary folder that holds the tree and the target.
bool makeLink(const std::wstring &root, const std::wstring &path) {
    std::wstring link = longForm(root, path).substr(4), target = linkTarget();
    size_t cut = link.rfind(L'\\');
    std::wstring up = L"../";
    for (wchar_t c : path)
        up += c == L'/' ? L"../" : L"";
    std::wstring command = onWine() ? L"Z:\\bin\\ln -s \"" + up +
                                          target.substr(target.rfind(L'\\') + 1) + L"\" \"" +
                                          link.substr(cut + 1) + L"\""
                                    : L"cmd /c mklink /J \"" + link + L"\" \"" + target + L"\"";
    return runUntil(command, link.substr(0, cut), link, true);
}

struct Model {
    Entries entries;
    bool system, hidden;
    int visited, removed;
};

// Whether the folder at path goes, by the rules: visited and counted, then skipped by a filter,
// or removed when nothing below it is kept. Every subfolder is visited, even after a file.
bool goes(Model *m, const std::wstring &path) {
    m->visited++;
    const std::wstring marks = m->entries[path];
    if ((!m->system && has(marks, L's')) || (!m->hidden && has(marks, L'h')))
        return false;
    // Windows removes the link itself; Wine's RemoveDirectoryW fails while the target holds
    // anything. Neither enters it.
    bool gone = has(marks, L'l') ? !onWine() : true;
    std::wstring prefix = path.empty() ? L"" : path + L"/";
    for (auto c = m->entries.upper_bound(prefix);
         !has(marks, L'l') && c != m->entries.end() && c->first.rfind(prefix, 0) == 0; ++c) {
        if (c->first.find(L'/', prefix.size()) == std::wstring::npos)
            gone = (!c->second.empty() && goes(m, c->first)) && gone;
    }
    m->removed += gone;
    if (gone)
        m->entries[path] = L"-";
    return gone;
}

std::wstring line(int visited, int removed, const std::wstring &left) {
    return L"visited " + std::to_wstring(visited) + L", removed " + std::to_wstring(removed) +
           L": " + left;
}

void removeTarget() {
    removeTree(linkTarget());
}

} // namespace

bool onWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != NULL;
}

std::wstring newRoot() {
    static int made;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring root = temp + (L"tovrith-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(++made));
    CreateDirectoryW(root.c_str(), NULL);
    return root;
}

std::wstring linkTarget() {
    static std::wstring target;
    if (target.empty()) {
        target = newRoot();
        makeTree(target, L"inner/ keep");
        atexit(removeTarget);
    }
    return target;
}

bool makeTree(const std::wstring &root, const std::wstring &description) {
    for (const auto &e : parse(description)) {
        std::wstring path = longForm(root, e.first);
        bool made = true;
        if (has(e.second, L'l'))
            made = makeLink(root, e.first);
        else if (e.second.empty())
            CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL));
        else if (!e.first.empty())
            made = CreateDirectoryW(path.c_str(), NULL);
        DWORD attributes = (has(e.second, L'h') ? FILE_ATTRIBUTE_HIDDEN : 0) |
                           (has(e.second, L's') ? FILE_ATTRIBUTE_SYSTEM : 0);
        made = made && (!attributes || SetFileAttributesW(path.c_str(), attributes));
        if (!made || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            return false;
    }
    return true;
}

// Links go as links, their target stays; under Wine only a Linux program can take one away.
void removeTree(const std::wstring &root) {
    size_t cut = root.rfind(L'\\');
    runUntil(onWine() ? L"Z:\\bin\\rm -rf \"" + root.substr(cut + 1) + L"\""
                      : L"cmd /c rmdir /s /q \"" + root + L"\"",
             root.substr(0, cut), root, false);
}

std::wstring readTree(const std::wstring &root) {
    if (GetFileAttributesW(longForm(root).c_str()) == INVALID_FILE_ATTRIBUTES)
        return L"-";
    Entries entries;
    readInto(root, L"", &entries);
    return format(entries);
}

std::wstring outcome(int visited, int removed, const std::wstring &root) {
    return line(visited, removed, readTree(root));
}

std::wstring model(const std::wstring &description, bool system, bool hidden) {
    Model m = {parse(description), system, hidden, 0, 0};
    std::wstring left = goes(&m, L"") ? L"-" : format(m.entries);
    return line(m.visited, m.removed, left);
}

bool runUntil(std::wstring command, const std::wstring &dir, const std::wstring &path,
              bool present) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, dir.c_str(), &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return poll(
        [&] {
            return (GetFileAttributesW(longForm(path).c_str()) != INVALID_FILE_ATTRIBUTES) ==
                   present;
        },
        10000, 1);
}

std::wstring randomTree(unsigned seed, int folders, int fileEvery, bool marks) {
    static const wchar_t *const names[] = {
        L"a", L"x&y", L"\U0001F600", L"\u00e9t\u00e9", L"\u6570\u636e", L"n.d"};
    static const wchar_t *const kinds[] = {L"/:h ", L"/:s ", L"/:hs ", L"/:l ", L"/ "};
    std::mt19937 random(seed);
    std::vector<std::wstring> made = {L""};
    std::wstring out;
    for (int i = 1; i <= folders; i++) {
        std::wstring parent = made[random() % made.size()];
        std::wstring path =
            parent + (parent.empty() ? L"" : L"/") + names[random() % 6] + std::to_wstring(i);
        unsigned kind = marks ? std::min(random() % 16, 4u) : 4;
        out += path + kinds[kind];
        if (kind == 3)
            continue;
        made.push_back(path);
        if (random() % fileEvery == 0)
            out += path + L"/f ";
    }
    return out;
}
