// Proceed before any folder is touched: the folder test with its message, and the confirmation.
#include "session.h"

#include "support/fs.h"

namespace {

const wchar_t kNotAFolder[] = L"\r\nIs not a folder.";

class ProceedTest : public TreeTest {
  protected:
    // Types the text, presses Proceed and expects the refusal whose first line is firstLine.
    void expectRefused(const std::wstring &text, const std::wstring &firstLine) {
        setControlText(program.main, kField, text);
        HWND box = proceedAndWaitBox();
        ASSERT_NE(box, (HWND)NULL);
        EXPECT_EQ(narrow(messageBoxText(box)), narrow(firstLine + kNotAFolder));
        answer(box, IDOK);
        EXPECT_EQ(waitProgressWindow(program.pid, 0), (HWND)NULL) << "a run started anyway";
    }
};

// A plain path of exactly `length` units naming a folder made through the long form.
std::wstring folderOfLength(const std::wstring &root, size_t length, wchar_t fill) {
    std::wstring path = root + L"\\";
    path.append(length - path.size(), fill);
    return path;
}

TEST_F(ProceedTest, RefusesAnEmptyField) {
    expectRefused(L"", L"");
}

TEST_F(ProceedTest, RefusesAFileAndAMissingPath) {
    const std::wstring file = at(L"note.txt");
    ASSERT_TRUE(makeFile(file, "keep"));
    expectRefused(file, file);
    expectRefused(at(L"missing"), at(L"missing"));
    std::string content;
    EXPECT_TRUE(readFile(file, &content) && content == "keep") << "the file changed";
}

// Wine's folder test accepts plain paths of 260 units and more, Windows' does not; the program
// caps the length itself so that both refuse them. 259 is the longest plain path accepted.
TEST_F(ProceedTest, RefusesAFolderOf260UnitsAndAsksForOneOf259) {
    const std::wstring longest = folderOfLength(root, 259, L'b');
    const std::wstring tooLong = folderOfLength(root, 260, L'a');
    ASSERT_TRUE(makeDir(longest) && isDir(longest));
    ASSERT_TRUE(makeDir(tooLong) && isDir(tooLong)) << "could not make the 260-unit folder";
    expectRefused(tooLong, tooLong);
    EXPECT_TRUE(isDir(tooLong));

    setControlText(program.main, kField, longest);
    HWND box = proceedAndWaitBox();
    ASSERT_NE(box, (HWND)NULL);
    EXPECT_NE(messageBoxText(box).find(L"Are you sure?"), std::wstring::npos)
        << "a 259-unit folder got: " << narrow(messageBoxText(box));
    answer(box, IDNO);
    EXPECT_TRUE(isDir(longest));
}

TEST_F(ProceedTest, ReadsOnlyTheFirst2598CharactersOfTheField) {
    std::wstring text = root + L"\\";
    for (int i = 0; text.size() < 2700; i++)
        text += (wchar_t)(L'a' + i % 26);
    expectRefused(text, text.substr(0, 2598));
}

TEST_F(ProceedTest, AsksBeforeErasingAndNoLeavesTheTreeAsItWas) {
    ASSERT_TRUE(makeDir(at(L"a\\b")) && makeDir(at(L"c")));
    setControlText(program.main, kField, root);
    HWND box = proceedAndWaitBox();
    ASSERT_NE(box, (HWND)NULL);
    EXPECT_EQ(narrow(messageBoxText(box)),
              narrow(L"I am going to erase the folders that do not contain any file within:\r\n" +
                     root + L"\r\nAre you sure?"));
    EXPECT_EQ(narrow(windowText(box)), "Tovrith by Malvessin");
    answer(box, IDNO);
    HWND more = waitMessageBox(program.pid, kQuietMs);
    EXPECT_EQ(more, (HWND)NULL) << "after No came: " << narrow(messageBoxText(more));
    EXPECT_TRUE(isDir(at(L"a\\b")) && isDir(at(L"c"))) << "No removed folders";
}

TEST_F(ProceedTest, EnterInTheConfirmationMeansYes) {
    ASSERT_TRUE(makeDir(at(L"a")));
    setControlText(program.main, kField, root);
    HWND box = proceedAndWaitBox();
    ASSERT_NE(box, (HWND)NULL);
    // Wine's message box answers DM_GETDEFID with IDOK whatever its buttons; the style of the
    // Yes button says which one is the default on both platforms.
    LONG yesStyle = GetWindowLongW(GetDlgItem(box, IDYES), GWL_STYLE);
    EXPECT_EQ(yesStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON) << "Yes has style " << yesStyle;
    // The key goes where a user's would: to the control that has the focus.
    HWND focus = focusedControl(box);
    postKey(IsChild(box, focus) ? focus : box, VK_RETURN);
    HWND report = waitMessageBox(program.pid, 15000, box);
    ASSERT_NE(report, (HWND)NULL) << "Enter started no run";
    EXPECT_EQ(narrow(messageBoxText(report)), "I have traversed 2 folders and I have erased 2");
    answer(report, IDOK);
    EXPECT_FALSE(exists(root)) << "the tree is still there";
}

} // namespace
