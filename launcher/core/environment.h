// Brings every process into the state later steps expect: configuration read,
// flavor known, working directory set.
#pragma once
#include <windows.h>

#include <string>

// First character of key 2001: 't' for the wrapper flavor, 'z' for the installer flavor.
extern char flavor;

void initEnvironment(HINSTANCE instance);

// The whole value of an environment variable, however long: a path list cut short
// would name a wrong directory. False when the variable is not set.
bool readEnvironmentVariable(const char* name, std::string& value);
// Sets PATH in the Windows environment and in the C runtime's copy, which the runtime's
// own lookups read; nullptr removes it. Logged as "Setting <label> <value>".
void setPath(const char* value, const wchar_t* label);
