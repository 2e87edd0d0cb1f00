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
    // Held by the worker while it takes a read-only mark off and puts it back: Cancel's cut of a
    // stalled call waits until it is let go, so that no mark is left off a folder that stays.
    SRWLOCK cerrojoCorte;
};

extern DatosTarea *tareaDelHilo;

DWORD WINAPI ThreadProc(LPVOID parametro);

// The IDs of the folders the walk holds above a visit, the root and the folders above it
// included, each with the next one up. A listed folder with one of these IDs is one of them seen
// through a link its server follows: entering it would leave the root.
struct Linaje {
    LONGLONG id;
    const Linaje *arriba;
};

// What a folder's parent listing said of it: its attributes (all set for a root that has no entry)
// and, where the file system lists file IDs, its ID (conId), so that the folder opened by that name
// can be told to be the one listed; the size of its extended attributes, data no listing shows
// (for a reparse point the listing gives its tag there instead: 0). raiz: the root, which is swept,
// never removed as a link. arriba: the folders held above it.
struct Entrada {
    DWORD atributos;
    LONGLONG id;
    int conId;
    int raiz;
    ULONG extendidos;
    const Linaje *arriba;
};

// Visits the folder whose plain path fills ruta[0..largo): the entry named by the path's last part
// in the folder padre holds open (for the root, padre is the folder that holds it, or NULL: by its
// path). ruta is a LARGO_RUTA buffer that the visit extends in place for each child and restores
// before it returns. entrada: what its parent's listing gave.
// 1: go on, 0: stop.
int borrarDirectorio(wchar_t *ruta, size_t largo, HANDLE padre, const Entrada *entrada);

// --- What is done to one folder through its handles (carpeta.cpp) ---

// A folder with no parent to be opened from is opened by its NT name, behind a prefix this long.
enum { LARGO_PREFIJO = 4 };

int terminaEnSeparador(const wchar_t *ruta, size_t largo);

// The last part of the path ruta[0..largo), a separator typed after it aside: its length, and
// where it starts, *inicio.
size_t ultimaParte(const wchar_t *ruta, size_t largo, size_t *inicio);

// Errors of a file system, or a Windows, that does not take the call asked for at all.
int noLoAdmite(DWORD error);

// The folder at ruta opened to be visited, by its own name in the folder padre holds (without
// padre, by its NT name), as itself, never as a link's target; INVALID_HANDLE_VALUE if it cannot.
HANDLE abrirParaVisitar(const wchar_t *ruta, size_t largo, HANDLE padre);

// The folder that holds the folder at ruta, opened by its path as given; NULL where there is none.
HANDLE abrirPadreDeLaRaiz(const wchar_t *ruta, size_t largo);

// The length of the path of the folder that holds the folder at ruta: 0 where there is none. A
// drive's root keeps its separator.
size_t largoDelPadre(const wchar_t *ruta, size_t largo);

// The 64-bit ID a listing gives the held folder's entry; 0 where it cannot be read.
int idListadoDe(HANDLE carpeta, LONGLONG *id);

// What the walk does with a held folder: enters it; enters it as its file-system filter shows it
// (a cloud folder); removes it as a link, never entering it; or leaves it alone. *guardar: it
// carries extended attributes, so it stays whatever it holds.
enum { ENTRAR, FILTRADA, ENLACE, DEJAR };
int clasificar(HANDLE carpeta, const DatosTarea *tarea, const Entrada *entrada, int *guardar);

// For a folder a filter owns, held as itself: that handle closed, the same folder opened again as
// every program opens it, to be listed and removed through; INVALID_HANDLE_VALUE unless it holds
// the very folder the first one held.
HANDLE abrirParaSuFiltro(HANDLE carpeta, const wchar_t *ruta, size_t largo, HANDLE padre);

// Which folder a handle holds, told apart across volumes: FILE_ID_INFO's volume serial number and
// 128-bit ID where the system gives them, else the serial number and 64-bit index. 1 when it is
// known: an ID of 0 or all ones is not.
struct Identidad {
    ULONGLONG volumen;
    ULONGLONG id[2];
};
int identidadDe(HANDLE carpeta, Identidad *identidad);

// How a removal mark ended, by what a second attempt may still do: nothing, it is set; try again
// once the folder is emptied (refused for anything but access: not empty, say); only take a
// read-only mark off (refused for access by the plain removal); nothing, the folder stays (it
// carries a named stream, or the removal that ignores read-only marks was refused for access).
// A link is never removed through a read-only mark: someone marked it to keep it.
enum { MARCADA, OTRA_VEZ, SIN_MARCA, NUNCA };
int marcarParaBorrar(HANDLE carpeta, int enlace);

// One attempt to remove that folder (ruta and padre as for borrarDirectorio) once nothing in it
// stays: through carpeta, the handle its visit listed it through, which it closes; id, its 64-bit
// ID where its entry gave one, else 0; como, how it was opened (as itself, or for a folder a
// file-system filter owns as every program opens it); primera, how its first mark ended.
// 1: removed.
int cepillarseDirectorio(HANDLE carpeta, const wchar_t *ruta, size_t largo, HANDLE padre,
                         LONGLONG id, ULONG como, int primera);

// One entry of a folder's listing with its file ID (FileIdFullDirectoryInformation): where the
// next entry starts (0: none), times and sizes, attributes, the name's size in bytes, the size of
// its extended attributes, its ID and the name, not NUL-terminated. The form without IDs every
// file system gives (FileFullDirectoryInformation) is the same up to the size of its extended
// attributes, the name following.
struct EntradaDeListado {
    ULONG siguiente;
    ULONG indice;
    LARGE_INTEGER tiempos[4];
    LARGE_INTEGER tamanos[2];
    ULONG atributos;
    ULONG largoNombre;
    ULONG largoAtributosExtendidos;
    LARGE_INTEGER id;
    WCHAR nombre[1];
};
enum {
    CON_ID = 38 /* FileIdFullDirectoryInformation */,
    SIN_ID = 2 /* FileFullDirectoryInformation */
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
