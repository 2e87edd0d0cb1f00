#include "fs.h"

std::wstring longForm(const std::wstring &path) {
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path;
    return L"\\\\?\\" + path;
}

std::wstring makeTempRoot(const wchar_t *tag) {
    static LONG counter;
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    wchar_t name[MAX_PATH];
    swprintf(name, MAX_PATH, L"%lstovrith-%ls-%lu-%ld", base, tag, GetCurrentProcessId(),
             InterlockedIncrement(&counter));
    std::wstring root = name;
    removeTree(root);
    makeDir(root);
    return root;
}

bool makeDir(const std::wstring &path) {
    std::wstring full = longForm(path);
    if (CreateDirectoryW(full.c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS)
        return true;
    size_t cut = path.find_last_of(L'\\');
    if (cut == std::wstring::npos || cut == 0)
        return false;
    if (!makeDir(path.substr(0, cut)))
        return false;
    return CreateDirectoryW(full.c_str(), NULL) != 0;
}

bool makeFile(const std::wstring &path, const std::string &content) {
    size_t cut = path.find_last_of(L'\\');
    if (cut != std::wstring::npos)
        makeDir(path.substr(0, cut));
    HANDLE h = CreateFileW(longForm(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, content.data(), (DWORD)content.size(), &written, NULL);
    CloseHandle(h);
    return ok && written == content.size();
}

bool readFile(const std::wstring &path, std::string *content) {
    HANDLE h = CreateFileW(longForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    content->clear();
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, NULL) && got > 0)
        content->append(buf, got);
    CloseHandle(h);
    return true;
}

std::vector<WIN32_FIND_DATAW> listEntries(const std::wstring &dir) {
    std::vector<WIN32_FIND_DATAW> entries;
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW(longForm(dir + L"\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE)
        return entries;
    do {
        std::wstring n = d.cFileName;
        if (n != L"." && n != L"..")
            entries.push_back(d);
    } while (FindNextFileW(h, &d));
    FindClose(h);
    return entries;
}

bool exists(const std::wstring &path) {
    return GetFileAttributesW(longForm(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isDir(const std::wstring &path) {
    DWORD a = GetFileAttributesW(longForm(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool setAttributes(const std::wstring &path, DWORD attributes) {
    return SetFileAttributesW(longForm(path).c_str(),
                              attributes ? attributes : FILE_ATTRIBUTE_NORMAL) != 0;
}

void removeTree(const std::wstring &path) {
    std::wstring full = longForm(path);
    DWORD a = GetFileAttributesW(full.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(full.c_str());
        return;
    }
    if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
        for (const WIN32_FIND_DATAW &d : listEntries(path))
            removeTree(path + L"\\" + d.cFileName);
    }
    RemoveDirectoryW(full.c_str());
}

bool runningOnWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != NULL;
}
