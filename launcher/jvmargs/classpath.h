// The "-Djava.class.path=" option: class path overrides of the VM options files,
// archives of the work directory, the installer's runtime jar and the configured
// entries of key 121 ("A"/"D" path, "E" environment variable, "S" scanned directory;
// flag "1" = required).
#pragma once
#include <string>
#include <vector>

#include "vmoptions.h"

// The finished option text, "-Djava.class.path=" followed by the entries.
std::string buildClassPath(const ClassPathOverrides& overrides);
// Splits at ";", drops empty pieces, resolves each against the executable's directory
// and joins them with ";" again. A piece whose path does not fit is dropped (logged).
std::string resolvePathList(const char* list);
// Appends the entries of key 121; a required entry that is missing ends the process
// with message 1006, a required "E" entry naming an undefined variable with 1008.
void addConfiguredClassPath(std::string& classPath);
// Appends <directory>\<name>; for every *.<extension> file in directory order.
// Returns whether the directory exists.
bool addArchives(std::string& classPath, const char* directory, const char* extension);
std::vector<std::string> listArchives(const char* directory, const char* extension);
// Installer flavor only: <application directory>\.zandorium\zdrruntime.jar.
void addRuntimeJar(std::string& classPath);
