// The driver's side of a run: finding, reading, pressing and answering windows as a user.
#include <stdio.h>

#include "run_session.h"

namespace {

bool isBox(HWND w) {
    wchar_t cls[16];
    // A message box is a dialog holding the static text 0xFFFF (also under Wine).
    return GetClassNameW(w, cls, 16) && wcscmp(cls, L"#32770") == 0 && GetDlgItem(w, 0xFFFF) &&
           !isProgress(w);
}

// The progress window on the window thread; only a visible one when visibleOnly.
HWND findProgress(DWORD thread, bool visibleOnly) {
    struct Scan {
        bool visibleOnly;
        HWND found;
    } scan{visibleOnly, NULL};
    EnumThreadWindows(
        thread,
        [](HWND w, LPARAM p) -> BOOL {
            Scan *scan = (Scan *)p;
            if (!isProgress(w) || (scan->visibleOnly && !IsWindowVisible(w)))
                return TRUE;
            scan->found = w;
            return FALSE;
        },
        (LPARAM)&scan);
    return scan.found;
}

std::wstring textOf(HWND w) {
    // Read without a message: the window's thread may be busy (Cancel waits for the worker).
    wchar_t text[LARGO_RUTA];
    int n = InternalGetWindowText(w, text, LARGO_RUTA);
    return std::wstring(text, n > 0 ? n : 0);
}

UINT iconOf(HWND box) {
    struct Find {
        HICON icon = NULL;
    } find;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM p) -> BOOL {
            if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
                return TRUE;
            DWORD_PTR icon = 0;
            SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_BLOCK, 2000, &icon);
            ((Find *)p)->icon = (HICON)icon;
            return FALSE;
        },
        (LPARAM)&find);
    // The box shows the shared system icon for its type, the handle LoadIcon hands out (so
    // under Wine 8; a box that drew a private copy would read as no icon here).
    if (find.icon && find.icon == LoadIconW(NULL, IDI_WARNING))
        return MB_ICONWARNING;
    if (find.icon && find.icon == LoadIconW(NULL, IDI_INFORMATION))
        return MB_ICONINFORMATION;
    return 0;
}

} // namespace

double Driver::nowMs() {
    return s->nowMs();
}

void Driver::fail(const std::string &what) {
    if (s->log->failure.empty())
        s->log->failure = what;
}

void Driver::lookForBoxes() {
    struct Scan {
        Session *s;
        std::vector<HWND> found;
    } scan{s, {}};
    EnumThreadWindows(
        s->uiThread,
        [](HWND w, LPARAM p) -> BOOL {
            Scan *scan = (Scan *)p;
            if (IsWindowVisible(w) && isBox(w) && !scan->s->boxesSeen.count(w))
                scan->found.push_back(w);
            return TRUE;
        },
        (LPARAM)&scan);
    for (HWND w : scan.found) {
        SeenBox box;
        box.atMs = nowMs();
        box.workerEnded = !s->worker || WaitForSingleObject(s->worker, 0) == WAIT_OBJECT_0;
        box.owner = GetWindow(w, GW_OWNER);
        box.caption = textOf(w);
        box.text = textOf(GetDlgItem(w, 0xFFFF));
        box.icon = iconOf(w);
        if (isProgress(box.owner))
            box.folderShown = textOf(GetDlgItem(box.owner, IDC_CARPETA_ACTUAL));
        s->boxesSeen.insert(w);
        s->log->boxes.push_back(box);
    }
}

HWND Driver::waitProgress(DWORD boundMs) {
    waitFor("the progress window", boundMs, [&] {
        progress = findProgress(s->uiThread, true);
        return progress != NULL;
    });
    if (progress && s->log->openedMs < 0) {
        s->log->openedMs = nowMs();
        s->log->progress = progress;
        s->log->progressOwner = GetWindow(progress, GW_OWNER);
        s->log->ownerEnabledWhileOpen = IsWindowEnabled(s->owner) != 0;
    }
    return progress;
}

bool Driver::waitFor(const char *what, DWORD boundMs, const std::function<bool()> &pred) {
    DWORD began = GetTickCount();
    for (;;) {
        lookForBoxes();
        if (pred())
            return true;
        if (s->uiDone) {
            fail(std::string("the window ended while waiting for ") + what);
            return false;
        }
        if (GetTickCount() - began > boundMs) {
            fail(std::string("no ") + what + " within " + std::to_string(boundMs) + " ms");
            return false;
        }
        Sleep(1);
    }
}

void Driver::press(int id) {
    post(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(progress, id));
}

void Driver::post(UINT message, WPARAM wParam, LPARAM lParam) {
    PostMessageW(progress, message, wParam, lParam);
}

void Driver::key(WORD vk, bool alt) {
    // Posted to the control that has the window's keyboard focus, where the window's message
    // loop hands it to the dialog manager as it would a key from the keyboard. SendInput works
    // under Wine too, but sends to whatever window is in front on the shared desktop, which a
    // test running beside this one can take. The window then has no focus either, and the key
    // goes to the window itself: the dialog manager treats it the same way.
    GUITHREADINFO gui = {sizeof gui};
    GetGUIThreadInfo(s->uiThread, &gui);
    HWND target = gui.hwndFocus;
    if (!target || (target != progress && GetParent(target) != progress))
        target = progress;
    LPARAM down = 1 | (LPARAM)MapVirtualKeyW(vk, MAPVK_VK_TO_VSC) << 16;
    if (alt)
        down |= 1 << 29; // the key comes with Alt held
    LPARAM up = down | 1u << 30 | 1u << 31;
    PostMessageW(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, down);
    PostMessageW(target, alt ? WM_SYSKEYUP : WM_KEYUP, vk, up);
}

HANDLE Driver::worker() {
    return s->worker;
}

bool Driver::holdWorker(DWORD boundMs) {
    ResetEvent(s->held);
    ResetEvent(s->release);
    s->hold = 1;
    return waitFor("the worker at its hold", boundMs,
                   [&] { return WaitForSingleObject(s->held, 0) == WAIT_OBJECT_0; });
}

void Driver::watch(DWORD ms) {
    DWORD began = GetTickCount();
    while (GetTickCount() - began < ms && !s->uiDone) {
        lookForBoxes();
        Sleep(1);
    }
}

size_t Driver::boxesSeen() {
    return s->log->boxes.size();
}

void Driver::releaseWorker() {
    s->hold = 0;
    SetEvent(s->release);
}

std::vector<SeenMessage> Driver::messages() {
    std::lock_guard<std::mutex> hold(s->lock);
    return s->log->messages;
}

void Driver::answer(HWND box) {
    DWORD began = GetTickCount();
    while (IsWindow(box) && GetTickCount() - began < 10000) {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
        for (int i = 0; i < 500 && IsWindow(box); ++i)
            Sleep(1);
    }
    s->boxesSeen.erase(box);
}

void Driver::finish() {
    releaseWorker();
    DWORD began = GetTickCount();
    bool closing = !s->log->failure.empty();
    while (!s->uiDone) {
        size_t had = s->log->boxes.size();
        lookForBoxes();
        // Also the boxes that came while the script was looking.
        if (!s->boxesSeen.empty()) {
            if (s->options.holdBoxMs && s->log->boxes.size() > had)
                Sleep(s->options.holdBoxMs);
            for (HWND box : std::vector<HWND>(s->boxesSeen.begin(), s->boxesSeen.end()))
                answer(box);
        }
        if (!closing && GetTickCount() - began > s->options.boundMs) {
            fail("the window did not end within " + std::to_string(s->options.boundMs) + " ms");
            closing = true;
        }
        if (closing) {
            // Whatever is up is answered and the run cancelled, until the window has ended.
            for (HWND box : std::vector<HWND>(s->boxesSeen.begin(), s->boxesSeen.end()))
                answer(box);
            if (progress && IsWindow(progress))
                press(IDC_CANCELAR);
            if (GetTickCount() - began > s->options.boundMs + 20000) {
                fprintf(stderr, "The progress window could not be closed: %s\n",
                        s->log->failure.c_str());
                fflush(stderr);
                TerminateProcess(GetCurrentProcess(), 3);
            }
            Sleep(100);
        }
        Sleep(1);
        if (!progress)
            progress = findProgress(s->uiThread, false);
    }
}
