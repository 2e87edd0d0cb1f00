#include "sweep.h"

#include <stddef.h>
#include <string.h>
#include <wchar.h>
#include <winioctl.h>

#if defined(_MSC_VER)
#define NO_EN_LINEA __declspec(noinline)
#else
#define NO_EN_LINEA __attribute__((noinline))
#endif

DatosTarea *tareaDelHilo;

// A folder with no parent to be opened from is opened by its NT name: the \\?\ form, whose
// prefix Windows swaps for this one.
static const wchar_t PREFIJO[] = L"\\??\\";
enum { LARGO_PREFIJO = 4 };

// Bytes of entries a listing call brings at once; a visit keeps one such buffer, so it is kept
// small enough for the deepest nesting the path buffers allow to fit the stack.
enum { LARGO_LISTADO = 4096 };

// Removal that drops the name at once, even while others hold the folder open, and ignores a
// read-only mark: Windows 10 1809 and later (the program is built for Windows 7).
static const FILE_INFO_BY_HANDLE_CLASS BORRADO_EX = (FILE_INFO_BY_HANDLE_CLASS)21;
enum { BORRAR_YA_IGNORANDO_MARCA = 0x1 | 0x2 | 0x10 };
static const NTSTATUS NO_HAY_MAS = (NTSTATUS)0x80000006; // STATUS_NO_MORE_FILES
// STATUS_NO_SUCH_FILE: what the first call gives for a folder with nothing in it, not even ".".
static const NTSTATUS NADA = (NTSTATUS)0xC000000F;

// What a visit asks for, then less where that is refused: a folder another program holds without
// sharing delete (a command prompt's current folder) is listed and cannot go; one the user may
// remove but not list can only go. The second attempt may take a read-only mark off.
static const ACCESS_MASK PARA_VISITAR[] = {DELETE | FILE_LIST_DIRECTORY, FILE_LIST_DIRECTORY,
                                           DELETE, 0};
static const ACCESS_MASK PARA_BORRAR[] = {DELETE | FILE_WRITE_ATTRIBUTES, DELETE, 0};

static int terminaEnSeparador(const wchar_t *ruta, size_t largo) {
    return largo > 0 && ruta[largo - 1] == L'\\';
}

// Writes the NT prefix and ruta[0..largo) into nt, LARGO_RUTA units; 0 when it would not fit.
static int conPrefijo(wchar_t *nt, const wchar_t *ruta, size_t largo) {
    if (LARGO_PREFIJO + largo >= LARGO_RUTA)
        return 0;
    memcpy(nt, PREFIJO, LARGO_PREFIJO * sizeof(wchar_t));
    memcpy(nt + LARGO_PREFIJO, ruta, largo * sizeof(wchar_t));
    return 1;
}

// One open of a folder, and only of a folder: by its name in the folder padre holds or, without
// padre, by its NT name.
static HANDLE abrir(UNICODE_STRING *nombre, HANDLE padre, ACCESS_MASK acceso, ULONG compartir,
                    ULONG como) {
    OBJECT_ATTRIBUTES objeto;
    InitializeObjectAttributes(&objeto, nombre, OBJ_CASE_INSENSITIVE, padre, NULL);
    IO_STATUS_BLOCK estado;
    HANDLE carpeta;
    const NTSTATUS resultado = NtCreateFile(
        &carpeta, acceso | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &objeto, &estado, NULL, 0, compartir,
        FILE_OPEN, FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | como, NULL, 0);
    return NT_SUCCESS(resultado) ? carpeta : INVALID_HANDLE_VALUE;
}

// Opens the folder at ruta by its own name in the folder its parent's handle holds, never by a
// path (a root without one, a drive's, by its NT name), asking for each access of intentos in
// turn. It is opened as itself, never as a link's target (como: FILE_OPEN_REPARSE_POINT), but for
// a folder a file-system filter owns, opened as every program opens it (como: 0). It shares read
// and write but not delete: while it is open nobody can rename or remove it.
NO_EN_LINEA static HANDLE abrirCarpeta(const wchar_t *ruta, size_t largo, HANDLE padre,
                                       const ACCESS_MASK *intentos, ULONG como) {
    wchar_t nt[LARGO_RUTA];
    UNICODE_STRING nombre;
    if (padre) {
        // A root may have been typed with a separator after its name.
        const size_t fin = largo - terminaEnSeparador(ruta, largo);
        size_t inicio = fin;
        while (inicio > 0 && ruta[inicio - 1] != L'\\')
            inicio--;
        nombre.Buffer = (PWSTR)ruta + inicio;
        largo = fin - inicio;
    } else {
        if (!conPrefijo(nt, ruta, largo))
            return INVALID_HANDLE_VALUE;
        nombre.Buffer = nt;
        largo += LARGO_PREFIJO;
    }
    nombre.Length = nombre.MaximumLength = (USHORT)(largo * sizeof(wchar_t));
    HANDLE carpeta = INVALID_HANDLE_VALUE;
    for (; *intentos && carpeta == INVALID_HANDLE_VALUE; intentos++)
        carpeta = abrir(&nombre, padre, *intentos, FILE_SHARE_READ | FILE_SHARE_WRITE, como);
    return carpeta;
}

// The folder that holds the root, opened by its path as given (the root may lie below a link),
// shared with everyone: the root is opened by its name in it, for its first attempt and its
// second, so that both reach the folder that was swept whatever is renamed above it. NULL where
// the root has no parent (a drive's root) or it cannot be opened: the root is then opened by its
// path. A root whose path with the prefix would not fit is not opened, as no other folder is.
NO_EN_LINEA static HANDLE abrirPadreDeLaRaiz(const wchar_t *ruta, size_t largo) {
    if (LARGO_PREFIJO + largo >= LARGO_RUTA)
        return NULL;
    size_t fin = largo - terminaEnSeparador(ruta, largo);
    while (fin > 0 && ruta[fin - 1] != L'\\')
        fin--;
    // A drive's root keeps its separator: "C:\\" names it, "C:" the drive's current folder.
    if (fin > 1 && ruta[fin - 2] != L':')
        fin--;
    wchar_t nt[LARGO_RUTA];
    if (fin == 0 || !conPrefijo(nt, ruta, fin))
        return NULL;
    UNICODE_STRING nombre;
    nombre.Buffer = nt;
    nombre.Length = nombre.MaximumLength = (USHORT)((LARGO_PREFIJO + fin) * sizeof(wchar_t));
    HANDLE padre = abrir(&nombre, NULL, FILE_TRAVERSE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    return padre == INVALID_HANDLE_VALUE ? NULL : padre;
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

// Which folder a handle holds, for a folder that is opened again: 0 where it cannot be told.
static ULONGLONG idDe(HANDLE carpeta) {
    IO_STATUS_BLOCK estado;
    LARGE_INTEGER id = {};
    NtQueryInformationFile(carpeta, &estado, &id, sizeof id, FileInternalInformation);
    return id.QuadPart;
}

// Errors of a file system that gives no reparse tags (FAT, exFAT): it has no reparse points.
static int sinEtiquetas(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_NOT_SUPPORTED;
}

static DWORD conocidos(DWORD atributos) {
    return atributos == INVALID_FILE_ATTRIBUTES ? 0 : atributos;
}

enum { ENTRAR, FILTRADA, ENLACE, DEJAR };

// What the held folder is: a folder to enter; one a file-system filter owns (a cloud folder), to
// be entered as its filter shows it; a link, removed as a link and never entered; or one left
// alone, neither removed nor entered: a volume mounted there, one that cannot be told, or one whose
// entry or name shows a reparse point its handle does not hold. Its handle is asked only where the
// entry its parent's listing gave, or its name read once it is held, shows a reparse point (or
// cannot be read): the root has no entry, atributosEntrada all set. Under Wine a Linux link opens
// as its target, which would go in its place; on Windows name and handle agree while it is held.
NO_EN_LINEA static int clasificar(HANDLE carpeta, DWORD atributosEntrada, DWORD atributosNombre) {
    const DWORD punto = FILE_ATTRIBUTE_REPARSE_POINT;
    if (!((atributosEntrada | atributosNombre) & punto))
        return ENTRAR;
    FILE_ATTRIBUTE_TAG_INFO propia = {};
    if (!GetFileInformationByHandleEx(carpeta, FileAttributeTagInfo, &propia, sizeof propia)) {
        FILE_BASIC_INFO basica;
        if (!sinEtiquetas(GetLastError()) ||
            !GetFileInformationByHandleEx(carpeta, FileBasicInfo, &basica, sizeof basica) ||
            (basica.FileAttributes & punto))
            return DEJAR;
        propia.FileAttributes = basica.FileAttributes;
    }
    if (!(propia.FileAttributes & punto))
        return (conocidos(atributosEntrada) | conocidos(atributosNombre)) & punto ? DEJAR : ENTRAR;
    if (propia.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT && montaVolumen(carpeta))
        return DEJAR;
    return esEnlace(propia.FileAttributes, propia.ReparseTag) ? ENLACE : FILTRADA;
}

// A folder a file-system filter owns is the filter's to list and remove: opened as itself, a cloud
// folder not yet fetched could list as empty and go, and its files with it, everywhere it is
// synced. It is opened again as every program opens it, from its parent, and kept only if it is
// the same folder, *id: a link put at its name in between would be followed.
NO_EN_LINEA static HANDLE abrirParaSuFiltro(HANDLE carpeta, const wchar_t *ruta, size_t largo,
                                            HANDLE padre, ULONGLONG *id) {
    *id = idDe(carpeta);
    CloseHandle(carpeta);
    carpeta = abrirCarpeta(ruta, largo, padre, PARA_VISITAR, 0);
    if (carpeta != INVALID_HANDLE_VALUE && (!*id || idDe(carpeta) != *id)) {
        CloseHandle(carpeta);
        return INVALID_HANDLE_VALUE;
    }
    return carpeta;
}

// Marks the open folder to go when its handle closes; it goes only if it is empty or a link.
// Windows refuses a folder marked read-only, unless the call can be told to ignore the mark.
static int marcarParaBorrar(HANDLE carpeta) {
    DWORD yaIgnorandoMarca = BORRAR_YA_IGNORANDO_MARCA;
    if (SetFileInformationByHandle(carpeta, BORRADO_EX, &yaIgnorandoMarca, sizeof yaIgnorandoMarca))
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
// goes. Only here may a read-only mark be taken off. idDeFiltro: which folder it is, for one a
// file-system filter owns, opened as every program opens it; 0 for any other.
NO_EN_LINEA int cepillarseDirectorio(const wchar_t *ruta, size_t largo, HANDLE padre,
                                     ULONGLONG idDeFiltro) {
    HANDLE carpeta =
        abrirCarpeta(ruta, largo, padre, PARA_BORRAR, idDeFiltro ? 0 : FILE_OPEN_REPARSE_POINT);
    if (carpeta == INVALID_HANDLE_VALUE)
        return 0;
    const int borrada = (!idDeFiltro || idDe(carpeta) == idDeFiltro) &&
                        (marcarParaBorrar(carpeta) ||
                         (GetLastError() == ERROR_ACCESS_DENIED && borrarSinMarca(carpeta)));
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

// Fills listado with the next entries of the held folder's listing, from its start if asked, and
// *dados with the bytes they take; STATUS_NO_MORE_FILES once it has given them all.
static NTSTATUS listar(HANDLE carpeta, LONGLONG *listado, BOOLEAN desdeElPrincipio,
                       ULONG_PTR *dados) {
    IO_STATUS_BLOCK estado;
    estado.Information = 0;
    const NTSTATUS resultado =
        NtQueryDirectoryFile(carpeta, NULL, NULL, NULL, &estado, listado, LARGO_LISTADO,
                             FileDirectoryInformation, FALSE, NULL, desdeElPrincipio);
    *dados = estado.Information;
    return resultado;
}

// The entry that starts desde bytes into a listing, if it lies whole within the bytes it gave.
static const EntradaDeListado *entradaEn(const LONGLONG *listado, ULONG_PTR desde,
                                         ULONG_PTR dados) {
    const EntradaDeListado *e = (const EntradaDeListado *)((const BYTE *)listado + desde);
    const ULONG_PTR cabecera = offsetof(EntradaDeListado, nombre);
    if (desde + cabecera > dados || desde + cabecera + e->largoNombre > dados)
        return NULL;
    return e;
}

// Visits a listed entry of the folder carpeta holds, whose path and separator fill ruta[0..base).
// A file stays, and so does a folder whose path would not fit: *queda notes it. A name no file
// system gives (empty, or holding a separator) would reach past the entry: it stays too.
// 1: go on, 0: stop.
static int visitarEntrada(const EntradaDeListado *entrada, wchar_t *ruta, size_t base,
                          HANDLE carpeta, int *queda) {
    const wchar_t *n = entrada->nombre;
    const size_t largo = entrada->largoNombre / sizeof(wchar_t);
    if (largo > 0 && n[0] == L'.' && (largo == 1 || (largo == 2 && n[1] == L'.')))
        return 1;
    if (!(entrada->atributos & FILE_ATTRIBUTE_DIRECTORY) || largo == 0 ||
        wmemchr(n, L'\\', largo) || LARGO_PREFIJO + base + largo >= LARGO_RUTA) {
        *queda = 1;
        return 1;
    }
    memcpy(ruta + base, n, largo * sizeof(wchar_t));
    ruta[base + largo] = L'\0';
    return borrarDirectorio(ruta, base + largo, carpeta, entrada->atributos);
}

int borrarDirectorio(wchar_t *ruta, size_t largo, HANDLE padre, DWORD atributosEntrada) {
    DatosTarea *tarea = tareaDelHilo;
    mostrarCarpeta(tarea, ruta, largo);
    tarea->carpetasRecorridas++;
    if (WaitForSingleObject(tarea->eventoCancelar, 2) != WAIT_TIMEOUT)
        return 0;

    // Held before anything is read: what is judged, removed and listed is the folder held.
    HANDLE carpeta = abrirCarpeta(ruta, largo, padre, PARA_VISITAR, FILE_OPEN_REPARSE_POINT);
    if (carpeta == INVALID_HANDLE_VALUE)
        return 1;
    const DWORD atributos = GetFileAttributesW(ruta);
    const int clase =
        saltada(tarea, atributos) ? DEJAR : clasificar(carpeta, atributosEntrada, atributos);
    ULONGLONG idDeFiltro = 0;
    if (clase == FILTRADA)
        carpeta = abrirParaSuFiltro(carpeta, ruta, largo, padre, &idDeFiltro);
    if (carpeta == INVALID_HANDLE_VALUE)
        return 1;
    // An empty folder or a link goes before anything is listed.
    if (clase != DEJAR && marcarParaBorrar(carpeta)) {
        CloseHandle(carpeta); // it goes here
        tarea->carpetasBorradas++;
        return 1;
    }
    if (clase == ENLACE || clase == DEJAR) {
        CloseHandle(carpeta);
        return 1;
    }

    const int recorridas = tarea->carpetasRecorridas;
    const int borradas = tarea->carpetasBorradas;
    const size_t base = largo + !terminaEnSeparador(ruta, largo);
    ruta[base - 1] = L'\\';
    LONGLONG listado[LARGO_LISTADO / sizeof(LONGLONG)];
    ULONG_PTR dados;
    int seguir = 1;
    int queda = 0;
    NTSTATUS resultado = listar(carpeta, listado, TRUE, &dados);
    while (seguir && NT_SUCCESS(resultado)) {
        const EntradaDeListado *e = entradaEn(listado, 0, dados);
        while (seguir && e) {
            seguir = visitarEntrada(e, ruta, base, carpeta, &queda);
            const ULONG_PTR desde = (const BYTE *)e - (const BYTE *)listado;
            e = e->siguiente ? entradaEn(listado, desde + e->siguiente, dados) : NULL;
        }
        if (seguir)
            resultado = listar(carpeta, listado, FALSE, &dados);
    }
    const int completo = resultado == NO_HAY_MAS || resultado == NADA;
    // Let go before the second attempt: the handle shares no delete, not even with this thread.
    CloseHandle(carpeta);
    ruta[largo] = L'\0';
    if (!seguir)
        return 0;
    // A subfolder went when every folder visited below it went too. A folder that still holds
    // anything, or whose listing was cut short, cannot go: no second attempt.
    queda = queda || tarea->carpetasRecorridas - recorridas != tarea->carpetasBorradas - borradas;
    if (completo && !queda && cepillarseDirectorio(ruta, largo, padre, idDeFiltro))
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
    HANDLE padre = abrirPadreDeLaRaiz(ruta, largo);
    DWORD resultado = borrarDirectorio(ruta, largo, padre, INVALID_FILE_ATTRIBUTES);
    if (padre)
        CloseHandle(padre);
    // The last folder visited may still be waiting for its turn on the screen.
    if (tareaDelHilo->ventanaProgreso)
        avisarVentana(tareaDelHilo);
    return resultado;
}
