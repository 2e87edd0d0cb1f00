// Keys in the progress window: Enter presses the default button, Cancel; Escape sends the
// standard IDCANCEL command, which is not Cancel's id, so the run goes on to its summary.
#include "folder_trees.h"
#include "progress_fixture.h"

namespace {

class Keys : public ProgressTest {
  protected:
    void SetUp() override {
        ProgressTest::SetUp();
        root = newRoot(L"keys");
        // 300 empty leaves: about a second of work.
        ASSERT_EQ(311, makeGrid(root, 10, 30, 0));
    }
    std::wstring root;
};

TEST_F(Keys, EnterCancels) {
    DatosTarea task = {};
    fill(&task, root);
    RunLog log = runWindow(&task, [&](Driver &d) {
        if (d.waitProgress() && d.waitFor("visits", 20000, [&] { return visited(task) >= 20; }))
            d.key(VK_RETURN);
    });
    ASSERT_TRUE(log.failure.empty()) << describe(log);
    EXPECT_EQ(1, log.result) << describe(log);
    ASSERT_EQ(1u, log.boxes.size()) << describe(log);
    EXPECT_EQ(narrow(kCanceled), narrow(log.boxes[0].text));
    EXPECT_LT(task.carpetasRecorridas, 311);
    EXPECT_TRUE(log.workerEndedAtReturn);
}

TEST_F(Keys, EscapeDoesNothing) {
    DatosTarea task = {};
    fill(&task, root);
    RunLog log = runWindow(&task, [&](Driver &d) {
        if (!d.waitProgress() || !d.waitFor("visits", 20000, [&] { return visited(task) >= 20; }))
            return;
        d.key(VK_ESCAPE);
        // The dialog manager turned the key into IDCANCEL: the key did arrive.
        d.waitFor("IDCANCEL", 5000, [&] {
            for (const SeenMessage &m : d.messages())
                if (m.message == WM_COMMAND && LOWORD(m.wParam) == IDCANCEL)
                    return true;
            return false;
        });
    });
    ASSERT_TRUE(log.failure.empty()) << describe(log);
    EXPECT_EQ(0, log.result) << describe(log);
    ASSERT_EQ(1u, log.boxes.size()) << describe(log);
    EXPECT_EQ(narrow(summaryText(311, 311)), narrow(log.boxes[0].text));
}

} // namespace
