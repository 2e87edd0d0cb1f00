// Folder fixtures for tests: every test makes its own tree under a fresh temporary folder and
// removes it afterwards, whatever the sweep left.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A new, empty folder under the temporary folder, named for the test and the process.
std::wstring makeTempRoot(const wchar_t *tag);

// Creates the folder (and its missing parents). false if it could not.
bool makeDir(const std::wstring &path);

// Creates a file holding the given bytes (parents created as needed).
bool makeFile(const std::wstring &path, const std::string &content);

// Reads a whole file; false if it cannot be opened.
bool readFile(const std::wstring &path, std::string *content);

// The entries of a folder, without "." and "..", in the order the platform lists them.
std::vector<WIN32_FIND_DATAW> listEntries(const std::wstring &dir);

bool exists(const std::wstring &path);
bool isDir(const std::wstring &path);

// Sets or clears FILE_ATTRIBUTE_HIDDEN / FILE_ATTRIBUTE_SYSTEM on the folder.
bool setAttributes(const std::wstring &path, DWORD attributes);

// Removes the tree below and including path: clears attributes, deletes files, removes folders.
// Links are removed as links, never entered. Works for paths of any length.
void removeTree(const std::wstring &path);

// True when running under Wine (ntdll exports wine_get_version).
bool runningOnWine();

// Path with the extended-length prefix, for paths longer than MAX_PATH.
std::wstring longForm(const std::wstring &path);
