#include <windows.h>
#include <objbase.h>

#include "front.h"
#include "../resources/ids.h"

int WINAPI WinMain(HINSTANCE instancia, HINSTANCE, LPSTR, int) {
    // The folder picker needs the component services on this thread.
    CoInitialize(NULL);
    DialogBoxParamW(instancia, MAKEINTRESOURCEW(IDD_PRINCIPAL), NULL, funcionDialogoPrincipal, 0);
    CoUninitialize();
    return 0;
}
