// The sweep engine: the record of one run and the depth-first removal of empty folders.
#pragma once

#include <windows.h>

#include "../resources/ids.h"

#define TITULO_APLICACION L"" TEXTO_TITULO

// Every path the program holds fits in this many UTF-16 units, the terminating NUL included.
enum { LARGO_RUTA = 2600 };

// Sent (posted) by the worker to the progress window when a newer folder waits to be shown.
#define WM_CARPETA_NUEVA (WM_APP + 1)

struct DatosTarea {
    wchar_t carpetaRaiz[LARGO_RUTA];
    int recorrerSistema;
    int recorrerOcultas;
    HWND ventanaPrincipal;
    HWND ventanaProgreso;
    HANDLE eventoCancelar;
    int carpetasBorradas;
    int carpetasRecorridas;
    // The worker leaves the newest folder here and posts WM_CARPETA_NUEVA, so it never waits
    // for the window; the window shows whatever is newest when it gets round to it.
    SRWLOCK cerrojoCarpeta;
    LONG avisoPendiente;
    ULONGLONG ultimoAviso; // tick of the worker's last post; zeroed with the counters
    wchar_t carpetaMostrada[LARGO_RUTA];
};

extern DatosTarea *tareaDelHilo;

DWORD WINAPI ThreadProc(LPVOID parametro);

// Visits the folder whose plain path fills ruta[0..largo): the root when padre is NULL, else the
// entry named by the path's last part in the folder padre holds open. ruta is a LARGO_RUTA buffer
// that the visit extends in place for each child and restores before it returns. 1: go on, 0: stop.
int borrarDirectorio(wchar_t *ruta, size_t largo, HANDLE padre);

// One attempt to remove that folder (ruta and padre as above) through a handle of its own.
// vacia: nothing in it stays, so a read-only mark may be taken off for the attempt. 1: removed.
int cepillarseDirectorio(const wchar_t *ruta, size_t largo, HANDLE padre, int vacia);

// A link to a folder by its attributes and reparse tag: junctions and symbolic links are name
// surrogates; under Wine a Linux link reads tag 0.
int esEnlace(DWORD atributos, DWORD etiqueta);
