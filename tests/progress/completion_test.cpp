// Runs that end by themselves: the summary, the window's result, the owner, the handles, the
// folders shown, the poll tick, and runs one after another.
#include "folder_trees.h"
#include "progress_fixture.h"

namespace {

class Completion : public ProgressTest {};

TEST_F(Completion, ReportsCountersAndReleasesEverything) {
    std::wstring root = newRoot(L"done");
    // 40 leaves, every other one holding a file: 20 leaves go, the groups and the root stay.
    ASSERT_EQ(45, makeGrid(root, 4, 10, 2));
    std::set<std::wstring> tree = listFolders(root);
    DatosTarea task = {};
    fill(&task, root);
    RunLog log = runWindow(&task, [](Driver &d) { d.waitProgress(); });

    ASSERT_TRUE(log.failure.empty()) << describe(log);
    EXPECT_EQ(0, log.result) << describe(log);
    ASSERT_EQ(1u, log.boxes.size()) << describe(log);
    const SeenBox &box = log.boxes[0];
    EXPECT_EQ(narrow(summaryText(45, 20)), narrow(box.text));
    EXPECT_EQ(narrow(kCaption), narrow(box.caption));
    EXPECT_EQ((UINT)MB_ICONINFORMATION, box.icon) << describe(log);
    EXPECT_EQ(25, countFolders(root));
    EXPECT_EQ(20, countFiles(root));

    // Modal to the main window, which is usable again afterwards.
    EXPECT_EQ(owner, log.progressOwner);
    EXPECT_FALSE(log.ownerEnabledWhileOpen);
    EXPECT_TRUE(IsWindowEnabled(owner));
    // The summary belongs to the progress window.
    EXPECT_EQ(log.progress, box.owner);

    EXPECT_EQ(1, log.workerStarts);
    EXPECT_TRUE(log.workerEndedAtReturn);
    EXPECT_EQ(0, log.eventHandlesLeft);
    EXPECT_EQ(0, log.workerHandlesLeft);

    // Every text shown is a folder of the tree in its plain form; several went by.
    std::set<std::wstring> distinct(log.shown.begin(), log.shown.end());
    EXPECT_GE(distinct.size(), 2u);
    for (const std::wstring &path : distinct)
        EXPECT_TRUE(tree.count(path)) << "shown: " << narrow(path);
    ASSERT_FALSE(log.shown.empty());
    EXPECT_EQ(narrow(log.shown.back()), narrow(box.folderShown));
}

TEST_F(Completion, EndsOnTheFirstTickAfterTheWorkerAndStopsTheTimer) {
    std::wstring root = newRoot(L"tick");
    DatosTarea task = {};
    fill(&task, root);
    // The summary stays up long enough for two more ticks, had the timer been left running.
    RunOptions options;
    options.holdBoxMs = 1200;
    RunLog log = runWindow(
        &task, [](Driver &d) { d.waitProgress(); }, options);

    ASSERT_TRUE(log.failure.empty()) << describe(log);
    EXPECT_EQ(0, log.result) << describe(log);
    ASSERT_EQ(1u, log.boxes.size()) << describe(log);
    EXPECT_EQ(narrow(summaryText(1, 1)), narrow(log.boxes[0].text));
    EXPECT_FALSE(isDir(root));
    EXPECT_EQ(std::vector<UINT>{500}, log.timerPeriods);
    EXPECT_EQ(1, log.count(WM_TIMER, ID_TEMPORIZADOR)) << describe(log);
    EXPECT_EQ((int)log.messages.size(), log.count(WM_TIMER, ID_TEMPORIZADOR)) << "other ticks";
    double delay = log.boxes[0].atMs - log.openedMs;
    printf("summary of an empty root: %.0f ms after the window was on screen\n", delay);
    // The window polls every 500 ms, so the summary cannot come much sooner.
    EXPECT_GE(delay, 400.0);
}

TEST_F(Completion, SecondRunFromTheSameOwnerCountsOnlyItsOwnFolders) {
    std::wstring first = newRoot(L"first");
    ASSERT_TRUE(makeDir(first + L"\\a\\b"));
    std::wstring second = newRoot(L"second");
    ASSERT_TRUE(makeFile(second + L"\\c\\keep.txt", "x"));
    ASSERT_TRUE(makeDir(second + L"\\d"));

    // One record for both runs, its counters left over from nowhere: the window must set up a
    // fresh event and counters each time rather than trust what the record holds.
    DatosTarea task = {};
    task.carpetasRecorridas = 1000;
    task.carpetasBorradas = 1000;
    fill(&task, first);
    RunLog one = runWindow(&task, [](Driver &d) { d.waitProgress(); });
    ASSERT_TRUE(one.failure.empty()) << describe(one);
    ASSERT_EQ(1u, one.boxes.size()) << describe(one);
    EXPECT_EQ(narrow(summaryText(3, 3)), narrow(one.boxes[0].text));
    EXPECT_TRUE(IsWindowEnabled(owner));

    fill(&task, second);
    RunLog two = runWindow(&task, [](Driver &d) { d.waitProgress(); });
    ASSERT_TRUE(two.failure.empty()) << describe(two);
    EXPECT_EQ(0, two.result);
    ASSERT_EQ(1u, two.boxes.size()) << describe(two);
    EXPECT_EQ(narrow(summaryText(3, 1)), narrow(two.boxes[0].text));
    EXPECT_EQ(1, two.workerStarts);
    EXPECT_TRUE(two.workerEndedAtReturn);
    EXPECT_FALSE(isDir(second + L"\\d"));
    EXPECT_TRUE(exists(second + L"\\c\\keep.txt"));
    EXPECT_TRUE(IsWindowEnabled(owner));
}

TEST_F(Completion, ShowsAmpersandsInFolderNamesAsTyped) {
    std::wstring root = newRoot(L"amp");
    // The only child, and it stays (it holds a file): the last folder shown, still on screen
    // when the summary comes. Folders shown in between may be skipped for newer ones.
    std::wstring folder = root + L"\\R&D && co";
    ASSERT_TRUE(makeFile(folder + L"\\keep.txt", "x"));
    DatosTarea task = {};
    fill(&task, root);
    RunLog log = runWindow(&task, [](Driver &d) { d.waitProgress(); });

    ASSERT_TRUE(log.failure.empty()) << describe(log);
    ASSERT_EQ(1u, log.boxes.size()) << describe(log);
    EXPECT_EQ(narrow(summaryText(2, 0)), narrow(log.boxes[0].text));
    // The text keeps the ampersands; the static control (no SS_NOPREFIX) takes them as
    // mnemonic markers only when it draws, which its text does not tell.
    EXPECT_EQ(narrow(folder), narrow(log.boxes[0].folderShown));
    ASSERT_FALSE(log.shown.empty());
    EXPECT_EQ(narrow(folder), narrow(log.shown.back()));
}

} // namespace
