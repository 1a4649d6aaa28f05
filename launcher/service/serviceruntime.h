// The service process: what the Service Control Manager runs.
#pragma once
#include <windows.h>

void WINAPI serviceMain(DWORD argc, LPSTR* argv);
