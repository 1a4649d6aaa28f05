// The JVM search: a fixed frame of sources around the configured search sequence,
// stopping at the first candidate whose JVM library loads.
#pragma once
#include <windows.h>

#include <cstddef>

#include "version.h"

// Capacity of the version buffers of the search and of its callers.
constexpr size_t jvmVersionSize = 2000;

enum class JvmSourceKind { None = 0, Path = 1, Location = 2, Environment = 3, Registry = 4 };

// Buffers: javaExecutable and label 6000 bytes, version 2000 bytes. Kind and label
// describe the last candidate that passed its checks, loaded or not.
HMODULE searchJvm(char* javaExecutable, char* version, JvmSourceKind& kind, char* label);
bool checkLocation(char* javaExecutable, char* version, const char* location, const VersionRange& range, bool relaxed);
bool checkEnvironmentJvm(char* javaExecutable, char* version, const char* variable, const VersionRange& range);
bool checkPathJvm(char* javaExecutable, char* version, const VersionRange& range);
bool findPreviousInstallation(HKEY root, char* javaExecutable, char* version, const VersionRange& range);
bool checkInstallations(HKEY root, REGSAM view, char* javaExecutable, char* version, const VersionRange& range);
bool readAppConfigLine(char* line, const wchar_t* fileName);
