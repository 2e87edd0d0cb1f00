// The main window as the user meets it: its first state, the keys it ignores, the folder picker
// and its end.
#include "session.h"

namespace {

using WindowTest = ProgramTest;

const wchar_t kPickerTitle[] = L"Please, especify the root folder:";

void expectInitialState(const Running &program) {
    EXPECT_EQ(narrow(controlText(program.main, kField)), "");
    EXPECT_TRUE(isChecked(program.main, kSkipSystem)) << "system box starts unchecked";
    EXPECT_TRUE(isChecked(program.main, kSkipHidden)) << "hidden box starts unchecked";
}

void expectNoMessageBox(const Running &program) {
    HWND box = waitMessageBox(program.pid, kQuietMs);
    EXPECT_EQ(box, (HWND)NULL) << "a message box came: " << narrow(messageBoxText(box));
}

TEST_F(WindowTest, StartsEmptyWithBothBoxesCheckedAndFocusInTheField) {
    expectInitialState(program);
    HWND field = GetDlgItem(program.main, kField);
    HWND focus = focusedControl(program.main);
    EXPECT_EQ(focus, field) << "focus is on control " << GetDlgCtrlID(focus);
}

TEST_F(WindowTest, IgnoresCommandLineArguments) {
    restart(L"C:\\ /proceed \"two words\" --hidden=0 -s");
    expectInitialState(program);
    expectNoMessageBox(program);
}

TEST_F(WindowTest, EscapeAndEnterInTheFieldDoNothing) {
    HWND field = GetDlgItem(program.main, kField);
    postKey(field, VK_ESCAPE);
    postKey(field, VK_RETURN);
    // A character posted after the keys shows when the loop has handled them.
    postChar(field, L'z');
    DWORD start = GetTickCount();
    while (IsWindow(program.main) && controlText(program.main, kField) != L"z" &&
           GetTickCount() - start < kAppearMs)
        Sleep(20);
    ASSERT_TRUE(IsWindow(program.main) && IsWindowVisible(program.main)) << "the window went";
    EXPECT_EQ(narrow(controlText(program.main, kField)), "z") << "the typed character is missing";
    expectNoMessageBox(program);
    DWORD code = 0;
    EXPECT_FALSE(waitExit(&program, 0, &code)) << "the program ended with " << code;
}

TEST_F(WindowTest, BrowseThenCancelLeavesTheFieldAsItWas) {
    const std::wstring typed = L"C:\\typed by hand";
    setControlText(program.main, kField, typed);
    press(program.main, kBrowse);
    HWND picker = waitDialogHolding(program.pid, kPickerTitle, kAppearMs);
    ASSERT_NE(picker, (HWND)NULL) << "no picker titled \"" << narrow(kPickerTitle) << "\"";
    EXPECT_EQ(GetWindow(picker, GW_OWNER), program.main) << "the picker has another owner";
    EXPECT_FALSE(IsWindowEnabled(program.main)) << "the picker is not modal";
    press(picker, IDCANCEL);
    ASSERT_TRUE(waitGone(picker, kAppearMs)) << "the picker stayed after Cancel";
    ASSERT_TRUE(waitMainReady(&program, kAppearMs)) << "the main window did not come back";
    EXPECT_EQ(narrow(controlText(program.main, kField)), narrow(typed));
}

TEST_F(WindowTest, ClosingTheWindowEndsTheProgramWithZero) {
    postClose(program.main);
    DWORD code = 12345;
    ASSERT_TRUE(waitExit(&program, kAppearMs, &code)) << "the program kept running";
    EXPECT_EQ(code, 0u);
}

} // namespace
