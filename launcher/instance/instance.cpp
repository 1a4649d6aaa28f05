#include "instance.h"

#include <cstdio>
#include <cstring>

#include "config.h"
#include "log.h"
#include "messages.h"
#include "paths.h"

char semaphoreName[textBufferSize];

namespace {

char normalisedPath[textBufferSize];
bool normalisedPathDone = false;

// Kept open for the whole process: the name lives as long as some holder does.
HANDLE instanceSemaphore = nullptr;

// Process whose windows the enumeration procedure activates.
DWORD activatedProcessId = 0;

// A second start waits for the first to record its process id: 50 more reads, 100 ms apart.
constexpr int pidRereads = 50;
constexpr DWORD pidRereadDelayMs = 100;

// Creates (or opens) the named semaphore; the error code tells which it was. A name
// that could not be built counts as a name the system refused.
HANDLE createInstanceSemaphore(const char* name, bool nameFits, DWORD* code) {
    if (!nameFits) {
        *code = ERROR_FILENAME_EXCED_RANGE;
        return nullptr;
    }
    SetLastError(0);
    HANDLE handle = CreateSemaphoreA(nullptr, 1, 1, name);
    *code = GetLastError();
    return handle;
}

void logSemaphore(const char* name, DWORD code, HANDLE handle) {
    logMessage(L"semaphore name %S, code %d, value %p", name, static_cast<int>(code), handle);
}

BOOL CALLBACK activateWindow(HWND window, LPARAM restore) {
    if (!IsWindowVisible(window)) return TRUE;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != activatedProcessId) return TRUE;
    logMessage(L"found window %p", window);
    if (restore && IsIconic(window)) {
        logMessage(L"restore");
        ShowWindow(window, SW_RESTORE);
    }
    logMessage(L"foreground");
    SetForegroundWindow(window);
    logMessage(L"popup");
    SetForegroundWindow(GetLastActivePopup(window));
    logMessage(L"done");
    return TRUE;
}

}  // namespace

bool toObjectName(char* destination, size_t size, const char* source) {
    if (size == 0) return false;
    size_t i = 0;
    for (; source[i] && i + 1 < size; ++i) destination[i] = source[i] == '\\' || source[i] == ' ' ? '_' : source[i];
    destination[i] = 0;
    return source[i] == 0;
}

bool makeSemaphoreName(char* out, size_t size, const char* path, bool global, int number) {
    if (size == 0) return false;
    bool fits = copyText(out, size, global ? "Global\\" : "Local\\");
    size_t used = std::strlen(out);
    fits = fits && toObjectName(out + used, size - used, path);
    if (fits && number >= 0) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%d", number);
        fits = appendText(out, size, digits);
    }
    if (!fits) out[0] = 0;
    return fits;
}

HANDLE claimInstanceNumber(char* out, size_t size, const char* path, bool global, int maxNumber, DWORD* code) {
    HANDLE handle = nullptr;
    // A name the system refuses ends the search as well: the instance then runs
    // without a name of its own.
    for (int number = 0;; ++number) {
        bool fits = makeSemaphoreName(out, size, path, global, number);
        handle = createInstanceSemaphore(out, fits, code);
        if (*code != ERROR_ALREADY_EXISTS || number >= maxNumber) break;
        CloseHandle(handle);
    }
    return handle;
}

const char* normalisedExePath() {
    if (!normalisedPathDone) {
        if (!getFullPath(normalisedPath, getExePath(), false)) logError(L"no full path for %S", getExePath());
        normalisedPathDone = true;
    }
    return normalisedPath;
}

void storeInstancePid() {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, instancePidsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    DWORD pid = GetCurrentProcessId();
    RegSetValueExA(key, normalisedExePath(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pid), sizeof pid);
    RegCloseKey(key);
}

DWORD readInstancePid() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, instancePidsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD pid = 0, size = sizeof pid;
    LONG status = RegQueryValueExA(key, normalisedExePath(), nullptr, nullptr, reinterpret_cast<BYTE*>(&pid), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && size == sizeof pid ? pid : 0;
}

void activateInstanceWindows(DWORD processId, bool restore) {
    activatedProcessId = processId;
    EnumWindows(activateWindow, restore ? 1 : 0);
}

void checkSingleInstance() {
    const char* path = normalisedExePath();
    bool global = getConfigFlag(GlobalInstanceLock);
    bool fits = makeSemaphoreName(semaphoreName, sizeof semaphoreName, path, global, -1);
    if (!fits) logError(L"semaphore name for %S does not fit", path);

    DWORD code = 0;
    if (!getConfigFlag(SingleInstance)) {
        instanceSemaphore =
            claimInstanceNumber(semaphoreName, sizeof semaphoreName, path, global, maxInstanceNumber, &code);
        logSemaphore(semaphoreName, code, instanceSemaphore);
        return;
    }

    logMessage(L"single instance mode");
    instanceSemaphore = createInstanceSemaphore(semaphoreName, fits, &code);
    logSemaphore(semaphoreName, code, instanceSemaphore);
    if (code == ERROR_ALREADY_EXISTS) {
        CloseHandle(instanceSemaphore);
        instanceSemaphore = nullptr;
        // The first instance records its id only after it has created the semaphore.
        DWORD other = readInstancePid();
        for (int i = 0; other == 0 && i < pidRereads; ++i) {
            Sleep(pidRereadDelayMs);
            other = readInstancePid();
        }
        logMessage(L"other pid %d", static_cast<int>(other));
        if (other != 0 && getConfigFlag(ActivateRunningInstance)) activateInstanceWindows(other, true);
        logMessage(L"exiting");
        exitProcessWithCleanup(0);
    }
    storeInstancePid();
}
