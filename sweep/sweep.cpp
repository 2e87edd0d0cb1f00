#include "sweep.h"

#include <string.h>
#include <wchar.h>
#include <winioctl.h>

#if defined(_MSC_VER)
#define NO_EN_LINEA __declspec(noinline)
#else
#define NO_EN_LINEA __attribute__((noinline))
#endif

DatosTarea *tareaDelHilo;

// The root is opened by its NT name: the \\?\ form, whose prefix Windows swaps for this one.
static const wchar_t PREFIJO[] = L"\\??\\";
enum { LARGO_PREFIJO = 4 };

// Entries a listing call brings at once; a visit keeps one such buffer, so it is kept small
// enough for the deepest nesting the path buffers allow to fit the stack.
enum { LARGO_LISTADO = 4096 };

// Removal that ignores a read-only mark: Windows 10 1809 and later (the program is built for 7).
static const FILE_INFO_BY_HANDLE_CLASS BORRADO_EX = (FILE_INFO_BY_HANDLE_CLASS)21;
enum { BORRAR_IGNORANDO_MARCA = 0x1 | 0x10 };
static const NTSTATUS NO_HAY_MAS = (NTSTATUS)0x80000006; // STATUS_NO_MORE_FILES

static int terminaEnSeparador(const wchar_t *ruta, size_t largo) {
    return largo > 0 && ruta[largo - 1] == L'\\';
}

// Opens the folder itself, never a link's target, and only a folder: the root by its path, any
// other by its own name in the folder its parent's handle holds, never by a path. It shares read
// and write but not delete: while it is open nobody can rename or remove it. It asks for what it
// needs and what it would like; where both are refused (another program holds the folder without
// sharing delete, a command prompt's current folder; the user lacks a right), for what it needs.
NO_EN_LINEA static HANDLE abrirCarpeta(const wchar_t *ruta, size_t largo, HANDLE padre,
                                       ACCESS_MASK necesario, ACCESS_MASK deseado) {
    wchar_t nt[LARGO_RUTA];
    UNICODE_STRING nombre;
    size_t inicio = largo;
    if (padre) {
        while (inicio > 0 && ruta[inicio - 1] != L'\\')
            inicio--;
        nombre.Buffer = (PWSTR)ruta + inicio;
    } else {
        if (LARGO_PREFIJO + largo >= LARGO_RUTA)
            return INVALID_HANDLE_VALUE;
        memcpy(nt, PREFIJO, LARGO_PREFIJO * sizeof(wchar_t));
        memcpy(nt + LARGO_PREFIJO, ruta, largo * sizeof(wchar_t));
        nombre.Buffer = nt;
        inicio = 0;
        largo += LARGO_PREFIJO;
    }
    nombre.Length = nombre.MaximumLength = (USHORT)((largo - inicio) * sizeof(wchar_t));
    OBJECT_ATTRIBUTES objeto;
    InitializeObjectAttributes(&objeto, &nombre, OBJ_CASE_INSENSITIVE, padre, NULL);
    for (ACCESS_MASK acceso = necesario | deseado;; acceso = necesario) {
        IO_STATUS_BLOCK estado;
        HANDLE carpeta;
        if (NT_SUCCESS(NtCreateFile(&carpeta, acceso | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &objeto,
                                    &estado, NULL, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                                    FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT |
                                        FILE_OPEN_REPARSE_POINT,
                                    NULL, 0)))
            return carpeta;
        if (acceso == necesario)
            return INVALID_HANDLE_VALUE;
    }
}

int esEnlace(DWORD atributos, DWORD etiqueta) {
    return (atributos & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (etiqueta == 0 || IsReparseTagNameSurrogate(etiqueta));
}

// A mount point's data: a junction names a folder, a volume mounted at a folder names the volume.
struct DatosDeMontaje {
    DWORD etiqueta;
    WORD largoDatos, reservado, inicioSustituto, largoSustituto, inicioVisible, largoVisible;
    wchar_t nombres[(MAXIMUM_REPARSE_DATA_BUFFER_SIZE - 16) / sizeof(wchar_t)];
};

// Whether a volume is mounted at the held folder: another drive, not a link. Data that cannot be
// read says yes, so the folder is left alone.
NO_EN_LINEA static int montaVolumen(HANDLE carpeta) {
    static const wchar_t VOLUMEN[] = L"\\??\\Volume{";
    const size_t largo = sizeof VOLUMEN / sizeof(wchar_t) - 1;
    DatosDeMontaje datos;
    DWORD leidos;
    if (!DeviceIoControl(carpeta, FSCTL_GET_REPARSE_POINT, NULL, 0, &datos, sizeof datos, &leidos,
                         NULL))
        return 1;
    const size_t inicio = datos.inicioSustituto / sizeof(wchar_t);
    return datos.largoSustituto >= largo * sizeof(wchar_t) &&
           inicio + largo <= sizeof datos.nombres / sizeof(wchar_t) &&
           !_wcsnicmp(datos.nombres + inicio, VOLUMEN, largo);
}

enum { ENTRAR, ENLACE, DEJAR };

// What the held folder is: a folder to enter; a link, removed as a link and never entered; or one
// left alone, neither removed nor entered: a volume mounted there, one that cannot be told, or one
// whose name leads to a reparse point its handle does not hold. atributosNombre are read by its
// name once it is held: only a name that reads as a reparse point, or cannot be read, has its
// handle asked what the folder is. Under Wine a Linux link opens as its target, which would go in
// its place; on Windows the name and the handle read the same folder while it is held.
NO_EN_LINEA static int clasificar(HANDLE carpeta, DWORD atributosNombre) {
    const DWORD punto = FILE_ATTRIBUTE_REPARSE_POINT;
    if (!(atributosNombre & punto))
        return ENTRAR;
    FILE_ATTRIBUTE_TAG_INFO propia = {};
    // FAT and exFAT give no tags (they have no reparse points): their attributes alone say.
    if (!GetFileInformationByHandleEx(carpeta, FileAttributeTagInfo, &propia, sizeof propia)) {
        FILE_BASIC_INFO basica;
        if (!GetFileInformationByHandleEx(carpeta, FileBasicInfo, &basica, sizeof basica))
            return DEJAR;
        propia.FileAttributes = basica.FileAttributes;
    }
    if ((propia.FileAttributes & punto) && propia.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT &&
        montaVolumen(carpeta))
        return DEJAR;
    if (atributosNombre != INVALID_FILE_ATTRIBUTES && !(propia.FileAttributes & punto))
        return DEJAR;
    return esEnlace(propia.FileAttributes, propia.ReparseTag) ? ENLACE : ENTRAR;
}

// Marks the open folder to go when its handle closes; it goes only if it is empty or a link.
// Windows refuses a folder marked read-only, unless the call can be told to ignore the mark.
static int marcarParaBorrar(HANDLE carpeta) {
    DWORD ignorandoMarca = BORRAR_IGNORANDO_MARCA;
    if (SetFileInformationByHandle(carpeta, BORRADO_EX, &ignorandoMarca, sizeof ignorandoMarca))
        return 1;
    // Older Windows, Wine 8 and some file systems refuse the call itself.
    if (GetLastError() == ERROR_DIR_NOT_EMPTY)
        return 0;
    FILE_DISPOSITION_INFO borrar = {TRUE};
    return SetFileInformationByHandle(carpeta, FileDispositionInfo, &borrar, sizeof borrar);
}

// Explorer removes an empty folder marked read-only (it marks the folders it has customised);
// where the mark cannot be ignored, it is taken off the open folder and put back if it still
// cannot go.
static int borrarSinMarca(HANDLE carpeta) {
    FILE_BASIC_INFO era;
    if (!GetFileInformationByHandleEx(carpeta, FileBasicInfo, &era, sizeof era) ||
        !(era.FileAttributes & FILE_ATTRIBUTE_READONLY))
        return 0;
    FILE_BASIC_INFO cambio = {}; // times left at 0 stay as they are
    cambio.FileAttributes = era.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (!SetFileInformationByHandle(carpeta, FileBasicInfo, &cambio, sizeof cambio))
        return 0;
    FILE_DISPOSITION_INFO borrar = {TRUE};
    if (SetFileInformationByHandle(carpeta, FileDispositionInfo, &borrar, sizeof borrar))
        return 1;
    cambio.FileAttributes = era.FileAttributes;
    SetFileInformationByHandle(carpeta, FileBasicInfo, &cambio, sizeof cambio);
    return 0;
}

// The second attempt, for a folder whose listing found nothing that stays, through a fresh handle:
// under Wine one that was listed through lets a folder that is not empty be marked, and nothing
// goes. Only here may a read-only mark be taken off.
NO_EN_LINEA int cepillarseDirectorio(const wchar_t *ruta, size_t largo, HANDLE padre) {
    HANDLE carpeta = abrirCarpeta(ruta, largo, padre, DELETE, FILE_WRITE_ATTRIBUTES);
    if (carpeta == INVALID_HANDLE_VALUE)
        return 0;
    const int borrada = marcarParaBorrar(carpeta) ||
                        (GetLastError() == ERROR_ACCESS_DENIED && borrarSinMarca(carpeta));
    CloseHandle(carpeta); // a folder marked to go goes here
    return borrada;
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

static int saltada(const DatosTarea *tarea, DWORD atributos) {
    return (!tarea->recorrerSistema && (atributos & FILE_ATTRIBUTE_SYSTEM)) ||
           (!tarea->recorrerOcultas && (atributos & FILE_ATTRIBUTE_HIDDEN));
}

// Fills listado with the next entries of the held folder's listing, from its start if asked;
// STATUS_NO_MORE_FILES once it has given them all.
static NTSTATUS listar(HANDLE carpeta, LONGLONG *listado, BOOLEAN desdeElPrincipio) {
    IO_STATUS_BLOCK estado;
    return NtQueryDirectoryFile(carpeta, NULL, NULL, NULL, &estado, listado, LARGO_LISTADO,
                                FileDirectoryInformation, FALSE, NULL, desdeElPrincipio);
}

static const EntradaDeListado *siguiente(const EntradaDeListado *entrada) {
    if (!entrada->siguiente)
        return NULL;
    return (const EntradaDeListado *)((const BYTE *)entrada + entrada->siguiente);
}

// Visits a listed entry of the folder carpeta holds, whose path and separator fill ruta[0..base).
// A file stays, and so does a folder whose path would not fit: *queda notes it. 1: go on, 0: stop.
static int visitarEntrada(const EntradaDeListado *entrada, wchar_t *ruta, size_t base,
                          HANDLE carpeta, int *queda) {
    const wchar_t *n = entrada->nombre;
    const size_t largo = entrada->largoNombre / sizeof(wchar_t);
    if (n[0] == L'.' && (largo == 1 || (largo == 2 && n[1] == L'.')))
        return 1;
    if (!(entrada->atributos & FILE_ATTRIBUTE_DIRECTORY) ||
        LARGO_PREFIJO + base + largo >= LARGO_RUTA) {
        *queda = 1;
        return 1;
    }
    memcpy(ruta + base, n, largo * sizeof(wchar_t));
    ruta[base + largo] = L'\0';
    return borrarDirectorio(ruta, base + largo, carpeta);
}

int borrarDirectorio(wchar_t *ruta, size_t largo, HANDLE padre) {
    DatosTarea *tarea = tareaDelHilo;
    mostrarCarpeta(tarea, ruta, largo);
    tarea->carpetasRecorridas++;
    if (WaitForSingleObject(tarea->eventoCancelar, 2) != WAIT_TIMEOUT)
        return 0;

    // Held before anything is read: what is judged, removed and listed is the folder held.
    HANDLE carpeta = abrirCarpeta(ruta, largo, padre, FILE_LIST_DIRECTORY, DELETE);
    if (carpeta == INVALID_HANDLE_VALUE)
        return 1;
    const DWORD atributos = GetFileAttributesW(ruta);
    const int clase = saltada(tarea, atributos) ? DEJAR : clasificar(carpeta, atributos);
    // An empty folder or a link goes before anything is listed.
    if (clase != DEJAR && marcarParaBorrar(carpeta)) {
        CloseHandle(carpeta); // it goes here
        tarea->carpetasBorradas++;
        return 1;
    }
    if (clase != ENTRAR) {
        CloseHandle(carpeta);
        return 1;
    }

    const int recorridas = tarea->carpetasRecorridas;
    const int borradas = tarea->carpetasBorradas;
    const size_t base = largo + !terminaEnSeparador(ruta, largo);
    ruta[base - 1] = L'\\';
    LONGLONG listado[LARGO_LISTADO / sizeof(LONGLONG)];
    int seguir = 1;
    int queda = 0;
    NTSTATUS resultado = listar(carpeta, listado, TRUE);
    while (seguir && NT_SUCCESS(resultado)) {
        for (const EntradaDeListado *e = (EntradaDeListado *)listado; e && seguir; e = siguiente(e))
            seguir = visitarEntrada(e, ruta, base, carpeta, &queda);
        if (seguir)
            resultado = listar(carpeta, listado, FALSE);
    }
    const int completo = resultado == NO_HAY_MAS;
    // Let go before the second attempt: the handle shares no delete, not even with this thread.
    CloseHandle(carpeta);
    ruta[largo] = L'\0';
    if (!seguir)
        return 0;
    // A subfolder went when every folder visited below it went too. A folder that still holds
    // anything, or whose listing was cut short, cannot go: no second attempt.
    queda = queda || tarea->carpetasRecorridas - recorridas != tarea->carpetasBorradas - borradas;
    if (completo && !queda && cepillarseDirectorio(ruta, largo, padre))
        tarea->carpetasBorradas++;
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
    DWORD resultado = borrarDirectorio(ruta, largo, NULL);
    // The last folder visited may still be waiting for its turn on the screen.
    if (tareaDelHilo->ventanaProgreso)
        avisarVentana(tareaDelHilo);
    return resultado;
}
