// Windows-side helpers for tests that run real executables under Wine.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::test {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// The build's output folder (build/dist) as a Windows path.
std::wstring distDir();
std::wstring launcherPath();

// A fresh folder under the system temporary directory, removed with its contents.
class TempDir {
public:
    explicit TempDir(const wchar_t* prefix = L"tarvo");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

void removeTree(const std::wstring& path);
bool writeFile(const std::wstring& path, const std::string& bytes);
std::string readFile(const std::wstring& path);
bool exists(const std::wstring& path);

// A message box that a process showed, as a user would have seen it.
struct Dialog {
    std::wstring title;
    std::wstring text;
};

struct ProcessOptions {
    std::wstring cwd;
    // Changes to the inherited environment: an empty value removes the variable.
    std::map<std::wstring, std::wstring> env;
    DWORD timeoutMs = 60000;
    std::string stdinText;
    // Message boxes of the process are read and answered with OK.
    bool answerDialogs = true;
};

struct ProcessResult {
    DWORD exitCode = 0;
    bool timedOut = false;
    std::string out;
    std::string err;
    std::vector<Dialog> dialogs;
};

// The inherited environment with `changes` applied (an empty value removes a variable),
// as CreateProcessW takes it with CREATE_UNICODE_ENVIRONMENT.
std::vector<wchar_t> environmentBlock(const std::map<std::wstring, std::wstring>& changes);

ProcessResult runProcess(const std::wstring& commandLine, const ProcessOptions& options = {});
std::wstring quoteArgument(const std::wstring& argument);

// Text helpers for reading output and logs.
bool contains(const std::string& text, const std::string& part);
std::string lowerAscii(std::string text);  // A to Z only, as the launcher lower-cases paths
// The lines of an LF-separated text, without their ends; a last line needs no LF.
std::vector<std::string> splitLines(const std::string& text);

}  // namespace tarvo::test
