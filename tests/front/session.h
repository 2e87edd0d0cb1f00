// A fixture that starts the built program for each test and ends it afterwards, whatever the
// test left open, so that a failing test never leaves a window behind.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "driver/driver.h"

// Ids of the main window's controls and its standard commands.
enum {
    kField = 5002,
    kBrowse = 5003,
    kSkipSystem = 5004,
    kSkipHidden = 5005,
    kProceed = 5006,
};

// Bounds: a window of the program normally comes within a second under Wine.
const DWORD kAppearMs = 10000;
// How long to watch for something that must not happen.
const DWORD kQuietMs = 700;

// Narrow copy for assertion messages (paths and texts here are ASCII).
std::string narrow(const std::wstring &text);

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the program again with these arguments; fails the test if it does not come up.
    void restart(const std::wstring &args);

    // Presses Proceed and returns the message box that answers it (fails the test if none).
    HWND proceedAndWaitBox();
    // Answers the box with the given button and waits for it to go.
    void answer(HWND box, int id);
    // Proceed with whatever the window holds, Yes, and the final report's text ("" and a
    // failure when a step does not come); the report is answered and the window ready again.
    std::wstring proceedAndReport();

    Running program;
};

// A fresh folder of its own for the test, removed afterwards.
class TreeTest : public ProgramTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::wstring at(const std::wstring &relative) const {
        return root + L"\\" + relative;
    }
    std::wstring root;
};
