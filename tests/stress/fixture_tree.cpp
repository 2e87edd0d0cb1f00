#include "fixture_tree.h"

#include "support/fs.h"

namespace {

// Names never start with a dot: Wine 8.0 reads such names as hidden, Windows does not. Spaces,
// an ampersand and letters outside ASCII are in the mix.
std::wstring randomName(std::mt19937 &random) {
    static const wchar_t letters[] = L"abcdefghijklmnopqrstuvwxyz0123456789 &\u00e9\u03a9";
    const int count = (int)(sizeof letters / sizeof letters[0]) - 1;
    int length = std::uniform_int_distribution<int>(1, 8)(random);
    std::wstring name;
    for (int i = 0; i < length; i++)
        name += letters[std::uniform_int_distribution<int>(0, count - 1)(random)];
    // Trailing and leading spaces are trimmed by the platform's name rules; keep the ends solid.
    name.front() = L'a' + (wchar_t)(random() % 26);
    name.back() = L'0' + (wchar_t)(random() % 10);
    return name;
}

std::string randomContent(std::mt19937 &random) {
    int length = std::uniform_int_distribution<int>(0, 300)(random);
    std::string content;
    for (int i = 0; i < length; i++)
        content += (char)(random() & 0xFF);
    return content;
}

bool chance(std::mt19937 &random, double p) {
    return std::uniform_real_distribution<double>(0, 1)(random) < p;
}

DWORD randomAttributes(std::mt19937 &random, const TreeShape &shape) {
    DWORD attributes = 0;
    if (chance(random, shape.hiddenChance))
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    if (chance(random, shape.systemChance))
        attributes |= FILE_ATTRIBUTE_SYSTEM;
    return attributes;
}

void readInto(const std::wstring &root, const std::wstring &relative, Tree *tree) {
    for (const WIN32_FIND_DATAW &found : listEntries(pathOf(root, relative))) {
        std::wstring name = found.cFileName;
        std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        Entry &entry = (*tree)[child];
        entry.attributes = found.dwFileAttributes;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            entry.folder = true;
            readInto(root, child, tree);
        } else if (!readFile(pathOf(root, child), &entry.content)) {
            entry.content = "<unreadable>";
        }
    }
}

} // namespace

std::wstring pathOf(const std::wstring &root, const std::wstring &relative) {
    return relative.empty() ? root : root + L"\\" + relative;
}

int foldersGone(const std::wstring &root, const Tree &before) {
    int gone = 0;
    for (const auto &entry : before)
        if (entry.second.folder && !isDir(pathOf(root, entry.first)))
            gone++;
    return gone;
}

std::wstring parentOf(const std::wstring &relative) {
    size_t cut = relative.find_last_of(L'\\');
    return cut == std::wstring::npos ? L"" : relative.substr(0, cut);
}

bool makeRandomTree(const std::wstring &root, const TreeShape &shape, std::mt19937 &random) {
    std::vector<std::wstring> folders = {L""};
    std::vector<int> depths = {0};
    for (int i = 0; i < shape.folders; i++) {
        // Each folder goes under one picked at random among those already made and not at the
        // depth limit: a few wide folders, most narrow, depth up to the limit.
        int parent;
        do {
            parent = std::uniform_int_distribution<int>(0, (int)folders.size() - 1)(random);
        } while (depths[parent] >= shape.maxDepth);
        std::wstring relative = folders[parent].empty() ? L"" : folders[parent] + L"\\";
        relative += randomName(random);
        if (isDir(pathOf(root, relative)))
            continue; // the name came up twice
        if (!makeDir(pathOf(root, relative)))
            return false;
        folders.push_back(relative);
        depths.push_back(depths[parent] + 1);
    }
    for (size_t i = 0; i < folders.size(); i++) {
        if (!chance(random, shape.fileChance))
            continue;
        int files = std::uniform_int_distribution<int>(1, 3)(random);
        for (int f = 0; f < files; f++) {
            std::wstring name = pathOf(root, folders[i]) + L"\\" + randomName(random) + L".dat";
            if (!makeFile(name, randomContent(random)))
                return false;
            // Some files are hidden: a filter on folders must not make them invisible.
            if (chance(random, 0.2) && !setAttributes(name, FILE_ATTRIBUTE_HIDDEN))
                return false;
        }
    }
    // Attributes last, so that making the tree is not affected by them.
    for (size_t i = 0; i < folders.size(); i++) {
        DWORD attributes = randomAttributes(random, shape);
        if (i == 0 && !chance(random, 0.1))
            attributes = 0; // the root rarely: a hidden root makes the whole run a no-op
        if (attributes && !setAttributes(pathOf(root, folders[i]), attributes))
            return false;
    }
    return true;
}

Tree readTree(const std::wstring &root) {
    Tree tree;
    DWORD attributes = GetFileAttributesW(longForm(root).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return tree;
    Entry &self = tree[L""];
    self.folder = true;
    self.attributes = attributes;
    readInto(root, L"", &tree);
    return tree;
}
