#include "runinprocess.h"

#include <windows.h>

#include <string>

#include "JavaVMLauncher.h"
#include "classpath.h"
#include "config.h"
#include "environment.h"
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
    std::string path;
    if (readEnvironmentVariable("PATH", path)) value += path;
    setPath(value.c_str(), L"PATH (native libs)");
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
