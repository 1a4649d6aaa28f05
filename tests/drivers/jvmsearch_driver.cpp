// Commands for JVM discovery: Java homes and executables, the version probe and its
// cache, the version tests, and the registry searches. The version range comes from
// keys 126 and 127 of the driver's block, as the search reads it.
#include <windows.h>

#include <cstdlib>
#include <cwctype>
#include <string>

#include "config.h"
#include "driver.h"
#include "environment.h"
#include "expand.h"
#include "javaexe.h"
#include "jvmloader.h"
#include "paths.h"
#include "registryjvms.h"
#include "searchjvm.h"
#include "version.h"

namespace {

// Limit of the configured bounds, as the search reads them.
const size_t boundSize = 2000;

VersionRange configuredRange() {
    char minimum[boundSize];
    char maximum[boundSize];
    getConfigString(MinVersion, minimum, sizeof minimum);
    getConfigString(MaxVersion, maximum, sizeof maximum);
    return makeVersionRange(minimum, maximum);
}

std::wstring widePath(const char* path) {
    wchar_t wide[textBufferSize];
    fromAnsiPath(path, wide, textBufferSize);
    return wide;
}

size_t sizeArgument(const DriverArgs& args, size_t index, size_t fallback) {
    return args.size() > index ? std::stoul(args[index]) : fallback;
}

void printCandidate(bool result, const char* javaExe, const std::string& version) {
    printResult("result", result ? 1 : 0);
    printResult("javaExe", widePath(javaExe));
    printResult("version", version);
}

// findjava <home>
int findJava(const DriverArgs& args) {
    char javaExe[textBufferSize];
    bool result = findJavaExe(toAnsi(args.at(0)).c_str(), javaExe);
    printResult("result", result ? 1 : 0);
    printResult("javaExe", widePath(javaExe));
    return 0;
}

// check <java executable> [allowPreRelease 0|1] [version buffer size, default 2000]
int check(const DriverArgs& args) {
    char javaExe[textBufferSize];
    copyText(javaExe, sizeof javaExe, toAnsi(args.at(0)).c_str());
    bool allowPreRelease = args.size() > 1 && args[1] == L"1";
    std::string version(sizeArgument(args, 2, 2000), '\0');
    bool result = checkJavaExe(javaExe, version.data(), version.size(), configuredRange(), allowPreRelease);
    printCandidate(result, javaExe, version.c_str());
    return 0;
}

// checkversion <text> [allowPreRelease 0|1]
int checkVersionText(const DriverArgs& args) {
    bool allowPreRelease = args.size() > 1 && args[1] == L"1";
    printResult("result", checkVersion(toAnsi(args.at(0)).c_str(), configuredRange(), allowPreRelease) ? 1 : 0);
    return 0;
}

// The registry searches: current | enumerated jre|jdk | javasoft | located user|machine every|zdr
// | pick every|zdr | registry; a last numeric argument sets the version buffer size.
int registry(const DriverArgs& args) {
    const std::wstring& what = args.at(0);
    char javaExe[textBufferSize] = "";
    std::string version(args.size() > 1 && iswdigit(args.back()[0]) ? std::stoul(args.back()) : 2000, '\0');
    VersionRange range = configuredRange();
    bool every = args.size() > 2 && args[2] == L"every";
    bool result = false;
    if (what == L"current") {
        result = findCurrentVersionJvm(javaExe, version.data(), version.size(), range);
    } else if (what == L"enumerated") {
        const char* key = args.at(1) == L"jdk" ? javaSoftJdkKey : javaSoftJreKey;
        result = findEnumeratedJvm(javaExe, version.data(), version.size(), range, key);
    } else if (what == L"javasoft") {
        result = findJavaSoftJvm(javaExe, version.data(), version.size(), range);
    } else if (what == L"located") {
        HKEY root = args.at(1) == L"machine" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        result = findLocatedJvm(root, javaExe, version.data(), version.size(), range, every);
    } else if (what == L"pick") {
        result = pickLocatedJvm(javaExe, version.data(), version.size(), range, args.at(1) == L"every");
    } else if (what == L"registry") {
        result = findRegistryJvm(javaExe, version.data(), version.size(), range);
    } else {
        return 2;
    }
    printCandidate(result, javaExe, version.c_str());
    return 0;
}


// PATH as the Windows environment and the C runtime's copy hold it afterwards.
void printPath() {
    std::string path;
    printResult("path", readEnvironmentVariable("PATH", path) ? path : std::string("<none>"));
    const char* runtimePath = std::getenv("PATH");
    printResult("runtimePath", runtimePath ? std::string(runtimePath) : std::string("<none>"));
}

// search: the whole search sequence, with the library it loaded.
int search(const DriverArgs&) {
    char javaExe[textBufferSize] = "";
    char version[jvmVersionSize] = "";
    char label[textBufferSize] = "";
    JvmSourceKind kind = JvmSourceKind::None;
    HMODULE library = searchJvm(javaExe, version, kind, label);
    printResult("loaded", library ? 1 : 0);
    printResult("javaExe", widePath(javaExe));
    printResult("version", version);
    printResult("kind", static_cast<int>(kind));
    printResult("label", label);
    printPath();
    return 0;
}

// loaddll: the entry into discovery, with what it keeps for the run.
int loadDll(const DriverArgs&) {
    bool result = LoadDLL();
    printResult("result", result ? 1 : 0);
    printResult("createJavaVM", createJavaVMFunction() ? 1 : 0);
    printResult("home", widePath(selectedJvm.home));
    printResult("version", selectedJvm.version);
    printPath();
    return 0;
}

}  // namespace

const std::map<std::wstring, DriverCommand> driverCommands = {
    {L"findjava", findJava},
    {L"check", check},
    {L"checkversion", checkVersionText},
    {L"registry", registry},
    {L"search", search},
    {L"loaddll", loadDll},
};
