#include "sample_tree.h"

#include "support/fs.h"

static std::wstring below(const SampleTree &tree, const std::wstring &relative) {
    return relative.empty() ? tree.root : tree.root + L"\\" + relative;
}

bool makeSampleTree(int batch, SampleTree *tree, std::wstring *problem) {
    tree->root = makeTempRoot(L"demo");
    tree->keptFolders = {L"", L"kept"};
    tree->file = L"kept\\notes.txt";
    tree->fileContent = "Files are never touched.\r\n";
    // Parents come before their children, so each one is made by its own makeDir.
    tree->emptyFolders = {L"empty-one",
                          L"empty-two",
                          L"nested",
                          L"nested\\deeper",
                          L"nested\\deeper\\deepest",
                          L"kept\\empty-beside",
                          L"batch"};
    for (int i = 0; i < batch; i++) {
        wchar_t name[32];
        swprintf(name, 32, L"batch\\%04d", i);
        tree->emptyFolders.push_back(name);
    }
    if (!isDir(tree->root)) {
        *problem = L"could not make " + tree->root;
        return false;
    }
    for (const std::wstring &folder : tree->keptFolders)
        if (!makeDir(below(*tree, folder))) {
            *problem = L"could not make " + below(*tree, folder);
            return false;
        }
    for (const std::wstring &folder : tree->emptyFolders)
        if (!makeDir(below(*tree, folder))) {
            *problem = L"could not make " + below(*tree, folder);
            return false;
        }
    if (!makeFile(below(*tree, tree->file), tree->fileContent)) {
        *problem = L"could not write " + below(*tree, tree->file);
        return false;
    }
    return true;
}

int expectedVisits(const SampleTree &tree) {
    return (int)(tree.keptFolders.size() + tree.emptyFolders.size());
}

int expectedRemovals(const SampleTree &tree) {
    return (int)tree.emptyFolders.size();
}

std::wstring checkAfterRun(const SampleTree &tree) {
    std::string content;
    if (!readFile(below(tree, tree.file), &content))
        return below(tree, tree.file) + L" is gone";
    if (content != tree.fileContent)
        return below(tree, tree.file) + L" was changed";
    for (const std::wstring &folder : tree.keptFolders)
        if (!isDir(below(tree, folder)))
            return below(tree, folder) + L" is gone";
    for (const std::wstring &folder : tree.emptyFolders)
        if (exists(below(tree, folder)))
            return below(tree, folder) + L" is still there";
    return L"";
}
