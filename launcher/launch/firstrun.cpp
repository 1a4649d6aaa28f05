#include "firstrun.h"

#include <windows.h>

#include <cwchar>

#include "JavaVMLauncher.h"
#include "config.h"
#include "log.h"
#include "messages.h"
#include "paths.h"

namespace {

using LogFunction = void (*)(const wchar_t* format, ...);
using RegisterNatives = unsigned char (*)(JNIEnv* env, HMODULE library, LogFunction log);

const char commonClass[] = "com/zandorium/runtime/installer/platform/win32/Common";

bool helperLibraryPath(wchar_t* path, size_t size) {
    wchar_t directory[4000];
    getConfigStringW(ApplicationDirectory, directory, 4000);
    wchar_t resolved[textBufferSize];
    if (!resolvePathW(resolved, directory, false, nullptr)) return false;
    size_t length = std::wcslen(resolved);
    bool fits = copyTextW(path, size, resolved);
    if (length == 0 || resolved[length - 1] != L'\\') fits = appendTextW(path, size, L"\\") && fits;
    return appendTextW(path, size, L".zandorium\\zdrinst.dll") && fits;
}

}  // namespace

bool callInitFromLauncher(bool flag) {
    jclass common = jniEnv->FindClass(commonClass);
    if (!common) {
        logError(L"did not find %S", commonClass);
        clearFailedLookup();
        return false;
    }
    bool called = false;
    jmethodID init = jniEnv->GetStaticMethodID(common, "initFromLauncher", "(Z)V");
    if (init) {
        jniEnv->CallStaticVoidMethod(common, init, flag ? JNI_TRUE : JNI_FALSE);
        // An exception from the runtime's set-up must not stay pending into the next call.
        checkJavaException(false);
        called = true;
    } else {
        logError(L"did not find initMethod");
        clearFailedLookup();
    }
    jniEnv->DeleteLocalRef(common);
    return called;
}

void loadHelperLibrary() {
    logMessage(L"load helper dll");
    wchar_t path[4000] = L"";
    HMODULE library = nullptr;
    if (helperLibraryPath(path, 4000))
        library = LoadLibraryW(path);
    else
        logError(L"helper dll path longer than %d characters", 3999);
    logMessage(L"helper dll %p %s", library, path);
    if (!library) return;
    auto registerNatives =
        reinterpret_cast<RegisterNatives>(reinterpret_cast<void*>(GetProcAddress(library, "registerNatives")));
    if (!registerNatives) {
        logError(L"did not find register natives in helper dll");
        return;
    }
    if (!callInitFromLauncher(true)) return;
    if (!registerNatives(jniEnv, library, logError)) {
        logError(L"registering helper dll failed");
        callInitFromLauncher(false);
    }
}

bool checkFirstRun() {
    char directory[2000];
    getConfigString(ApplicationDirectory, directory, sizeof directory);
    char marker[textBufferSize];
    if (!getFullPath(marker, directory, true) || !appendText(marker, 2000, "\\.zandorium\\firstrun")) {
        logError(L"first-run marker path longer than %d bytes", 1999);
        return true;
    }
    if (!fileExists(marker)) return true;
    jclass firstRun = jniEnv->FindClass("com/zandorium/runtime/launcher/FirstRun");
    if (!firstRun) {
        clearFailedLookup();
        fatalMessageW(MessageInternalError, L"14");
    }
    jmethodID method = jniEnv->GetStaticMethodID(firstRun, "firstRun", "()Z");
    if (!method) {
        clearFailedLookup();
        fatalMessageW(MessageInternalError, L"15");
    }
    jboolean proceed = jniEnv->CallStaticBooleanMethod(firstRun, method);
    bool clean = checkJavaException(true);
    jniEnv->DeleteLocalRef(firstRun);
    return clean && proceed;
}
