#include "javaexe.h"

#include <cstdio>
#include <cstring>

#include "config.h"
#include "log.h"
#include "paths.h"
#include "textbuf.h"

namespace {

const char cacheKeyPrefix[] = "SOFTWARE\\korvel-software\\tarvo\\jvms\\";
const DWORD probeTimeoutMs = 60000;
// After TerminateProcess, so that the child no longer holds the output file we delete.
const DWORD terminationWaitMs = 5000;
// A probe reads the first line with this limit: at most 99 characters.
const int firstLineSize = 100;
const size_t cacheKeySize = textBufferSize + sizeof cacheKeyPrefix;

// The cache key of an executable: the prefix and the path with forward slashes.
bool cacheKeyName(const char* javaExe, char* out, size_t size) {
    if (!formatText(out, size, "%s%s", cacheKeyPrefix, javaExe)) {
        logMessage(L"version cache key for %S does not fit", javaExe);
        return false;
    }
    for (char* p = out + sizeof cacheKeyPrefix - 1; *p; ++p)
        if (*p == '\\') *p = '/';
    return true;
}

// The FILETIME's raw bytes, low 32 bits first, as the cache stores them.
void fileTimeBytes(uint64_t lastWrite, unsigned char bytes[8]) {
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(lastWrite >> (8 * i));
}

bool isUntrustedVersion(const char* text) {
    return std::strcmp(text, "1.7.") == 0 || std::strcmp(text, "1.6.") == 0 || std::strcmp(text, "1.5.") == 0;
}

// The version inside the first line of `java -version`, up to its closing quote.
bool parseVersionLine(const char* line, char* version, size_t versionSize) {
    static const char javaPrefix[] = "java version \"";
    static const char openjdkPrefix[] = "openjdk version \"";
    const char* start;
    if (std::strncmp(line, javaPrefix, sizeof javaPrefix - 1) == 0)
        start = line + sizeof javaPrefix - 1;
    else if (std::strncmp(line, openjdkPrefix, sizeof openjdkPrefix - 1) == 0)
        start = line + sizeof openjdkPrefix - 1;
    else {
        logMessage(L"not a version line: %S", line);
        return false;
    }
    // A line without its closing quote may have been cut at the read limit: its
    // version cannot be trusted to be whole.
    const char* end = std::strchr(start, '"');
    if (!end) {
        logMessage(L"version line without closing quote: %S", line);
        return false;
    }
    size_t length = static_cast<size_t>(end - start);
    if (length >= versionSize) {
        logMessage(L"version of %d characters does not fit", static_cast<int>(length));
        return false;
    }
    std::memcpy(version, start, length);
    version[length] = 0;
    return true;
}

}  // namespace

bool findJavaExe(const char* home, char* javaExe) {
    if (!formatText(javaExe, textBufferSize, "%s\\jre\\bin\\java.exe", home)) {
        logMessage(L"java home too long: %S", home);
        javaExe[0] = 0;
        return false;
    }
    if (getConfigInt(RequireJdk) != 0) {
        char toolsJar[textBufferSize];
        return formatText(toolsJar, sizeof toolsJar, "%s\\lib\\tools.jar", home) && fileExists(toolsJar);
    }
    // Fits: it is shorter than the path above.
    if (!fileExists(javaExe)) formatText(javaExe, textBufferSize, "%s\\bin\\java.exe", home);
    return true;
}

bool checkJavaExe(char* javaExe, char* version, size_t versionSize, const VersionRange& range, bool allowPreRelease) {
    logMessage(L"checkJavaExe (%S, [out], %d, %d, %d)", javaExe, static_cast<int>(range.minimum.size()),
               static_cast<int>(range.maximum.size()), allowPreRelease ? 1 : 0);
    char full[textBufferSize];
    getFullPath(full, javaExe, false);
    copyText(javaExe, textBufferSize, full);

    bool result = false;
    uint64_t lastWrite = 0;
    if (!probeFile(javaExe, &lastWrite)) {
        logMessage(L"file doesn't exist");
    } else {
        logMessage(L"file exists");
        version[0] = 0;
        if (readVersionCache(javaExe, lastWrite, version, versionSize) && std::strcmp(version, "1.0.0") != 0) {
            logMessage(L"got version from registry %S", version);
            result = checkVersion(version, range, allowPreRelease);
        } else if (probeJavaVersion(javaExe, lastWrite, version, versionSize)) {
            logMessage(L"got version from execution %S", version);
            writeVersionCache(javaExe, lastWrite, version);
            result = checkVersion(version, range, allowPreRelease);
        } else {
            version[0] = 0;
            logMessage(L"couldn't get version");
        }
    }

    if (result && getConfigInt(LauncherType) == 1) {
        size_t length = std::strlen(javaExe);
        if (length < 4 || length + 1 >= textBufferSize) {
            logMessage(L"no room for the javaw name of %S", javaExe);
            result = false;
        } else {
            javaExe[length - 4] = 0;
            appendText(javaExe, textBufferSize, "w.exe");
            result = fileExists(javaExe);
        }
    }
    logMessage(L"checkJavaExe returning %d", result ? 1 : 0);
    return result;
}

bool makeProbeCommandLine(const char* javaExe, const char* shortPath, char* out, size_t size) {
    const char* program = shortPath && shortPath[0] ? shortPath : javaExe;
    const char* format = std::strchr(program, ' ') ? "\"%s\" -version" : "%s -version";
    return formatText(out, size, format, program);
}

bool probeJavaVersion(const char* javaExe, uint64_t lastWrite, char* version, size_t versionSize) {
    version[0] = 0;
    char shortPath[textBufferSize];
    DWORD shortLength = GetShortPathNameA(javaExe, shortPath, textBufferSize);
    if (shortLength == 0 || shortLength >= textBufferSize) {
        logMessage(L"no short path for %S (error %d), using it as it is", javaExe, static_cast<int>(GetLastError()));
        shortPath[0] = 0;
    }
    char commandLine[textBufferSize + 16];
    if (!makeProbeCommandLine(javaExe, shortPath, commandLine, sizeof commandLine)) {
        logMessage(L"command line for %S does not fit", javaExe);
        return false;
    }

    char tempFile[textBufferSize];
    makeTempFileName(tempFile);
    HANDLE output = nullptr;
    HANDLE file = CreateFileA(tempFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        if (!DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(), &output, 0, TRUE, DUPLICATE_SAME_ACCESS))
            output = nullptr;
        CloseHandle(file);
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, &process)) {
        logMessage(L"Could not create process %S > %S (error %d)", commandLine, tempFile,
                   static_cast<int>(GetLastError()));
        if (output) CloseHandle(output);
        DeleteFileA(tempFile);
        return false;
    }

    WaitForSingleObject(process.hProcess, probeTimeoutMs);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    logMessage(L"Exit Code %d", static_cast<int>(exitCode));
    if (exitCode == STILL_ACTIVE) {
        logMessage(L"Terminating process");
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, terminationWaitMs);
    } else if (exitCode != 0) {
        writeVersionCache(javaExe, lastWrite, "1.0.0");
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (output) CloseHandle(output);
    if (exitCode != 0) {
        DeleteFileA(tempFile);
        return false;
    }

    bool found = false;
    if (FILE* in = std::fopen(tempFile, "r")) {
        char line[firstLineSize];
        if (std::fgets(line, sizeof line, in)) found = parseVersionLine(line, version, versionSize);
        std::fclose(in);
    }
    DeleteFileA(tempFile);
    if (!found) {
        version[0] = 0;
        return false;
    }
    logMessage(L"Java version: %S", version);
    return true;
}

bool readVersionCache(const char* javaExe, uint64_t lastWrite, char* version, size_t versionSize) {
    char keyName[cacheKeySize];
    if (!cacheKeyName(javaExe, keyName, sizeof keyName)) return false;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;

    bool result = false;
    unsigned char expected[8];
    fileTimeBytes(lastWrite, expected);
    unsigned char stored[8];
    DWORD size = sizeof stored;
    char text[textBufferSize];
    DWORD textSize = sizeof text;
    if (RegQueryValueExA(key, "LastWriteTime", nullptr, nullptr, stored, &size) != ERROR_SUCCESS ||
        size != sizeof stored || std::memcmp(stored, expected, sizeof stored) != 0) {
        // A different or foreign time stamp: the executable changed since it was probed.
    } else if (RegQueryValueExA(key, "Version", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &textSize) !=
               ERROR_SUCCESS) {
    } else if (textSize == sizeof text && text[textSize - 1] != 0) {
        logMessage(L"cached version of %S fills %d bytes unterminated, ignored", javaExe, static_cast<int>(textSize));
    } else {
        if (textSize == 0 || text[textSize - 1] != 0) text[textSize] = 0;
        size_t length = std::strlen(text);
        if (length >= versionSize) {
            // Cutting it could change what the range test sees; a probe gives a short one.
            logMessage(L"cached version of %S too long (%d bytes), ignored", javaExe, static_cast<int>(length));
        } else if (!isUntrustedVersion(text)) {
            std::memcpy(version, text, length + 1);
            result = true;
        }
    }
    RegCloseKey(key);
    return result;
}

void writeVersionCache(const char* javaExe, uint64_t lastWrite, const char* version) {
    char keyName[cacheKeySize];
    if (!cacheKeyName(javaExe, keyName, sizeof keyName)) return;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    unsigned char stamp[8];
    fileTimeBytes(lastWrite, stamp);
    RegSetValueExA(key, "LastWriteTime", 0, REG_BINARY, stamp, sizeof stamp);
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   static_cast<DWORD>(std::strlen(version)));
    RegCloseKey(key);
}

bool readRegistryValue(HKEY root, const char* subkey, const char* valueName, void* buffer, DWORD* size) {
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD capacity = *size;
    LONG status = RegQueryValueExA(key, valueName, nullptr, nullptr, static_cast<BYTE*>(buffer), size);
    RegCloseKey(key);
    if (status == ERROR_MORE_DATA)
        logMessage(L"value %S of %S is larger than %d bytes, ignored", valueName, subkey, static_cast<int>(capacity));
    return status == ERROR_SUCCESS;
}

bool readRegistryText(HKEY root, const char* subkey, const char* valueName, char* buffer, size_t size) {
    DWORD count = static_cast<DWORD>(size);
    if (!readRegistryValue(root, subkey, valueName, buffer, &count)) {
        buffer[0] = 0;
        return false;
    }
    if (count > 0 && buffer[count - 1] == 0) return true;
    if (count >= size) {
        logMessage(L"value %S of %S fills %d bytes unterminated, ignored", valueName, subkey, static_cast<int>(size));
        buffer[0] = 0;
        return false;
    }
    buffer[count] = 0;
    return true;
}
