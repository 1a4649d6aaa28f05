// JVMs that the registry knows: the JavaSoft keys under HKEY_LOCAL_MACHINE and the
// located-JVM keys under both roots, each source verified with checkJavaExe and the
// newer candidate taken. Path buffers hold textBufferSize bytes; `versionSize` is the
// capacity of the caller's version buffer.
#pragma once
#include <windows.h>

#include <cstddef>

#include "version.h"

extern const char javaSoftJdkKey[];
extern const char javaSoftJreKey[];
extern const char locatedJvmsKey[];

// The home named by the "CurrentVersion" values of the JDK and JRE keys.
bool findCurrentVersionJvm(char* javaExe, char* version, size_t versionSize, const VersionRange& range);
// The version subkeys of one JavaSoft key, tried from the byte-wise greatest name down.
bool findEnumeratedJvm(char* javaExe, char* version, size_t versionSize, const VersionRange& range,
                       const char* javaSoftKey);
bool findJavaSoftJvm(char* javaExe, char* version, size_t versionSize, const VersionRange& range);
// The newest verified located JVM under one root; without `everyQualifies` only paths
// containing "zdr_jres" count.
bool findLocatedJvm(HKEY root, char* javaExe, char* version, size_t versionSize, const VersionRange& range,
                    bool everyQualifies);
// Current user against local machine; equal versions go to the machine.
bool pickLocatedJvm(char* javaExe, char* version, size_t versionSize, const VersionRange& range, bool everyQualifies);
// Entry Y of the search sequence: JavaSoft against located; equal versions go to the located one.
bool findRegistryJvm(char* javaExe, char* version, size_t versionSize, const VersionRange& range);
