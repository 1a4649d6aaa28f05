#include "environment.h"

#include "config.h"
#include "expand.h"
#include "log.h"
#include "paths.h"

char flavor = 'z';

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
