// The sweep engine: the record of one run and the depth-first removal of empty folders.
#pragma once

#include <windows.h>
#include <winternl.h>

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

// Visits the folder whose plain path fills ruta[0..largo): the entry named by the path's last part
// in the folder padre holds open (for the root, padre is the folder that holds it, or NULL: by its
// path). ruta is a LARGO_RUTA buffer that the visit extends in place for each child and restores
// before it returns. atributosEntrada: what its parent's listing gave, all set for the root.
// 1: go on, 0: stop.
int borrarDirectorio(wchar_t *ruta, size_t largo, HANDLE padre, DWORD atributosEntrada);

// One attempt to remove that folder (ruta and padre as above), once nothing in it stays, through a
// handle of its own; idDeFiltro: which folder it is, for one a file-system filter owns, else 0.
// 1: removed.
int cepillarseDirectorio(const wchar_t *ruta, size_t largo, HANDLE padre, ULONGLONG idDeFiltro);

// One entry of a folder's listing in its most basic form, the one every file system gives
// (FileDirectoryInformation): where the next entry starts (0: none), times and sizes, attributes,
// the name's size in bytes and the name, not NUL-terminated.
struct EntradaDeListado {
    ULONG siguiente;
    ULONG indice;
    LARGE_INTEGER tiempos[4];
    LARGE_INTEGER tamanos[2];
    ULONG atributos;
    ULONG largoNombre;
    WCHAR nombre[1];
};

// Lists a folder through its handle; ntdll has it, no header of the toolchains declares it.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE carpeta, HANDLE evento,
                                               PIO_APC_ROUTINE rutina, PVOID contexto,
                                               PIO_STATUS_BLOCK estado, PVOID datos, ULONG largo,
                                               FILE_INFORMATION_CLASS clase, BOOLEAN una,
                                               PUNICODE_STRING patron, BOOLEAN desdeElPrincipio);

// A link to a folder by its attributes and reparse tag: junctions and symbolic links are name
// surrogates; under Wine a Linux link reads tag 0.
int esEnlace(DWORD atributos, DWORD etiqueta);
