// The whole program, tovrith.exe beside this executable, driven end to end as a user would:
//   program_bench run ROOT
//       one run with both boxes unchecked: counts from the summary, time from pressing Yes to
//       the worker's end and to the summary, peak memory of the program
//   program_bench cancel ROOT DELAY_MS ROUNDS
//       ROUNDS runs, each cancelled DELAY_MS after the progress window appeared: time from
//       pressing Cancel to the worker's end and to the notice
// Figures go to stdout as name=value pairs; any step that does not come within its bound ends
// the program under test and this one with exit code 1.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver.h"
#include "measure.h"
#include "threads.h"

namespace {

enum { kField = 5002, kSkipSystem = 5004, kSkipHidden = 5005, kProceed = 5006, kCancel = 5010 };

const DWORD kAppearMs = 20000;
// The longest sweep here is 20,000 folders at a little over 2 ms each.
const DWORD kSweepMs = 600000;

const wchar_t kCanceled[] = L"The task has been canceled by the user";

Running program;

int fail(const char *what) {
    fprintf(stderr, "program_bench: %s\n", what);
    killProgram(&program);
    return 1;
}

std::string narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 128 ? (char)c : '?';
    return out;
}

// A message box of the program other than `except`, looked for every millisecond or so: the
// driver's own wait polls at 20 ms, too coarse for a 100 ms target.
HWND pollMessageBox(HWND except, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND box = waitMessageBox(program.pid, 0, except);
        if (box || GetTickCount() - start >= timeoutMs)
            return box;
        Sleep(1);
    }
}

// Fills the main window, presses Proceed and returns the confirmation, unanswered.
HWND askToProceed(const std::wstring &root) {
    setControlText(program.main, kField, root);
    setCheck(program.main, kSkipSystem, false);
    setCheck(program.main, kSkipHidden, false);
    press(program.main, kProceed);
    HWND confirm = waitMessageBox(program.pid, kAppearMs);
    if (confirm && messageBoxText(confirm).find(L"Are you sure?") == std::wstring::npos) {
        fprintf(stderr, "asked: %s\n", narrow(messageBoxText(confirm)).c_str());
        return NULL;
    }
    return confirm;
}

bool closeProgram(DWORD *code) {
    postClose(program.main);
    return waitExit(&program, kAppearMs, code);
}

// NAME=a,b,c NAME_mean=m NAME_max=x
void printFigures(const char *name, const std::vector<double> &values) {
    double sum = 0;
    printf("%s=", name);
    for (size_t i = 0; i < values.size(); i++) {
        printf("%s%.1f", i ? "," : "", values[i]);
        sum += values[i];
    }
    printf(" %s_mean=%.1f %s_max=%.1f ", name, sum / values.size(), name,
           *std::max_element(values.begin(), values.end()));
}

int timeOneRun(const std::wstring &root) {
    HWND confirm = askToProceed(root);
    if (!confirm)
        return fail("no confirmation");
    std::set<DWORD> before = threadIds(program.pid);
    double yes = nowMs();
    press(confirm, IDYES);
    // The progress window starts the worker as it opens; the only thread the run adds.
    HANDLE worker = waitNewThread(program.pid, before, kAppearMs);
    if (!worker)
        return fail("no worker thread appeared");
    if (WaitForSingleObject(worker, kSweepMs) != WAIT_OBJECT_0)
        return fail("the worker did not end");
    double end = nowMs();
    CloseHandle(worker);
    HWND report = pollMessageBox(confirm, kAppearMs);
    if (!report)
        return fail("no summary");
    double shown = nowMs();
    PeakMemory memory = {};
    peakMemory(program.process, &memory);
    std::wstring text = messageBoxText(report);
    int visited = -1, removed = -1;
    if (swscanf(text.c_str(), L"I have traversed %d folders and I have erased %d", &visited,
                &removed) != 2) {
        fprintf(stderr, "summary: %s\n", narrow(text).c_str());
        return fail("unexpected summary");
    }
    press(report, IDOK);
    if (!waitMainReady(&program, kAppearMs))
        return fail("the main window did not come back");
    DWORD code = 1;
    if (!closeProgram(&code))
        return fail("the program did not end when its window was closed");
    printf("visited=%d removed=%d yes_end_ms=%.1f yes_summary_ms=%.1f peak_ws_mib=%.2f "
           "peak_pf_mib=%.2f exit=%lu\n",
           visited, removed, end - yes, shown - yes, memory.workingSetMiB, memory.pagefileMiB,
           code);
    return 0;
}

int timeCancels(const std::wstring &root, DWORD delayMs, int rounds) {
    std::vector<double> toEnd, toNotice;
    for (int i = 0; i < rounds; i++) {
        HWND confirm = askToProceed(root);
        if (!confirm)
            return fail("no confirmation");
        std::set<DWORD> before = threadIds(program.pid);
        press(confirm, IDYES);
        HANDLE worker = waitNewThread(program.pid, before, kAppearMs);
        if (!worker)
            return fail("no worker thread appeared");
        HWND progress = waitProgressWindow(program.pid, kAppearMs);
        if (!progress)
            return fail("no progress window");
        Sleep(delayMs);
        double pressed = nowMs();
        press(progress, kCancel);
        // The notice can only follow the worker's end, so waiting for that first costs nothing.
        if (WaitForSingleObject(worker, kAppearMs) != WAIT_OBJECT_0)
            return fail("the worker did not end after Cancel");
        toEnd.push_back(nowMs() - pressed);
        CloseHandle(worker);
        HWND notice = pollMessageBox(confirm, kAppearMs);
        if (!notice)
            return fail("no notice after Cancel");
        toNotice.push_back(nowMs() - pressed);
        std::wstring text = messageBoxText(notice);
        if (text != kCanceled) {
            fprintf(stderr, "after Cancel: %s\n", narrow(text).c_str());
            return fail("not the cancel notice (did the run end first?)");
        }
        press(notice, IDOK);
        if (!waitMainReady(&program, kAppearMs))
            return fail("the main window did not come back");
    }
    DWORD code = 1;
    if (!closeProgram(&code))
        return fail("the program did not end when its window was closed");
    printFigures("cancel_end_ms", toEnd);
    printFigures("cancel_ms", toNotice);
    printf("exit=%lu\n", code);
    return 0;
}

} // namespace

int main() {
    std::vector<std::wstring> args = arguments();
    bool run = args.size() == 2 && args[0] == L"run";
    bool cancel = args.size() == 4 && args[0] == L"cancel" && _wtoi(args[3].c_str()) > 0;
    if (!run && !cancel) {
        fprintf(stderr, "usage: program_bench run ROOT | cancel ROOT DELAY_MS ROUNDS\n");
        return 2;
    }
    if (!startProgram(ownFolder() + L"tovrith.exe", L"", &program, kAppearMs))
        return fail("the main window did not come up");
    if (run)
        return timeOneRun(args[1]);
    return timeCancels(args[1], (DWORD)_wtoi(args[2].c_str()), _wtoi(args[3].c_str()));
}
