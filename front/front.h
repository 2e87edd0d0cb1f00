// Front end: the main window and its two commands.
#pragma once

#include <windows.h>

INT_PTR CALLBACK funcionDialogoPrincipal(HWND ventana, UINT mensaje, WPARAM wParam, LPARAM lParam);

void pulsadoBotonExaminar(HWND ventana);
void pulsadoBotonProceder(HWND ventana);
