#include "sweep_model.h"

#include <map>
#include <vector>

namespace {

using Children = std::map<std::wstring, std::vector<std::wstring>>;

struct Model {
    const Tree &tree;
    Children children; // every entry under its parent folder
    bool skipSystem;
    bool skipHidden;
    Outcome *out;

    bool filtered(const Entry &folder) const {
        return (skipSystem && (folder.attributes & FILE_ATTRIBUTE_SYSTEM)) ||
               (skipHidden && (folder.attributes & FILE_ATTRIBUTE_HIDDEN));
    }

    // Returns whether the folder goes.
    bool visit(const std::wstring &folder) {
        out->visited++;
        if (filtered(tree.at(folder)))
            return false;
        bool goes = true;
        for (const std::wstring &child : children[folder]) {
            if (!tree.at(child).folder)
                goes = false;
            else if (!visit(child))
                goes = false;
        }
        if (goes)
            out->removable.insert(folder);
        return goes;
    }
};

} // namespace

std::string narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 128 ? (char)c : '?';
    return out;
}

Outcome expectedOutcome(const Tree &before, bool skipSystem, bool skipHidden) {
    Outcome out;
    Model model = {before, {}, skipSystem, skipHidden, &out};
    for (const auto &entry : before)
        if (!entry.first.empty())
            model.children[parentOf(entry.first)].push_back(entry.first);
    if (before.count(L""))
        model.visit(L"");
    return out;
}

void compareAfterRun(const Tree &before, const Tree &after, const Outcome &expected, bool complete,
                     std::string *problems) {
    auto report = [&](const char *what, const std::wstring &path) {
        *problems += std::string(what) + ": \"" + narrow(path) + "\"\n";
    };
    for (const auto &entry : before) {
        const std::wstring &path = entry.first;
        auto now = after.find(path);
        if (!entry.second.folder) {
            if (now == after.end())
                report("file lost", path);
            else if (now->second.content != entry.second.content)
                report("file changed", path);
            continue;
        }
        bool removable = expected.removable.count(path) != 0;
        if (now == after.end() && !removable)
            report("folder removed that held something or was filtered", path);
        if (now != after.end() && removable && complete)
            report("removable folder left after a complete run", path);
    }
    for (const auto &entry : after)
        if (!before.count(entry.first))
            report("entry appeared", entry.first);
}
