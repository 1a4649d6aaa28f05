#include "messages.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "config.h"
#include "localetable.h"
#include "log.h"
#include "paths.h"
#include "textbuf.h"

namespace {

char currentLocale[16] = "en";
char language[3];
char country[3];
bool hasLanguage = false;
bool hasCountry = false;

unsigned short userLanguageId() {
    auto id = static_cast<unsigned short>(GetUserDefaultLCID() & 0xFFFF);
    HMODULE kernel = LoadLibraryA("Kernel32.DLL");
    if (kernel) {
        using UiLanguageFn = LANGID(WINAPI*)();
        auto uiLanguage = reinterpret_cast<UiLanguageFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetUserDefaultUILanguage")));
        if (uiLanguage) id = uiLanguage();
    }
    return id;
}

}  // namespace

const char* localeCodeFor(unsigned short languageId) {
    for (size_t i = 0; i < localeTableSize; ++i)
        if (localeTable[i].id == languageId) return localeTable[i].code;
    for (size_t i = 0; i < localeTableSize; ++i)
        if (localeTable[i].id == (languageId & 0x3FF)) return localeTable[i].code;
    return "en";
}

void detectLocale(char* code, size_t size) {
    copyText(currentLocale, sizeof currentLocale, localeCodeFor(userLanguageId()));
    copyText(code, size, currentLocale);
    logMessage(L"language/country is %S", currentLocale);
    language[0] = currentLocale[0];
    language[1] = currentLocale[1];
    language[2] = 0;
    hasLanguage = true;
    hasCountry = std::strlen(currentLocale) == 5;
    if (hasCountry) {
        country[0] = currentLocale[3];
        country[1] = currentLocale[4];
        country[2] = 0;
    }
}

const char* localeCode() { return currentLocale; }

bool getLocaleLanguage(char* buffer) {
    if (!hasLanguage) return false;
    std::memcpy(buffer, language, 3);
    return true;
}

bool getLocaleCountry(char* buffer) {
    if (!hasCountry) return false;
    std::memcpy(buffer, country, 3);
    return true;
}

int getMessageText(int key, wchar_t* buffer) {
    getConfigMessage(key, buffer, textBufferSize);
    if (buffer[0] == 0) getConfigStringW(key, buffer, textBufferSize);
    return static_cast<int>(std::wcslen(buffer));
}

void showFormattedMessage(int key, const wchar_t* argument) {
    wchar_t text[textBufferSize];
    getMessageText(key, text);
    wchar_t* placeholder = argument ? std::wcsstr(text, L"{0}") : nullptr;
    if (placeholder) {
        std::wstring rest(placeholder + 3);
        *placeholder = 0;
        if (!appendTextW(text, textBufferSize, argument) || !appendTextW(text, textBufferSize, rest.c_str()))
            logError(L"message %d cut to %d characters", key, static_cast<int>(textBufferSize - 1));
    }
    showErrorMessage(text);
}

void showErrorMessage(const wchar_t* message) {
    std::wstring text = message;
    if (const wchar_t* log = logFilePath()) {
        wchar_t longPath[textBufferSize];
        DWORD n = GetLongPathNameW(log, longPath, textBufferSize);
        if (n == 0 || n >= textBufferSize) copyTextW(longPath, textBufferSize, log);
        text += L"\n\nLog: ";
        text += longPath;
    }
    if (guiErrorMode) {
        wchar_t title[textBufferSize];
        getMessageText(MessageErrorTitle, title);
        MessageBoxW(nullptr, text.c_str(), title, MB_ICONERROR | MB_OK);
    } else {
        // Characters the console's code page cannot show become "?" instead of cutting the text.
        UINT codePage = GetConsoleOutputCP();
        if (codePage == 0) codePage = GetACP();
        int size = WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string bytes(size > 0 ? static_cast<size_t>(size) : 1, '\0');
        WideCharToMultiByte(codePage, 0, text.c_str(), -1, bytes.data(), size, nullptr, nullptr);
        std::fprintf(stderr, "%s\n", bytes.c_str());
        std::fflush(stderr);
    }
}

void exitProcessWithCleanup(unsigned exitCode) {
    if (workDir[0]) {
        emptyDirectory(workDir, true);
        RemoveDirectoryA(workDir);
    }
    ExitProcess(exitCode);
}

void fatalText(const wchar_t* text) {
    showErrorMessage(text);
    exitProcessWithCleanup(1);
}

void fatalMessage(int key, const char* argument) {
    wchar_t wide[textBufferSize];
    widenBytes(wide, textBufferSize, argument ? argument : "");
    showFormattedMessage(key, argument ? wide : nullptr);
    exitProcessWithCleanup(1);
}

void fatalMessageW(int key, const wchar_t* argument) {
    showFormattedMessage(key, argument);
    exitProcessWithCleanup(1);
}

void emptyDirectory(const char* path, bool recurse) {
    if (!path[0] || path[0] == '.') return;
    logMessage(L"emptying %S", path);
    size_t length = std::strlen(path);
    const char* separator = path[length - 1] == '\\' ? "" : "\\";
    char pattern[textBufferSize];
    if (!formatText(pattern, textBufferSize, "%s%s*.*", path, separator)) return;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!std::strcmp(entry.cFileName, ".") || !std::strcmp(entry.cFileName, "..")) continue;
        char child[textBufferSize];
        if (!formatText(child, textBufferSize, "%s%s%s", path, separator, entry.cFileName)) continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            logMessage(L"attempting to remove %S (%d)", child, recurse ? 1 : 0);
            if (recurse) emptyDirectory(child, false);
            RemoveDirectoryA(child);
        } else {
            logMessage(L"attempting to delete %S", child);
            DeleteFileA(child);
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}
