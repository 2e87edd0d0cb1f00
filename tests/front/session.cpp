#include "session.h"

#include "program_path.h"
#include "support/fs.h"

std::string narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 128 ? (char)c : '?';
    return out;
}

void ProgramTest::SetUp() {
    restart(L"");
}

void ProgramTest::TearDown() {
    killProgram(&program);
}

void ProgramTest::restart(const std::wstring &args) {
    killProgram(&program);
    ASSERT_TRUE(startProgram(TOVRITH_EXE, args, &program, 20000))
        << "the main window of " << narrow(TOVRITH_EXE) << " did not come up";
}

HWND ProgramTest::proceedAndWaitBox() {
    press(program.main, kProceed);
    HWND box = waitMessageBox(program.pid, kAppearMs);
    EXPECT_NE(box, (HWND)NULL) << "Proceed showed no message box";
    return box;
}

void ProgramTest::answer(HWND box, int id) {
    press(box, id);
    EXPECT_TRUE(waitGone(box, kAppearMs)) << "the message box stayed after button " << id;
}

std::wstring ProgramTest::proceedAndReport() {
    HWND confirm = proceedAndWaitBox();
    if (!confirm)
        return L"";
    std::wstring asked = messageBoxText(confirm);
    EXPECT_NE(asked.find(L"Are you sure?"), std::wstring::npos) << "asked: " << narrow(asked);
    press(confirm, IDYES);
    HWND report = waitMessageBox(program.pid, 30000, confirm);
    EXPECT_NE(report, (HWND)NULL) << "no report came after Yes";
    if (!report)
        return L"";
    std::wstring text = messageBoxText(report);
    press(report, IDOK);
    EXPECT_TRUE(waitMainReady(&program, kAppearMs)) << "the main window did not come back";
    return text;
}

void TreeTest::SetUp() {
    root = makeTempRoot(L"front");
    ASSERT_TRUE(isDir(root)) << "could not make " << narrow(root);
    ProgramTest::SetUp();
}

void TreeTest::TearDown() {
    ProgramTest::TearDown();
    removeTree(root);
}
