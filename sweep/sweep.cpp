// The walk: the worker's entry, and the depth-first visit of one folder after another, each held
// open from its parent's handle while its subfolders are visited. What is done to one folder
// through its handles is in carpeta.cpp.
#include "sweep.h"

#include <stddef.h>
#include <string.h>
#include <wchar.h>

DatosTarea *tareaDelHilo;

// Bytes of entries a listing call brings at once; a visit keeps one such buffer, so it is kept
// small enough for the deepest nesting the path buffers allow to fit the stack.
enum { LARGO_LISTADO = 4096 };
static const NTSTATUS NO_HAY_MAS = (NTSTATUS)0x80000006; // STATUS_NO_MORE_FILES
// STATUS_NO_SUCH_FILE: what the first call gives for a folder with nothing in it, not even ".".
static const NTSTATUS NADA = (NTSTATUS)0xC000000F;
// Entries whose contents are not on the disk (a cloud file or folder not yet fetched).
// FILE_ATTRIBUTE_RECALL_ON_OPEN and FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS, which MinGW lacks.
enum { SIN_DESCARGAR = 0x40000 | 0x400000 };

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

// A reply no file system gives: more bytes than were asked for.
static const NTSTATUS MAL_FORMADA = (NTSTATUS)0xC00000C3; // STATUS_INVALID_NETWORK_RESPONSE

// Fills listado with the next entries of the held folder's listing, from its start if asked, and
// *dados with the bytes they take; STATUS_NO_MORE_FILES once it has given them all. *clase: the
// form asked for, with file IDs, turned to the one without for a file system that refuses it. A
// reply is bounded before anything in it is read: one a file system never gives (a server's,
// a filter's) is a failure.
static NTSTATUS listar(HANDLE carpeta, LONGLONG *listado, BOOLEAN desdeElPrincipio, int *clase,
                       UNICODE_STRING *patron, ULONG_PTR *dados) {
    for (;;) {
        IO_STATUS_BLOCK estado;
        estado.Information = 0;
        const NTSTATUS resultado = NtQueryDirectoryFile(
            carpeta, NULL, NULL, NULL, &estado, listado, LARGO_LISTADO,
            (FILE_INFORMATION_CLASS)*clase, patron != NULL, patron, desdeElPrincipio);
        if (*clase == CON_ID && desdeElPrincipio && noLoAdmite(RtlNtStatusToDosError(resultado))) {
            *clase = SIN_ID;
            continue;
        }
        *dados = estado.Information;
        if (NT_SUCCESS(resultado) && *dados > LARGO_LISTADO)
            return MAL_FORMADA;
        return resultado;
    }
}

// The entry that starts desde bytes into a listing (desde within the bytes it gave), if it lies
// whole within them; its name and that name's length in units. Sizes are compared by what is left,
// never summed, so that no value a reply gives can wrap around.
static const EntradaDeListado *entradaEn(const LONGLONG *listado, ULONG_PTR desde, ULONG_PTR dados,
                                         int clase, const wchar_t **nombre, size_t *largo) {
    const EntradaDeListado *e = (const EntradaDeListado *)((const BYTE *)listado + desde);
    const ULONG_PTR cabecera =
        clase == CON_ID ? offsetof(EntradaDeListado, nombre)
                        : offsetof(EntradaDeListado, largoAtributosExtendidos) + sizeof(ULONG);
    if (cabecera > dados - desde || e->largoNombre > dados - desde - cabecera)
        return NULL;
    *nombre = (const wchar_t *)((const BYTE *)e + cabecera);
    *largo = e->largoNombre / sizeof(wchar_t);
    return e;
}

// The size of an entry's extended attributes: a reparse point's entry gives its tag there.
static ULONG extendidosDe(const EntradaDeListado *e) {
    return e->atributos & FILE_ATTRIBUTE_REPARSE_POINT ? 0 : e->largoAtributosExtendidos;
}

static int enLinaje(const Linaje *linaje, LONGLONG id) {
    for (; linaje; linaje = linaje->arriba)
        if (linaje->id == id)
            return 1;
    return 0;
}

// Visits a listed entry of the folder carpeta holds, whose path and separator fill ruta[0..base).
// A file stays, and so does a folder whose path would not fit or whose contents are not on the
// disk: *queda notes it. A name no file system gives (empty, or holding a separator) would reach
// past the entry: it stays too. 1: go on, 0: stop.
static int visitarEntrada(const EntradaDeListado *e, const wchar_t *n, size_t largo, int clase,
                          wchar_t *ruta, size_t base, HANDLE carpeta, const Linaje *linaje,
                          int *queda) {
    if (largo > 0 && n[0] == L'.' && (largo == 1 || (largo == 2 && n[1] == L'.')))
        return 1;
    if (!(e->atributos & FILE_ATTRIBUTE_DIRECTORY) || (e->atributos & SIN_DESCARGAR) ||
        largo == 0 || wmemchr(n, L'\\', largo) || LARGO_PREFIJO + base + largo >= LARGO_RUTA) {
        *queda = 1;
        return 1;
    }
    memcpy(ruta + base, n, largo * sizeof(wchar_t));
    ruta[base + largo] = L'\0';
    const int conId = clase == CON_ID;
    const Entrada entrada = {e->atributos, conId ? e->id.QuadPart : 0, conId, 0, extendidosDe(e),
                             linaje};
    return borrarDirectorio(ruta, base + largo, carpeta, &entrada);
}

// Lists the held folder whole, visiting each subfolder; ruta[0..largo) is its path, linaje the
// folders held from it up. *queda: it holds something that stays. A reply that is not whole (a
// success with no bytes among them) cuts the listing short; between two calls the stop is looked
// at, as a server may answer each at once and for ever. 1: listed to its end, 0: cut short, -1:
// stop.
static int recorrer(HANDLE carpeta, wchar_t *ruta, size_t largo, const Linaje *linaje, int *queda) {
    const size_t base = largo + !terminaEnSeparador(ruta, largo);
    ruta[base - 1] = L'\\';
    LONGLONG listado[LARGO_LISTADO / sizeof(LONGLONG)];
    ULONG_PTR dados;
    int clase = CON_ID;
    int listada = 0;
    NTSTATUS resultado = listar(carpeta, listado, TRUE, &clase, NULL, &dados);
    while (NT_SUCCESS(resultado)) {
        const wchar_t *nombre;
        size_t n;
        const EntradaDeListado *e;
        for (ULONG_PTR desde = 0; (e = entradaEn(listado, desde, dados, clase, &nombre, &n));
             desde += e->siguiente) {
            if (!visitarEntrada(e, nombre, n, clase, ruta, base, carpeta, linaje, queda))
                listada = -1;
            if (listada < 0 || !e->siguiente || e->siguiente > dados - desde)
                break;
        }
        if (listada < 0 || !e || e->siguiente)
            break; // stopped, or an entry outside the reply
        if (WaitForSingleObject(tareaDelHilo->eventoCancelar, 0) != WAIT_TIMEOUT) {
            listada = -1;
            break;
        }
        resultado = listar(carpeta, listado, FALSE, &clase, NULL, &dados);
    }
    ruta[largo] = L'\0';
    return listada < 0 ? -1 : resultado == NO_HAY_MAS || resultado == NADA;
}

int borrarDirectorio(wchar_t *ruta, size_t largo, HANDLE padre, const Entrada *entrada) {
    DatosTarea *tarea = tareaDelHilo;
    mostrarCarpeta(tarea, ruta, largo);
    tarea->carpetasRecorridas++;
    if (WaitForSingleObject(tarea->eventoCancelar, 2) != WAIT_TIMEOUT)
        return 0;
    // A folder that is one the walk holds, or one above the root, is not entered nor opened.
    if (entrada->conId && enLinaje(entrada->arriba, entrada->id))
        return 1;

    // Held before anything is judged: what is judged, removed and listed is the folder held.
    HANDLE carpeta = abrirParaVisitar(ruta, largo, padre);
    if (carpeta == INVALID_HANDLE_VALUE)
        return 1;
    int queda = 0;
    const int clase = clasificar(carpeta, tarea, entrada, &queda);
    // An empty folder or a link goes before anything is listed; a filter's folder is first
    // listed whole as its filter shows it.
    const int marca = !queda && (clase == ENTRAR || clase == ENLACE)
                          ? marcarParaBorrar(carpeta, clase == ENLACE)
                          : OTRA_VEZ;
    if (marca == MARCADA) {
        CloseHandle(carpeta); // it goes here
        tarea->carpetasBorradas++;
        return 1;
    }
    if (clase == ENLACE || clase == DEJAR) {
        CloseHandle(carpeta);
        return 1;
    }
    // From here a filter's folder is held as its filter shows it, to its removal.
    if (clase == FILTRADA)
        carpeta = abrirParaSuFiltro(carpeta, ruta, largo, padre);
    if (carpeta == INVALID_HANDLE_VALUE)
        return 1;

    const int recorridas = tarea->carpetasRecorridas;
    const int borradas = tarea->carpetasBorradas;
    Linaje propio = {entrada->id, entrada->arriba};
    // A listing without IDs gives none to compare below; the root's own is asked for the fresh try.
    if (!entrada->conId && (!entrada->raiz || !idListadoDe(carpeta, &propio.id)))
        propio.id = 0;
    const int listada = recorrer(carpeta, ruta, largo, &propio, &queda);
    // A subfolder went when every folder visited below it went too. A folder that still holds
    // anything, whose listing was cut short, or whose removal was refused for access cannot go:
    // no second attempt. It is made only on the folder visited. (The visits below count through
    // tareaDelHilo, which cppcheck does not follow.)
    // cppcheck-suppress knownConditionTrueFalse
    queda = queda || tarea->carpetasRecorridas - recorridas != tarea->carpetasBorradas - borradas;
    const int segundo = listada == 1 && !queda && marca != NUNCA;
    if (!segundo)
        CloseHandle(carpeta);
    if (listada < 0)
        return 0;
    if (segundo && cepillarseDirectorio(carpeta, ruta, largo, padre, propio.id,
                                        clase == FILTRADA ? 0 : FILE_OPEN_REPARSE_POINT, marca))
        tarea->carpetasBorradas++;
    return 1;
}

// The root's entry in the listing of the folder that holds it, where that can be listed and the
// entry is the root's own name: the root is then told to be the folder listed, as every other is.
// Its attributes stay all set otherwise.
static void entradaDeLaRaiz(HANDLE padre, wchar_t *ruta, size_t largo, Entrada *entrada) {
    size_t inicio;
    UNICODE_STRING patron;
    const size_t unidades = ultimaParte(ruta, largo, &inicio);
    patron.Length = patron.MaximumLength = (USHORT)(unidades * sizeof(wchar_t));
    patron.Buffer = ruta + inicio;
    LONGLONG listado[LARGO_LISTADO / sizeof(LONGLONG)];
    ULONG_PTR dados;
    int clase = CON_ID;
    const wchar_t *nombre;
    size_t n;
    const EntradaDeListado *e;
    // A name the listing takes for a pattern (DOS wildcards) could match another.
    if (!padre || !NT_SUCCESS(listar(padre, listado, TRUE, &clase, &patron, &dados)) ||
        !(e = entradaEn(listado, 0, dados, clase, &nombre, &n)) || n != unidades ||
        CompareStringOrdinal(nombre, (int)n, patron.Buffer, (int)n, TRUE) != CSTR_EQUAL)
        return;
    entrada->atributos = e->atributos;
    entrada->conId = clase == CON_ID;
    entrada->id = entrada->conId ? e->id.QuadPart : 0;
    entrada->extendidos = extendidosDe(e);
}

// The folders above the root, from the one that holds it up to its volume's root, each with its
// ID, read once: at most one for each part of the path. The first of encima, or NULL.
static const Linaje *linajeDeLaRaiz(const wchar_t *ruta, size_t largo, HANDLE padre, Linaje *encima,
                                    size_t cuantos) {
    Identidad suya, delVolumen;
    size_t hay = 0;
    HANDLE carpeta = padre;
    if (!padre || !identidadDe(padre, &delVolumen))
        return NULL;
    while (
        carpeta && hay < cuantos && idListadoDe(carpeta, &encima[hay].id) &&
        (carpeta == padre || (identidadDe(carpeta, &suya) && suya.volumen == delVolumen.volumen))) {
        encima[hay].arriba = &encima[hay + 1];
        hay++;
        if (carpeta != padre)
            CloseHandle(carpeta);
        largo = largoDelPadre(ruta, largo);
        carpeta = abrirPadreDeLaRaiz(ruta, largo);
    }
    if (carpeta && carpeta != padre)
        CloseHandle(carpeta);
    if (hay == 0)
        return NULL;
    encima[hay - 1].arriba = NULL;
    return encima;
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
    Linaje encima[LARGO_RUTA / 2];
    Entrada raiz = {INVALID_FILE_ATTRIBUTES, 0, 0, 1, 0, NULL};
    raiz.arriba = linajeDeLaRaiz(ruta, largo, padre, encima, LARGO_RUTA / 2);
    entradaDeLaRaiz(padre, ruta, largo, &raiz);
    DWORD resultado = borrarDirectorio(ruta, largo, padre, &raiz);
    if (padre)
        CloseHandle(padre);
    // The last folder visited may still be waiting for its turn on the screen.
    if (tareaDelHilo->ventanaProgreso)
        avisarVentana(tareaDelHilo);
    return resultado;
}
