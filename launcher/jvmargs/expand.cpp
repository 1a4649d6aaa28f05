#include "expand.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <cwchar>
#include <string>

#include "log.h"
#include "paths.h"

SelectedJvm selectedJvm;

namespace {

constexpr size_t scratchSize = 24000;

const char* const launcherVariables[] = {
    "%TARVO_EXEDIR%",        "%ZANDORIUM_EXEDIR%",        "%TARVO_TEMPDIR%",
    "%ZANDORIUM_TEMPDIR%",   "%TARVO_PATHLIST_SEPARATOR%", "%ZANDORIUM_PATHLIST_SEPARATOR%",
    "%TARVO_JVM_HOME%",      "%ZANDORIUM_JVM_HOME%",      "${TARVO_EXEDIR}",
    "${ZANDORIUM_EXEDIR}",   "${TARVO_TEMPDIR}",          "${ZANDORIUM_TEMPDIR}",
    "${TARVO_PATHLIST_SEPARATOR}", "${ZANDORIUM_PATHLIST_SEPARATOR}", "${TARVO_JVM_HOME}",
    "${ZANDORIUM_JVM_HOME}", "${launcher:sys.launcherDirectory}", "${launcher:sys.launcherTempDirectory}",
    "${launcher:sys.pathlistSeparator}", "${launcher:sys.jvmHome}", "${launcher:sys.tempDir}",
};
enum Value { ExeDir, WorkDir, Separator, JvmHome, TempDir };
const Value launcherValues[] = {ExeDir,    ExeDir,    WorkDir,   WorkDir,   Separator, Separator, JvmHome,
                                JvmHome,   ExeDir,    ExeDir,    WorkDir,   WorkDir,   Separator, Separator,
                                JvmHome,   JvmHome,   ExeDir,    WorkDir,   Separator, JvmHome,   TempDir};

template <typename C>
C* find(C* text, const C* needle) {
    size_t n = textLength(needle);
    for (C* p = text; *p; ++p)
        if (std::equal(needle, needle + n, p)) return p;
    return nullptr;
}

void logExpansion(const char* reference, const char* value, const char* text) {
    logMessage(L"expanding2 %S to %S in %S.", reference, value, text);
}
void logExpansion(const wchar_t* reference, const char* value, const wchar_t* text) {
    logMessage(L"expanding2 %s to %S in %s.", reference, value, text);
}
void logExpansion(const wchar_t* reference, const wchar_t* value, const wchar_t* text) {
    logMessage(L"expanding2 %s to %s in %s.", reference, value, text);
}

// Replaces every occurrence of `reference`, never rescanning an inserted value.
template <typename C, typename V>
void replaceVariable(C* text, size_t size, const C* reference, const V* value) {
    size_t referenceLength = textLength(reference);
    size_t valueLength = textLength(value);
    C* from = text;
    while (C* at = find(from, reference)) {
        size_t restLength = textLength(at + referenceLength);
        size_t prefix = static_cast<size_t>(at - text);
        if (restLength >= scratchSize || prefix + valueLength + restLength >= size) {
            logError(L"expansion of a variable refused: the text would exceed %d characters",
                     static_cast<int>(restLength >= scratchSize ? scratchSize : size) - 1);
            from = at + referenceLength;
            continue;
        }
        std::basic_string<C> rest(at + referenceLength, restLength);
        for (size_t i = 0; i < valueLength; ++i) at[i] = static_cast<C>(static_cast<std::make_unsigned_t<V>>(value[i]));
        std::copy(rest.begin(), rest.end(), at + valueLength);
        at[valueLength + restLength] = 0;
        logExpansion(reference, value, text);
        from = at + valueLength;
    }
}

template <typename C>
void expandEnvironment(C* text, size_t size, const C* block) {
    for (const C* entry = block; *entry; entry += textLength(entry) + 1) {
        const C* equals = entry;
        while (*equals && *equals != '=') ++equals;
        if (!*equals) continue;
        std::basic_string<C> reference;
        reference += '$';
        reference += '{';
        reference.append(entry, equals);
        reference += '}';
        replaceVariable(text, size, reference.c_str(), equals + 1);
        bool hasLower = false;
        for (C& c : reference)
            if (c >= 'a' && c <= 'z') {
                c = static_cast<C>(c - 'a' + 'A');
                hasLower = true;
            }
        // An upper-case name was replaced already; a second pass would expand a
        // reference that the inserted value itself carries.
        if (hasLower) replaceVariable(text, size, reference.c_str(), equals + 1);
    }
}

}  // namespace

void recordSelectedJvm(const char* javaExecutable, const char* version) {
    char home[textBufferSize];
    copyText(home, sizeof home, javaExecutable);
    size_t n = std::strlen(home);
    size_t cut = (n >= 9 && std::strcmp(home + n - 9, "javaw.exe") == 0) ? 9 : 8;
    home[n >= cut ? n - cut : 0] = 0;
    appendText(home, sizeof home, "..");
    copyText(selectedJvm.home, textBufferSize, home);
    copyText(selectedJvm.version, textBufferSize, version);
}

void expandString(char* text, size_t size) {
    char tempDir[textBufferSize];
    getTempDir(tempDir);
    const char* values[] = {exeDir(), workDir, ";", selectedJvm.home, tempDir};
    for (size_t i = 0; i < std::size(launcherVariables); ++i)
        replaceVariable(text, size, launcherVariables[i], values[launcherValues[i]]);

    char* block = GetEnvironmentStringsA();
    if (!block) return;
    expandEnvironment(text, size, block);
    FreeEnvironmentStringsA(block);
}

void expandWString(wchar_t* text, size_t size, bool useAnsiPaths) {
    wchar_t tempDir[textBufferSize];
    char tempDir8[textBufferSize];
    if (useAnsiPaths) {
        getTempDir(tempDir8);
        widenBytes(tempDir, textBufferSize, tempDir8);
    } else {
        getTempDirW(tempDir, true);
    }
    const wchar_t* exeDirectory = useAnsiPaths ? exeDirWidened() : exeDirW();
    for (size_t i = 0; i < std::size(launcherVariables); ++i) {
        wchar_t reference[64];
        widenBytes(reference, 64, launcherVariables[i]);
        switch (launcherValues[i]) {
        case ExeDir: replaceVariable(text, size, reference, exeDirectory); break;
        case WorkDir: replaceVariable(text, size, reference, workDir); break;
        case Separator: replaceVariable(text, size, reference, L";"); break;
        case JvmHome: replaceVariable(text, size, reference, selectedJvm.home); break;
        case TempDir: replaceVariable(text, size, reference, tempDir); break;
        }
    }

    wchar_t* block = GetEnvironmentStringsW();
    if (!block) return;
    expandEnvironment(text, size, block);
    FreeEnvironmentStringsW(block);
}
