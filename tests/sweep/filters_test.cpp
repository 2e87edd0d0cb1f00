// The system and hidden filters: a skipped folder is counted, neither removed nor listed, and so
// keeps its ancestors; a folder let through is handled like any other.
#include <gtest/gtest.h>

#include "support/fs.h"
#include "sweep_run.h"

namespace {

struct FilterCase {
    const char *what;
    DWORD attributes;
    bool visitSystem, visitHidden;
    bool skipped;
};

void PrintTo(const FilterCase &c, std::ostream *os) {
    *os << c.what;
}

class Filters : public ::testing::TestWithParam<FilterCase> {
  protected:
    void SetUp() override {
        root = makeTempRoot(L"filters");
    }
    void TearDown() override {
        removeTree(root);
    }
    std::wstring root;
};

// root\F (the attributes) holds the empty root\F\inner, which only a listing of F would reach.
TEST_P(Filters, SkippedFolderIsCountedAndKept) {
    const FilterCase &c = GetParam();
    ASSERT_TRUE(makeDir(root + L"\\F\\inner"));
    ASSERT_TRUE(setAttributes(root + L"\\F", c.attributes));
    ASSERT_EQ(c.attributes, GetFileAttributesW((root + L"\\F").c_str()) & c.attributes);
    Outcome outcome = sweep(root, c.visitSystem, c.visitHidden);
    if (c.skipped) {
        EXPECT_EQ((Outcome{1, 2, 0}), outcome);
        EXPECT_TRUE(isDir(root + L"\\F\\inner"));
    } else {
        EXPECT_EQ((Outcome{1, 3, 3}), outcome);
        EXPECT_FALSE(exists(root));
    }
}

const DWORD H = FILE_ATTRIBUTE_HIDDEN, S = FILE_ATTRIBUTE_SYSTEM;

INSTANTIATE_TEST_SUITE_P(
    Attributes, Filters,
    ::testing::Values(FilterCase{"hidden, hidden filter on", H, true, false, true},
                      FilterCase{"hidden, hidden filter off", H, true, true, false},
                      FilterCase{"hidden, only the system filter on", H, false, true, false},
                      FilterCase{"system, system filter on", S, false, true, true},
                      FilterCase{"system, system filter off", S, true, true, false},
                      FilterCase{"system, only the hidden filter on", S, true, false, false},
                      FilterCase{"both, only the hidden filter on", H | S, true, false, true},
                      FilterCase{"both, only the system filter on", H | S, false, true, true},
                      FilterCase{"both, both filters off", H | S, true, true, false}));

class FilteredRoot : public Filters {};

TEST_F(FilteredRoot, SkippedRootReportsOneVisitedNoneRemoved) {
    for (DWORD a : {H, S}) {
        ASSERT_TRUE(setAttributes(root, a));
        EXPECT_EQ((Outcome{1, 1, 0}), sweep(root, a != S, a != H)) << "attributes " << a;
        EXPECT_TRUE(isDir(root));
    }
    ASSERT_TRUE(setAttributes(root, 0));
    EXPECT_EQ((Outcome{1, 1, 1}), sweep(root, false, false));
}

// Wine reads every name that starts with "." as hidden; Windows goes by the attribute alone.
TEST_F(FilteredRoot, DotNameUnderTheHiddenFilter) {
    ASSERT_TRUE(makeDir(root + L"\\.config"));
    if (runningOnWine()) {
        EXPECT_EQ((Outcome{1, 2, 0}), sweep(root, true, false));
        EXPECT_TRUE(isDir(root + L"\\.config"));
    } else {
        EXPECT_EQ((Outcome{1, 2, 2}), sweep(root, true, false));
        EXPECT_FALSE(exists(root));
    }
}

} // namespace
