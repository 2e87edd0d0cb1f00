// The sweep alone, driven in-process the way the progress window drives it but with no window:
//   sweep_bench floor COUNT   mean duration of one stop-check wait (2 ms on an unsignalled event)
//   sweep_bench sweep ROOT    one sweep of ROOT with both filters off; counts, time, peak memory
//   sweep_bench calls ROOT    the same walk instrumented: mean cost of each platform call
// Both filters are off so that a deep tree is walked to the bottom on Windows too, where the
// attribute read fails for plain paths of MAX_PATH units or more and would skip the subtree.
#include <windows.h>
#include <mmsystem.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "call_costs.h"
#include "measure.h"
#include "sweep/sweep.h"

namespace {

// The program raises the timer resolution for the whole run; without it a 2 ms wait on Windows
// lasts a whole 15.6 ms tick. Wine's waits do not depend on it.
int measureFloor(int count) {
    timeBeginPeriod(1);
    HANDLE never = CreateEventW(NULL, TRUE, FALSE, NULL);
    double start = nowMs();
    for (int i = 0; i < count; i++)
        WaitForSingleObject(never, 2);
    double mean = (nowMs() - start) / count;
    timeEndPeriod(1);
    CloseHandle(never);
    printf("floor_ms=%.4f waits=%d\n", mean, count);
    return 0;
}

// Static: the record holds two path buffers and is too big to want on the stack twice.
DatosTarea tarea;

int sweepOnce(const std::wstring &root) {
    if (root.size() >= LARGO_RUTA) {
        fprintf(stderr, "root too long\n");
        return 2;
    }
    wcscpy(tarea.carpetaRaiz, root.c_str());
    tarea.recorrerSistema = 1;
    tarea.recorrerOcultas = 1;
    tarea.ventanaPrincipal = NULL;
    tarea.ventanaProgreso = NULL;
    tarea.eventoCancelar = CreateEventW(NULL, TRUE, FALSE, NULL);
    InitializeSRWLock(&tarea.cerrojoCarpeta);

    timeBeginPeriod(1);
    double start = nowMs();
    HANDLE worker = CreateThread(NULL, 0, ThreadProc, &tarea, 0, NULL);
    if (!worker) {
        fprintf(stderr, "no worker thread: error %lu\n", GetLastError());
        return 2;
    }
    WaitForSingleObject(worker, INFINITE);
    double ms = nowMs() - start;
    timeEndPeriod(1);

    DWORD code = 0;
    GetExitCodeThread(worker, &code);
    CloseHandle(worker);
    CloseHandle(tarea.eventoCancelar);
    PeakMemory memory = {};
    peakMemory(GetCurrentProcess(), &memory);
    printf("visited=%d removed=%d ms=%.1f exit=%lu peak_ws_mib=%.2f peak_pf_mib=%.2f\n",
           tarea.carpetasRecorridas, tarea.carpetasBorradas, ms, code, memory.workingSetMiB,
           memory.pagefileMiB);
    return 0;
}

} // namespace

int main() {
    std::vector<std::wstring> args = arguments();
    if (args.size() == 2 && args[0] == L"floor")
        return measureFloor(_wtoi(args[1].c_str()));
    if (args.size() == 2 && args[0] == L"sweep")
        return sweepOnce(args[1]);
    if (args.size() == 2 && args[0] == L"calls")
        return measureCallCosts(args[1]);
    fprintf(stderr, "usage: sweep_bench floor COUNT | sweep ROOT | calls ROOT\n");
    return 2;
}
