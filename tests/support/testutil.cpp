#include "testutil.h"

#include <atomic>
#include <cstdio>
#include <thread>

namespace tarvo::test {

std::wstring widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(std::wstring_view wide) {
    if (wide.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring distDir() {
    std::wstring path = L"Z:" + widen(TARVO_DIST_DIR_UNIX);
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::wstring launcherPath() { return distDir() + L"\\tarvo-launcher.exe"; }

TempDir::TempDir(const wchar_t* prefix) {
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, base);
    static std::atomic<unsigned> counter{0};
    for (;;) {
        path_ = std::wstring(base) + prefix + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(counter++);
        if (CreateDirectoryW(path_.c_str(), nullptr)) break;
    }
}

TempDir::~TempDir() { removeTree(path_); }

void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

bool writeFile(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(h);
    return ok;
}

std::string readFile(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string out;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
    CloseHandle(h);
    return out;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring quoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    // Backslashes count only before a quote: doubled there, and one more escapes the quote.
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

std::vector<wchar_t> environmentBlock(const std::map<std::wstring, std::wstring>& changes) {
    // Windows keeps the block sorted case-insensitively; names compare that way too.
    struct Less {
        bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
    };
    std::map<std::wstring, std::wstring, Less> vars;
    std::vector<std::wstring> hidden;  // entries like "=C:=C:\" that have no name
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* e = block; *e; e += wcslen(e) + 1) {
        std::wstring entry = e;
        size_t eq = entry.find(L'=', 1);
        if (entry[0] == L'=' || eq == std::wstring::npos) {
            hidden.push_back(entry);
            continue;
        }
        vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : changes) {
        if (value.empty())
            vars.erase(name);
        else
            vars[name] = value;
    }
    std::vector<wchar_t> out;
    for (const auto& entry : hidden) out.insert(out.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    for (const auto& [name, value] : vars) {
        std::wstring entry = name + L"=" + value;
        out.insert(out.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    }
    out.push_back(0);
    return out;
}

namespace {

std::wstring windowText(HWND window) {
    wchar_t buffer[8192];
    int n = GetWindowTextW(window, buffer, 8192);
    return std::wstring(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

BOOL CALLBACK collectStatic(HWND child, LPARAM param) {
    wchar_t cls[64];
    GetClassNameW(child, cls, 64);
    if (_wcsicmp(cls, L"Static") == 0) {
        std::wstring text = windowText(child);
        auto* best = reinterpret_cast<std::wstring*>(param);
        if (text.size() > best->size()) *best = text;
    }
    return TRUE;
}

struct DialogSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK findDialogs(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t cls[64];
    GetClassNameW(window, cls, 64);
    if (pid == search->pid && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(window)) search->found.push_back(window);
    return TRUE;
}

// Reads every message box of the process and presses OK, until told to stop.
void answerDialogs(DWORD pid, std::atomic<bool>& stop, std::vector<Dialog>& dialogs) {
    std::vector<HWND> answered;
    while (!stop) {
        DialogSearch search{pid, {}};
        EnumWindows(findDialogs, reinterpret_cast<LPARAM>(&search));
        for (HWND window : search.found) {
            bool seen = false;
            for (HWND a : answered) seen = seen || a == window;
            if (seen) continue;
            Dialog dialog;
            dialog.title = windowText(window);
            EnumChildWindows(window, collectStatic, reinterpret_cast<LPARAM>(&dialog.text));
            dialogs.push_back(dialog);
            answered.push_back(window);
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
        Sleep(50);
    }
}

// Reads what the pipe holds now, without waiting: a background process that inherited
// the pipe could keep it open long after the child has ended.
void pump(HANDLE pipe, std::string& out) {
    char buffer[4096];
    DWORD available = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr) || got == 0)
            return;
        out.append(buffer, got);
    }
}

}  // namespace

ProcessResult runProcess(const std::wstring& commandLine, const ProcessOptions& options) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite, inRead, inWrite;
    CreatePipe(&outRead, &outWrite, &inherit, 0);
    CreatePipe(&errRead, &errWrite, &inherit, 0);
    CreatePipe(&inRead, &inWrite, &inherit, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> env = environmentBlock(options.env);
    std::wstring line = commandLine;
    // A just-written executable can still be held for a moment (the loader under Wine
    // maps it through the server); such a start is retried, and said so, before it
    // counts as a failure.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        if (attempt > 0) Sleep(200);
        started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, env.data(),
                                 options.cwd.empty() ? nullptr : options.cwd.c_str(), &startup, &process);
        DWORD error = started ? 0 : GetLastError();
        if (!started) std::fprintf(stderr, "runProcess: CreateProcessW failed with error %lu\n", error);
        if (!started && error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) break;
    }
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    CloseHandle(inRead);
    if (!started) {
        result.exitCode = static_cast<DWORD>(-1);
        result.err = "CreateProcessW failed: " + std::to_string(GetLastError());
        CloseHandle(outRead);
        CloseHandle(errRead);
        CloseHandle(inWrite);
        return result;
    }
    std::atomic<bool> stop{false};
    std::thread dialogThread;
    if (options.answerDialogs)
        dialogThread = std::thread(answerDialogs, process.dwProcessId, std::ref(stop), std::ref(result.dialogs));
    if (!options.stdinText.empty()) {
        DWORD written = 0;
        WriteFile(inWrite, options.stdinText.data(), static_cast<DWORD>(options.stdinText.size()), &written, nullptr);
    }
    CloseHandle(inWrite);

    DWORD begin = GetTickCount();
    for (;;) {
        pump(outRead, result.out);
        pump(errRead, result.err);
        if (WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0) break;
        if (GetTickCount() - begin > options.timeoutMs) {
            result.timedOut = true;
            TerminateProcess(process.hProcess, 259);
            WaitForSingleObject(process.hProcess, INFINITE);
            break;
        }
    }
    pump(outRead, result.out);
    pump(errRead, result.err);
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    stop = true;
    if (dialogThread.joinable()) dialogThread.join();
    CloseHandle(outRead);
    CloseHandle(errRead);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return result;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace tarvo::test
