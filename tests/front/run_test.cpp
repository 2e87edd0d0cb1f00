// Whole runs from the main window: what is counted, what goes and what stays, how each box acts,
// and a second run from the same window.
#include "session.h"

#include "support/fs.h"

namespace {

using RunTest = TreeTest;

std::wstring report(int traversed, int erased) {
    return L"I have traversed " + std::to_wstring(traversed) + L" folders and I have erased " +
           std::to_wstring(erased);
}

TEST_F(RunTest, ErasesEveryFolderWithoutFilesAndKeepsTheFiles) {
    // root/a/b and root/d are empty; root/c holds a file and the empty root/c/e.
    ASSERT_TRUE(makeDir(at(L"a\\b")) && makeDir(at(L"d")) && makeDir(at(L"c\\e")));
    ASSERT_TRUE(makeFile(at(L"c\\file.txt"), "contents"));
    std::wstring summary;
    ASSERT_TRUE(runOnce(&program, root, true, true, &summary, 30000)) << narrow(summary);
    EXPECT_EQ(narrow(summary), narrow(report(6, 4)));
    EXPECT_FALSE(exists(at(L"a"))) << "a and b hold no file";
    EXPECT_FALSE(exists(at(L"d")));
    EXPECT_FALSE(exists(at(L"c\\e")));
    std::string content;
    EXPECT_TRUE(readFile(at(L"c\\file.txt"), &content) && content == "contents")
        << "the file is gone or changed";
    EXPECT_TRUE(isDir(root)) << "the root holds a file below it";
}

TEST_F(RunTest, ErasesTheRootWhenNothingBelowItHoldsAFile) {
    ASSERT_TRUE(makeDir(at(L"x\\y")) && makeDir(at(L"z")));
    std::wstring summary;
    ASSERT_TRUE(runOnce(&program, root, true, true, &summary, 30000)) << narrow(summary);
    EXPECT_EQ(narrow(summary), narrow(report(4, 4)));
    EXPECT_FALSE(exists(root));
}

// Which boxes are ticked, and which of the two marked folders the run may erase.
struct Boxes {
    bool skipSystem;
    bool skipHidden;
};

void PrintTo(const Boxes &b, std::ostream *out) {
    *out << (b.skipSystem ? "system box checked, " : "system box unchecked, ")
         << (b.skipHidden ? "hidden box checked" : "hidden box unchecked");
}

class BoxTest : public TreeTest, public ::testing::WithParamInterface<Boxes> {};

TEST_P(BoxTest, EachBoxKeepsOnlyItsOwnKindOfFolder) {
    const Boxes boxes = GetParam();
    // A file keeps the root, so that what stays below it can be seen.
    ASSERT_TRUE(makeFile(at(L"keep.txt"), "k"));
    ASSERT_TRUE(makeDir(at(L"plain")) && makeDir(at(L"hid")) && makeDir(at(L"sys")));
    ASSERT_TRUE(setAttributes(at(L"hid"), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(setAttributes(at(L"sys"), FILE_ATTRIBUTE_SYSTEM));
    const DWORD marks = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_EQ(GetFileAttributesW(at(L"hid").c_str()) & marks, (DWORD)FILE_ATTRIBUTE_HIDDEN)
        << "the file system keeps no hidden mark";
    ASSERT_EQ(GetFileAttributesW(at(L"sys").c_str()) & marks, (DWORD)FILE_ATTRIBUTE_SYSTEM)
        << "the file system keeps no system mark";

    std::wstring summary;
    ASSERT_TRUE(runOnce(&program, root, boxes.skipSystem, boxes.skipHidden, &summary, 30000))
        << narrow(summary);
    // Skipped folders are still counted as traversed.
    int erased = 1 + !boxes.skipSystem + !boxes.skipHidden;
    EXPECT_EQ(narrow(summary), narrow(report(4, erased)));
    EXPECT_FALSE(exists(at(L"plain")));
    EXPECT_EQ(isDir(at(L"sys")), boxes.skipSystem) << "system folder";
    EXPECT_EQ(isDir(at(L"hid")), boxes.skipHidden) << "hidden folder";
    EXPECT_TRUE(exists(at(L"keep.txt")));
}

INSTANTIATE_TEST_SUITE_P(AllFour, BoxTest,
                         ::testing::Values(Boxes{true, true}, Boxes{false, true},
                                           Boxes{true, false}, Boxes{false, false}),
                         [](const ::testing::TestParamInfo<Boxes> &info) {
                             return std::string(info.param.skipSystem ? "SkipSystem" : "System") +
                                    (info.param.skipHidden ? "SkipHidden" : "Hidden");
                         });

TEST_F(RunTest, ASecondRunKeepsTheFieldAndBoxesTheUserSet) {
    ASSERT_TRUE(makeFile(at(L"keep.txt"), "k"));
    ASSERT_TRUE(makeDir(at(L"first")));
    std::wstring summary;
    ASSERT_TRUE(runOnce(&program, root, false, false, &summary, 30000)) << narrow(summary);
    EXPECT_EQ(narrow(summary), narrow(report(2, 1)));
    EXPECT_EQ(narrow(controlText(program.main, kField)), narrow(root));
    EXPECT_FALSE(isChecked(program.main, kSkipSystem));
    EXPECT_FALSE(isChecked(program.main, kSkipHidden));

    // Only what the window kept tells the second run to enter the hidden folder; its counters
    // start again from zero.
    ASSERT_TRUE(makeDir(at(L"second\\deeper")) && makeDir(at(L"hid")));
    ASSERT_TRUE(setAttributes(at(L"hid"), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(narrow(proceedAndReport()), narrow(report(4, 3)));
    EXPECT_FALSE(exists(at(L"second")));
    EXPECT_FALSE(exists(at(L"hid")));
    EXPECT_TRUE(exists(at(L"keep.txt")));
}

} // namespace
