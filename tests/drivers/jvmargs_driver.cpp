// Commands for the JVM arguments: the whole option list as JNI_CreateJavaVM would get
// it, the class path option, and the archive scan of one directory.
//
// Run settings come as flags before the run's own arguments:
//   --service, --noredir       the run flags of a service child and of the /run family
//   --java=<exe> --version=<v> the selected JVM (recordSelectedJvm)
//   --workdir=<dir>            the work directory, set directly
//   --extract                  the work directory from the executable's included files
//   --prop=<text>              one launcher property, in order
//   --prepend= --append= --replace=   class path overrides (classpath command)
//   --                         ends the flags; the rest are the run's arguments
#include <windows.h>

#include <cstdio>

#include "classpath.h"
#include "driver.h"
#include "entry.h"
#include "expand.h"
#include "extract.h"
#include "jvmoptions.h"
#include "messages.h"
#include "paths.h"

namespace {

struct RunSettings {
    std::vector<std::string> properties;
    ClassPathOverrides overrides;
    ArgumentVector arguments;
};

bool takeValue(const std::wstring& arg, const wchar_t* flag, std::wstring& value) {
    std::wstring prefix = std::wstring(flag) + L"=";
    if (arg.rfind(prefix, 0) != 0) return false;
    value = arg.substr(prefix.size());
    return true;
}

RunSettings applySettings(const DriverArgs& args) {
    RunSettings settings;
    std::string java, version;
    size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        std::wstring value;
        if (arg == L"--") {
            ++i;
            break;
        }
        if (arg == L"--service") isService = true;
        else if (arg == L"--noredir") noRedirection = true;
        else if (arg == L"--extract") extractIncludedFiles(true);
        else if (takeValue(arg, L"--java", value)) java = toAnsi(value);
        else if (takeValue(arg, L"--version", value)) version = toAnsi(value);
        else if (takeValue(arg, L"--workdir", value)) copyText(workDir, textBufferSize, toAnsi(value).c_str());
        else if (takeValue(arg, L"--prop", value)) settings.properties.push_back(toAnsi(value));
        else if (takeValue(arg, L"--prepend", value)) settings.overrides.prepend = toAnsi(value);
        else if (takeValue(arg, L"--append", value)) settings.overrides.append = toAnsi(value);
        else if (takeValue(arg, L"--replace", value)) settings.overrides.replace = toAnsi(value);
        else break;
    }
    if (!java.empty() || !version.empty()) recordSelectedJvm(java.c_str(), version.c_str());
    settings.arguments.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    return settings;
}

void printLocale() {
    char part[3];
    printResult("language", getLocaleLanguage(part) ? std::string(part) : std::string("none"));
    printResult("country", getLocaleCountry(part) ? std::string(part) : std::string("none"));
}

// Prints every option, in order, one "option=" line each (the 8-bit text as it is).
int options(const DriverArgs& args) {
    RunSettings settings = applySettings(args);
    std::vector<const char*> properties;
    for (const std::string& p : settings.properties) properties.push_back(p.c_str());
    properties.push_back(nullptr);
    printLocale();
    JavaVMInitArgs initArgs = buildJvmInitArgs(properties.data(), settings.arguments);
    char version[16];
    std::snprintf(version, sizeof version, "0x%08lx", static_cast<unsigned long>(initArgs.version));
    printResult("version", std::string(version));
    printResult("nOptions", static_cast<long long>(initArgs.nOptions));
    printResult("ignoreUnrecognized", static_cast<long long>(initArgs.ignoreUnrecognized));
    bool extraInfoNull = true;
    for (jint i = 0; i < initArgs.nOptions; ++i) {
        printResult("option", std::string(initArgs.options[i].optionString));
        extraInfoNull = extraInfoNull && initArgs.options[i].extraInfo == nullptr;
    }
    printResult("extraInfoNull", extraInfoNull ? 1 : 0);
    return 0;
}

int classPath(const DriverArgs& args) {
    RunSettings settings = applySettings(args);
    printResult("classpath", buildClassPath(settings.overrides));
    return 0;
}

// archives <directory> <extension>: addArchives on an empty text, and the plain listing.
int archives(const DriverArgs& args) {
    std::string directory = toAnsi(args.at(0));
    std::string extension = toAnsi(args.at(1));
    std::string text;
    printResult("found", addArchives(text, directory.c_str(), extension.c_str()) ? 1 : 0);
    printResult("classpath", text);
    for (const std::string& name : listArchives(directory.c_str(), extension.c_str())) printResult("name", name);
    return 0;
}

}  // namespace

const std::map<std::wstring, DriverCommand> driverCommands = {
    {L"options", options},
    {L"classpath", classPath},
    {L"archives", archives},
};
