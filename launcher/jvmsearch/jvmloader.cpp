#include "jvmloader.h"

#include <cstring>
#include <string>

#include "config.h"
#include "environment.h"
#include "expand.h"
#include "log.h"
#include "messages.h"
#include "paths.h"
#include "searchjvm.h"

namespace {

CreateJavaVMFunction createJavaVM = nullptr;

bool endsWith(const char* text, const char* tail) {
    size_t n = std::strlen(text), m = std::strlen(tail);
    return n >= m && std::strcmp(text + n - m, tail) == 0;
}

}  // namespace

HMODULE tryJvmDll(const char* directory, const char* subdirectory) {
    char path[textBufferSize];
    if (!formatText(path, sizeof path, "%s\\%s\\jvm.dll", directory, subdirectory)) {
        logError(L"path too long: %S", directory);
        return nullptr;
    }
    bool exists = fileExists(path);
    logMessage(L"Trying %S (exists %d)", path, exists ? 1 : 0);
    HMODULE library = LoadLibraryA(path);
    if (exists && !library) logMessage(L"Failed with error code %d", static_cast<int>(GetLastError()));
    return library;
}

HMODULE loadJvmFromBinDir(const char* javaExecutable) {
    char binDir[textBufferSize];
    copyText(binDir, sizeof binDir, javaExecutable);
    size_t length = std::strlen(binDir);
    size_t cut = endsWith(binDir, "javaw.exe") ? 10 : 9;
    binDir[length >= cut ? length - cut : 0] = 0;

    // The old value is kept whole, so that a failed attempt restores it exactly.
    std::string oldPath;
    bool hadPath = readEnvironmentVariable("PATH", oldPath);
    std::string newPath = hadPath ? oldPath + ";" + binDir : std::string(binDir);
    setPath(newPath.c_str(), L"PATH");

    HMODULE library = nullptr;
    char preferred[200];
    getConfigString(PreferredVmType, preferred, sizeof preferred);
    if (preferred[0]) library = tryJvmDll(binDir, preferred);
    for (const char* sub : {"hotspot", "client", "server", "classic", "jrockit"}) {
        if (library) break;
        library = tryJvmDll(binDir, sub);
    }
    if (!library) setPath(hadPath ? oldPath.c_str() : nullptr, L"PATH");
    return library;
}

HMODULE loadJvmLibrary(const char* javaExecutable) {
    logMessage(L"Trying to load JVM-DLL from %S", javaExecutable);
    if (HMODULE library = loadJvmFromBinDir(javaExecutable)) return library;
    char second[textBufferSize];
    copyText(second, sizeof second, javaExecutable);
    size_t length = std::strlen(second);
    size_t cut = endsWith(second, "javaw.exe") ? 9 : 8;
    second[length >= cut ? length - cut : 0] = 0;
    if (!appendText(second, sizeof second, "..\\jre\\bin\\java.exe")) return nullptr;
    return loadJvmFromBinDir(second);
}

bool resolveCreateJavaVM(HMODULE library) {
    if (!library) return false;
    auto function = reinterpret_cast<CreateJavaVMFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "JNI_CreateJavaVM")));
    if (!function) return false;
    createJavaVM = function;
    return true;
}

CreateJavaVMFunction createJavaVMFunction() { return createJavaVM; }

bool LoadDLL() {
    logMessage(L"LoadDLL (%d, %S, %d)", 1, "(null)", 0);
    char javaExecutable[textBufferSize] = "";
    char version[jvmVersionSize] = "";
    char label[textBufferSize] = "";
    JvmSourceKind kind = JvmSourceKind::None;
    HMODULE library = searchJvm(javaExecutable, version, kind, label);
    if (kind == JvmSourceKind::None) {
        logError(L"No JVM found");
        showFormattedMessage(MessageNoJvm, L"64");
        return false;
    }
    recordSelectedJvm(javaExecutable, version);
    if (!library) logError(L"Could not get DLL-Handle.");
    bool resolved = resolveCreateJavaVM(library);
    if (!resolved) logError(L"Could not load functions");
    if (library && resolved) {
        logMessage(L"Loading of JVM-DLL successful");
        return true;
    }
    wchar_t wideLabel[textBufferSize];
    widenBytes(wideLabel, textBufferSize, label);
    switch (kind) {
    case JvmSourceKind::Path: showFormattedMessage(MessageNoJvm, L"64"); break;
    case JvmSourceKind::Location: showFormattedMessage(MessageJvmLocationBroken, wideLabel); break;
    case JvmSourceKind::Environment: showFormattedMessage(MessageJvmVariableBroken, wideLabel); break;
    default: break;
    }
    showFormattedMessage(MessageJvmNotStarted, nullptr);
    return false;
}
