// What one sweep visits, removes and keeps on small trees, and the forms of root it accepts.
#include <gtest/gtest.h>

#include <algorithm>

#include <vector>

#include "held_sweep.h"
#include "support/fs.h"
#include "sweep_run.h"

namespace {

class Counts : public ::testing::Test {
  protected:
    void SetUp() override {
        root = makeTempRoot(L"counts");
        ASSERT_TRUE(isDir(root));
    }
    void TearDown() override {
        removeTree(root);
    }
    std::wstring root;
};

TEST_F(Counts, EmptyRootGoes) {
    EXPECT_EQ((Outcome{1, 1, 1}), sweep(root));
    EXPECT_FALSE(exists(root));
}

TEST_F(Counts, EmptyChildGoesThenRoot) {
    ASSERT_TRUE(makeDir(root + L"\\A"));
    EXPECT_EQ((Outcome{1, 2, 2}), sweep(root));
    EXPECT_FALSE(exists(root));
}

// A folder cannot go before its child, so three removals mean B, then A, then the root: the
// root and A were each removed by the attempt made after their listing.
TEST_F(Counts, ChainIsVisitedDownAndRemovedUp) {
    ASSERT_TRUE(makeDir(root + L"\\A\\B"));
    Task task(root);
    Outcome outcome;
    std::vector<std::wstring> shown = recordVisits(task, &outcome);
    EXPECT_EQ((Outcome{1, 3, 3}), outcome);
    EXPECT_EQ((std::vector<std::wstring>{root, root + L"\\A", root + L"\\A\\B"}), shown);
    EXPECT_FALSE(exists(root));
}

TEST_F(Counts, FolderWithFileStaysWithRoot) {
    ASSERT_TRUE(makeFile(root + L"\\A\\f.txt", "kept"));
    ASSERT_TRUE(makeDir(root + L"\\B"));
    EXPECT_EQ((Outcome{1, 3, 1}), sweep(root));
    EXPECT_EQ((Snapshot{{L"A", "<dir>"}, {L"A\\f.txt", "kept"}}), snapshot(root));
}

TEST_F(Counts, DeepFileKeepsEveryAncestor) {
    ASSERT_TRUE(makeFile(root + L"\\x\\y\\z\\f.bin", std::string("\0\1\2", 3)));
    ASSERT_TRUE(makeDir(root + L"\\x\\e1"));
    ASSERT_TRUE(makeDir(root + L"\\x\\y\\e2\\e3"));
    EXPECT_EQ((Outcome{1, 7, 3}), sweep(root));
    EXPECT_EQ((Snapshot{{L"x", "<dir>"},
                        {L"x\\y", "<dir>"},
                        {L"x\\y\\z", "<dir>"},
                        {L"x\\y\\z\\f.bin", std::string("\0\1\2", 3)}}),
              snapshot(root));
}

// Files are not visited, nor are "." and ".." (either would show in the count).
TEST_F(Counts, OnlySubfoldersAreVisited) {
    for (const wchar_t *f : {L"\\a.txt", L"\\b", L"\\.c"})
        ASSERT_TRUE(makeFile(root + f, "x"));
    ASSERT_TRUE(makeDir(root + L"\\d1"));
    ASSERT_TRUE(makeDir(root + L"\\d2"));
    EXPECT_EQ((Outcome{1, 3, 2}), sweep(root));
    EXPECT_EQ(3u, snapshot(root).size());
}

TEST_F(Counts, TrailingBackslashRootGetsNoSecondOne) {
    ASSERT_TRUE(makeDir(root + L"\\A"));
    ASSERT_TRUE(makeFile(root + L"\\B\\f", "f"));
    ASSERT_TRUE(makeDir(root + L"\\C\\D"));
    Task task(root + L"\\");
    Outcome outcome;
    std::vector<std::wstring> shown = recordVisits(task, &outcome);
    EXPECT_EQ((Outcome{1, 5, 3}), outcome);
    ASSERT_EQ(5u, shown.size());
    EXPECT_EQ(root + L"\\", shown[0]);
    std::sort(shown.begin() + 1, shown.end());
    EXPECT_EQ(
        (std::vector<std::wstring>{root + L"\\A", root + L"\\B", root + L"\\C", root + L"\\C\\D"}),
        std::vector<std::wstring>(shown.begin() + 1, shown.end()));
    EXPECT_EQ((Snapshot{{L"B", "<dir>"}, {L"B\\f", "f"}}), snapshot(root));
}

TEST_F(Counts, EmptyTrailingBackslashRootGoes) {
    EXPECT_EQ((Outcome{1, 1, 1}), sweep(root + L"\\"));
    EXPECT_FALSE(exists(root));
}

// Names are handed down unit for unit: pairs of surrogates and "&" included.
TEST_F(Counts, NamesOutsideTheBasicPlane) {
    const std::wstring smile = root + L"\\\U0001F600", clef = root + L"\\\U0001D11E&";
    ASSERT_TRUE(makeDir(smile + L"\\&\\a&b\U0001F600"));
    ASSERT_TRUE(makeFile(clef + L"\\\U0001F600.txt", "kept"));
    Task task(root);
    Outcome outcome;
    std::vector<std::wstring> shown = recordVisits(task, &outcome);
    EXPECT_EQ((Outcome{1, 5, 3}), outcome);
    std::vector<std::wstring> expected = {root, smile, smile + L"\\&",
                                          smile + L"\\&\\a&b\U0001F600", clef};
    std::sort(shown.begin(), shown.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, shown);
    EXPECT_EQ((Snapshot{{L"\U0001D11E&", "<dir>"}, {L"\U0001D11E&\\\U0001F600.txt", "kept"}}),
              snapshot(root));
}

// A root that is not a full path with backslashes has no prefixed form: it is shown and counted,
// and neither removed nor listed, though it names an existing empty folder with an empty child.
class UnreachableRoot : public Counts, public ::testing::WithParamInterface<int> {};

TEST_P(UnreachableRoot, IsCountedAndLeft) {
    ASSERT_TRUE(makeDir(root + L"\\A"));
    size_t cut = root.find_last_of(L'\\');
    std::wstring parent = root.substr(0, cut), name = root.substr(cut + 1), form;
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    switch (GetParam()) {
    case 0: // relative to the current folder
        ASSERT_TRUE(SetCurrentDirectoryW(parent.c_str()));
        form = name;
        break;
    case 1: // forward slashes
        form = root;
        std::replace(form.begin(), form.end(), L'\\', L'/');
        break;
    case 2: // a ".." part
        form = root + L"\\A\\..";
        break;
    }
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(form.c_str())) << form;
    Outcome outcome = sweep(form);
    SetCurrentDirectoryW(saved);
    EXPECT_EQ((Outcome{1, 1, 0}), outcome) << form;
    EXPECT_TRUE(isDir(root + L"\\A"));
}

INSTANTIATE_TEST_SUITE_P(Forms, UnreachableRoot, ::testing::Values(0, 1, 2));

} // namespace
