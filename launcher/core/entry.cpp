#include "entry.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "cmdline.h"
#include "config.h"
#include "environment.h"
#include "log.h"
#include "runinprocess.h"
#include "servicecontrol.h"
#include "serviceruntime.h"

char serviceName[textBufferSize];
bool isService = false;
bool noRedirection = false;

namespace {

const char restartMarker[] = "__zdr_restart";

void printUsage() {
    wchar_t path[textBufferSize];
    DWORD n = GetModuleFileNameW(nullptr, path, textBufferSize);
    path[n < textBufferSize ? n : textBufferSize - 1] = 0;
    const wchar_t* base = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/') base = p + 1;
    wchar_t name[textBufferSize];
    copyTextW(name, textBufferSize, base);
    if (wchar_t* dot = std::wcsrchr(name, L'.')) *dot = 0;
    std::wprintf(L"Usage: %ls.exe /install | /uninstall | /stop | /start | /status | /run | /run-redirect\n", name);
    std::fflush(stdout);
}

DWORD installStartType() {
    return getConfigInt(LauncherType) == 4 ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
}

// Runs the command word; false when the word is not a command.
bool runCommand(const char* word, bool interactive, int& result) {
    if (!std::strcmp(word, "?") || !std::strcmp(word, "help")) {
        printUsage();
        result = 0;
    } else if (!std::strcmp(word, "install")) {
        result = installService(installStartType(), interactive);
    } else if (!std::strcmp(word, "install-and-start")) {
        installService(installStartType(), interactive);
        result = startService();
    } else if (!std::strcmp(word, "install-auto")) {
        result = installService(SERVICE_AUTO_START, interactive);
    } else if (!std::strcmp(word, "install-demand")) {
        result = installService(SERVICE_DEMAND_START, interactive);
    } else if (!std::strcmp(word, "uninstall")) {
        result = uninstallService(true);
    } else if (!std::strcmp(word, "stop")) {
        result = stopService(true);
    } else if (!std::strcmp(word, "start")) {
        result = startService();
    } else if (!std::strcmp(word, "status")) {
        result = printServiceStatus();
    } else {
        return false;
    }
    return true;
}

bool isOneOf(const std::wstring& word, const wchar_t* a, const wchar_t* b, const wchar_t* c) {
    return word == a || word == b || word == c;
}

}  // namespace

int launcherEntry(HINSTANCE instance, const char* tail) {
    isService = true;
    initEnvironment(instance);
    getConfigString(ServiceName, serviceName, sizeof serviceName);

    if (tail[0] == '/' || tail[0] == '-') {
        const char* start = tail + 1;
        if (*start == '-') ++start;
        char command[textBufferSize];
        bool interactive = true;
        if (!copyText(command, sizeof command, start)) logError(L"command line cut to %d bytes", int(textBufferSize - 1));
        parseCommandWords(command, serviceName, sizeof serviceName, interactive);
        int result = 0;
        if (runCommand(command, interactive, result)) return result;
    }

    const wchar_t* fullLine = GetCommandLineW();
    logMessage(L"command line2 %s", fullLine);
    ArgumentVector arguments;
    splitCommandLine(fullLine, arguments);
    if (!arguments.empty()) arguments.erase(arguments.begin());

    wchar_t marker[32];
    widenBytes(marker, 32, restartMarker);
    if (!arguments.empty() && arguments.back() == marker) {
        arguments.pop_back();
        runInProcess(arguments, true);
    } else if (!arguments.empty() && (isOneOf(arguments[0], L"/run", L"-run", L"--run") ||
                                      isOneOf(arguments[0], L"/run-redirect", L"-run-redirect", L"--run-redirect"))) {
        if (isOneOf(arguments[0], L"/run", L"-run", L"--run")) {
            logMessage(L"running service");
            noRedirection = true;
        } else {
            logMessage(L"running service with redirection");
        }
        isService = false;
        arguments.erase(arguments.begin());
        runInProcess(arguments, false);
    } else {
        SERVICE_TABLE_ENTRYA table[] = {{serviceName, serviceMain}, {nullptr, nullptr}};
        logMessage(L"calling StartServiceCtrlDispatcher");
        if (!StartServiceCtrlDispatcherA(table))
            logMessage(L"StartServiceCtrlDispatcher failed with error %d", static_cast<int>(GetLastError()));
        logMessage(L"StartServiceCtrlDispatcher returned");
    }
    return 0;
}
