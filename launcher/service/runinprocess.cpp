#include "runinprocess.h"

#include "log.h"
#include "messages.h"

// Running the Java application arrives with its own change; until then a run
// ends with a clear error and exit code 1, never a silent success.
void runInProcess(ArgumentVector&, bool isChild) {
    logError(L"running the application is not available in this build (child %d)", isChild ? 1 : 0);
    fatalText(L"Running the Java application is not available in this build.");
}
