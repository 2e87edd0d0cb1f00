#include "steps.h"

#include <stdio.h>

#include "screenshot.h"

namespace {

const int kFieldId = 5002;
const int kProceedId = 5006;
const int kCurrentFolderId = 5009;

const DWORD kStartMs = 30000;
const DWORD kStepMs = 15000;
const DWORD kSweepMs = 120000;
const DWORD kPollMs = 20;
const UINT kSendMs = 5000;
// Time for the program to paint a window and for the display to show it.
const DWORD kSettleMs = 400;
const DWORD kProgressSettleMs = 150;

bool fail(Demo *demo, const wchar_t *step, const std::wstring &why) {
    demo->failure = std::wstring(step) + L": " + why;
    return false;
}

bool capture(Demo *demo, std::initializer_list<HWND> windows, const wchar_t *name, DWORD settleMs) {
    DWORD_PTR ignored;
    for (HWND window : windows)
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendMs, &ignored);
    Sleep(settleMs);
    return saveScreenArea(areaOf(windows), demo->shots + L"\\" + name);
}

// The text of a control that keeps changing. It is read in one message into a buffer as large
// as any path, so that it cannot come back cut short when it grows between two messages.
std::wstring movingText(HWND window, int id) {
    HWND control = GetDlgItem(window, id);
    return control ? windowText(control) : L"";
}

// A message box's text on one line.
std::wstring oneLine(std::wstring text) {
    size_t at;
    while ((at = text.find(L"\r\n")) != std::wstring::npos)
        text.replace(at, 2, L" / ");
    return text;
}

} // namespace

void say(const std::wstring &line) {
    int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, NULL, 0, NULL, NULL);
    std::string bytes(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &bytes[0], size, NULL, NULL);
    printf("%s\n", bytes.c_str());
    fflush(stdout);
}

bool showMainWindow(Demo *demo) {
    const wchar_t *step = L"1. main window";
    if (!startProgram(demo->exe, L"", &demo->program, kStartMs))
        return fail(demo, step, L"no main window of " + demo->exe + L" came up");
    HWND main = demo->program.main;
    setControlText(main, kFieldId, demo->tree.root);
    if (controlText(main, kFieldId) != demo->tree.root)
        return fail(demo, step, L"the root could not be typed into the field");
    if (!capture(demo, {main}, L"1-main.bmp", kSettleMs))
        return fail(demo, step, L"no screenshot (blank or not written)");
    say(L"1. Main window, the root typed in: " + controlText(main, kFieldId));
    return true;
}

bool confirmRun(Demo *demo) {
    const wchar_t *step = L"2. confirmation";
    HWND main = demo->program.main;
    press(main, kProceedId);
    demo->confirm = waitMessageBox(demo->program.pid, kStepMs);
    if (!demo->confirm)
        return fail(demo, step, L"Proceed brought no message box");
    std::wstring text = messageBoxText(demo->confirm);
    if (text.find(L"Are you sure?") == std::wstring::npos ||
        text.find(demo->tree.root) == std::wstring::npos)
        return fail(demo, step, L"unexpected message: " + oneLine(text));
    if (!capture(demo, {main, demo->confirm}, L"2-confirm.bmp", kSettleMs))
        return fail(demo, step, L"no screenshot (blank or not written)");
    say(L"2. Confirmation: " + oneLine(text));
    press(demo->confirm, IDYES);
    return true;
}

bool watchProgress(Demo *demo) {
    const wchar_t *step = L"3. progress window";
    DWORD pid = demo->program.pid;
    HWND progress = waitProgressWindow(pid, kStepMs);
    if (!progress)
        return fail(demo, step, L"Yes brought no progress window");
    // Wait for a folder of the tree to be shown, so the picture is of a run under way.
    const std::wstring &root = demo->tree.root;
    std::wstring shown;
    DWORD start = GetTickCount();
    while ((shown = movingText(progress, kCurrentFolderId)).compare(0, root.size(), root) != 0) {
        if (GetTickCount() - start >= kStepMs)
            return fail(demo, step, L"no folder of the tree was shown (last: \"" + shown + L"\")");
        Sleep(kPollMs);
    }
    if (!capture(demo, {progress}, L"3-progress.bmp", kProgressSettleMs))
        return fail(demo, step, L"no screenshot (blank or not written)");
    // A summary already up would be in the picture too.
    if (!IsWindowVisible(progress) || waitMessageBox(pid, 0, demo->confirm))
        return fail(demo, step, L"the run ended before the window could be captured");
    say(L"3. Progress window, showing: " + shown);
    return true;
}

bool readSummary(Demo *demo) {
    const wchar_t *step = L"4. summary";
    DWORD pid = demo->program.pid;
    HWND box = waitMessageBox(pid, kSweepMs, demo->confirm);
    if (!box)
        return fail(demo, step, L"the run did not end with a message");
    std::wstring text = messageBoxText(box);
    wchar_t expected[128];
    swprintf(expected, 128, L"I have traversed %d folders and I have erased %d",
             expectedVisits(demo->tree), expectedRemovals(demo->tree));
    if (text != expected)
        return fail(demo, step,
                    L"\"" + oneLine(text) + L"\" where \"" + expected + L"\" was expected");
    // The box stands in front of the progress window it belongs to.
    HWND progress = waitProgressWindow(pid, 0);
    if (!capture(demo, {progress, box}, L"4-summary.bmp", kSettleMs))
        return fail(demo, step, L"no screenshot (blank or not written)");
    say(L"4. Summary: " + text);
    press(box, IDOK);
    if (!waitMainReady(&demo->program, kStepMs))
        return fail(demo, step, L"the main window did not take input again after OK");
    return true;
}

bool closeProgram(Demo *demo) {
    const wchar_t *step = L"5. closing";
    postClose(demo->program.main);
    DWORD code = 0;
    if (!waitExit(&demo->program, kStepMs, &code))
        return fail(demo, step, L"the program did not end after its window was closed");
    if (code != 0)
        return fail(demo, step, L"the program ended with exit code " + std::to_wstring(code));
    say(L"5. Closed the program: exit code 0");
    return true;
}
