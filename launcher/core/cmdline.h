// Splitting of command lines and configured option texts into words.
#pragma once
#include <string>
#include <vector>

using ArgumentVector = std::vector<std::wstring>;

// Appends the words of `line` to `arguments`. Double or single quotes group text,
// there is no escape character, and runs of spaces produce no empty words.
void splitCommandLine(const wchar_t* line, ArgumentVector& arguments);

// Cuts `command` (the text after "/", "-" or "--") down to the command word. A
// "non-interactive" word clears `interactive`; any other text after the word becomes
// the service name.
void parseCommandWords(char* command, char* serviceName, size_t size, bool& interactive);

// The process command line without the program name and the blanks after it.
const char* commandLineTail(const char* commandLine);
