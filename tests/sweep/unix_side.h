// Unix programs started from a test under Wine, for what Wine cannot do itself (folder links)
// or does too slowly (thousand-level nestings).
#pragma once

#include <string>

// Wine's Unix name of a Windows path; empty when it has none (or not on Wine).
std::string unixName(const std::wstring &path);

// Starts the Unix program at unixProgram ("/bin/ln") with the given arguments (each is quoted)
// in the folder dir. Wine returns no process handle to wait on, so callers watch for the
// program's effect. false if it could not be started.
bool startUnix(const char *unixProgram, const std::wstring &args, const std::wstring &dir);

// Waits (up to 10 s) until path exists or, with present false, until it does not.
bool waitUntil(const std::wstring &path, bool present);
