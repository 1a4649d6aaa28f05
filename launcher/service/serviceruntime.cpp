#include "serviceruntime.h"

#include "entry.h"
#include "log.h"

namespace {
DWORD WINAPI ignoreControl(DWORD, DWORD, void*, void*) { return NO_ERROR; }
}  // namespace

// Until the service runtime lands, a start by the Service Control Manager ends at
// once with a clear failure code instead of hanging in "start pending".
void WINAPI serviceMain(DWORD, LPSTR*) {
    logError(L"the service runtime is not available in this build");
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExA(serviceName, ignoreControl, nullptr);
    if (!handle) return;
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwWin32ExitCode = ERROR_CALL_NOT_IMPLEMENTED;
    SetServiceStatus(handle, &status);
}

BOOL WINAPI consoleCtrlHandler(DWORD) {
    logMessage(L"ConsoleCtrlHandler event");
    return TRUE;
}
