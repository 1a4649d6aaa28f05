// Service control commands run from the command line; results are exit codes.
#pragma once
#include <windows.h>

int installService(DWORD startType, bool interactive);
int uninstallService(bool verbose);
int startService();
int stopService(bool verbose);
int printServiceStatus();
