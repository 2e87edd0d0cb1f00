#include "progress_fixture.h"

#include <algorithm>

const wchar_t kCanceled[] = L"The task has been canceled by the user";
const wchar_t kNotStarted[] = L"The task could not be started.";
const wchar_t kCaption[] = L"Tovrith by Malvessin";

std::wstring summaryText(int traversed, int erased) {
    wchar_t text[128];
    swprintf(text, 128, L"I have traversed %d folders and I have erased %d", traversed, erased);
    return text;
}

void ProgressTest::SetUp() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.lpszClassName = L"TovrithTestOwner";
    RegisterClassW(&wc); // fails harmlessly when a previous test registered it
    owner = CreateWindowExW(0, wc.lpszClassName, L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                            300, 200, NULL, NULL, wc.hInstance, NULL);
    ASSERT_TRUE(owner != NULL) << "error " << GetLastError();
}

void ProgressTest::TearDown() {
    if (owner)
        DestroyWindow(owner);
    for (const std::wstring &root : roots)
        removeTree(root);
}

std::wstring ProgressTest::newRoot(const wchar_t *tag) {
    std::wstring root = makeTempRoot(tag);
    roots.push_back(root);
    return root;
}

void ProgressTest::fill(DatosTarea *task, const std::wstring &root) {
    wcscpy(task->carpetaRaiz, root.c_str());
    task->recorrerSistema = 1;
    task->recorrerOcultas = 1;
    task->ventanaPrincipal = owner;
}

double median(std::vector<double> figures) {
    std::sort(figures.begin(), figures.end());
    size_t n = figures.size();
    if (!n)
        return 0;
    return n % 2 ? figures[n / 2] : (figures[n / 2 - 1] + figures[n / 2]) / 2;
}
