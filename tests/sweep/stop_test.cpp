// The stop event: the visit whose check sees it is shown and counted, and nothing is read or
// removed after that; the sweep ends with exit code 0.
#include <gtest/gtest.h>

#include "held_sweep.h"
#include "support/fs.h"
#include "sweep_run.h"

namespace {

class Stop : public ::testing::Test {
  protected:
    void SetUp() override {
        root = makeTempRoot(L"stop");
    }
    void TearDown() override {
        removeTree(root);
    }
    std::wstring root;
};

TEST_F(Stop, RaisedBeforeTheStartLeavesAnEmptyRoot) {
    Task task(root);
    task->ventanaProgreso = GetDesktopWindow();
    task->avisoPendiente = 1; // taken as already posted: nothing is sent to that window
    SetEvent(task->eventoCancelar);
    EXPECT_EQ((Outcome{0, 1, 0}), task.outcome(ThreadProc(task.record.get())));
    EXPECT_EQ(root, std::wstring(task->carpetaMostrada));
    EXPECT_TRUE(isDir(root));
}

// Seven folders, three of them empty leaves, so removals happen between visits in any order of
// listing: root\a, root\b\c, root\b\d\f.txt, root\e\g, root\h.txt.
void makeTree(const std::wstring &root) {
    ASSERT_TRUE(makeDir(root + L"\\a"));
    ASSERT_TRUE(makeDir(root + L"\\b\\c"));
    ASSERT_TRUE(makeFile(root + L"\\b\\d\\f.txt", "in d"));
    ASSERT_TRUE(makeDir(root + L"\\e\\g"));
    ASSERT_TRUE(makeFile(root + L"\\h.txt", "in root"));
}

const int VISITS = 7;

TEST_F(Stop, WholeRunOfTheTree) {
    ASSERT_NO_FATAL_FAILURE(makeTree(root));
    EXPECT_EQ((Outcome{1, VISITS, 4}), sweep(root));
    EXPECT_EQ(
        (Snapshot{
            {L"b", "<dir>"}, {L"b\\d", "<dir>"}, {L"b\\d\\f.txt", "in d"}, {L"h.txt", "in root"}}),
        snapshot(root));
}

// For every k the stop is raised while the worker is held at its k-th check: the tree must stay
// exactly as it was at that moment.
TEST_F(Stop, RaisedBeforeEachVisit) {
    for (int k = 1; k <= VISITS; k++) {
        SCOPED_TRACE("stop before visit " + std::to_string(k));
        removeTree(root);
        ASSERT_TRUE(makeDir(root));
        ASSERT_NO_FATAL_FAILURE(makeTree(root));
        Task task(root);
        HeldSweep held(task);
        for (int n = 1; n < k; n++) {
            ASSERT_EQ(HeldSweep::Parked, held.waitParked()) << "visit " << n;
            held.letGo();
        }
        ASSERT_EQ(HeldSweep::Parked, held.waitParked());
        Snapshot before = snapshot(root);
        int removedBefore = task->carpetasBorradas;
        Outcome outcome;
        ASSERT_TRUE(held.stopHere(&outcome));
        EXPECT_EQ((Outcome{0, k, removedBefore}), outcome);
        EXPECT_EQ(before, snapshot(root));
        EXPECT_TRUE(isDir(task->carpetaMostrada)) << "shown at the stop: " << task->carpetaMostrada;
        EXPECT_EQ("in d", before[L"b\\d\\f.txt"]);
        EXPECT_EQ("in root", before[L"h.txt"]);
        if (k == 1)
            EXPECT_EQ(0, removedBefore);
        if (k == VISITS)
            EXPECT_GT(removedBefore, 0) << "two empty leaves come before the last visit";
    }
}

} // namespace
