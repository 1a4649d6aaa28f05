// Commands for the launcher core: paths, temporary directories, messages, expansion.
#include <windows.h>

#include "config.h"
#include "driver.h"
#include "environment.h"
#include "expand.h"
#include "messages.h"
#include "paths.h"

namespace {

int tempDir(const DriverArgs&) {
    wchar_t wide[textBufferSize];
    getTempDirW(wide, false);
    printResult("wide", std::wstring(wide));
    char narrow[textBufferSize];
    getTempDir(narrow);
    wchar_t widened[textBufferSize];
    fromAnsiPath(narrow, widened, textBufferSize);
    printResult("narrow", std::wstring(widened));
    return 0;
}

int workDirectory(const DriverArgs&) {
    createWorkDir();
    printResult("workDir", std::string(workDir));
    return 0;
}

int fatal(const DriverArgs& args) {
    if (args.size() > 1 && args[1] == L"workdir") createWorkDir();
    fatalMessageW(std::stoi(args.at(0)), args.size() > 2 ? args[2].c_str() : nullptr);
}

int expand(const DriverArgs& args) {
    if (args.size() > 2) recordSelectedJvm(toAnsi(args[2]).c_str(), "1.8.0_201");
    const std::wstring& mode = args.at(0);
    std::wstring text = args.at(1);
    size_t size = text.size() + 1 > textBufferSize ? text.size() + 1 : textBufferSize;
    if (mode == L"narrow") {
        std::string buffer = toAnsi(text);
        buffer.resize(size);
        expandString(buffer.data(), size);
        wchar_t widened[textBufferSize * 5];
        fromAnsiPath(buffer.c_str(), widened, sizeof widened / sizeof *widened);
        printResult("result", std::wstring(widened));
    } else {
        std::wstring buffer = text;
        buffer.resize(size);
        expandWString(buffer.data(), size, mode == L"ansi");
        printResult("result", std::wstring(buffer.c_str()));
    }
    return 0;
}

int exePaths(const DriverArgs&) {
    wchar_t widened[textBufferSize];
    fromAnsiPath(getExePath(), widened, textBufferSize);
    printResult("exePath", std::wstring(widened));
    printResult("exePathW", std::wstring(getExePathW()));
    fromAnsiPath(exeDir(), widened, textBufferSize);
    printResult("exeDir", std::wstring(widened));
    printResult("exeDirW", std::wstring(exeDirW()));
    return 0;
}

int emptyDir(const DriverArgs& args) {
    emptyDirectory(toAnsi(args.at(0)).c_str(), args.size() > 1 && args[1] == L"1");
    return 0;
}

int currentDirectory(const DriverArgs&) {
    wchar_t cwd[textBufferSize];
    GetCurrentDirectoryW(textBufferSize, cwd);
    printResult("cwd", std::wstring(cwd));
    return 0;
}

int message(const DriverArgs& args) {
    showFormattedMessage(std::stoi(args.at(0)), args.size() > 1 ? args[1].c_str() : nullptr);
    return 0;
}

int locale(const DriverArgs&) {
    char part[3];
    printResult("code", std::string(localeCode()));
    printResult("language", getLocaleLanguage(part) ? std::string(part) : std::string("none"));
    printResult("country", getLocaleCountry(part) ? std::string(part) : std::string("none"));
    return 0;
}

// Reads one key the way its users do: key <number> text|wide|int|flag|copy|message [size].
int readKey(const DriverArgs& args) {
    int key = std::stoi(args.at(0));
    const std::wstring& kind = args.at(1);
    size_t size = args.size() > 2 ? std::stoul(args[2]) : textBufferSize;
    if (kind == L"text") {
        std::string buffer(size, '\0');
        printResult("length", getConfigString(key, buffer.data(), size));
        printResult("value", std::string(buffer.c_str()));
    } else if (kind == L"wide") {
        std::wstring buffer(size, L'\0');
        printResult("length", getConfigStringW(key, buffer.data(), size));
        printResult("value", std::wstring(buffer.c_str()));
    } else if (kind == L"int") {
        printResult("value", getConfigInt(key));
    } else if (kind == L"flag") {
        printResult("value", getConfigFlag(key) ? "true" : "false");
    } else if (kind == L"copy") {
        char* copy = getConfigStringCopy(key);
        printResult("value", std::string(copy));
        free(copy);
    } else {
        std::wstring buffer(size, L'\0');
        printResult("present", getConfigMessage(key, buffer.data(), size) ? "true" : "false");
        printResult("value", std::wstring(buffer.c_str()));
    }
    return 0;
}

int showFlavor(const DriverArgs&) {
    printResult("flavor", std::string(1, flavor));
    return 0;
}

}  // namespace

const std::map<std::wstring, DriverCommand> driverCommands = {
    {L"tempdir", tempDir}, {L"workdir", workDirectory}, {L"fatal", fatal},
    {L"expand", expand},   {L"exepaths", exePaths},     {L"emptydir", emptyDir},
    {L"key", readKey},     {L"flavor", showFlavor},     {L"cwd", currentDirectory}, {L"message", message},  {L"locale", locale},
};
