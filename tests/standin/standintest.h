// Small helpers for the stand-in runtime's own tests: a temporary folder, files, and a
// process runner with pipes for the three standard streams.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace standintest {

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

bool exists(const std::wstring& path);
std::string readFile(const std::wstring& path);
bool writeFile(const std::wstring& path, const std::string& bytes);
std::wstring quote(const std::wstring& arg);
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
