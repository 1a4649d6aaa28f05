#include "environment.h"

#include <cstdlib>

#include "config.h"
#include "expand.h"
#include "log.h"
#include "paths.h"

char flavor = 'z';

bool readEnvironmentVariable(const char* name, std::string& value) {
    DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
    if (needed == 0) return false;
    value.assign(needed, '\0');
    DWORD got = GetEnvironmentVariableA(name, value.data(), needed);
    value.resize(got < needed ? got : 0);
    return true;
}

void setPath(const char* value, const wchar_t* label) {
    const char* shown = value ? value : "";
    if (SetEnvironmentVariableA("PATH", value))
        logMessage(L"Setting %s %S", label, shown);
    else
        logMessage(L"Setting %s %S failed with error %d", label, shown, static_cast<int>(GetLastError()));
    std::string entry = std::string("PATH=") + shown;
    _putenv(entry.c_str());
}

void initEnvironment(HINSTANCE) {
    workDir[0] = 0;
    readConfigBlock();

    char letter[2];
    getConfigString(Flavor, letter, sizeof letter);
    flavor = letter[0] == 't' ? 't' : 'z';

    wchar_t directory[textBufferSize];
    getConfigStringW(WorkingDirectory, directory, textBufferSize);
    if (directory[0]) {
        expandWString(directory, textBufferSize, true);
        wchar_t full[textBufferSize];
        getFullPathW(full, directory, true, true);
        SetCurrentDirectoryW(full);
        logMessage(L"change working directory to %s", full);
    } else {
        logMessage(L"working directory unchanged");
    }
}
