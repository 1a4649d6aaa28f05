#include "jreprep.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "configkeys.h"
#include "log.h"
#include "messages.h"
#include "paths.h"

void prepareJre(const char* javaHome) {
    bool announced = false;
    unpackDirectory(javaHome, "lib", announced);
    unpackDirectory(javaHome, "lib\\ext", announced);
    if (announced) logMessage(L"Unpacking JRE done");
}

void unpackDirectory(const char* javaHome, const char* subdirectory, bool& announced) {
    char pattern[textBufferSize];
    if (!formatText(pattern, sizeof pattern, "%s\\%s\\*.jar.pack", javaHome, subdirectory)) return;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        int n = static_cast<int>(std::strlen(entry.cFileName));
        char jarPath[textBufferSize];
        if (!formatText(jarPath, sizeof jarPath, "%s\\%s\\%.*s", javaHome, subdirectory, n - 5, entry.cFileName)) {
            logError(L"path too long below %S", javaHome);
            continue;
        }
        logMessage(L"checking %S", jarPath);
        if (fileExists(jarPath)) continue;
        if (!announced) {
            logMessage(L"Unpacking JRE");
            std::printf("Preparing JRE ...\n");
            std::fflush(stdout);
            announced = true;
        }
        char relative[textBufferSize];
        char packPath[textBufferSize];
        formatText(relative, sizeof relative, "%s\\%.*s", subdirectory, n - 5, entry.cFileName);
        if (formatText(packPath, sizeof packPath, "%s\\%s.pack", javaHome, relative)) unpackJar(javaHome, packPath);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

void unpackJar(const char* javaHome, const char* packPath) {
    char jarPath[textBufferSize];
    copyText(jarPath, sizeof jarPath, packPath);
    size_t length = std::strlen(jarPath);
    jarPath[length >= 5 ? length - 5 : 0] = 0;
    if (!fileExists(packPath)) {
        logMessage(L"pack path doesn't exists");
        return;
    }
    char program[textBufferSize];
    char commandLine[textBufferSize];
    bool fits = formatText(program, sizeof program, "%s\\bin\\unpack200.exe", javaHome);
    fits = formatText(commandLine, sizeof commandLine, "-r \"%s\" \"%s\"", packPath, jarPath) && fits;
    logMessage(L"%S", program);
    logMessage(L"%S", commandLine);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!fits || !CreateProcessA(program, commandLine, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                                 &startup, &process)) {
        logMessage(L"could not create unpack process");
        fatalMessageW(MessageInternalError, L"20");
    }
    logMessage(L"waiting for unpack200 to finish");
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    logMessage(L"unpack done");

    // The pack file is the runtime's only copy of that library: when the unpacker left
    // no jar behind, keep it so that nothing is lost and the next start can try again.
    if (!fileExists(jarPath)) {
        // An unpacker that removed the pack file itself has left nothing to keep.
        if (fileExists(packPath))
            logError(L"unpacker produced no %S; keeping %S", jarPath, packPath);
        else
            logError(L"unpacker produced no %S", jarPath);
        return;
    }
    if (!DeleteFileA(packPath) && GetLastError() != ERROR_FILE_NOT_FOUND)
        logMessage(L"could not delete packed file (error %d)", static_cast<int>(GetLastError()));
}
