#include "driver.h"

DWORD_PTR send(HWND window, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetDlgItem(window, id), message, wParam, lParam, SMTO_ABORTIFHUNG, 5000,
                        &result);
    return result;
}

std::wstring programPath() {
    wchar_t own[MAX_PATH];
    std::wstring path(own, GetModuleFileNameW(NULL, own, MAX_PATH));
    return path.substr(0, path.rfind(L'\\') + 1) + L"tovrith.exe";
}

bool start(Program *program) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    program->main = NULL;
    if (!CreateProcessW(programPath().c_str(), NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si,
                        &program->process))
        return false;
    program->main = waitWindow(*program, IDC_CARPETA, 30000);
    return program->main != NULL;
}

DWORD stop(Program *program) {
    DWORD code = STILL_ACTIVE;
    PostMessageW(program->main, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(program->process.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(program->process.hProcess, code);
    GetExitCodeProcess(program->process.hProcess, &code);
    CloseHandle(program->process.hProcess);
    CloseHandle(program->process.hThread);
    return code;
}

HWND waitWindow(const Program &program, int id, DWORD ms) {
    HWND found = NULL;
    poll(
        [&] {
            while ((found = FindWindowExW(NULL, found, L"#32770", NULL))) {
                DWORD pid = 0;
                GetWindowThreadProcessId(found, &pid);
                if (pid == program.process.dwProcessId && IsWindowVisible(found) &&
                    GetDlgItem(found, id))
                    return true;
            }
            return false;
        },
        ms);
    return found;
}

std::wstring text(HWND window, int id) {
    wchar_t got[5200] = L"";
    send(window, id, WM_GETTEXT, 5200, (LPARAM)got);
    return got;
}

void setText(HWND window, int id, const std::wstring &text) {
    send(window, id, WM_SETTEXT, 0, (LPARAM)text.c_str());
}

void press(HWND window, int id) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(window, id));
}

std::wstring answer(const Program &program, int button, DWORD ms) {
    HWND box = waitWindow(program, MESSAGE_TEXT, ms);
    std::wstring said = box ? text(box, MESSAGE_TEXT) : L"";
    press(box, button);
    poll([&] { return !IsWindow(box); }, 15000);
    return said;
}
