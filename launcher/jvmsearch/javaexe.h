// Java executables: from a Java home to its java.exe, and whether an executable is
// usable, its version known from the per-user cache or from running it with -version.
// Path buffers hold textBufferSize bytes; version buffers give their size.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "version.h"

// home\jre\bin\java.exe, else home\bin\java.exe; with key 131 only the former, and
// only when home\lib\tools.jar exists.
bool findJavaExe(const char* home, char* javaExe);

// Rewrites `javaExe` to its full lower-cased form (javaw.exe when key 107 is 1) and
// leaves the version text in `version`.
bool checkJavaExe(char* javaExe, char* version, size_t versionSize, const VersionRange& range, bool allowPreRelease);

// Runs `javaExe -version` hidden, at most 60 s, and reads the version from the first
// line of its standard error.
bool probeJavaVersion(const char* javaExe, uint64_t lastWrite, char* version, size_t versionSize);

// The cache entry under HKEY_CURRENT_USER, valid while the executable keeps its
// last-write time.
bool readVersionCache(const char* javaExe, uint64_t lastWrite, char* version, size_t versionSize);
void writeVersionCache(const char* javaExe, uint64_t lastWrite, const char* version);

// RegQueryValueExA of one value in the default view; `size` is the capacity in and the
// delivered byte count out.
bool readRegistryValue(HKEY root, const char* subkey, const char* valueName, void* buffer, DWORD* size);
// The same for text: terminated in `buffer`; a value that does not fit `size` bytes
// with its terminator is refused.
bool readRegistryText(HKEY root, const char* subkey, const char* valueName, char* buffer, size_t size);

// The command line of a probe: the short form of the path when there is one, else the
// path itself; quoted when it holds a blank so it is never split there.
bool makeProbeCommandLine(const char* javaExe, const char* shortPath, char* out, size_t size);
