// Swaps one entry of this executable's import address table, so a test can stand between the
// program's code (linked into the test) and one platform function.
#pragma once

#include <windows.h>

// The slot through which this executable calls `function` of `dll`; NULL when it imports none.
void **importSlot(const char *dll, const char *function);

// Writes `replacement` into the slot and returns what it held (NULL when there is no slot).
void *swapImport(const char *dll, const char *function, void *replacement);
