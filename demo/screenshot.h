// Screenshots taken through GDI: what the screen shows inside a rectangle, saved as .bmp.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>

// The smallest rectangle holding every given window.
RECT areaOf(std::initializer_list<HWND> windows);

// Saves the screen inside area as a 24-bit bottom-up .bmp. false when it cannot be read or
// written, or when it is all one colour (nothing was drawn there).
bool saveScreenArea(const RECT &area, const std::wstring &file);
