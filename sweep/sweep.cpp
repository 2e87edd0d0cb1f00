#include "sweep.h"

#include <string.h>

#if defined(_MSC_VER)
#define NO_EN_LINEA __declspec(noinline)
#else
#define NO_EN_LINEA __attribute__((noinline))
#endif

DatosTarea *tareaDelHilo;

static const wchar_t PREFIJO[] = L"\\\\?\\";
enum { LARGO_PREFIJO = 4 };

// Writes the extended-length prefix, ruta and sufijo into destino (LARGO_RUTA units).
// 0 when the result would not fit: no longer path is ever formed.
static int conPrefijo(wchar_t *destino, const wchar_t *ruta, size_t largo, const wchar_t *sufijo) {
    size_t largoSufijo = wcslen(sufijo);
    if (LARGO_PREFIJO + largo + largoSufijo >= LARGO_RUTA)
        return 0;
    memcpy(destino, PREFIJO, LARGO_PREFIJO * sizeof(wchar_t));
    memcpy(destino + LARGO_PREFIJO, ruta, largo * sizeof(wchar_t));
    memcpy(destino + LARGO_PREFIJO + largo, sufijo, (largoSufijo + 1) * sizeof(wchar_t));
    return 1;
}

static int terminaEnSeparador(const wchar_t *ruta, size_t largo) {
    return largo > 0 && ruta[largo - 1] == L'\\';
}

// Opens the folder at the prefixed path itself, not a link's target, sharing read and write but
// not delete: while the handle is open nobody can rename or remove it, nor put a link in its place.
static HANDLE abrirCarpeta(const wchar_t *conRaiz, DWORD acceso) {
    return CreateFileW(conRaiz, acceso, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

// Windows refuses to remove a folder marked read-only, which Explorer removes without a word (it
// marks the folders it has customised). The mark is taken off the very folder that was opened, and
// put back when that folder cannot go: one that stays keeps it, and only an empty folder or a
// link goes. Held without sharing delete, the name stays that folder's while it is read.
static int borrarSoloLectura(const wchar_t *conRaiz) {
    HANDLE carpeta = abrirCarpeta(conRaiz, DELETE | FILE_WRITE_ATTRIBUTES);
    if (carpeta == INVALID_HANDLE_VALUE)
        return 0;
    const DWORD atributos = GetFileAttributesW(conRaiz);
    const DWORD marcada = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
    FILE_BASIC_INFO cambio = {}; // times left at 0 stay as they are
    FILE_DISPOSITION_INFO borrar = {TRUE};
    int borrada = 0;
    cambio.FileAttributes = atributos & ~FILE_ATTRIBUTE_READONLY;
    if (atributos != INVALID_FILE_ATTRIBUTES && (atributos & marcada) == marcada &&
        SetFileInformationByHandle(carpeta, FileBasicInfo, &cambio, sizeof cambio)) {
        borrada = SetFileInformationByHandle(carpeta, FileDispositionInfo, &borrar, sizeof borrar);
        cambio.FileAttributes = atributos;
        if (!borrada)
            SetFileInformationByHandle(carpeta, FileBasicInfo, &cambio, sizeof cambio);
    }
    CloseHandle(carpeta); // a folder marked for removal goes here
    return borrada;
}

int cepillarseDirectorio(const wchar_t *ruta) {
    wchar_t conRaiz[LARGO_RUTA];
    if (!conPrefijo(conRaiz, ruta, wcslen(ruta), L""))
        return 0;
    if (RemoveDirectoryW(conRaiz))
        return 1;
    return GetLastError() == ERROR_ACCESS_DENIED && borrarSoloLectura(conRaiz);
}

// Kept out of line so that the pattern's buffer is not part of every recursion level.
NO_EN_LINEA static HANDLE abrirListado(const wchar_t *ruta, size_t largo,
                                       WIN32_FIND_DATAW *entrada) {
    wchar_t patron[LARGO_RUTA];
    if (!conPrefijo(patron, ruta, largo, terminaEnSeparador(ruta, largo) ? L"*" : L"\\*"))
        return INVALID_HANDLE_VALUE;
    return FindFirstFileExW(patron, FindExInfoStandard, entrada, FindExSearchNameMatch, NULL, 0);
}

// Junctions and symbolic links are name surrogates; Wine reports tag 0 for every link.
static int esEtiquetaDeEnlace(DWORD etiqueta) {
    return etiqueta == 0 || IsReparseTagNameSurrogate(etiqueta);
}

// Whether the folder at the prefixed path conRaiz (largo units) is a link: its attributes, read
// through the \\?\ form, and for a reparse point its own directory entry. When they cannot be read,
// or do not agree, the answer is yes: a folder we cannot classify is not entered.
static int esEnlace(wchar_t *conRaiz, size_t largo) {
    DWORD atributos = GetFileAttributesW(conRaiz);
    if (atributos == INVALID_FILE_ATTRIBUTES)
        return 1;
    if (!(atributos & FILE_ATTRIBUTE_REPARSE_POINT))
        return 0;
    if (terminaEnSeparador(conRaiz, largo))
        conRaiz[largo - 1] = L'\0';
    WIN32_FIND_DATAW propia;
    HANDLE h =
        FindFirstFileExW(conRaiz, FindExInfoStandard, &propia, FindExSearchNameMatch, NULL, 0);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    FindClose(h);
    return !(propia.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
           esEtiquetaDeEnlace(propia.dwReserved0);
}

// Holds the folder at ruta open (abrirCarpeta) until its listing ends; Windows also keeps the
// folders above it where they are meanwhile. Only once it is held is it judged, so a link put in
// its place a moment before is seen. Under Wine the handle of a Linux link is its target's, so the
// judgement reads the name, not the handle. INVALID_HANDLE_VALUE: not to be entered.
NO_EN_LINEA static HANDLE retenerCarpeta(const wchar_t *ruta, size_t largo) {
    wchar_t conRaiz[LARGO_RUTA];
    if (!conPrefijo(conRaiz, ruta, largo, L""))
        return INVALID_HANDLE_VALUE;
    HANDLE retenida = abrirCarpeta(conRaiz, FILE_LIST_DIRECTORY);
    if (retenida != INVALID_HANDLE_VALUE && esEnlace(conRaiz, LARGO_PREFIJO + largo)) {
        CloseHandle(retenida);
        return INVALID_HANDLE_VALUE;
    }
    return retenida;
}

// A person cannot read more than a few paths a second, and redrawing the line for every folder
// costs the window (and, under Wine, the worker's own calls) more than the walk itself.
enum { INTERVALO_AVISO_MS = 40 };

static void avisarVentana(DatosTarea *tarea) {
    tarea->ultimoAviso = GetTickCount64();
    if (InterlockedExchange(&tarea->avisoPendiente, 1) == 0 &&
        !PostMessageW(tarea->ventanaProgreso, WM_CARPETA_NUEVA, 0, 0))
        InterlockedExchange(&tarea->avisoPendiente, 0);
}

// Hands the path to the progress window without waiting for it.
static void mostrarCarpeta(DatosTarea *tarea, const wchar_t *ruta, size_t largo) {
    if (!tarea->ventanaProgreso)
        return;
    AcquireSRWLockExclusive(&tarea->cerrojoCarpeta);
    memcpy(tarea->carpetaMostrada, ruta, (largo + 1) * sizeof(wchar_t));
    ReleaseSRWLockExclusive(&tarea->cerrojoCarpeta);
    if (GetTickCount64() - tarea->ultimoAviso >= INTERVALO_AVISO_MS)
        avisarVentana(tarea);
}

static int esSubcarpeta(const WIN32_FIND_DATAW *entrada) {
    if (!(entrada->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    const wchar_t *n = entrada->cFileName;
    return !(n[0] == L'.' && (n[1] == L'\0' || (n[1] == L'.' && n[2] == L'\0')));
}

static int borrarYContar(DatosTarea *tarea, const wchar_t *ruta) {
    if (!cepillarseDirectorio(ruta))
        return 0;
    tarea->carpetasBorradas++;
    return 1;
}

int borrarDirectorio(wchar_t *ruta, size_t largo) {
    DatosTarea *tarea = tareaDelHilo;
    mostrarCarpeta(tarea, ruta, largo);
    tarea->carpetasRecorridas++;
    if (WaitForSingleObject(tarea->eventoCancelar, 2) != WAIT_TIMEOUT)
        return 0;

    DWORD atributos = GetFileAttributesW(ruta);
    if (!tarea->recorrerSistema && (atributos & FILE_ATTRIBUTE_SYSTEM))
        return 1;
    if (!tarea->recorrerOcultas && (atributos & FILE_ATTRIBUTE_HIDDEN))
        return 1;
    if (borrarYContar(tarea, ruta))
        return 1;
    // Entering a link would walk outside the chosen root.
    HANDLE retenida = retenerCarpeta(ruta, largo);
    if (retenida == INVALID_HANDLE_VALUE)
        return 1;

    WIN32_FIND_DATAW entrada;
    HANDLE listado = abrirListado(ruta, largo, &entrada);
    if (listado == INVALID_HANDLE_VALUE) {
        CloseHandle(retenida);
        return 1;
    }
    size_t base = largo;
    if (!terminaEnSeparador(ruta, largo))
        ruta[base++] = L'\\';
    int seguir = 1;
    do {
        if (!esSubcarpeta(&entrada))
            continue;
        size_t nombre = wcslen(entrada.cFileName);
        // A child whose prefixed path would not fit is not visited, so it and its parent stay.
        if (LARGO_PREFIJO + base + nombre >= LARGO_RUTA)
            continue;
        memcpy(ruta + base, entrada.cFileName, (nombre + 1) * sizeof(wchar_t));
        seguir = borrarDirectorio(ruta, base + nombre);
    } while (seguir && FindNextFileW(listado, &entrada));
    FindClose(listado);
    // Let go before the second attempt: the hold shares no delete, not even with this thread.
    CloseHandle(retenida);
    ruta[largo] = L'\0';
    if (!seguir)
        return 0;
    borrarYContar(tarea, ruta);
    return 1;
}

DWORD WINAPI ThreadProc(LPVOID parametro) {
    tareaDelHilo = (DatosTarea *)parametro;
    wchar_t ruta[LARGO_RUTA];
    size_t largo = 0;
    while (largo < LARGO_RUTA - 1 && tareaDelHilo->carpetaRaiz[largo]) {
        ruta[largo] = tareaDelHilo->carpetaRaiz[largo];
        largo++;
    }
    // A drive letter alone names that drive's root, as Explorer takes it. As typed it would name
    // the drive's current folder to the filters while the listing named the root.
    if (largo == 2 && ruta[1] == L':')
        ruta[largo++] = L'\\';
    ruta[largo] = L'\0';
    DWORD resultado = borrarDirectorio(ruta, largo);
    // The last folder visited may still be waiting for its turn on the screen.
    if (tareaDelHilo->ventanaProgreso)
        avisarVentana(tareaDelHilo);
    return resultado;
}
