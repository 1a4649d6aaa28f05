// A driver runs as a packed executable: the entry reads its configuration block
// (initEnvironment), then the command named by the first argument runs with the rest.
// Each command prints its results on standard output, one "name=value" per line.
#pragma once
#include <map>
#include <string>
#include <vector>

using DriverArgs = std::vector<std::wstring>;
using DriverCommand = int (*)(const DriverArgs& args);

// Every driver source defines its table of commands.
extern const std::map<std::wstring, DriverCommand> driverCommands;

// Prints "name=value\n" with the value as UTF-8.
void printResult(const char* name, const std::wstring& value);
void printResult(const char* name, const std::string& value);
void printResult(const char* name, long long value);
std::string toUtf8(const std::wstring& text);
std::string toAnsi(const std::wstring& text);  // in the file-API code page
