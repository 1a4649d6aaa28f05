#include <windows.h>

#include "cmdline.h"
#include "entry.h"

int main() { return launcherEntry(GetModuleHandleW(nullptr), commandLineTail(GetCommandLineA())); }
