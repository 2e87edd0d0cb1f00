// Links to folders are never listed or entered; the removal attempts on them stay.
//
// Platform difference: Windows removes a link itself, whatever its target holds. Wine 8.0 has
// no folder links of its own, so these tests use Linux symbolic links, which Wine reports as
// folders with the reparse-point bit and tag 0; RemoveDirectoryW on one fails while the target
// holds anything, and on an empty target removes the target and keeps the link.
#include <gtest/gtest.h>

#include "folder_links.h"
#include "support/fs.h"
#include "sweep_run.h"

namespace {

class Links : public ::testing::Test {
  protected:
    void SetUp() override {
        root = makeTempRoot(L"links");
        outside = makeTempRoot(L"linked");
        ASSERT_TRUE(makeFile(outside + L"\\keep.txt", "kept"));
        ASSERT_TRUE(makeDir(outside + L"\\inner"));
        ASSERT_TRUE(makeDir(outside + L"\\deeper\\x"));
        outsideBefore = snapshot(outside);
    }
    void TearDown() override {
        removeTreeWithLinks(root);
        removeTree(outside);
    }
    bool link(const std::wstring &at, const std::wstring &to) {
        std::string why;
        if (makeFolderLink(at, to, &why))
            return true;
        skipReason = "cannot make a folder link here: " + why;
        return false;
    }
    std::wstring root, outside;
    Snapshot outsideBefore;
    std::string skipReason;
};

TEST_F(Links, LinkToFullFolderIsNotEntered) {
    if (!link(root + L"\\L", outside))
        GTEST_SKIP() << skipReason;
    Outcome outcome = sweep(root);
    EXPECT_EQ(outsideBefore, snapshot(outside)) << "the target was changed";
    if (runningOnWine()) {
        EXPECT_EQ((Outcome{1, 2, 0}), outcome);
        EXPECT_TRUE(isDir(root + L"\\L"));
    } else {
        EXPECT_EQ((Outcome{1, 2, 2}), outcome);
        EXPECT_FALSE(exists(root));
    }
}

// root\A\up leads back to the root and root\A\B\up to A: entering either would loop.
TEST_F(Links, LinksBackToAncestorsDoNotLoop) {
    ASSERT_TRUE(makeDir(root + L"\\A\\B"));
    if (!link(root + L"\\A\\up", root) || !link(root + L"\\A\\B\\up", root + L"\\A"))
        GTEST_SKIP() << skipReason;
    Outcome outcome = sweep(root);
    if (runningOnWine()) {
        EXPECT_EQ((Outcome{1, 5, 0}), outcome);
        EXPECT_TRUE(isDir(root + L"\\A\\B\\up"));
    } else {
        EXPECT_EQ((Outcome{1, 5, 5}), outcome);
        EXPECT_FALSE(exists(root));
    }
}

// Wine removes the empty target instead of the link, and the link is left behind, dangling.
TEST_F(Links, LinkToEmptyFolder) {
    const std::wstring empty = outside + L"\\inner";
    if (!link(root + L"\\L", empty))
        GTEST_SKIP() << skipReason;
    Outcome outcome = sweep(root);
    EXPECT_EQ(1u, outcome.exitCode);
    EXPECT_EQ(2, outcome.visited);
    if (runningOnWine()) {
        EXPECT_EQ(1, outcome.removed);
        EXPECT_FALSE(exists(empty)) << "Wine kept the target: its link handling has changed";
        EXPECT_TRUE(isDir(root));
    } else {
        EXPECT_EQ(2, outcome.removed);
        EXPECT_TRUE(isDir(empty));
        EXPECT_FALSE(exists(root));
    }
}

} // namespace
