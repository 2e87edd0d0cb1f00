// Task control: the modal progress window that runs one sweep on a worker thread.
#pragma once

#include "../sweep/sweep.h"

extern DatosTarea *tareaActual;
extern HANDLE hiloTrabajo;

// Runs the progress window for the filled record; returns 0 when the run ended by itself,
// 1 when it was cancelled or could not start.
INT_PTR abrirDialogoDeProgreso(DatosTarea *tarea);

INT_PTR CALLBACK MiDialogProc(HWND ventana, UINT mensaje, WPARAM wParam, LPARAM lParam);
