// Brings every process into the state later steps expect: configuration read,
// flavor known, working directory set.
#pragma once
#include <windows.h>

// First character of key 2001: 't' for the wrapper flavor, 'z' for the installer flavor.
extern char flavor;

void initEnvironment(HINSTANCE instance);
