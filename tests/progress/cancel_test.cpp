// Runs stopped by the user in the middle of a sweep: Cancel, and a close request.
#include <stdio.h>

#include "folder_trees.h"
#include "progress_fixture.h"

namespace {

class Cancel : public ProgressTest {
  protected:
    // A tree that takes the worker seconds: 800 leaves, every other one holding a file.
    void SetUp() override {
        ProgressTest::SetUp();
        root = newRoot(L"cancel");
        ASSERT_EQ(821, makeGrid(root, 20, 40, 2));
    }

    // Checks what a run stopped by the user left, given the tree as it was before the run.
    void expectStopped(const RunLog &log, const DatosTarea &task, Tally before) {
        EXPECT_EQ(1, log.result) << describe(log);
        ASSERT_EQ(1u, log.boxes.size()) << describe(log);
        const SeenBox &box = log.boxes[0];
        EXPECT_EQ(narrow(kCanceled), narrow(box.text));
        EXPECT_EQ(narrow(kCaption), narrow(box.caption));
        EXPECT_EQ((UINT)MB_ICONWARNING, box.icon) << describe(log);
        EXPECT_EQ(log.progress, box.owner);
        EXPECT_TRUE(box.workerEnded) << "the notice came while the worker still ran";
        // The worker saw the stop (exit code 0) and had ended before the window returned.
        EXPECT_TRUE(log.workerEndedAtReturn) << describe(log);
        EXPECT_EQ(0u, log.workerExitCode);
        EXPECT_LT(task.carpetasRecorridas, before.folders) << "the sweep was not stopped early";
        Tally after = tally(root);
        EXPECT_EQ(task.carpetasBorradas, before.folders - after.folders);
        EXPECT_EQ(before.files, after.files);
        // Nothing goes on being removed once the window has returned.
        Sleep(200);
        EXPECT_EQ(after.folders, countFolders(root));
        EXPECT_TRUE(IsWindowEnabled(owner));
    }

    std::wstring root;
};

TEST_F(Cancel, MidRunStopsTheWorkerWhereItWas) {
    std::vector<double> latencies, handled, ended;
    for (int run = 0; run < 5; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        Tally before = tally(root);
        DatosTarea task = {};
        fill(&task, root);
        double pressedAt = -1, workerEndedAt = -1;
        int after = 60 + 40 * run;
        RunLog log = runWindow(&task, [&](Driver &d) {
            if (!d.waitProgress() ||
                !d.waitFor("visits", 20000, [&] { return visited(task) >= after; }))
                return;
            pressedAt = d.nowMs();
            d.press(IDC_CANCELAR);
            if (WaitForSingleObject(d.worker(), 10000) == WAIT_OBJECT_0)
                workerEndedAt = d.nowMs();
        });
        ASSERT_TRUE(log.failure.empty()) << describe(log);
        ASSERT_NO_FATAL_FAILURE(expectStopped(log, task, before));
        EXPECT_GE(task.carpetasRecorridas, after);
        EXPECT_EQ(0, log.eventHandlesLeft);
        EXPECT_EQ(0, log.workerHandlesLeft);
        latencies.push_back(log.boxes[0].atMs - pressedAt);
        int click = log.first(WM_COMMAND, IDC_CANCELAR);
        if (click >= 0)
            handled.push_back(log.messages[click].atMs - pressedAt);
        ended.push_back(workerEndedAt - pressedAt);
    }
    printf("Cancel, from the click to the notice: median %.1f ms (", median(latencies));
    for (double ms : latencies)
        printf(" %.1f", ms);
    printf(" )\n  medians: the window took the click after %.1f ms, the worker had ended after "
           "%.1f ms\n",
           median(handled), median(ended));
}

TEST_F(Cancel, NoticeWaitsUntilTheWorkerHasEnded) {
    Tally before = tally(root);
    DatosTarea task = {};
    fill(&task, root);
    size_t boxesWhileHeld = 0;
    double releasedAt = -1;
    RunLog log = runWindow(&task, [&](Driver &d) {
        if (!d.waitProgress() || !d.waitFor("visits", 20000, [&] { return visited(task) >= 30; }) ||
            !d.holdWorker())
            return;
        // The worker is stopped inside a visit when the click comes, and stays there a while.
        d.press(IDC_CANCELAR);
        d.watch(400);
        boxesWhileHeld = d.boxesSeen();
        releasedAt = d.nowMs();
        d.releaseWorker();
    });
    ASSERT_TRUE(log.failure.empty()) << describe(log);
    EXPECT_EQ(0u, boxesWhileHeld) << describe(log);
    ASSERT_NO_FATAL_FAILURE(expectStopped(log, task, before));
    EXPECT_GE(log.boxes[0].atMs, releasedAt);
}

TEST_F(Cancel, CloseRequestMidRunIsHandledAsCancel) {
    // A posted WM_CLOSE, then Alt+F4: the window has no close box, but the default handling of
    // Alt+F4 still asks it to close (its class has no CS_NOCLOSE).
    for (bool keyboard : {false, true}) {
        SCOPED_TRACE(keyboard ? "Alt+F4" : "WM_CLOSE");
        Tally before = tally(root);
        DatosTarea task = {};
        fill(&task, root);
        RunLog log = runWindow(&task, [&](Driver &d) {
            if (!d.waitProgress() ||
                !d.waitFor("visits", 20000, [&] { return visited(task) >= 60; }))
                return;
            if (keyboard)
                d.key(VK_F4, true);
            else
                d.post(WM_CLOSE);
        });
        ASSERT_TRUE(log.failure.empty()) << describe(log);
        EXPECT_GE(log.first(WM_CLOSE, 0), 0) << "no close request reached the window";
        ASSERT_NO_FATAL_FAILURE(expectStopped(log, task, before));
    }
}

} // namespace
