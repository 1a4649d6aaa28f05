// Turns the Pack200 archives of a private Java runtime back into jar files before
// the runtime is first used, with the runtime's own bin\unpack200.exe.
#pragma once

void prepareJre(const char* javaHome);
void unpackDirectory(const char* javaHome, const char* subdirectory, bool& announced);
void unpackJar(const char* javaHome, const char* packPath);
