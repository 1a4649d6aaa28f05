#include "searchjvm.h"

#include <share.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config.h"
#include "expand.h"
#include "javaexe.h"
#include "jreprep.h"
#include "jvmloader.h"
#include "log.h"
#include "paths.h"
#include "registryjvms.h"

namespace {

struct SearchEntry {
    char letter;
    std::string text;
};

// Splits key 128 into entries without touching any tokeniser state of the callers.
std::vector<SearchEntry> searchEntries() {
    char sequence[textBufferSize];
    getConfigString(JvmSearchSequence, sequence, sizeof sequence);
    std::vector<SearchEntry> entries;
    const char* p = sequence;
    while (*p) {
        const char* end = std::strchr(p, ';');
        size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (length > 0) entries.push_back({p[0], std::string(p + 1, length - 1)});
        p += length + (end ? 1 : 0);
    }
    return entries;
}

bool isAbsoluteText(const std::string& text) {
    return text.size() >= 2 && (text[1] == ':' || (text[0] == '\\' && text[1] == '\\'));
}

// The search's own outcome while it runs: the last candidate that passed its checks.
struct Search {
    char* javaExecutable;
    char* version;
    JvmSourceKind& kind;
    char* label;

    HMODULE accept(JvmSourceKind sourceKind, const char* sourceLabel) {
        if (sourceLabel) copyText(label, textBufferSize, sourceLabel);
        kind = sourceKind;
        return loadJvmLibrary(javaExecutable);
    }

    // The Java home named by the first line of a file of the application directory.
    HMODULE tryLocationFile(const wchar_t* file, const wchar_t* which, const VersionRange& range) {
        char line[textBufferSize];
        if (!readAppConfigLine(line, file)) return nullptr;
        logMessage(L"Has %s location %S", which, line);
        if (!checkLocation(javaExecutable, version, line, range, false)) return nullptr;
        logMessage(L"Using %s location", which);
        return accept(JvmSourceKind::Location, line);
    }
};

}  // namespace

bool readAppConfigLine(char* line, const wchar_t* fileName) {
    wchar_t directory[textBufferSize];
    getConfigStringW(ApplicationDirectory, directory, textBufferSize);
    wchar_t path[textBufferSize];
    if (!getFullPathW(path, directory, false, true) || !appendTextW(path, textBufferSize, fileName)) return false;
    FILE* file = _wfsopen(path, L"rt", _SH_DENYNO);
    if (!file) return false;
    // A line as long as the buffer or longer names no usable directory: refuse it whole.
    bool read = std::fgets(line, static_cast<int>(textBufferSize), file) != nullptr;
    bool whole = read && (std::strchr(line, '\n') || std::feof(file));
    std::fclose(file);
    if (!read) return false;
    if (!whole) {
        logError(L"first line of %s longer than %d bytes; ignored", path, static_cast<int>(textBufferSize - 2));
        return false;
    }
    size_t length = std::strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = 0;
    return true;
}

bool checkLocation(char* javaExecutable, char* version, const char* location, const VersionRange& range, bool relaxed) {
    char home[textBufferSize];
    if (!getFullPath(home, location, false)) return false;
    prepareJre(home);
    bool found = findJavaExe(home, javaExecutable);
    if (relaxed) return true;
    return found && checkJavaExe(javaExecutable, version, jvmVersionSize, range, true);
}

bool checkEnvironmentJvm(char* javaExecutable, char* version, const char* variable, const VersionRange& range) {
    char value[textBufferSize];
    DWORD n = GetEnvironmentVariableA(variable, value, sizeof value);
    if (n == 0) return false;
    if (n >= sizeof value) {
        logError(L"value of %S longer than %d bytes; ignored", variable, static_cast<int>(sizeof value - 1));
        return false;
    }
    for (char* p = value; *p; ++p)
        if (*p == '/') *p = '\\';
    return findJavaExe(value, javaExecutable) && checkJavaExe(javaExecutable, version, jvmVersionSize, range, false);
}

bool checkPathJvm(char* javaExecutable, char* version, const VersionRange& range) {
    DWORD n = SearchPathA(nullptr, "java.exe", nullptr, textBufferSize, javaExecutable, nullptr);
    if (n == 0 || n >= textBufferSize) return false;
    return checkJavaExe(javaExecutable, version, jvmVersionSize, range, false);
}

bool checkInstallations(HKEY root, REGSAM view, char* javaExecutable, char* version, const VersionRange& range) {
    char applicationId[textBufferSize];
    getConfigString(ApplicationId, applicationId, sizeof applicationId);
    logMessage(L"checking app id %S (%d, %p)", applicationId, static_cast<int>(view), root);
    if (!applicationId[0]) return false;
    HKEY key;
    LONG status = RegOpenKeyExA(root, "SOFTWARE\\korvel-software\\zandorium\\installations", 0, KEY_READ | view, &key);
    if (status != ERROR_SUCCESS) {
        logMessage(L"could not open installation node %d", static_cast<int>(status));
        return false;
    }
    char list[textBufferSize];
    DWORD size = sizeof list - 1;
    status = RegQueryValueExA(key, applicationId, nullptr, nullptr, reinterpret_cast<BYTE*>(list), &size);
    if (status != ERROR_SUCCESS || size == 0) {
        logMessage(L"could not query value node %d", 0);
        RegCloseKey(key);
        return false;
    }
    list[size] = 0;
    logMessage(L"found installations: %S", list);
    bool found = false;
    for (const char* p = list; *p && !found;) {
        const char* end = std::strchr(p, ';');
        size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (length > 0) {
            char home[textBufferSize];
            if (formatText(home, sizeof home, "%.*s\\jre", static_cast<int>(length), p)) {
                if (!findJavaExe(home, javaExecutable))
                    logMessage(L"did not find java in %S", home);
                else if (checkJavaExe(javaExecutable, version, jvmVersionSize, range, false))
                    found = true;
                else
                    logMessage(L"java version did not match in %S", home);
            }
        }
        p += length + (end ? 1 : 0);
    }
    RegCloseKey(key);
    return found;
}

bool findPreviousInstallation(HKEY root, char* javaExecutable, char* version, const VersionRange& range) {
    return checkInstallations(root, 0, javaExecutable, version, range) ||
           checkInstallations(root, KEY_WOW64_64KEY, javaExecutable, version, range);
}

HMODULE searchJvm(char* javaExecutable, char* version, JvmSourceKind& kind, char* label) {
    logMessage(L"Searching for a JVM");
    kind = JvmSourceKind::None;
    Search search{javaExecutable, version, kind, label};
    char minimum[jvmVersionSize], maximum[jvmVersionSize];
    getConfigString(MinVersion, minimum, sizeof minimum);
    getConfigString(MaxVersion, maximum, sizeof maximum);
    logMessage(L"MinVersion: %S, MaxVersion: %S", minimum, maximum);
    VersionRange range = makeVersionRange(minimum, maximum);
    std::vector<SearchEntry> entries = searchEntries();
    HMODULE library = nullptr;

    if ((library = search.tryLocationFile(L"\\.zandorium\\pref_jre.cfg", L"preferred", range))) return library;

    for (const SearchEntry& entry : entries) {
        char text[textBufferSize];
        copyText(text, sizeof text, entry.text.c_str());
        expandString(text, sizeof text);
        logMessage(L"Testing location %S (type %c)", text, entry.letter);
        switch (entry.letter) {
        case 'A':
        case 'B':
        case 'R':
            if (checkLocation(javaExecutable, version, text, range, false))
                library = search.accept(JvmSourceKind::Location, text);
            break;
        case 'E':
            if (checkEnvironmentJvm(javaExecutable, version, text, range))
                library = search.accept(JvmSourceKind::Environment, text);
            break;
        case 'S':
            if (checkPathJvm(javaExecutable, version, range)) library = search.accept(JvmSourceKind::Path, text);
            break;
        case 'Y':
            if (findRegistryJvm(javaExecutable, version, jvmVersionSize, range))
                library = search.accept(JvmSourceKind::Registry, nullptr);
            break;
        default:
            break;
        }
        if (library) return library;
    }

    if ((library = search.tryLocationFile(L"\\.zandorium\\inst_jre.cfg", L"installer", range))) return library;

    for (const SearchEntry& entry : entries) {
        bool relaxedEntry = entry.letter == 'B' || ((entry.letter == 'A' || entry.letter == 'R') && !isAbsoluteText(entry.text));
        if (!relaxedEntry) continue;
        logMessage(L"Testing relative location %S", entry.text.c_str());
        // The relaxed pass runs no probe: an earlier candidate's version must not be
        // recorded as this runtime's.
        javaExecutable[0] = 0;
        version[0] = 0;
        checkLocation(javaExecutable, version, entry.text.c_str(), range, true);
        if (fileExists(javaExecutable)) {
            logMessage(L"%S exists", javaExecutable);
            if ((library = search.accept(JvmSourceKind::Location, entry.text.c_str()))) return library;
        }
    }

    if (findPreviousInstallation(HKEY_CURRENT_USER, javaExecutable, version, range)) {
        logMessage(L"found JRE from previous installation (user) %S", javaExecutable);
        if ((library = search.accept(JvmSourceKind::Registry, nullptr))) return library;
    }
    if (findPreviousInstallation(HKEY_LOCAL_MACHINE, javaExecutable, version, range)) {
        logMessage(L"found JRE from previous installation (machine) %S", javaExecutable);
        if ((library = search.accept(JvmSourceKind::Registry, nullptr))) return library;
    }
    logMessage(L"Search sequence finished");
    for (const char* variable : {"TARVO_JAVA_HOME", "ZANDORIUM_JAVA_HOME"}) {
        if (checkEnvironmentJvm(javaExecutable, version, variable, range))
            if ((library = search.accept(JvmSourceKind::Environment, variable))) return library;
    }
    return nullptr;
}
