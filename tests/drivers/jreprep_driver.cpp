// Commands for the packed-runtime preparation. Each call is framed by two log lines so
// that a test can tell the unit's own log lines from those of the driver's start.
#include <string>

#include "driver.h"
#include "jreprep.h"
#include "log.h"

namespace {

// prepare <home> [<home> ...]: one prepareJre per home, in order, in this process.
int prepare(const DriverArgs& args) {
    for (const std::wstring& home : args) {
        std::string ansi = toAnsi(home);
        logMessage(L"driver: prepareJre %S", ansi.c_str());
        prepareJre(ansi.c_str());
        logMessage(L"driver: returned");
        printResult("returned", home);
    }
    return 0;
}

// unpack <home> <pack file>
int unpack(const DriverArgs& args) {
    std::string home = toAnsi(args.at(0));
    std::string packPath = toAnsi(args.at(1));
    logMessage(L"driver: unpackJar %S", packPath.c_str());
    unpackJar(home.c_str(), packPath.c_str());
    logMessage(L"driver: returned");
    printResult("returned", args.at(1));
    return 0;
}

}  // namespace

const std::map<std::wstring, DriverCommand> driverCommands = {
    {L"prepare", prepare},
    {L"unpack", unpack},
};
