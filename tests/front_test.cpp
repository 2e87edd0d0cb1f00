// The real program, driven from another process as a user would, and its resources.
#include <gtest/gtest.h>

#include <vector>

#include "support.h"

namespace {

const std::wstring SAID = L"" TEXTO_TITULO L": "; // the caption of every message

class Front : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(start(&program)) << "no main window came";
    }
    void TearDown() override {
        EXPECT_EQ(0u, stop(&program));
    }
    // Types the text, presses Proceed once the main window takes input, and answers the message
    // that comes with the button; returns the message.
    std::wstring proceed(const std::wstring &typed, int button) {
        poll([&] { return IsWindowEnabled(program.main); }, 15000);
        send(program.main, IDC_CARPETA, WM_SETTEXT, 0, (LPARAM)typed.c_str());
        press(program.main, IDC_PROCEDER);
        return answer(program, button);
    }
    Program program;
};

// Both boxes start checked. Enter and Escape do nothing. Browse, then Cancel in the picker,
// leaves the field as it was.
TEST_F(Front, FirstStateKeysAndBrowse) {
    EXPECT_EQ(BST_CHECKED, send(program.main, IDC_NO_SISTEMA, BM_GETCHECK));
    EXPECT_EQ(BST_CHECKED, send(program.main, IDC_NO_OCULTAS, BM_GETCHECK));
    HWND field = GetDlgItem(program.main, IDC_CARPETA);
    PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(field, WM_KEYDOWN, VK_ESCAPE, 0);
    // Typed after the keys, so it shows when they have been handled.
    PostMessageW(field, WM_CHAR, L'z', 0);
    ASSERT_TRUE(poll([&] { return text(program.main, IDC_CARPETA) == L"z"; }, 5000));
    HWND box = waitWindow(program, MESSAGE_TEXT, 700);
    EXPECT_FALSE(box) << text(box, MESSAGE_TEXT);
    press(program.main, IDC_EXAMINAR);
    const int title = 0x3742; // the classic folder picker's title line
    HWND picker = waitWindow(program, title);
    EXPECT_EQ(L"Please, especify the root folder:", text(picker, title));
    EXPECT_EQ(program.main, GetWindow(picker, GW_OWNER));
    press(picker, IDCANCEL);
    EXPECT_TRUE(poll([&] { return IsWindowEnabled(program.main); }, 5000));
    EXPECT_EQ(L"z", text(program.main, IDC_CARPETA));
}

// The folder test takes paths shorter than 260 units on Windows; Wine's takes longer ones, so the
// program sets the limit itself. The field gives at most 2,598 characters. No to the confirmation
// leaves the tree and the field as they were.
TEST_F(Front, RefusesWhatIsNotAFolderAndNoChangesNothing) {
    const std::wstring root = newRoot();
    const std::wstring a(259 - root.size(), L'a'), b(258 - root.size(), L'b'), c(2700, L'c');
    const std::wstring longest = root + L"\\" + b, tooLong = root + L"\\" + a;
    ASSERT_TRUE(makeTree(root, a + L"/ " + b + L"/ file"));
    for (const std::wstring &typed : {std::wstring(), root + L"\\file", root + L"\\no", tooLong, c})
        EXPECT_EQ(SAID + typed.substr(0, 2598) + L"\r\nIs not a folder.", proceed(typed, IDOK));
    EXPECT_EQ(SAID + L"I am going to erase the folders that do not contain any file within:\r\n" +
                  longest + L"\r\nAre you sure?",
              proceed(longest, IDNO));
    HWND box = waitWindow(program, MESSAGE_TEXT, 700);
    EXPECT_FALSE(box) << text(box, MESSAGE_TEXT);
    EXPECT_EQ(a + L"/ " + b + L"/ file", readTree(root));
    EXPECT_EQ(longest, text(program.main, IDC_CARPETA));
    removeTree(root);
}

// Each box sets its own option only, whichever of the two is unchecked. After the run the window
// keeps what the user set.
TEST_F(Front, EachBoxSetsItsOwnOption) {
    const std::wstring tree = L"keep plain/ hid/:h sys/:s";
    for (int box : {IDC_NO_OCULTAS, IDC_NO_SISTEMA}) {
        const std::wstring root = newRoot();
        ASSERT_TRUE(makeTree(root, tree));
        send(program.main, IDC_NO_SISTEMA, BM_SETCHECK, BST_CHECKED);
        send(program.main, IDC_NO_OCULTAS, BM_SETCHECK, BST_CHECKED);
        send(program.main, box, BM_SETCHECK, BST_UNCHECKED);
        proceed(root, IDYES);
        std::wstring said = answer(program, IDOK, 60000);
        int visited = -1, removed = -1;
        swscanf(said.c_str(), (SAID + L"I have traversed %d folders and I have erased %d").c_str(),
                &visited, &removed);
        EXPECT_EQ(model(tree, box == IDC_NO_SISTEMA, box == IDC_NO_OCULTAS),
                  outcome(visited, removed, root))
            << said;
        poll([&] { return IsWindowEnabled(program.main); }, 15000);
        EXPECT_EQ(root, text(program.main, IDC_CARPETA));
        EXPECT_EQ(BST_UNCHECKED, send(program.main, box, BM_GETCHECK));
        removeTree(root);
    }
}

TEST(Resources, VersionRecordAndManifest) {
    const wchar_t exe[] = L"tovrith.exe";
    std::vector<char> record(GetFileVersionInfoSizeW(exe, NULL));
    ASSERT_TRUE(GetFileVersionInfoW(exe, 0, (DWORD)record.size(), record.data()));
    VS_FIXEDFILEINFO *fixed = NULL;
    wchar_t *description = NULL, *version = NULL;
    UINT length = 0;
    VerQueryValueW(record.data(), L"\\", (void **)&fixed, &length);
    VerQueryValueW(record.data(), L"\\StringFileInfo\\040904E4\\FileDescription",
                   (void **)&description, &length);
    VerQueryValueW(record.data(), L"\\StringFileInfo\\040904E4\\FileVersion", (void **)&version,
                   &length);
    ASSERT_TRUE(fixed);
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionMS) << "0.1";
    EXPECT_EQ(0u, fixed->dwFileVersionLS) << ".0.0";
    EXPECT_STREQ(L"Removes folders that contain no files", description);
    EXPECT_STREQ(L"0.1a", version);

    HMODULE program = LoadLibraryExW(exe, NULL, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_TRUE(found) << "no manifest";
    std::string manifest((const char *)LockResource(LoadResource(program, found)),
                         SizeofResource(program, found));
    FreeLibrary(program);
    // With it, Windows' folder test would take long paths, and the program sets its own limit.
    EXPECT_EQ(std::string::npos, manifest.find("longPathAware")) << manifest;
    EXPECT_NE(std::string::npos, manifest.find("asInvoker")) << manifest;
}

} // namespace
