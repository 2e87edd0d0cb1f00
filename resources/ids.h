// Identifiers shared by the resource script and the code. Windows 5000-5006 and the icon 5011
// belong to the main window; 5007-5010 to the progress window.
#pragma once

#define TEXTO_TITULO "Tovrith by Malvessin"

#define IDD_PRINCIPAL 5000
#define IDC_ETIQUETA_RAIZ 5001
#define IDC_CARPETA 5002
#define IDC_EXAMINAR 5003
#define IDC_NO_SISTEMA 5004
#define IDC_NO_OCULTAS 5005
#define IDC_PROCEDER 5006

#define IDD_PROGRESO 5007
#define IDC_ETIQUETA_RECORRIENDO 5008
#define IDC_CARPETA_ACTUAL 5009
#define IDC_CANCELAR 5010

#define IDI_APLICACION 5011

#define ID_TEMPORIZADOR 22222
