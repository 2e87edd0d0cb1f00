// Links to folders for tests. Windows makes a junction (no privilege needed). Wine 8.0 has neither
// (CreateSymbolicLinkW reports success and makes nothing, FSCTL_SET_REPARSE_POINT fails with
// ERROR_NOT_SUPPORTED), so there the link is a Linux symbolic link made by /bin/ln.
#pragma once

#include <string>

// Makes link, a new link to the folder target. The link's parent must exist. false if it could
// not be made; *why then says what failed.
bool makeFolderLink(const std::wstring &link, const std::wstring &target, std::string *why);

// Removes the link itself, never its target. false if it is still there.
bool removeFolderLink(const std::wstring &link);

// Removes root's tree, taking every link in it away as a link, so that no target is touched.
void removeTreeWithLinks(const std::wstring &root);
