#include "front.h"

#include "../resources/ids.h"

static INT_PTR alIniciarPrincipal(HWND ventana) {
    // System and hidden folders are skipped unless the user asks otherwise.
    SendDlgItemMessageW(ventana, IDC_NO_SISTEMA, BM_SETCHECK, BST_CHECKED, 0);
    SendDlgItemMessageW(ventana, IDC_NO_OCULTAS, BM_SETCHECK, BST_CHECKED, 0);
    return TRUE;
}

static INT_PTR alOrdenarPrincipal(HWND ventana, WORD control) {
    switch (control) {
    case IDC_EXAMINAR:
        pulsadoBotonExaminar(ventana);
        return TRUE;
    case IDC_PROCEDER:
        pulsadoBotonProceder(ventana);
        return TRUE;
    }
    // The standard OK and Cancel (Enter, Escape) do nothing here.
    return 0;
}

INT_PTR CALLBACK funcionDialogoPrincipal(HWND ventana, UINT mensaje, WPARAM wParam, LPARAM) {
    switch (mensaje) {
    case WM_INITDIALOG:
        return alIniciarPrincipal(ventana);
    case WM_COMMAND:
        return alOrdenarPrincipal(ventana, LOWORD(wParam));
    case WM_CLOSE:
        EndDialog(ventana, 0);
        return TRUE;
    }
    return 0;
}
