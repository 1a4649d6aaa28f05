#include "runinprocess.h"

#include <windows.h>

#include <cstdlib>
#include <string>

#include "JavaVMLauncher.h"
#include "classpath.h"
#include "config.h"
#include "expand.h"
#include "extract.h"
#include "instance.h"
#include "jvmloader.h"
#include "log.h"
#include "messages.h"
#include "serviceruntime.h"

void setNativeLibraryPath() {
    char directories[12000];
    getConfigString(NativeLibraryPath, directories, 6000);
    logMessage(L"native lib dir is %S", directories);
    expandString(directories, sizeof directories);

    // Kept whole: the list and PATH are bounded only by what the environment takes, so
    // no directory is ever cut in the middle.
    std::string value = resolvePathList(directories);
    if (!value.empty() && value.back() != ';') value += ';';
    DWORD needed = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (needed > 0) {
        std::string path(needed, '\0');
        DWORD got = GetEnvironmentVariableA("PATH", path.data(), needed);
        path.resize(got < needed ? got : 0);
        value += path;
    }
    if (SetEnvironmentVariableA("PATH", value.c_str()))
        logMessage(L"Setting PATH (native libs) %S", value.c_str());
    else
        logMessage(L"Setting PATH (native libs) %S failed with error %d", value.c_str(),
                   static_cast<int>(GetLastError()));
    std::string entry = "PATH=" + value;
    _putenv(entry.c_str());
}

void runInProcess(ArgumentVector& arguments, bool isChild) {
    if (extractIncludedFiles(true) != 0) fatalMessage(MessageInternalError, "16");
    setNativeLibraryPath();
    if (isChild) {
        logMessage(L"registering ConsoleCtrlHandler");
        SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);
    }
    checkSingleInstance();
    if (!LoadDLL()) exitProcessWithCleanup(1);
    if (!launchJavaApplication(arguments, true)) exitProcessWithCleanup(1);
}
