#include "servicecontrol.h"

#include <cstdio>

namespace {

// The service control commands arrive with their own change; until then each
// command says so plainly instead of pretending to succeed.
int notAvailable(const char* command) {
    std::fprintf(stderr, "The command \"%s\" is not available in this build.\n", command);
    std::fflush(stderr);
    return 1;
}

}  // namespace

int installService(DWORD, bool) { return notAvailable("install"); }
int uninstallService(bool) { return notAvailable("uninstall"); }
int startService() { return notAvailable("start"); }
int stopService(bool) { return notAvailable("stop"); }
int printServiceStatus() { return notAvailable("status"); }
