#include "progress.h"

#include <mmsystem.h>
#include <wchar.h>

DatosTarea *tareaActual;
HANDLE hiloTrabajo;

enum { PERIODO_SONDEO_MS = 500, PERIODO_CORTE_MS = 100 };

// Closes what the run opened. Safe to call with any of them missing.
static void liberarTarea(HWND ventana) {
    KillTimer(ventana, ID_TEMPORIZADOR);
    if (tareaActual->eventoCancelar) {
        CloseHandle(tareaActual->eventoCancelar);
        tareaActual->eventoCancelar = NULL;
    }
    if (hiloTrabajo) {
        CloseHandle(hiloTrabajo);
        hiloTrabajo = NULL;
    }
    timeEndPeriod(1);
}

static void terminarConAviso(HWND ventana, const wchar_t *texto, UINT icono, INT_PTR resultado) {
    MessageBoxW(ventana, texto, TITULO_APLICACION, icono | MB_OK);
    EndDialog(ventana, resultado);
}

// Since Windows 11 a process whose windows are all hidden or covered loses its timer request
// unless it asks to keep it. The call came with Windows 8, so it is looked up here.
static void mantenerResolucionOculta() {
    typedef BOOL(WINAPI * Fijar)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);
    Fijar fijar =
        (Fijar)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetProcessInformation");
    PROCESS_POWER_THROTTLING_STATE estado = {PROCESS_POWER_THROTTLING_CURRENT_VERSION,
                                             PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION, 0};
    if (fijar)
        fijar(GetCurrentProcess(), ProcessPowerThrottling, &estado, sizeof estado);
}

static INT_PTR alIniciarProgreso(HWND ventana) {
    DatosTarea *tarea = tareaActual;
    // The sweep waits 2 ms per folder; the default tick would stretch each wait to 15.6 ms.
    timeBeginPeriod(1);
    mantenerResolucionOculta();
    UINT_PTR temporizador = SetTimer(ventana, ID_TEMPORIZADOR, PERIODO_SONDEO_MS, NULL);
    tarea->eventoCancelar = CreateEventW(NULL, TRUE, FALSE, NULL);
    tarea->ventanaProgreso = ventana;
    tarea->carpetasBorradas = 0;
    tarea->carpetasRecorridas = 0;
    InitializeSRWLock(&tarea->cerrojoCarpeta);
    InitializeSRWLock(&tarea->cerrojoCorte);
    tarea->avisoPendiente = 0;
    tarea->ultimoAviso = 0;
    tarea->carpetaMostrada[0] = L'\0';
    hiloTrabajo = NULL;
    if (temporizador && tarea->eventoCancelar)
        hiloTrabajo = CreateThread(NULL, 0, ThreadProc, tarea, 0, NULL);
    if (!hiloTrabajo) {
        liberarTarea(ventana);
        terminarConAviso(ventana, L"The task could not be started.", MB_ICONWARNING, 1);
    }
    return TRUE;
}

static void mostrarCarpetaActual(HWND ventana) {
    DatosTarea *tarea = tareaActual;
    wchar_t ruta[LARGO_RUTA];
    InterlockedExchange(&tarea->avisoPendiente, 0);
    AcquireSRWLockShared(&tarea->cerrojoCarpeta);
    wcscpy(ruta, tarea->carpetaMostrada);
    ReleaseSRWLockShared(&tarea->cerrojoCarpeta);
    SetDlgItemTextW(ventana, IDC_CARPETA_ACTUAL, ruta);
}

// Once Cancel has raised the stop, its wait owns the end of the run: a tick, a second Cancel or a
// close request dispatched while it waits does nothing.
static int cancelando() {
    return WaitForSingleObject(tareaActual->eventoCancelar, 0) == WAIT_OBJECT_0;
}

static void alVencerTemporizador(HWND ventana) {
    if (!hiloTrabajo || cancelando())
        return;
    if (WaitForSingleObject(hiloTrabajo, 0) != WAIT_OBJECT_0) {
        // The newest folder reaches the screen even while the worker is held in a slow call.
        mostrarCarpetaActual(ventana);
        return;
    }
    liberarTarea(ventana);
    wchar_t resumen[LARGO_RUTA];
    swprintf(resumen, LARGO_RUTA, L"I have traversed %d folders and I have erased %d",
             tareaActual->carpetasRecorridas, tareaActual->carpetasBorradas);
    terminarConAviso(ventana, resumen, MB_ICONINFORMATION, 0);
}

// Waits for the worker while the window goes on answering and painting: a listing or a removal
// can stall for seconds (a network share, a cloud folder), and Windows greys out a window that
// does not answer as not responding. The call the worker is held in is cut short, and so is any it
// starts before its next stop check, rather than left to the system's own timeout; but never while
// it puts a read-only mark back, which the cut would leave off.
static void esperarTrabajador(HWND ventana) {
    SRWLOCK *corte = &tareaActual->cerrojoCorte;
    DWORD despertar;
    do {
        if (TryAcquireSRWLockExclusive(corte)) {
            CancelSynchronousIo(hiloTrabajo);
            ReleaseSRWLockExclusive(corte);
        }
        // Messages already in the queue count too, not only those that come after the call.
        despertar = MsgWaitForMultipleObjectsEx(1, &hiloTrabajo, PERIODO_CORTE_MS, QS_ALLINPUT,
                                                MWMO_INPUTAVAILABLE);
        MSG mensaje;
        while (despertar == WAIT_OBJECT_0 + 1 && PeekMessageW(&mensaje, NULL, 0, 0, PM_REMOVE)) {
            if (IsDialogMessageW(ventana, &mensaje))
                continue;
            TranslateMessage(&mensaje);
            DispatchMessageW(&mensaje);
        }
    } while (despertar == WAIT_OBJECT_0 + 1 || despertar == WAIT_TIMEOUT);
}

// Also serves a close request: the worker must not outlive the window that owns its record.
static void cancelarTarea(HWND ventana) {
    if (!hiloTrabajo || cancelando())
        return;
    SetEvent(tareaActual->eventoCancelar);
    esperarTrabajador(ventana);
    liberarTarea(ventana);
    terminarConAviso(ventana, L"The task has been canceled by the user", MB_ICONWARNING, 1);
}

INT_PTR CALLBACK MiDialogProc(HWND ventana, UINT mensaje, WPARAM wParam, LPARAM) {
    switch (mensaje) {
    case WM_INITDIALOG:
        return alIniciarProgreso(ventana);
    case WM_TIMER:
        alVencerTemporizador(ventana);
        return 0;
    case WM_CARPETA_NUEVA:
        mostrarCarpetaActual(ventana);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDC_CANCELAR)
            return 0;
        cancelarTarea(ventana);
        return TRUE;
    case WM_CLOSE:
        cancelarTarea(ventana);
        return TRUE;
    }
    return 0;
}

INT_PTR abrirDialogoDeProgreso(DatosTarea *tarea) {
    tareaActual = tarea;
    return DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_PROGRESO),
                           tarea->ventanaPrincipal, MiDialogProc, 0);
}
