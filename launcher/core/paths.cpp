#include "paths.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "log.h"
#include "messages.h"

char workDir[textBufferSize];

namespace {

char exePath[textBufferSize];
wchar_t exePathW[textBufferSize];
bool exePathDone = false;

char exeDir8[textBufferSize];
wchar_t exeDirWide8[textBufferSize];
wchar_t exeDirWide[textBufferSize];
bool exeDirsDone = false;

char tempDirCache[textBufferSize];
wchar_t tempDirCacheW[textBufferSize];

bool endsWithExe(const char* path) {
    size_t n = std::strlen(path);
    return n >= 4 && _stricmp(path + n - 4, ".exe") == 0;
}

// Cuts a path after its last backslash, keeping the backslash.
template <typename C>
void cutAfterLastBackslash(C* path) {
    C* last = nullptr;
    for (C* p = path; *p; ++p)
        if (*p == '\\') last = p;
    if (last) last[1] = 0;
}

// Shared rules of isRelativePath for both widths.
template <typename C>
bool isRelative(const C* path) {
    const C* p = path;
    size_t minimum = 3;
    if (*p == '"') {
        ++p;
        minimum = 4;
    }
    if (textLength(path) < minimum) return true;
    if (p[0] != 0 && p[1] == ':' && p[2] == '\\') return false;
    if (p[0] == '\\' && p[1] == '\\') return false;
    return true;
}

template <typename C>
bool isDriveRoot(const C* path) {
    if (textLength(path) < 2) return false;
    const C* rest = path + 1;
    static const char* roots[] = {":\\", ":\\.", ":\\.\\."};
    for (const char* root : roots) {
        size_t i = 0;
        while (root[i] && rest[i] == static_cast<C>(root[i])) ++i;
        if (root[i] == 0 && rest[i] == 0) return true;
    }
    return false;
}

uint64_t fileTimeValue(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

unsigned nextRandom() {
    srand(static_cast<unsigned>(GetCurrentProcessId() * static_cast<unsigned>(time(nullptr))));
    return static_cast<unsigned>(rand());
}

}  // namespace

unsigned fileApiCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

bool toAnsiPath(const wchar_t* src, char* dst, size_t size, bool* lossy) {
    BOOL usedDefault = FALSE;
    unsigned cp = fileApiCodePage();
    bool utf8 = GetACP() == CP_UTF8 && cp == CP_ACP;
    int n = WideCharToMultiByte(cp, 0, src, -1, dst, static_cast<int>(size), utf8 ? nullptr : "?",
                                utf8 ? nullptr : &usedDefault);
    if (lossy) *lossy = usedDefault != FALSE;
    if (n <= 0) {
        if (size) dst[0] = 0;
        return false;
    }
    return true;
}

bool fromAnsiPath(const char* src, wchar_t* dst, size_t size) {
    int n = MultiByteToWideChar(fileApiCodePage(), 0, src, -1, dst, static_cast<int>(size));
    if (n <= 0) {
        if (size) dst[0] = 0;
        return false;
    }
    return true;
}

const char* getExePath() {
    if (exePathDone) return exePath;
    wchar_t module[textBufferSize];
    DWORD n = GetModuleFileNameW(nullptr, module, textBufferSize);
    module[n < textBufferSize ? n : textBufferSize - 1] = 0;
    DWORD longLength = GetLongPathNameW(module, exePathW, textBufferSize);
    logMessage(L"init file name %s %s %d %d", module, longLength ? exePathW : L"", static_cast<int>(longLength),
               static_cast<int>(GetLastError()));
    if (longLength == 0 || longLength >= textBufferSize) copyTextW(exePathW, textBufferSize, module);

    bool lossy = true;
    bool ok = toAnsiPath(exePathW, exePath, textBufferSize, &lossy) && !lossy && endsWithExe(exePath);
    if (!ok) {
        wchar_t shortPath[textBufferSize];
        DWORD s = GetShortPathNameW(exePathW, shortPath, textBufferSize);
        ok = s > 0 && s < textBufferSize && toAnsiPath(shortPath, exePath, textBufferSize, &lossy) && !lossy &&
             endsWithExe(exePath);
    }
    if (!ok) {
        char module8[textBufferSize];
        DWORD m = GetModuleFileNameA(nullptr, module8, textBufferSize);
        module8[m < textBufferSize ? m : textBufferSize - 1] = 0;
        DWORD s = GetShortPathNameA(module8, exePath, textBufferSize);
        if (s == 0 || s >= textBufferSize) copyText(exePath, textBufferSize, module8);
    }
    collapseBackslashes(exePathW);
    normalizePath(exePath);
    exePathDone = true;
    return exePath;
}

const wchar_t* getExePathW() {
    getExePath();
    return exePathW;
}

void getExeDirectories() {
    if (exeDirsDone) return;
    if (GetFullPathNameA(getExePath(), textBufferSize, exeDir8, nullptr) >= textBufferSize) exeDir8[0] = 0;
    cutAfterLastBackslash(exeDir8);
    widenBytes(exeDirWide8, textBufferSize, exeDir8);
    if (GetFullPathNameW(getExePathW(), textBufferSize, exeDirWide, nullptr) >= textBufferSize) exeDirWide[0] = 0;
    cutAfterLastBackslash(exeDirWide);
    exeDirsDone = true;
}

const char* exeDir() {
    getExeDirectories();
    return exeDir8;
}

const wchar_t* exeDirWidened() {
    getExeDirectories();
    return exeDirWide8;
}

const wchar_t* exeDirW() {
    getExeDirectories();
    return exeDirWide;
}

bool probeFile(const char* path, uint64_t* lastWrite) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(path, &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    if (lastWrite) *lastWrite = fileTimeValue(data.ftLastWriteTime);
    return true;
}

bool probeFileW(const wchar_t* path, uint64_t* lastWrite) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(path, &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    if (lastWrite) *lastWrite = fileTimeValue(data.ftLastWriteTime);
    return true;
}

bool fileExists(const char* path) { return isDriveRoot(path) || probeFile(path, nullptr); }
bool fileExistsW(const wchar_t* path) { return isDriveRoot(path) || probeFileW(path, nullptr); }
bool isRelativePath(const char* path) { return isRelative(path); }
bool isRelativePathW(const wchar_t* path) { return isRelative(path); }

void collapseBackslashes(wchar_t* path) {
    if (!path[0]) return;
    wchar_t* out = path + 1;
    for (const wchar_t* in = path + 1; *in; ++in) {
        if (*in == L'\\' && out[-1] == L'\\' && out - 1 != path) continue;
        *out++ = *in;
    }
    *out = 0;
}

namespace {

// Applies a wide-text transformation to an 8-bit path; lossy round trips leave it as it was.
template <typename F>
void transformAnsiPath(char* path, F transform) {
    wchar_t wide[textBufferSize];
    if (!fromAnsiPath(path, wide, textBufferSize)) return;
    transform(wide);
    char back[textBufferSize];
    bool lossy = true;
    if (toAnsiPath(wide, back, textBufferSize, &lossy) && !lossy) copyText(path, textBufferSize, back);
}

void lowerAsciiW(wchar_t* s) {
    for (; *s; ++s)
        if (*s >= L'A' && *s <= L'Z') *s = static_cast<wchar_t>(*s - L'A' + L'a');
}

}  // namespace

void normalizePath(char* path) { transformAnsiPath(path, collapseBackslashes); }
void lowerCasePath(char* path) { transformAnsiPath(path, lowerAsciiW); }

bool resolvePath(char* out, const char* path, const char* baseFile) {
    char result[textBufferSize];
    bool fits;
    if (isRelativePath(path)) {
        if (baseFile) {
            fits = GetFullPathNameA(baseFile, textBufferSize, result, nullptr) < textBufferSize;
            cutAfterLastBackslash(result);
        } else {
            fits = copyText(result, textBufferSize, exeDir());
        }
        fits = fits && appendText(result, textBufferSize, path);
    } else {
        fits = copyText(result, textBufferSize, path);
    }
    if (!fits) {
        logError(L"path too long: %S", path);
        out[0] = 0;
        return false;
    }
    normalizePath(result);
    copyText(out, textBufferSize, result);
    return true;
}

bool resolvePathW(wchar_t* out, const wchar_t* path, bool narrowForm, const wchar_t* baseFile) {
    wchar_t result[textBufferSize];
    bool fits;
    if (isRelativePathW(path)) {
        if (baseFile) {
            fits = GetFullPathNameW(baseFile, textBufferSize, result, nullptr) < textBufferSize;
            cutAfterLastBackslash(result);
        } else {
            fits = copyTextW(result, textBufferSize, narrowForm ? exeDirWidened() : exeDirW());
        }
        fits = fits && appendTextW(result, textBufferSize, path);
    } else {
        fits = copyTextW(result, textBufferSize, path);
    }
    if (!fits) {
        logError(L"path too long: %s", path);
        out[0] = 0;
        return false;
    }
    collapseBackslashes(result);
    copyTextW(out, textBufferSize, result);
    return true;
}

bool getFullPath(char* out, const char* path, bool keepCase) {
    char resolved[textBufferSize];
    if (!resolvePath(resolved, path, nullptr)) {
        out[0] = 0;
        return false;
    }
    DWORD n = GetFullPathNameA(resolved, textBufferSize, out, nullptr);
    if (n == 0 || n >= textBufferSize) copyText(out, textBufferSize, resolved);
    if (!keepCase) lowerCasePath(out);
    normalizePath(out);
    return true;
}

bool getFullPathW(wchar_t* out, const wchar_t* path, bool narrowForm, bool keepCase) {
    wchar_t resolved[textBufferSize];
    if (!resolvePathW(resolved, path, narrowForm, nullptr)) {
        out[0] = 0;
        return false;
    }
    DWORD n = GetFullPathNameW(resolved, textBufferSize, out, nullptr);
    if (n == 0 || n >= textBufferSize) copyTextW(out, textBufferSize, resolved);
    if (!keepCase) lowerAsciiW(out);
    collapseBackslashes(out);
    return true;
}

// ---- temporary directory search ----

namespace {

// Width-specific system calls behind one name, so that the search is written once.
DWORD tempPath(char* out) { return GetTempPathA(textBufferSize, out); }
DWORD tempPath(wchar_t* out) { return GetTempPathW(textBufferSize, out); }
DWORD windowsDir(char* out) { return GetWindowsDirectoryA(out, textBufferSize); }
DWORD windowsDir(wchar_t* out) { return GetWindowsDirectoryW(out, textBufferSize); }
DWORD environment(const char* name, char* out) { return GetEnvironmentVariableA(name, out, textBufferSize); }
DWORD environment(const char* name, wchar_t* out) {
    wchar_t wideName[64];
    widenBytes(wideName, 64, name);
    return GetEnvironmentVariableW(wideName, out, textBufferSize);
}
bool append(char* dst, const char* s) { return appendText(dst, textBufferSize, s); }
bool append(wchar_t* dst, const char* s) {
    wchar_t wide[64];
    widenBytes(wide, 64, s);
    return appendTextW(dst, textBufferSize, wide);
}
bool copy(char* dst, const char* s) { return copyText(dst, textBufferSize, s); }
bool copy(wchar_t* dst, const char* s) {
    wchar_t wide[64];
    widenBytes(wide, 64, s);
    return copyTextW(dst, textBufferSize, wide);
}
bool tryDir(const char* c, bool create, bool rejectLossy) { return tryTempDir(c, create, rejectLossy); }
bool tryDir(const wchar_t* c, bool create, bool rejectLossy) { return tryTempDirW(c, create, rejectLossy); }

bool fits(DWORD n) { return n > 0 && n < textBufferSize; }

// One candidate of the fixed chain; an empty candidate means "skip".
template <typename C>
void candidate(int step, C* out) {
    out[0] = 0;
    C value[textBufferSize];
    switch (step) {
    case 1:
    case 9:
        if (!fits(tempPath(out))) out[0] = 0;
        break;
    case 2:
    case 10:
        if (fits(environment("USERPROFILE", out)) && append(out, "\\AppData\\Local\\Temp")) break;
        out[0] = 0;
        break;
    case 3:
    case 11:
        if (fits(environment("HOMEDRIVE", out)) && fits(environment("HOMEPATH", value))) {
            size_t used = textLength(out);
            size_t i = 0;
            for (; value[i] && used + i + 1 < textBufferSize; ++i) out[used + i] = value[i];
            out[used + i] = 0;
            if (value[i] == 0) break;
        }
        out[0] = 0;
        break;
    case 4:
        if (fits(windowsDir(out)) && append(out, "\\temp")) break;
        out[0] = 0;
        break;
    case 5:
        copy(out, "c:\\temp");
        break;
    case 6:
    case 8:
        copy(out, "c:\\tmp");
        break;
    case 7:
        if (!fits(windowsDir(out))) out[0] = 0;
        break;
    }
}

template <typename C>
bool findTempDirIn(C* out) {
    static const struct {
        bool createFirst;
        bool rejectLossy;
    } rules[] = {{true, true},   {false, true},  {false, true},  {false, false}, {false, false}, {false, false},
                 {false, false}, {true, false},  {true, false},  {false, false}, {false, false}};
    for (int step = 1; step <= 11; ++step) {
        candidate(step, out);
        if (out[0] && tryDir(out, rules[step - 1].createFirst, rules[step - 1].rejectLossy)) return true;
    }
    out[0] = 0;
    return false;
}

}  // namespace

bool tryTempDir(const char* candidate, bool createFirst, bool rejectLossy) {
    if (!candidate[0]) return false;
    if (createFirst) CreateDirectoryA(candidate, nullptr);
    if (rejectLossy) {
        char longName[textBufferSize];
        DWORD n = GetLongPathNameA(candidate, longName, textBufferSize);
        if (n > 0 && n < textBufferSize && std::strchr(longName, '?')) return false;
    }
    return probeTempDir(candidate);
}

bool tryTempDirW(const wchar_t* candidate, bool createFirst, bool rejectLossy) {
    if (!candidate[0]) return false;
    if (createFirst) CreateDirectoryW(candidate, nullptr);
    if (rejectLossy) {
        wchar_t longName[textBufferSize];
        DWORD n = GetLongPathNameW(candidate, longName, textBufferSize);
        if (n > 0 && n < textBufferSize && std::wcschr(longName, L'?')) return false;
    }
    return probeTempDirW(candidate);
}

bool probeTempDir(const char* dir) {
    char test[textBufferSize];
    unsigned r = nextRandom();
    if (!formatText(test, textBufferSize, "%s\\trvtw%d%d", dir, static_cast<int>(GetCurrentProcessId()), r))
        return false;
    RemoveDirectoryA(test);
    if (!CreateDirectoryA(test, nullptr)) return false;
    bool usable = fileExists(test);
    RemoveDirectoryA(test);
    return usable;
}

bool probeTempDirW(const wchar_t* dir) {
    wchar_t test[textBufferSize];
    unsigned r = nextRandom();
    if (!formatTextW(test, textBufferSize, L"%s\\trvtw%d%d", dir, static_cast<int>(GetCurrentProcessId()), r))
        return false;
    RemoveDirectoryW(test);
    if (!CreateDirectoryW(test, nullptr)) return false;
    bool usable = fileExistsW(test);
    RemoveDirectoryW(test);
    return usable;
}

void getTempDir(char* out) {
    if (!tempDirCache[0] && !findTempDirIn(tempDirCache)) fatalMessageW(1015, nullptr);
    copyText(out, textBufferSize, tempDirCache);
}

void getTempDirW(wchar_t* out, bool failIfNone) {
    if (!tempDirCacheW[0] && !findTempDirIn(tempDirCacheW) && failIfNone) fatalMessageW(1015, nullptr);
    copyTextW(out, textBufferSize, tempDirCacheW);
}

void makeTempFileName(char* out) {
    char dir[textBufferSize];
    getTempDir(dir);
    logMessage(L"tempPath is %S", dir);
    char name[MAX_PATH + 1];
    if (GetTempFileNameA(dir, "trv", 0, name) != 0) {
        copyText(out, textBufferSize, name);
    } else {
        logMessage(L"GetTempFileName failed (last error %d)", static_cast<int>(GetLastError()));
        size_t n = std::strlen(dir);
        if (n && dir[n - 1] != '\\' && dir[n - 1] != '/') appendText(dir, textBufferSize, "\\");
        formatText(out, textBufferSize, "%strv%d", dir, static_cast<int>(nextRandom()));
    }
    logMessage(L"tempFile is %S", out);
}

void createWorkDir() {
    for (int attempt = 0; attempt < 10; ++attempt) {
        char tempFile[textBufferSize];
        makeTempFileName(tempFile);
        bool fitted = formatText(workDir, textBufferSize, "%s_dir%d", tempFile, static_cast<int>(time(nullptr)));
        logMessage(L"Temp dir3: %S", workDir);
        if (fitted && CreateDirectoryA(workDir, nullptr)) return;
        logMessage(L"Could not create dir (%d)", static_cast<int>(GetLastError()));
    }
    workDir[0] = 0;
    fatalMessageW(1009, L"7");
}
