// The path limit: a folder is visited only when its prefixed path fits a path buffer with its
// NUL, that is a plain path of at most LONGEST units; a folder past it stays, and so does
// everything above it.
//
// Both filters are off unless a test says otherwise: Windows cannot read the attributes of a
// plain path of MAX_PATH units or more and would skip such folders; Wine reads them.
#include <gtest/gtest.h>

#include <vector>

#include "support/fs.h"
#include "sweep_run.h"

namespace {

const size_t LONGEST = LARGO_RUTA - 5; // 4 units of prefix and the NUL

// Makes folders of long names below base until the last one's path is exactly length units long;
// returns them from the top down.
std::vector<std::wstring> chainTo(const std::wstring &base, size_t length) {
    std::vector<std::wstring> chain;
    std::wstring path = base;
    while (path.size() < length) {
        size_t left = length - path.size(), name = left - 1;
        if (name > 255)
            name = left - 256 == 1 ? 254 : 255; // never leave one unit: a level takes two
        path += L"\\" + std::wstring(name, L'n');
        EXPECT_TRUE(makeDir(path)) << path.size();
        chain.push_back(path);
    }
    return chain;
}

class Limits : public ::testing::Test {
  protected:
    void SetUp() override {
        root = makeTempRoot(L"limits");
    }
    void TearDown() override {
        removeTree(root);
    }
    std::wstring root;
};

TEST_F(Limits, ChildPastTheLimitIsNotVisitedAndKeepsItsAncestors) {
    std::vector<std::wstring> chain = chainTo(root, LONGEST - 5);
    const std::wstring fits = chain.back() + L"\\ffff", past = chain.back() + L"\\ggggg";
    ASSERT_EQ(LONGEST, fits.size());
    ASSERT_TRUE(makeDir(fits));
    ASSERT_TRUE(makeDir(past));
    EXPECT_EQ((Outcome{1, int(chain.size()) + 2, 1}), sweep(root));
    EXPECT_FALSE(exists(fits));
    EXPECT_TRUE(isDir(past));
}

// The deepest folder's parent is listed with a pattern that just fits (prefix, path, "\*", NUL).
TEST_F(Limits, FolderAtTheLimitGoesWithItsAncestors) {
    std::vector<std::wstring> chain = chainTo(root, LONGEST - 2);
    ASSERT_TRUE(makeDir(chain.back() + L"\\x"));
    int all = int(chain.size()) + 2;
    EXPECT_EQ((Outcome{1, all, all}), sweep(root));
    EXPECT_FALSE(exists(root));
}

TEST_F(Limits, RootsAroundTheLimit) {
    const std::wstring parent = chainTo(root, LONGEST - 5).back();
    const std::wstring fits = parent + L"\\ffff", past = parent + L"\\ggggg",
                       full = parent + L"\\hhhh";
    ASSERT_TRUE(makeDir(fits) && makeDir(past) && makeFile(full + L"\\f", "kept"));
    EXPECT_EQ((Outcome{1, 1, 1}), sweep(fits));
    EXPECT_FALSE(exists(fits));
    EXPECT_EQ((Outcome{1, 1, 0}), sweep(past));
    EXPECT_TRUE(isDir(past));
    // Its listing pattern would not fit: the visit ends as if it could not be listed.
    EXPECT_EQ((Outcome{1, 1, 0}), sweep(full));
    EXPECT_TRUE(exists(full + L"\\f"));
}

// Platform difference: with either filter on, Windows reads a plain path of MAX_PATH units or
// more as unreadable attributes (all bits set), so the first such folder is counted and skipped
// with its subtree; Wine reads the attributes and sweeps the chain.
TEST_F(Limits, LongPlainPathWithAFilterOn) {
    std::vector<std::wstring> chain = chainTo(root, 300);
    int chainSize = int(chain.size());
    int readable = 0;
    while (readable < chainSize && chain[readable].size() < MAX_PATH)
        readable++;
    ASSERT_LT(readable, chainSize);
    Outcome outcome = sweep(root, true, false);
    if (runningOnWine()) {
        EXPECT_EQ((Outcome{1, chainSize + 1, chainSize + 1}), outcome);
        EXPECT_FALSE(exists(root));
    } else {
        EXPECT_EQ((Outcome{1, readable + 2, 0}), outcome);
        EXPECT_TRUE(isDir(chain.back()));
    }
}

} // namespace
