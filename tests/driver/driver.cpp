#include "driver.h"

#include <vector>

namespace {

const wchar_t kTitle[] = L"Tovrith by Malvessin";
const int kFieldId = 5002;
const int kCancelId = 5010;
const int kMessageTextId = 0xFFFF;
const DWORD kPollMs = 20;
// A cross-process send gives up after this long rather than hang on a stuck window.
const UINT kSendMs = 5000;

bool sendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR *result) {
    DWORD_PTR got = 0;
    LRESULT ok =
        SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendMs, &got);
    if (result)
        *result = got;
    return ok != 0;
}

std::wstring className(HWND window) {
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

bool isDialog(HWND window) {
    return className(window) == L"#32770";
}

struct Search {
    DWORD pid;
    bool (*match)(HWND window, const void *data);
    const void *data;
    HWND except;
    HWND found;
};

BOOL CALLBACK visitTopLevel(HWND window, LPARAM param) {
    Search *s = (Search *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != s->pid || window == s->except || !IsWindowVisible(window))
        return TRUE;
    if (!s->match(window, s->data))
        return TRUE;
    s->found = window;
    return FALSE;
}

HWND findTopLevel(DWORD pid, bool (*match)(HWND, const void *), const void *data, HWND except) {
    Search s = {pid, match, data, except, NULL};
    EnumWindows(visitTopLevel, (LPARAM)&s);
    return s.found;
}

HWND waitTopLevel(DWORD pid, bool (*match)(HWND, const void *), const void *data, HWND except,
                  DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND found = findTopLevel(pid, match, data, except);
        if (found || GetTickCount() - start >= timeoutMs)
            return found;
        Sleep(kPollMs);
    }
}

bool isMainWindow(HWND window, const void *) {
    return isDialog(window) && GetDlgItem(window, kFieldId) && windowText(window) == kTitle;
}

bool isMessageBox(HWND window, const void *) {
    return isDialog(window) && GetDlgItem(window, kMessageTextId);
}

bool isProgressWindow(HWND window, const void *) {
    return isDialog(window) && GetDlgItem(window, kCancelId);
}

struct ChildText {
    const std::wstring *text;
    bool found;
};

BOOL CALLBACK visitChild(HWND child, LPARAM param) {
    ChildText *c = (ChildText *)param;
    if (windowText(child) != *c->text)
        return TRUE;
    c->found = true;
    return FALSE;
}

bool holdsText(HWND window, const void *data) {
    if (!isDialog(window))
        return false;
    ChildText c = {(const std::wstring *)data, false};
    EnumChildWindows(window, visitChild, (LPARAM)&c);
    return c.found;
}

} // namespace

std::wstring windowText(HWND window) {
    // The text may change between two reads (the progress window's folder line does), so it is
    // read in one go, again with more room when it filled the buffer.
    std::vector<wchar_t> buffer(4096, L'\0');
    for (;;) {
        DWORD_PTR copied = 0;
        if (!sendBounded(window, WM_GETTEXT, buffer.size(), (LPARAM)buffer.data(), &copied))
            return L"";
        if (copied + 1 < buffer.size())
            return std::wstring(buffer.data(), copied);
        buffer.assign(buffer.size() * 2, L'\0');
    }
}

bool startProgram(const std::wstring &exe, const std::wstring &args, Running *r, DWORD timeoutMs) {
    std::wstring line = L"\"" + exe + L"\"";
    if (!args.empty())
        line += L" " + args;
    std::vector<wchar_t> mutableLine(line.begin(), line.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), mutableLine.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si,
                        &pi))
        return false;
    CloseHandle(pi.hThread);
    r->process = pi.hProcess;
    r->pid = pi.dwProcessId;
    r->main = waitTopLevel(r->pid, isMainWindow, NULL, NULL, timeoutMs);
    return r->main != NULL;
}

HWND waitMessageBox(DWORD pid, DWORD timeoutMs, HWND except) {
    return waitTopLevel(pid, isMessageBox, NULL, except, timeoutMs);
}

std::wstring messageBoxText(HWND box) {
    return controlText(box, kMessageTextId);
}

HWND waitProgressWindow(DWORD pid, DWORD timeoutMs) {
    return waitTopLevel(pid, isProgressWindow, NULL, NULL, timeoutMs);
}

HWND waitDialogHolding(DWORD pid, const std::wstring &text, DWORD timeoutMs) {
    return waitTopLevel(pid, holdsText, &text, NULL, timeoutMs);
}

bool waitGone(HWND window, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(kPollMs);
    }
    return true;
}

std::wstring controlText(HWND window, int id) {
    HWND control = GetDlgItem(window, id);
    return control ? windowText(control) : L"";
}

void setControlText(HWND window, int id, const std::wstring &text) {
    HWND control = GetDlgItem(window, id);
    if (control)
        sendBounded(control, WM_SETTEXT, 0, (LPARAM)text.c_str(), NULL);
}

void setCheck(HWND window, int id, bool checked) {
    HWND control = GetDlgItem(window, id);
    if (control)
        sendBounded(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0, NULL);
}

bool isChecked(HWND window, int id) {
    HWND control = GetDlgItem(window, id);
    DWORD_PTR state = 0;
    return control && sendBounded(control, BM_GETCHECK, 0, 0, &state) && state == BST_CHECKED;
}

HWND focusedControl(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info))
        return NULL;
    return info.hwndFocus;
}

void postKey(HWND control, UINT key) {
    UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    PostMessageW(control, WM_KEYDOWN, key, 1 | (scan << 16));
    PostMessageW(control, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
}

void postChar(HWND control, wchar_t c) {
    PostMessageW(control, WM_CHAR, c, 1);
}

void press(HWND window, int id) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(window, id));
}

void postClose(HWND window) {
    PostMessageW(window, WM_CLOSE, 0, 0);
}

bool waitExit(Running *r, DWORD timeoutMs, DWORD *exitCode) {
    if (!r->process || WaitForSingleObject(r->process, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        GetExitCodeProcess(r->process, exitCode);
    return true;
}

void killProgram(Running *r) {
    if (r->process) {
        if (WaitForSingleObject(r->process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(r->process, 1);
            WaitForSingleObject(r->process, 5000);
        }
        CloseHandle(r->process);
    }
    r->process = NULL;
    r->pid = 0;
    r->main = NULL;
}

bool waitMainReady(Running *r, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        bool ready = IsWindow(r->main) && IsWindowEnabled(r->main) &&
                     !findTopLevel(r->pid, isMessageBox, NULL, NULL) &&
                     !findTopLevel(r->pid, isProgressWindow, NULL, NULL);
        if (ready)
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(kPollMs);
    }
}

bool runOnce(Running *r, const std::wstring &root, bool skipSystem, bool skipHidden,
             std::wstring *summary, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    auto left = [&]() -> DWORD {
        DWORD spent = GetTickCount() - start;
        return spent < timeoutMs ? timeoutMs - spent : 0;
    };
    setControlText(r->main, kFieldId, root);
    setCheck(r->main, 5004, skipSystem);
    setCheck(r->main, 5005, skipHidden);
    press(r->main, 5006);
    HWND confirm = waitMessageBox(r->pid, left());
    if (!confirm) {
        *summary = L"no confirmation came";
        return false;
    }
    std::wstring asked = messageBoxText(confirm);
    if (asked.find(L"Are you sure?") == std::wstring::npos) {
        *summary = asked;
        press(confirm, IDOK);
        return false;
    }
    press(confirm, IDYES);
    HWND report = waitMessageBox(r->pid, left(), confirm);
    if (!report) {
        *summary = L"no report came after Yes";
        return false;
    }
    *summary = messageBoxText(report);
    press(report, IDOK);
    if (!waitMainReady(r, left())) {
        *summary += L" (and the main window did not come back)";
        return false;
    }
    return true;
}
