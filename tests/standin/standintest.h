// Helpers for the stand-in runtime's own tests: the project's test utilities, and a
// process runner that can name the application, delay its input and time the run.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "testutil.h"

namespace standintest {

using tarvo::test::exists;
using tarvo::test::narrow;
using tarvo::test::readFile;
using tarvo::test::TempDir;
using tarvo::test::widen;
using tarvo::test::writeFile;
inline std::wstring quote(const std::wstring& arg) { return tarvo::test::quoteArgument(arg); }
// Folder of the running test executable; the driver lives beside it.
std::wstring selfDir();

struct RunOptions {
    std::wstring application;                   // lpApplicationName, when set
    std::map<std::wstring, std::wstring> env;   // added to (or replacing in) the inherited environment
    std::string input;                          // written to standard input, which is then closed
    DWORD inputDelayMs = 0;                     // wait before writing it
    DWORD timeoutMs = 60000;
};

struct RunResult {
    DWORD exitCode = 0;
    bool timedOut = false;
    DWORD elapsedMs = 0;
    std::string out;
    std::string err;
};

RunResult run(const std::wstring& commandLine, const RunOptions& options = {});

// Lines of a text with CR LF or LF line ends.
std::vector<std::string> lines(const std::string& text);

}  // namespace standintest
