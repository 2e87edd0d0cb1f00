// What is done to one folder through its handles: opened from its parent's handle, told apart from
// any other folder by its identity, judged (a folder, a link, a mount point, a filter's), and
// marked for removal only when nothing in it, named streams included, would go with it.
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

// The \\?\ form's NT prefix, which Windows swaps for it.
static const wchar_t PREFIJO[] = L"\\??\\";

// Removal that drops the name at once, even while others hold the folder open, and ignores a
// read-only mark: Windows 10 1809 and later (the program is built for Windows 7).
static const FILE_INFO_BY_HANDLE_CLASS BORRADO_EX = (FILE_INFO_BY_HANDLE_CLASS)21;
enum { BORRAR_YA = 0x1 | 0x2, IGNORANDO_MARCA = 0x10 };
// FileIdInfo: Windows 8 and later.
static const FILE_INFO_BY_HANDLE_CLASS ID_CON_VOLUMEN = (FILE_INFO_BY_HANDLE_CLASS)18;
static const FILE_INFORMATION_CLASS LISTA_DE_FLUJOS =
    (FILE_INFORMATION_CLASS)22; // FileStreamInformation

// What a visit asks for, then less where that is refused: a folder another program holds without
// sharing delete (a command prompt's current folder) is listed and cannot go; one the user may
// remove but not list can only go. Its second attempt, through the same handle, may take a
// read-only mark off. Once delete is refused it is not asked again before the folder is listed:
// Windows Security shows a notice for every open of a protected folder it refuses.
static const ACCESS_MASK PARA_VISITAR[] = {DELETE | FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES,
                                           FILE_LIST_DIRECTORY, DELETE, 0};
static const ACCESS_MASK PARA_BORRAR[] = {DELETE | FILE_WRITE_ATTRIBUTES, DELETE, 0};
// The folder that holds the root is listed for the root's entry where the user may.
static const ACCESS_MASK PARA_EL_PADRE[] = {FILE_LIST_DIRECTORY | FILE_TRAVERSE, FILE_TRAVERSE, 0};
enum {
    COMPARTIR = FILE_SHARE_READ | FILE_SHARE_WRITE,
    COMPARTIR_TODO = COMPARTIR | FILE_SHARE_DELETE
};

int terminaEnSeparador(const wchar_t *ruta, size_t largo) {
    return largo > 0 && ruta[largo - 1] == L'\\';
}

size_t ultimaParte(const wchar_t *ruta, size_t largo, size_t *inicio) {
    const size_t fin = largo - terminaEnSeparador(ruta, largo);
    *inicio = fin;
    while (*inicio > 0 && ruta[*inicio - 1] != L'\\')
        --*inicio;
    return fin - *inicio;
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
// padre, by its NT name; each access of intentos in turn, until the name leads to no folder.
static HANDLE abrir(UNICODE_STRING *nombre, HANDLE padre, const ACCESS_MASK *intentos,
                    ULONG compartir, ULONG como) {
    OBJECT_ATTRIBUTES objeto;
    InitializeObjectAttributes(&objeto, nombre, OBJ_CASE_INSENSITIVE, padre, NULL);
    for (; *intentos; intentos++) {
        IO_STATUS_BLOCK estado;
        HANDLE carpeta;
        const NTSTATUS resultado =
            NtCreateFile(&carpeta, *intentos | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &objeto, &estado,
                         NULL, 0, compartir, FILE_OPEN,
                         FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | como, NULL, 0);
        if (NT_SUCCESS(resultado))
            return carpeta;
        const DWORD error = RtlNtStatusToDosError(resultado);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_DIRECTORY || error == ERROR_INVALID_NAME)
            break;
    }
    return INVALID_HANDLE_VALUE;
}

// Opens the folder at ruta by its own name in the folder its parent's handle holds, never by a
// path (a root without one, a drive's, by its NT name). It is opened as itself, never as a link's
// target (como: FILE_OPEN_REPARSE_POINT), but for a folder a file-system filter owns, opened as
// every program opens it (como: 0).
NO_EN_LINEA static HANDLE abrirCarpeta(const wchar_t *ruta, size_t largo, HANDLE padre,
                                       const ACCESS_MASK *intentos, ULONG compartir, ULONG como) {
    wchar_t nt[LARGO_RUTA];
    UNICODE_STRING nombre;
    if (padre) {
        size_t inicio;
        largo = ultimaParte(ruta, largo, &inicio);
        nombre.Buffer = (PWSTR)ruta + inicio;
    } else {
        if (!conPrefijo(nt, ruta, largo))
            return INVALID_HANDLE_VALUE;
        nombre.Buffer = nt;
        largo += LARGO_PREFIJO;
    }
    nombre.Length = nombre.MaximumLength = (USHORT)(largo * sizeof(wchar_t));
    return abrir(&nombre, padre, intentos, compartir, como);
}

// Shares read and write but not delete: while it is open nobody can rename or remove it.
HANDLE abrirParaVisitar(const wchar_t *ruta, size_t largo, HANDLE padre) {
    return abrirCarpeta(ruta, largo, padre, PARA_VISITAR, COMPARTIR, FILE_OPEN_REPARSE_POINT);
}

// Shared with everyone (the root may lie below a link): the root is opened by its name in it, for
// its first attempt and its second, so that both reach the folder that was swept whatever is
// renamed above it. NULL where the root has no parent (a drive's root) or it cannot be opened: the
// root is then opened by its path. A root whose path with the prefix would not fit is not opened,
// as no other folder is.
size_t largoDelPadre(const wchar_t *ruta, size_t largo) {
    size_t fin;
    ultimaParte(ruta, largo, &fin);
    // A drive's root keeps its separator: "C:\\" names it, "C:" the drive's current folder.
    if (fin > 1 && ruta[fin - 2] != L':')
        fin--;
    return fin;
}

NO_EN_LINEA HANDLE abrirPadreDeLaRaiz(const wchar_t *ruta, size_t largo) {
    if (LARGO_PREFIJO + largo >= LARGO_RUTA)
        return NULL;
    const size_t fin = largoDelPadre(ruta, largo);
    wchar_t nt[LARGO_RUTA];
    if (fin == 0 || !conPrefijo(nt, ruta, fin))
        return NULL;
    UNICODE_STRING nombre;
    nombre.Buffer = nt;
    nombre.Length = nombre.MaximumLength = (USHORT)((LARGO_PREFIJO + fin) * sizeof(wchar_t));
    HANDLE padre = abrir(&nombre, NULL, PARA_EL_PADRE, COMPARTIR_TODO, 0);
    return padre == INVALID_HANDLE_VALUE ? NULL : padre;
}

// An ID of 0 or all ones names no file.
static int idConocido(ULONGLONG parteBaja, ULONGLONG parteAlta) {
    return (parteBaja || parteAlta) && (parteBaja & parteAlta) != ~0ULL &&
           !(parteBaja == ~0ULL && !parteAlta);
}

int identidadDe(HANDLE carpeta, Identidad *identidad) {
    if (!GetFileInformationByHandleEx(carpeta, ID_CON_VOLUMEN, identidad, sizeof *identidad)) {
        BY_HANDLE_FILE_INFORMATION datos;
        if (!GetFileInformationByHandle(carpeta, &datos))
            return 0;
        identidad->volumen = datos.dwVolumeSerialNumber;
        identidad->id[0] = (ULONGLONG)datos.nFileIndexHigh << 32 | datos.nFileIndexLow;
        identidad->id[1] = 0;
    }
    return idConocido(identidad->id[0], identidad->id[1]);
}

static int mismaIdentidad(HANDLE carpeta, const Identidad *esperada) {
    Identidad propia;
    return identidadDe(carpeta, &propia) && !memcmp(&propia, esperada, sizeof propia);
}

int idListadoDe(HANDLE carpeta, LONGLONG *id) {
    IO_STATUS_BLOCK estado;
    LARGE_INTEGER propio;
    if (!NT_SUCCESS(NtQueryInformationFile(carpeta, &estado, &propio, sizeof propio,
                                           FileInternalInformation)))
        return 0;
    *id = propio.QuadPart;
    return 1;
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
// read, or that is not a whole mount point's, says yes, so the folder is left alone: only the
// bytes the call gave are read.
NO_EN_LINEA static int montaVolumen(HANDLE carpeta) {
    static const wchar_t VOLUMEN[] = L"\\??\\Volume{";
    const size_t largo = (sizeof VOLUMEN - sizeof(wchar_t)) / sizeof(wchar_t);
    const size_t cabecera = offsetof(DatosDeMontaje, nombres);
    DatosDeMontaje datos;
    DWORD leidos;
    if (!DeviceIoControl(carpeta, FSCTL_GET_REPARSE_POINT, NULL, 0, &datos, sizeof datos, &leidos,
                         NULL) ||
        leidos < cabecera || leidos > sizeof datos)
        return 1;
    // The name it substitutes lies within the bytes the call gave.
    const size_t nombres = leidos - cabecera, inicio = datos.inicioSustituto;
    if (inicio > nombres || datos.largoSustituto > nombres - inicio)
        return 1;
    return datos.largoSustituto >= largo * sizeof(wchar_t) &&
           !_wcsnicmp(datos.nombres + inicio / sizeof(wchar_t), VOLUMEN, largo);
}

int noLoAdmite(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_NOT_SUPPORTED;
}

// The held folder's attributes and reparse tag. A file system with no reparse points (FAT,
// exFAT) gives no tags: its attributes say all. 0 where nothing can be read.
static int leerEtiqueta(HANDLE carpeta, FILE_ATTRIBUTE_TAG_INFO *propia) {
    if (GetFileInformationByHandleEx(carpeta, FileAttributeTagInfo, propia, sizeof *propia))
        return 1;
    FILE_BASIC_INFO basica;
    if (!noLoAdmite(GetLastError()) ||
        !GetFileInformationByHandleEx(carpeta, FileBasicInfo, &basica, sizeof basica) ||
        (basica.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return 0;
    propia->FileAttributes = basica.FileAttributes;
    propia->ReparseTag = 0;
    return 1;
}

// Whether the held folder carries extended attributes, asked of its handle where its entry gives
// none (a reparse point's gives its tag there). A file system without them refuses the query.
NO_EN_LINEA static int tieneExtendidos(HANDLE carpeta) {
    IO_STATUS_BLOCK estado;
    ULONG largo = 0;
    const NTSTATUS resultado =
        NtQueryInformationFile(carpeta, &estado, &largo, sizeof largo,
                               (FILE_INFORMATION_CLASS)7); // FileEaInformation
    if (!NT_SUCCESS(resultado))
        return !noLoAdmite(RtlNtStatusToDosError(resultado));
    return largo != 0;
}

// Judged by the entry its parent's listing gave, once the handle is known to hold the very folder
// listed: an open that followed a link swapped in after the listing (a share whose server follows
// its links, Wine) holds another, and is left alone. The handle is asked what it is only where the
// entry shows a reparse point, and for a root with no entry. An entry showing a reparse point that
// the handle does not hold was followed on open, and is left alone too. A root that is a link or
// a mount point is left alone: it would go as a link, not be swept.
NO_EN_LINEA int clasificar(HANDLE carpeta, const DatosTarea *tarea, const Entrada *entrada,
                           int *guardar) {
    const DWORD punto = FILE_ATTRIBUTE_REPARSE_POINT;
    const int listada = entrada->atributos != INVALID_FILE_ATTRIBUTES;
    LONGLONG id;
    if (entrada->conId &&
        (!idConocido(entrada->id, 0) || !idListadoDe(carpeta, &id) || id != entrada->id))
        return DEJAR;
    FILE_ATTRIBUTE_TAG_INFO propia = {};
    *guardar = entrada->extendidos != 0;
    if (!listada || (entrada->atributos & punto)) {
        if (!leerEtiqueta(carpeta, &propia) || (listada && !(propia.FileAttributes & punto)))
            return DEJAR;
        *guardar = tieneExtendidos(carpeta);
    }
    const DWORD atributos = listada ? entrada->atributos : propia.FileAttributes;
    if ((!tarea->recorrerSistema && (atributos & FILE_ATTRIBUTE_SYSTEM)) ||
        (!tarea->recorrerOcultas && (atributos & FILE_ATTRIBUTE_HIDDEN)))
        return DEJAR;
    if (!(propia.FileAttributes & punto))
        return ENTRAR;
    if (propia.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT && montaVolumen(carpeta))
        return DEJAR;
    if (esEnlace(propia.FileAttributes, propia.ReparseTag))
        return entrada->raiz ? DEJAR : ENLACE;
    return FILTRADA;
}

// A folder a file-system filter owns is the filter's to list and remove: opened as itself, a cloud
// folder not yet fetched could list as empty. Its view asks what a visit asks, so it is held
// from its listing to its removal as any folder is; the handle that opened it as itself shares no
// delete, so it goes first. A link put at its name in between leads elsewhere than the identity.
NO_EN_LINEA HANDLE abrirParaSuFiltro(HANDLE carpeta, const wchar_t *ruta, size_t largo,
                                     HANDLE padre) {
    Identidad propia;
    const int conocida = identidadDe(carpeta, &propia);
    CloseHandle(carpeta);
    HANDLE vista = conocida ? abrirCarpeta(ruta, largo, padre, PARA_VISITAR, COMPARTIR, 0)
                            : INVALID_HANDLE_VALUE;
    if (vista != INVALID_HANDLE_VALUE && !mismaIdentidad(vista, &propia)) {
        CloseHandle(vista);
        return INVALID_HANDLE_VALUE;
    }
    return vista;
}

// Whether the held folder carries data in a named stream (Finder tags and comments written over
// SMB, some sync tools): no listing shows it, and a removal takes it with the folder. A list too
// long to fit says yes; a file system that has no streams (FAT, exFAT, Wine) refuses the query.
NO_EN_LINEA static int tieneFlujos(HANDLE carpeta) {
    struct Flujo {
        ULONG siguiente, largoNombre;
        LARGE_INTEGER tamano, reservado;
        WCHAR nombre[1];
    };
    static const wchar_t SIN_NOMBRE[] = L"::$DATA";
    const ULONG largoSinNombre = sizeof SIN_NOMBRE - sizeof(wchar_t);
    LONGLONG lista[16];
    IO_STATUS_BLOCK estado;
    estado.Information = 0;
    const NTSTATUS resultado =
        NtQueryInformationFile(carpeta, &estado, lista, sizeof lista, LISTA_DE_FLUJOS);
    if (!NT_SUCCESS(resultado))
        return !noLoAdmite(RtlNtStatusToDosError(resultado));
    // Only the bytes the call gave are read: a list that does not end within them says yes.
    const ULONG_PTR dados = estado.Information;
    if (dados > sizeof lista)
        return 1;
    // 64 bits, so that no next offset can wrap around.
    for (ULONGLONG desde = 0; desde < dados;) {
        const Flujo *f = (const Flujo *)((const BYTE *)lista + desde);
        if (offsetof(Flujo, nombre) + largoSinNombre > dados - desde ||
            f->largoNombre != largoSinNombre ||
            memcmp((const BYTE *)f + offsetof(Flujo, nombre), SIN_NOMBRE, largoSinNombre))
            return 1;
        if (!f->siguiente)
            return 0;
        desde += f->siguiente;
    }
    return dados != 0;
}

// Marks the open folder to go when its handle closes; it goes only if it is empty or a link.
// Windows refuses a folder marked read-only, unless the call can be told to ignore the mark. A
// refusal is not asked again in another form: Windows Security shows a notice for each.
int marcarParaBorrar(HANDLE carpeta, int enlace) {
    if (tieneFlujos(carpeta))
        return NUNCA;
    DWORD yaIgnorandoMarca = enlace ? BORRAR_YA : BORRAR_YA | IGNORANDO_MARCA;
    if (SetFileInformationByHandle(carpeta, BORRADO_EX, &yaIgnorandoMarca, sizeof yaIgnorandoMarca))
        return MARCADA;
    // Older Windows, Wine 8 and some file systems refuse the call itself.
    if (!noLoAdmite(GetLastError()))
        return GetLastError() == ERROR_ACCESS_DENIED ? NUNCA : OTRA_VEZ;
    FILE_DISPOSITION_INFO borrar = {TRUE};
    if (SetFileInformationByHandle(carpeta, FileDispositionInfo, &borrar, sizeof borrar))
        return MARCADA;
    return GetLastError() == ERROR_ACCESS_DENIED ? SIN_MARCA : OTRA_VEZ;
}

// The mark put back, read back to be sure, a few times: a call cut short or a dropped connection
// would leave a folder that stays changed.
static void devolverMarca(HANDLE carpeta, FILE_BASIC_INFO *cambio, DWORD era) {
    cambio->FileAttributes = era;
    FILE_BASIC_INFO ahora;
    for (int intento = 0; intento < 3; intento++) {
        SetFileInformationByHandle(carpeta, FileBasicInfo, cambio, sizeof *cambio);
        if (GetFileInformationByHandleEx(carpeta, FileBasicInfo, &ahora, sizeof ahora) &&
            (ahora.FileAttributes & FILE_ATTRIBUTE_READONLY))
            return;
    }
}

// Explorer removes an empty folder marked read-only (it marks the folders it has customised);
// where the mark cannot be ignored, it is taken off the open folder and put back if it still
// cannot go. Cancel does not cut that short.
static int borrarSinMarca(HANDLE carpeta) {
    FILE_BASIC_INFO era;
    if (!GetFileInformationByHandleEx(carpeta, FileBasicInfo, &era, sizeof era) ||
        !(era.FileAttributes & FILE_ATTRIBUTE_READONLY))
        return 0;
    SRWLOCK *corte = &tareaDelHilo->cerrojoCorte;
    AcquireSRWLockExclusive(corte);
    FILE_BASIC_INFO cambio = {}; // times left at 0 stay as they are
    cambio.FileAttributes = era.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    FILE_DISPOSITION_INFO borrar = {TRUE};
    int borrada = 0;
    if (SetFileInformationByHandle(carpeta, FileBasicInfo, &cambio, sizeof cambio)) {
        borrada = SetFileInformationByHandle(carpeta, FileDispositionInfo, &borrar, sizeof borrar);
        if (!borrada)
            devolverMarca(carpeta, &cambio, era.FileAttributes);
    }
    ReleaseSRWLockExclusive(corte);
    return borrada;
}

// The folder at ruta in the folder padre holds, opened (como) to be removed, if it is still the one
// whose 64-bit ID is id; else INVALID_HANDLE_VALUE. Under Wine a name may lead elsewhere than it
// did.
NO_EN_LINEA static HANDLE abrirSiSigue(const wchar_t *ruta, size_t largo, HANDLE padre, LONGLONG id,
                                       ULONG como) {
    HANDLE carpeta = abrirCarpeta(ruta, largo, padre, PARA_BORRAR, COMPARTIR_TODO, como);
    LONGLONG suyo;
    if (carpeta != INVALID_HANDLE_VALUE && (!idListadoDe(carpeta, &suyo) || suyo != id)) {
        CloseHandle(carpeta);
        return INVALID_HANDLE_VALUE;
    }
    return carpeta;
}

// One removal attempt through the open folder, after one that ended as primera: its mark, a
// read-only mark taken off where the plain removal is refused for access.
static int intentar(HANDLE carpeta, int primera) {
    const int marca = primera != SIN_MARCA   ? marcarParaBorrar(carpeta, 0)
                      : tieneFlujos(carpeta) ? NUNCA
                                             : SIN_MARCA;
    return marca == SIN_MARCA && borrarSinMarca(carpeta) ? MARCADA : marca;
}

// The second attempt, for a folder whose listing found nothing that stays, through the handle the
// visit held, which it closes: nothing can have taken the folder's place. Only here may a
// read-only mark be taken off. Under Wine a handle that was listed through is no judge of whether
// its folder is empty, either way: where the folder is still there once that handle is closed, it
// is tried once more through a fresh one, only if that holds the same folder (id, asked of the
// handle where the listing gave none) on the volume of the folder above it, as a volume mounted at
// a folder is never removed. A folder a file-system filter owns is opened afresh as it was, as
// every program opens it.
NO_EN_LINEA int cepillarseDirectorio(HANDLE carpeta, const wchar_t *ruta, size_t largo,
                                     HANDLE padre, LONGLONG id, ULONG como, int primera) {
    const int conocido = padre && (id || idListadoDe(carpeta, &id));
    int marca = intentar(carpeta, primera);
    CloseHandle(carpeta); // a folder marked to go goes here
    // A mark taken, or refused for anything but access, is what Wine may have misjudged.
    if (!conocido || primera == SIN_MARCA || (marca != MARCADA && marca != OTRA_VEZ))
        return marca == MARCADA;
    HANDLE fresca = abrirSiSigue(ruta, largo, padre, id, como);
    if (fresca == INVALID_HANDLE_VALUE)
        return marca == MARCADA;
    Identidad suya, delPadre;
    marca = identidadDe(fresca, &suya) && identidadDe(padre, &delPadre) &&
                    suya.volumen == delPadre.volumen
                ? intentar(fresca, OTRA_VEZ)
                : NUNCA;
    CloseHandle(fresca);
    return marca == MARCADA;
}
