#include "front.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <wchar.h>

#include "../progress/progress.h"

enum { LARGO_MENSAJE = 2 * LARGO_RUTA };

void pulsadoBotonExaminar(HWND ventana) {
    wchar_t nombre[LARGO_RUTA];
    wchar_t ruta[LARGO_RUTA];
    BROWSEINFOW info = {};
    info.hwndOwner = ventana;
    info.pszDisplayName = nombre;
    info.lpszTitle = L"Please, especify the root folder:";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON;
    PIDLIST_ABSOLUTE elegida = SHBrowseForFolderW(&info);
    if (!elegida)
        return;
    // The picker admits only file-system folders; should the conversion fail anyway, the field
    // keeps what it had.
    if (SHGetPathFromIDListW(elegida, ruta))
        SendDlgItemMessageW(ventana, IDC_CARPETA, WM_SETTEXT, 0, (LPARAM)ruta);
    CoTaskMemFree(elegida);
}

// Without a long-path declaration Windows accepts no folder path of MAX_PATH units or more here;
// Wine would, so the limit is applied by hand to behave the same on both.
static int nombraCarpeta(const wchar_t *texto) {
    return wcslen(texto) < MAX_PATH && PathIsDirectoryW(texto);
}

// A link given as the root would be removed as a link, not swept: the user means the folders
// inside it. Judged by its own entry, which is read without following it; a drive's root has none.
static int esEnlaceDado(const wchar_t *texto) {
    wchar_t nombre[LARGO_RUTA];
    size_t largo = wcslen(texto);
    while (largo > 0 && texto[largo - 1] == L'\\')
        largo--;
    if (largo == 0 || texto[largo - 1] == L':')
        return 0;
    wmemcpy(nombre, texto, largo);
    nombre[largo] = L'\0';
    WIN32_FIND_DATAW entrada;
    HANDLE busqueda = FindFirstFileW(nombre, &entrada);
    if (busqueda == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(busqueda);
    return esEnlace(entrada.dwFileAttributes, entrada.dwReserved0);
}

static int confirmar(HWND ventana, const wchar_t *texto) {
    wchar_t mensaje[LARGO_MENSAJE];
    const wchar_t *rechazo = !nombraCarpeta(texto) ? L"Is not a folder."
                             : esEnlaceDado(texto) ? L"Is a link to another folder."
                                                   : NULL;
    if (rechazo) {
        swprintf(mensaje, LARGO_MENSAJE, L"%ls\r\n%ls", texto, rechazo);
        MessageBoxW(ventana, mensaje, TITULO_APLICACION, MB_ICONINFORMATION | MB_OK);
        return 0;
    }
    swprintf(mensaje, LARGO_MENSAJE, L"%ls\r\n%ls\r\n%ls",
             L"I am going to erase the folders that do not contain any file within:", texto,
             L"Are you sure?");
    return MessageBoxW(ventana, mensaje, TITULO_APLICACION, MB_ICONQUESTION | MB_YESNO) == IDYES;
}

void pulsadoBotonProceder(HWND ventana) {
    wchar_t texto[LARGO_RUTA];
    texto[0] = L'\0';
    SendDlgItemMessageW(ventana, IDC_CARPETA, WM_GETTEXT, LARGO_RUTA - 1, (LPARAM)texto);
    if (!confirmar(ventana, texto))
        return;

    DatosTarea tarea;
    tarea.recorrerSistema = 0;
    tarea.recorrerOcultas = 0;
    if (SendDlgItemMessageW(ventana, IDC_NO_SISTEMA, BM_GETCHECK, 0, 0) != BST_CHECKED)
        tarea.recorrerSistema = 1;
    if (SendDlgItemMessageW(ventana, IDC_NO_OCULTAS, BM_GETCHECK, 0, 0) != BST_CHECKED)
        tarea.recorrerOcultas = 1;
    wcscpy(tarea.carpetaRaiz, texto);
    tarea.ventanaPrincipal = ventana;
    abrirDialogoDeProgreso(&tarea);
}
