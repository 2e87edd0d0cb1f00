// A fixture for runs of the progress window: a plain top-level window of the test's own as the
// main window, and folders of the test's own, all removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fs.h"
#include "window_run.h"

extern const wchar_t kCanceled[];
extern const wchar_t kNotStarted[];
extern const wchar_t kCaption[];

// The summary as the window words it.
std::wstring summaryText(int traversed, int erased);

class ProgressTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // A new empty folder, removed after the test.
    std::wstring newRoot(const wchar_t *tag);
    // A record as the Proceed command fills it: root, both kinds of folder entered, owner.
    void fill(DatosTarea *task, const std::wstring &root);

    HWND owner = NULL;
    std::vector<std::wstring> roots;
};

// Folders the worker has visited so far. The worker writes the counter; the driver only reads
// it to pick its moment.
inline int visited(const DatosTarea &task) {
    return *(volatile const int *)&task.carpetasRecorridas;
}

// The median of the figures.
double median(std::vector<double> figures);
