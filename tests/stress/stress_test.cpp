// Many runs of the real program on seeded random trees, each let run to its end, cancelled or
// closed at a random moment. Afterwards: no run hung, the program never crashed, no file was
// lost or changed, no folder that held something (or that a filter kept) went, complete runs
// report what the disk shows, and the program exits 0 when its main window is closed.
// TOVRITH_SEED and TOVRITH_RUNS replay a series; the seed is printed.
#include <gtest/gtest.h>

#include <stdio.h>
#include <wchar.h>

#include "driver/driver.h"
#include "support/fs.h"
#include "stress/fixture_tree.h"
#include "stress/sweep_model.h"

namespace {

enum {
    kField = 5002,
    kSkipSystem = 5004,
    kSkipHidden = 5005,
    kProceed = 5006,
    kCancel = 5010,
};

const wchar_t kCanceled[] = L"The task has been canceled by the user";
// A window of the program normally comes within a second under Wine, even on a busy machine.
const DWORD kAppearMs = 15000;
// Runs per start of the program, so that runs follow each other in one process too.
const int kRunsPerProgram = 6;

enum Mode { kToEnd, kCancelled, kClosed };
const char *const kModeNames[] = {"to its end", "cancelled", "closed"};

struct Tally {
    int ended = 0, cancelled = 0, closed = 0;
    int lateCancels = 0, lateCloses = 0; // came when the summary was up: the run had ended
    int hiddenFolders = 0, systemFolders = 0, files = 0;
};

unsigned environmentNumber(const wchar_t *name, unsigned fallback) {
    wchar_t value[32];
    DWORD length = GetEnvironmentVariableW(name, value, 32);
    if (length == 0 || length >= 32)
        return fallback;
    return (unsigned)wcstoul(value, NULL, 10);
}

std::wstring programPath() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring own(path, length);
    return own.substr(0, own.find_last_of(L'\\') + 1) + L"tovrith.exe";
}

class Series {
  public:
    explicit Series(unsigned seed) : seed_(seed) {}
    ~Series() {
        killProgram(&program_);
    }
    // One run; returns its problems, empty when none.
    std::string run(int index);
    // Closes the main window; the program must end with 0.
    std::string closeProgram();
    Tally tally;

  private:
    std::string drive(const std::wstring &root, Mode mode, bool skipSystem, bool skipHidden,
                      DWORD delayMs, const Tree &before, const Outcome &expected, bool *complete);
    unsigned seed_;
    Running program_;
    int runsInProgram_ = 0;
};

std::string Series::closeProgram() {
    if (!program_.process)
        return "";
    runsInProgram_ = 0;
    postClose(program_.main);
    DWORD code = 0;
    bool ended = waitExit(&program_, kAppearMs, &code);
    killProgram(&program_);
    if (!ended)
        return "the program did not end within 15 s of its main window being closed\n";
    if (code != 0)
        return "the program ended with " + std::to_string(code) + " when its window was closed\n";
    return "";
}

std::string Series::run(int index) {
    std::seed_seq seeds = {seed_, (unsigned)index};
    std::mt19937 random(seeds);
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    // Most trees are small; one in four takes longer than the progress window's 500 ms poll,
    // so that a summary shown before the worker's end would be caught.
    int folders = pick(0, 3) == 0 ? pick(200, 400) : pick(3, 80);
    TreeShape shape = {folders, pick(1, 6), 0.05 * pick(1, 6), 0.15, 0.1};
    Mode mode = (Mode)pick(0, 2);
    bool skipSystem = pick(0, 1) == 1;
    bool skipHidden = pick(0, 1) == 1;

    std::wstring root = makeTempRoot(L"stress");
    if (!makeRandomTree(root, shape, random)) {
        removeTree(root);
        return "could not make the tree\n";
    }
    Tree before = readTree(root);
    Outcome expected = expectedOutcome(before, skipSystem, skipHidden);
    for (const auto &entry : before) {
        if (!entry.second.folder) {
            tally.files++;
            continue;
        }
        if (entry.second.attributes & FILE_ATTRIBUTE_HIDDEN)
            tally.hiddenFolders++;
        if (entry.second.attributes & FILE_ATTRIBUTE_SYSTEM)
            tally.systemFolders++;
    }
    // A random moment within about the run's length: a little over 2 ms per visited folder,
    // more on a busy machine; some moments fall after the end, which is fine too.
    DWORD delayMs = (DWORD)pick(0, 20 + expected.visited * 4);

    bool complete = false;
    std::string problems =
        drive(root, mode, skipSystem, skipHidden, delayMs, before, expected, &complete);
    Tree after = readTree(root);
    compareAfterRun(before, after, expected, complete, &problems);
    removeTree(root);
    if (problems.empty())
        return "";
    std::string when = kModeNames[mode];
    if (mode != kToEnd)
        when += " " + std::to_string(delayMs) + " ms after the progress window appeared";
    char head[200];
    snprintf(head, sizeof head,
             "run %d of seed %u (%s; %d folders visited in a whole run; skip system %d, skip "
             "hidden %d):\n",
             index, seed_, when.c_str(), expected.visited, skipSystem, skipHidden);
    return head + problems;
}

std::string Series::drive(const std::wstring &root, Mode mode, bool skipSystem, bool skipHidden,
                          DWORD delayMs, const Tree &before, const Outcome &expected,
                          bool *complete) {
    if (runsInProgram_ == kRunsPerProgram) {
        std::string closing = closeProgram();
        if (!closing.empty())
            return closing;
    }
    if (!program_.process && !startProgram(programPath(), L"", &program_, kAppearMs)) {
        killProgram(&program_);
        return "the main window did not come up\n";
    }
    runsInProgram_++;
    // On any failed step the program is ended: the next run starts a new one.
    auto stuck = [&](const std::string &what) {
        killProgram(&program_);
        return what + "\n";
    };
    setControlText(program_.main, kField, root);
    setCheck(program_.main, kSkipSystem, skipSystem);
    setCheck(program_.main, kSkipHidden, skipHidden);
    press(program_.main, kProceed);
    HWND confirm = waitMessageBox(program_.pid, kAppearMs);
    if (!confirm)
        return stuck("no confirmation after Proceed");
    std::wstring asked = messageBoxText(confirm);
    if (asked.find(L"Are you sure?") == std::wstring::npos)
        return stuck("asked: " + narrow(asked));
    press(confirm, IDYES);
    if (mode != kToEnd) {
        HWND progress = waitProgressWindow(program_.pid, kAppearMs);
        if (!progress)
            return stuck("no progress window after Yes");
        Sleep(delayMs);
        if (mode == kCancelled)
            press(progress, kCancel);
        else
            postClose(progress);
    }
    // Bound: far beyond a few ms per folder and the 500 ms poll.
    DWORD bound = kAppearMs + (DWORD)expected.visited * 100;
    HWND report = NULL;
    DWORD code = 0;
    for (DWORD waited = 0; !report && waited < bound; waited += 250) {
        report = waitMessageBox(program_.pid, 250, confirm);
        // A program that ended here crashed: say so now rather than call it hung later.
        if (!report && waitExit(&program_, 0, &code))
            return stuck("the program ended during the run, code " + std::to_string(code));
    }
    if (!report)
        return stuck("no final message within " + std::to_string(bound) + " ms: hung");
    std::wstring text = messageBoxText(report);
    std::string problems;
    int visited = -1, removed = -1;
    if (text == kCanceled) {
        if (mode == kToEnd)
            problems += "the cancel notice came though nothing cancelled the run\n";
        (mode == kClosed ? tally.closed : tally.cancelled)++;
    } else if (swscanf(text.c_str(), L"I have traversed %d folders and I have erased %d", &visited,
                       &removed) == 2) {
        *complete = true;
        tally.ended++;
        if (mode == kCancelled)
            tally.lateCancels++;
        if (mode == kClosed)
            tally.lateCloses++;
        int gone = foldersGone(root, before);
        if (visited != expected.visited || removed != (int)expected.removable.size() ||
            removed != gone)
            problems += "summary \"" + narrow(text) + "\"; expected " +
                        std::to_string(expected.visited) + " visited and " +
                        std::to_string(expected.removable.size()) + " erased; " +
                        std::to_string(gone) + " folders are gone from disk\n";
    } else {
        problems += "final message: \"" + narrow(text) + "\"\n";
    }
    // Nothing may change on disk once the final message is up: the worker has ended.
    Tree shown = readTree(root);
    press(report, IDOK);
    if (!waitMainReady(&program_, kAppearMs))
        return problems + stuck("the main window did not come back after the final message");
    if (foldersGone(root, shown) != 0)
        problems += "folders went after the final message was shown\n";
    if (waitExit(&program_, 0, &code)) {
        killProgram(&program_);
        problems += "the program ended during the run, code " + std::to_string(code) + "\n";
    }
    return problems;
}

TEST(Stress, RandomRunsOfTheWholeProgram) {
    unsigned seed = environmentNumber(L"TOVRITH_SEED", GetTickCount() ^ GetCurrentProcessId());
    int runs = (int)environmentNumber(L"TOVRITH_RUNS", 60);
    printf("stress: seed %u, %d runs (replay: TOVRITH_SEED=%u TOVRITH_RUNS=%d)\n", seed, runs, seed,
           runs);
    fflush(stdout);
    Series series(seed);
    int failed = 0;
    DWORD start = GetTickCount();
    for (int i = 0; i < runs && failed < 5; i++) {
        std::string problems = series.run(i);
        if (!problems.empty()) {
            failed++;
            ADD_FAILURE() << problems;
        }
    }
    std::string closing = series.closeProgram();
    EXPECT_EQ(closing, "");
    const Tally &t = series.tally;
    printf("stress: seed %u: %d ended (of which %d cancels and %d closes came after the end), "
           "%d cancelled, %d closed; %d hidden and %d system folders, %d files; %.1f s\n",
           seed, t.ended, t.lateCancels, t.lateCloses, t.cancelled, t.closed, t.hiddenFolders,
           t.systemFolders, t.files, (GetTickCount() - start) / 1000.0);
    // The trees must really hold what the filters act on, or the runs prove less than they seem.
    EXPECT_GT(t.hiddenFolders, 0) << "no hidden folder was made";
    EXPECT_GT(t.systemFolders, 0) << "no system folder was made";
    EXPECT_GT(t.files, 0) << "no file was made";
}

} // namespace
