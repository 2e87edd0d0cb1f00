// tovrith_demo SHOTS: one run of the real program on a sample tree, driven as a user would, with
// a screenshot of each step saved by ImageMagick's import into the folder SHOTS. Prints each
// step; exit code 0 when every step went as it should.
#include <stdio.h>

#include "support.h"

namespace {

// Enough empty folders to keep the progress window up for a few seconds, and one file.
const int kEmpty = 900;

std::wstring shots;
Program program;

// One line for the step, a message box's line breaks shown as " / ".
bool say(bool ok, const char *step, std::wstring detail) {
    for (size_t at; (at = detail.find(L"\r\n")) != std::wstring::npos;)
        detail.replace(at, 2, L" / ");
    printf("%s %s: %ls\n", ok ? "   " : "NOT", step, detail.c_str());
    fflush(stdout);
    return ok;
}

// What the screen shows around the windows, saved as NAME.png once import has written it. The
// shell starts import by its own name: Wine hands a Linux program the Windows name it was started
// by (Z:\usr\bin\import), and ImageMagick 7 (Debian 13) picks its tool by that name. The rename
// makes the picture appear whole.
bool shoot(const wchar_t *name, HWND a, HWND b) {
    RECT area, other;
    GetWindowRect(a, &area);
    GetWindowRect(b, &other);
    UnionRect(&area, &area, &other);
    wchar_t command[200];
    swprintf(command, 200,
             L"Z:\\bin\\sh -c \"import -window root -crop %ldx%ld+%ld+%ld png:%ls.part && "
             L"mv %ls.part %ls.png\"",
             area.right - area.left, area.bottom - area.top, area.left, area.top, name, name, name);
    return runUntil(command, shots, shots + L"\\" + name + L".png", true);
}

bool run(const std::wstring &root) {
    SetDlgItemTextW(program.main, IDC_CARPETA, root.c_str());
    // The caret where typing would leave it, after the path, not over its first letter.
    SendDlgItemMessageW(program.main, IDC_CARPETA, EM_SETSEL, root.size(), root.size());
    bool typed = text(program.main, IDC_CARPETA) == root;
    if (!say(typed && shoot(L"1-main", program.main, program.main), "1 main window", root))
        return false;
    press(program.main, IDC_PROCEDER);
    HWND confirm = waitWindow(program, MESSAGE_TEXT);
    std::wstring asked = text(confirm, MESSAGE_TEXT);
    bool sure = asked.find(root + L"\r\nAre you sure?") != std::wstring::npos;
    if (!say(sure && shoot(L"2-confirm", program.main, confirm), "2 confirmation", asked))
        return false;
    press(confirm, IDYES);
    HWND progress = waitWindow(program, IDC_CARPETA_ACTUAL);
    std::wstring shown;
    poll(
        [&] { return (shown = text(progress, IDC_CARPETA_ACTUAL)).find(root + L"\\empty\\") == 0; },
        15000);
    // No summary yet: the picture is of a run under way.
    bool midRun = shoot(L"3-progress", progress, progress) && !waitWindow(program, MESSAGE_TEXT, 0);
    if (!say(midRun, "3 progress window mid-run", shown))
        return false;
    HWND summary = waitWindow(program, MESSAGE_TEXT, 60000);
    std::wstring said = text(summary, MESSAGE_TEXT);
    std::wstring expected = L"I have traversed " + std::to_wstring(kEmpty + 3) +
                            L" folders and I have erased " + std::to_wstring(kEmpty + 1);
    if (!say(said == expected && shoot(L"4-summary", progress, summary), "4 summary", said))
        return false;
    answer(program, IDOK);
    return true;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    shots = argc > 1 ? argv[1] : L".";
    std::wstring root = newRoot();
    std::wstring tree = L"kept/notes.txt empty/";
    for (int i = 1; i <= kEmpty; i++)
        tree += L" empty/" + std::to_wstring(i) + L"/";
    bool ok =
        say(makeTree(root, tree) && start(&program), "0 sample tree, program started", root) &&
        run(root);
    DWORD code = stop(&program);
    ok = say(code == 0, "5 closed, exit code", std::to_wstring(code)) && ok;
    std::wstring left = readTree(root);
    ok = say(left == L"kept/ kept/notes.txt", "6 left on disk", left) && ok;
    removeTree(root);
    return say(readTree(root) == L"-", "7 tree removed", root) && ok ? 0 : 1;
}
