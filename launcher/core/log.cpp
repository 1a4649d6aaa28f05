#include "log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "paths.h"
#include "textbuf.h"

namespace {

struct LogState {
    CRITICAL_SECTION lock;
    bool initialised = false;
    bool hasPath = false;
    wchar_t path[textBufferSize] = {};
    FILE* stream = nullptr;
    LogState() { InitializeCriticalSection(&lock); }
};

LogState& state() {
    static LogState s;
    return s;
}

bool variableSaysYes(const char* name) {
    char value[textBufferSize];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value && std::strcmp(value, "yes") == 0;
}

void openFirstFile(LogState& s) {
    if (!variableSaysYes("TARVO_LOG") && !variableSaysYes("ZANDORIUM_LOG")) return;

    wchar_t dir[textBufferSize];
    getTempDirW(dir, false);
    if (dir[0] == 0) {
        copyTextW(dir, textBufferSize, L"c:\\");
    } else {
        size_t len = wcslen(dir);
        if (dir[len - 1] != L'\\' && dir[len - 1] != L'/') appendTextW(dir, textBufferSize, L"\\");
    }
    for (int n = 1;; ++n) {
        formatTextW(s.path, textBufferSize, L"%szdr_nlog_%d.log", dir, n);
        if (n >= 1000 || !fileExistsW(s.path)) break;
    }
    s.hasPath = true;
    s.stream = _wfopen(s.path, L"w,ccs=UTF-8");
    if (!s.stream) {
        copyTextW(s.path, textBufferSize, L"c:\\zdr_nlog");
        s.stream = _wfopen(s.path, L"w,ccs=UTF-8");
    }
    if (s.stream) {
        wchar_t exe[textBufferSize];
        DWORD n = GetModuleFileNameW(nullptr, exe, textBufferSize);
        exe[n < textBufferSize ? n : textBufferSize - 1] = 0;
        time_t now = time(nullptr);
        const char* when = ctime(&now);
        std::wstring header = std::wstring(L"Started executable ") + exe + L" at ";
        for (const char* p = when ? when : "\n"; *p; ++p) header += static_cast<wchar_t>(static_cast<unsigned char>(*p));
        header += L"\n";
        fputws(header.c_str(), s.stream);
        fflush(s.stream);
    }
}

void writeLine(bool isError, const wchar_t* format, va_list args) {
    LogState& s = state();
    EnterCriticalSection(&s.lock);
    if (s.hasPath && !s.stream) s.stream = _wfopen(s.path, L"a,ccs=UTF-8");
    if (!s.initialised) {
        s.initialised = true;
        openFirstFile(s);
    }
    if (s.stream) {
        va_list copy;
        va_copy(copy, args);
        int length = _vscwprintf(format, copy);
        va_end(copy);
        if (length >= 0) {
            std::wstring line(static_cast<size_t>(length) + 1, L'\0');
            _vsnwprintf(line.data(), line.size(), format, args);
            line.resize(static_cast<size_t>(length));
            if (isError) fputws(L"ERROR: ", s.stream);
            fputws(line.c_str(), s.stream);
            fputws(L"\n", s.stream);
        }
        fclose(s.stream);
        s.stream = nullptr;
    }
    LeaveCriticalSection(&s.lock);
}

}  // namespace

void logMessage(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(false, format, args);
    va_end(args);
}

void logError(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(true, format, args);
    va_end(args);
}

const wchar_t* logFilePath() {
    LogState& s = state();
    return s.hasPath ? s.path : nullptr;
}
