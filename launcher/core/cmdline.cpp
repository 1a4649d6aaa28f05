#include "cmdline.h"

#include <cstring>
#include <cwchar>

#include "log.h"
#include "textbuf.h"

void splitCommandLine(const wchar_t* line, ArgumentVector& arguments) {
    const wchar_t* rest = line;
    while (*rest) {
        const wchar_t* dq = std::wcschr(rest, L'"');
        const wchar_t* sq = std::wcschr(rest, L'\'');
        const wchar_t* space = std::wcschr(rest, L' ');
        if (*rest == L' ') {
            ++rest;
            continue;
        }
        bool spaceFirst = space && (!dq || space < dq) && (!sq || space < sq);
        if (spaceFirst) {
            arguments.emplace_back(rest, space);
            rest = space + 1;
            continue;
        }
        const wchar_t* open = (dq && (!sq || dq < sq)) ? dq : sq;
        if (!open) {
            arguments.emplace_back(rest);
            return;
        }
        const wchar_t* close = std::wcschr(open + 1, *open);
        std::wstring word(rest, open);
        if (close) {
            word.append(open + 1, close);
            rest = close + 1;
            if (*rest == L' ') ++rest;
        } else {
            word.append(open + 1);
            rest = open + std::wcslen(open);
        }
        arguments.push_back(std::move(word));
    }
}

const char* commandLineTail(const char* commandLine) {
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (static_cast<unsigned char>(*p) > 32) ++p;
    }
    while (*p && static_cast<unsigned char>(*p) <= 32) ++p;
    return p;
}

void parseCommandWords(char* command, char* serviceName, size_t size, bool& interactive) {
    char* p = std::strchr(command, ' ');
    while (p && std::strlen(p) >= 2) {
        if (!std::strncmp(p + 1, "non-interactive", 15)) {
            *p = 0;
            interactive = false;
            p += 16;
            continue;
        }
        if (!copyText(serviceName, size, p + 1))
            logError(L"service name cut to %d bytes", static_cast<int>(size - 1));
        *p = 0;
        return;
    }
    // A lone trailing blank after the word would otherwise hide a valid command.
    if (p && p[0] == ' ' && p[1] == 0) *p = 0;
}
