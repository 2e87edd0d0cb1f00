#include "folder_links.h"

#include <windows.h>
#include <winioctl.h>

#include <vector>

#include "support/fs.h"
#include "unix_side.h"

static bool isLink(const std::wstring &path) {
    DWORD a = GetFileAttributesW(longForm(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

static bool splitParent(const std::wstring &path, std::wstring *parent, std::wstring *name) {
    size_t cut = path.find_last_of(L'\\');
    if (cut == std::wstring::npos)
        return false;
    *parent = path.substr(0, cut);
    *name = path.substr(cut + 1);
    return true;
}

static bool makeJunction(const std::wstring &link, const std::wstring &target) {
    if (!CreateDirectoryW(longForm(link).c_str(), NULL))
        return false;
    HANDLE h = CreateFileW(longForm(link).c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        RemoveDirectoryW(longForm(link).c_str());
        return false;
    }
    // REPARSE_DATA_BUFFER for a mount point: substitute name, NUL, empty print name, NUL.
    std::wstring nt = L"\\??\\" + target;
    WORD bytes = (WORD)(nt.size() * sizeof(wchar_t));
    std::vector<BYTE> buf(8 + 8 + bytes + 4, 0);
    WORD *f = (WORD *)(buf.data() + 8);
    *(DWORD *)buf.data() = IO_REPARSE_TAG_MOUNT_POINT;
    *(WORD *)(buf.data() + 4) = (WORD)(buf.size() - 8);
    f[0] = 0, f[1] = bytes, f[2] = bytes + 2, f[3] = 0;
    memcpy(buf.data() + 16, nt.c_str(), bytes);
    DWORD got = 0;
    BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), (DWORD)buf.size(), NULL, 0,
                              &got, NULL);
    CloseHandle(h);
    if (!ok)
        RemoveDirectoryW(longForm(link).c_str());
    return ok && isLink(link);
}

bool makeFolderLink(const std::wstring &link, const std::wstring &target, std::string *why) {
    if (!runningOnWine()) {
        if (makeJunction(link, target))
            return true;
        *why = "FSCTL_SET_REPARSE_POINT failed, error " + std::to_string(GetLastError());
        return false;
    }
    std::wstring parent, name;
    std::string unixTarget = unixName(target);
    if (!splitParent(link, &parent, &name) || unixTarget.empty()) {
        *why = "no Unix name for the target";
        return false;
    }
    // Started in the link's parent, so that only the target's (plain) Unix path is on the line.
    std::wstring args =
        L"-s \"" + std::wstring(unixTarget.begin(), unixTarget.end()) + L"\" \"" + name + L"\"";
    if (!startUnix("/bin/ln", args, parent)) {
        *why = "/bin/ln could not be started, error " + std::to_string(GetLastError());
        return false;
    }
    if (!waitUntil(link, true) || !isLink(link)) {
        *why = "/bin/ln made no link";
        return false;
    }
    return true;
}

bool removeFolderLink(const std::wstring &link) {
    if (!runningOnWine())
        return RemoveDirectoryW(longForm(link).c_str()) != 0;
    // On Wine, RemoveDirectoryW on such a link would remove an empty target and keep the link.
    std::wstring parent, name;
    if (!splitParent(link, &parent, &name) ||
        !startUnix("/bin/rm", L"-f \"" + name + L"\"", parent))
        return false;
    return waitUntil(link, false);
}

static void removeLinksBelow(const std::wstring &dir) {
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW(longForm(dir + L"\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = d.cFileName, path = dir + L"\\" + name;
        if (name == L"." || name == L"..")
            continue;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            removeFolderLink(path);
        else if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            removeLinksBelow(path);
    } while (FindNextFileW(h, &d));
    FindClose(h);
}

void removeTreeWithLinks(const std::wstring &root) {
    std::wstring parent, name;
    // Wine does not list a link whose target is gone, so there the tree goes by Unix means; rm
    // takes links away without following them.
    if (runningOnWine() && splitParent(root, &parent, &name) &&
        startUnix("/bin/rm", L"-rf \"" + name + L"\"", parent))
        waitUntil(root, false);
    removeLinksBelow(root);
    removeTree(root);
}
