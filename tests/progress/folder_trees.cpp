#include "folder_trees.h"

#include <stdio.h>

#include "support/fs.h"

int makeGrid(const std::wstring &root, int groups, int perGroup, int fileEvery) {
    int made = 1;
    for (int g = 0; g < groups; ++g) {
        wchar_t group[16];
        swprintf(group, 16, L"\\g%02d", g);
        for (int f = 0; f < perGroup; ++f) {
            wchar_t leaf[16];
            swprintf(leaf, 16, L"\\f%03d", f);
            std::wstring path = root + group + leaf;
            bool ok = fileEvery > 0 && f % fileEvery == 0 ? makeFile(path + L"\\keep.txt", "x")
                                                          : makeDir(path);
            if (!ok)
                return -1;
            ++made;
        }
        ++made;
    }
    return made;
}

namespace {

template <typename Visit> void walk(const std::wstring &path, Visit visit) {
    for (const WIN32_FIND_DATAW &d : listEntries(path)) {
        bool folder = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        visit(path + L"\\" + d.cFileName, folder);
        if (folder)
            walk(path + L"\\" + d.cFileName, visit);
    }
}

} // namespace

Tally tally(const std::wstring &root) {
    Tally t;
    if (!isDir(root))
        return t;
    t.folders = 1;
    walk(root, [&](const std::wstring &, bool folder) { ++(folder ? t.folders : t.files); });
    return t;
}

int countFolders(const std::wstring &root) {
    return tally(root).folders;
}

int countFiles(const std::wstring &root) {
    return tally(root).files;
}

std::set<std::wstring> listFolders(const std::wstring &root) {
    std::set<std::wstring> all;
    if (isDir(root))
        all.insert(root);
    walk(root, [&](const std::wstring &path, bool folder) {
        if (folder)
            all.insert(path);
    });
    return all;
}
