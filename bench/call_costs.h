// Where a sweep's time goes: an instrumented walk that makes the engine's platform calls in the
// engine's order on a prepared tree (removing what the engine would) and prints the mean cost
// of each kind of call per visited folder.
#pragma once

#include <windows.h>

#include <string>

int measureCallCosts(const std::wstring &root);
