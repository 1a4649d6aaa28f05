#include "extract.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "blockformat.h"
#include "config.h"
#include "log.h"
#include "messages.h"
#include "paths.h"
#include "textbuf.h"

uint32_t unextractedPosition = 0;

namespace {

constexpr DWORD chunkSize = 6000;

int64_t filePosition(HANDLE file) {
    LARGE_INTEGER zero{}, position{};
    SetFilePointerEx(file, zero, &position, FILE_CURRENT);
    return position.QuadPart;
}

int64_t bytesLeft(HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return 0;
    return size.QuadPart - filePosition(file);
}

// Names that Windows opens as devices in any directory, with or without an extension.
bool isDeviceName(const char* part, size_t length) {
    size_t stem = 0;
    while (stem < length && part[stem] != '.') ++stem;
    while (stem > 0 && part[stem - 1] == ' ') --stem;
    static const char* devices[] = {"con", "prn", "aux", "nul", "conin$", "conout$", "clock$"};
    for (const char* device : devices)
        if (stem == std::strlen(device) && _strnicmp(part, device, stem) == 0) return true;
    if (stem == 4 && (_strnicmp(part, "com", 3) == 0 || _strnicmp(part, "lpt", 3) == 0) && part[3] >= '0' &&
        part[3] <= '9')
        return true;
    return false;
}

bool isAcceptablePart(const char* part, size_t length) {
    if (length == 0) return false;
    bool onlyDotsAndBlanks = true;
    for (size_t i = 0; i < length; ++i)
        if (part[i] != '.' && part[i] != ' ') onlyDotsAndBlanks = false;
    return !onlyDotsAndBlanks && !isDeviceName(part, length);
}

}  // namespace

bool isAcceptableIncludedFileName(const char* name) {
    if (std::strchr(name, ':') || std::strchr(name, '/')) return false;
    const char* slash = std::strchr(name, '\\');
    if (!slash) return isAcceptablePart(name, std::strlen(name));
    if (std::strchr(slash + 1, '\\')) return false;
    return isAcceptablePart(name, static_cast<size_t>(slash - name)) &&
           isAcceptablePart(slash + 1, std::strlen(slash + 1));
}

uint32_t getUnextractedPosition() { return unextractedPosition; }

int copyData(HANDLE source, HANDLE target, int64_t length, bool unscramble) {
    unsigned char buffer[chunkSize];
    int64_t copied = 0;
    while (copied < length) {
        DWORD want = length - copied < chunkSize ? static_cast<DWORD>(length - copied) : chunkSize;
        DWORD got = 0;
        SetLastError(0);
        if (!ReadFile(source, buffer, want, &got, nullptr) || got == 0) {
            DWORD error = GetLastError();
            logError(L"ReadFile failed %d %d %I64d", static_cast<int>(got), static_cast<int>(error), copied);
            return extractReadFailed;
        }
        if (unscramble)
            for (DWORD i = 0; i < got; ++i) buffer[i] ^= includedFileMask;
        for (DWORD written = 0; written < got;) {
            DWORD wrote = 0;
            // A write that reports success but moves nothing would never finish.
            if (!WriteFile(target, buffer + written, got - written, &wrote, nullptr) || wrote == 0) {
                DWORD error = GetLastError();
                logError(L"WriteFile failed %d %d", static_cast<int>(got - written), static_cast<int>(error));
                return extractWriteFailed;
            }
            written += wrote;
        }
        copied += got;
    }
    return extractOk;
}

int extractFile(HANDLE executable, const char* path) {
    int64_t size = readLong(executable);
    logMessage(L"extracting %S (size: %I64d)", path, size);
    if (size <= 0) return extractOk;
    // A size beyond the end of the file means a cut or corrupt area: fail before a
    // partial file is written.
    int64_t left = bytesLeft(executable);
    if (size > left) {
        logError(L"included file %S needs %I64d bytes, %I64d left", path, size, left);
        return extractReadFailed;
    }
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        logError(L"could not create %S (%d)", path, static_cast<int>(GetLastError()));
        fatalMessageW(1009, L"11");
    }
    int result = copyData(executable, file, size, true);
    // Closed on failure too: the fatal path can only delete a file nobody holds open.
    CloseHandle(file);
    return result;
}

int extractIncludedFiles(bool createWorkDirectory) {
    logMessage(L"extracting files");
    int count = getConfigInt(IncludedFileCount);
    logMessage(L"Included files: %d", count);
    if (count == 0) {
        if (createWorkDirectory) workDir[0] = 0;
        return extractOk;
    }
    if (createWorkDirectory) {
        createWorkDir();
    } else if (!workDir[0]) {
        // Without a work directory every target would land in the root of the drive.
        logError(L"no work directory for the included files");
        return extractWriteFailed;
    }

    HANDLE executable = openOwnExecutable();
    if (executable == INVALID_HANDLE_VALUE) {
        logError(L"could not open %s (%d)", getExePathW(), static_cast<int>(GetLastError()));
        return extractReadFailed;
    }
    LARGE_INTEGER start;
    start.QuadPart = configEndPosition();
    if (!SetFilePointerEx(executable, start, nullptr, FILE_BEGIN)) {
        logError(L"could not seek to %I64d (%d)", start.QuadPart, static_cast<int>(GetLastError()));
        CloseHandle(executable);
        return extractReadFailed;
    }

    char* names = getConfigStringCopy(IncludedFileNames);
    int handled = 0;
    char* next = names;
    while (handled < count && *next) {
        char* name = next;
        char* end = std::strchr(name, ';');
        next = end ? end + 1 : name + std::strlen(name);
        if (end) *end = 0;
        if (!*name) continue;  // ";;" separates no name

        if (!isAcceptableIncludedFileName(name)) {
            logError(L"refusing included file name %S", name);
            fatalMessage(1009, refusedIncludedNameCode);
        }
        char target[textBufferSize];
        if (!formatText(target, sizeof target, "%s\\%s", workDir, name)) {
            logError(L"path of included file %S too long", name);
            fatalMessage(1009, "11");
        }
        if (const char* slash = std::strchr(name, '\\')) {
            // Fits: it is a prefix of the target path.
            char directory[textBufferSize];
            formatText(directory, sizeof directory, "%s\\%.*s", workDir, static_cast<int>(slash - name), name);
            logMessage(L"creating directory %S", directory);
            if (!CreateDirectoryA(directory, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                logError(L"failed to create directory %S", directory);
        }
        int result = extractFile(executable, target);
        if (result != extractOk) {
            logError(L"Failed to extract %S", target);
            CloseHandle(executable);
            std::free(names);
            return result;
        }
        ++handled;
    }
    std::free(names);

    unextractedPosition = static_cast<uint32_t>(filePosition(executable));
    CloseHandle(executable);
    logMessage(L"extracting files done");
    return extractOk;
}
