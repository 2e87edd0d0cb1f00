#include "unix_side.h"

#include <windows.h>

#include <vector>

#include "support/fs.h"

std::string unixName(const std::wstring &path) {
    typedef char *(CDECL * Fn)(LPCWSTR);
    Fn fn =
        (Fn)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    char *name = fn ? fn(path.c_str()) : NULL;
    std::string out = name ? name : "";
    if (name)
        HeapFree(GetProcessHeap(), 0, name);
    return out;
}

static std::wstring dosName(const char *unixPath) {
    typedef WCHAR *(CDECL * Fn)(LPCSTR);
    Fn fn = (Fn)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name");
    WCHAR *name = fn ? fn(unixPath) : NULL;
    std::wstring out = name ? name : L"";
    if (name)
        HeapFree(GetProcessHeap(), 0, name);
    return out;
}

bool startUnix(const char *unixProgram, const std::wstring &args, const std::wstring &dir) {
    std::wstring program = dosName(unixProgram);
    if (program.empty())
        return false;
    std::wstring commandLine = L"\"" + program + L"\" " + args;
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, dir.c_str(), &si, &pi))
        return false;
    if (pi.hThread)
        CloseHandle(pi.hThread);
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    return true;
}

bool waitUntil(const std::wstring &path, bool present) {
    for (int i = 0; i < 2000; i++) {
        if ((GetFileAttributesW(longForm(path).c_str()) != INVALID_FILE_ATTRIBUTES) == present)
            return true;
        Sleep(5);
    }
    return false;
}
