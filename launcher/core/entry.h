// The process entry: prepares the startup environment and decides from the command
// line whether this process runs a service command, the Java application, or the service.
#pragma once
#include <windows.h>

#include "textbuf.h"

extern char serviceName[textBufferSize];
extern bool isService;      // false only for the run words
extern bool noRedirection;  // true only for the /run family

int launcherEntry(HINSTANCE instance, const char* commandLineTail);
