// VM options files beside the executable and the option line, the unit in which
// configured options, "-J" arguments and file lines reach the JVM option list.
#pragma once
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cmdline.h"

// The JVM options in the order they reach the JVM. Options are only appended.
using JvmOptionList = std::vector<std::string>;

// Class path changes from "-classpath ", "-classpath/p " and "-classpath/a " lines;
// a later line of the same kind replaces the earlier value.
struct ClassPathOverrides {
    std::optional<std::string> replace;
    std::optional<std::string> append;
    std::optional<std::string> prepend;
};

// Lines are read into this many bytes; a longer line arrives as several lines.
constexpr size_t vmOptionsLineSize = 30000;
// Files nested deeper than this (the default file counting as the first) are not read.
constexpr size_t maxIncludeDepth = 32;

// The open default VM options file (svc.vmoptions, then svc.exe.vmoptions, from the
// long executable path and then from the module file name), or nullptr.
FILE* openDefaultVmOptions();
// Opens a file by its wide name for reading in text mode, shared for reading and writing.
FILE* openVmOptionsFile(const wchar_t* name);
// Applies every line of `file` and closes it. `baseFile` is its path (nullptr for the
// default file): relative include names resolve against its directory.
void readVmOptionsFile(FILE* file, const wchar_t* baseFile, JvmOptionList& options, ClassPathOverrides& overrides);
void applyOptionLine(const wchar_t* line, const wchar_t* baseFile, JvmOptionList& options,
                     ClassPathOverrides& overrides);
// Each word is a line; "-include-options" takes the following word as its file name.
void applyOptionWords(const ArgumentVector& words, JvmOptionList& options, ClassPathOverrides& overrides);
// Wide text to 8-bit in the file-API code page; unmappable characters become the
// system default character.
std::string toAnsiString(const wchar_t* text);
