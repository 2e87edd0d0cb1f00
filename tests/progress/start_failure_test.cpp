// The window cannot start its worker: it says so, ends, and leaves nothing behind.
#include "progress_fixture.h"

namespace {

class StartFailure : public ProgressTest {};

TEST_F(StartFailure, ReportsAndReleasesWhatItMade) {
    std::wstring root = newRoot(L"nostart");
    DatosTarea task = {};
    fill(&task, root);
    RunOptions options;
    options.failWorkerStart = true; // CreateThread answers NULL for the worker
    // The notice stays up long enough for two ticks, had the timer been left running.
    options.holdBoxMs = 1200;
    RunLog log = runWindow(
        &task, [](Driver &) {}, options);

    ASSERT_TRUE(log.failure.empty()) << describe(log);
    EXPECT_EQ(1, log.workerStarts);
    EXPECT_EQ(1, log.result) << describe(log);
    ASSERT_EQ(1u, log.boxes.size()) << describe(log);
    EXPECT_EQ(narrow(kNotStarted), narrow(log.boxes[0].text));
    EXPECT_EQ(narrow(kCaption), narrow(log.boxes[0].caption));
    EXPECT_EQ((UINT)MB_ICONWARNING, log.boxes[0].icon) << describe(log);
    EXPECT_TRUE(log.boxes[0].owner != NULL && log.boxes[0].owner != owner);
    EXPECT_TRUE(isDir(root)) << "an empty root was removed without a worker";
    EXPECT_EQ(0, log.count(WM_TIMER, ID_TEMPORIZADOR)) << "the poll timer was left running";
    EXPECT_EQ(0, log.eventHandlesLeft) << "the stop event was kept";
    EXPECT_TRUE(IsWindowEnabled(owner));
}

} // namespace
