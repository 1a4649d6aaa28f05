// The service process: what the Service Control Manager runs.
#pragma once
#include <windows.h>

void WINAPI serviceMain(DWORD argc, LPSTR* argv);

// Keeps console control events (Ctrl-C, Ctrl-Break, close, logoff, shutdown) from
// ending the service child: the service process decides when it stops.
BOOL WINAPI consoleCtrlHandler(DWORD event);
