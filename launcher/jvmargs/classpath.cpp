#include "classpath.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "config.h"
#include "environment.h"
#include "expand.h"
#include "log.h"
#include "messages.h"
#include "paths.h"
#include "textbuf.h"

namespace {

// A configuration text of any length; lists are never cut, so no entry is lost.
std::string configText(int key) {
    char* value = getConfigStringCopy(key);
    std::string text = value ? value : "";
    std::free(value);
    return text;
}

std::vector<std::string> splitNonEmpty(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool endsWith(const std::string& text, char c) { return !text.empty() && text.back() == c; }

// The value of an environment variable, whole: a path list cut in the middle would
// put a wrong path on the class path.
bool readVariable(const char* name, std::string& value, DWORD& error) {
    // Unset, or set but empty: GetLastError() tells which, as the last read left it.
    if (!readEnvironmentVariable(name, value) || value.empty()) {
        error = GetLastError();
        return false;
    }
    if (value.size() >= textBufferSize)
        logMessage(L"classpath variable %S holds %d bytes", name, static_cast<int>(value.size() + 1));
    return true;
}

void addPathEntry(std::string& classPath, const char* text, bool& found) {
    std::string joined = resolvePathList(text);
    found = fileExists(joined.c_str());
    classPath += joined;
    classPath += ';';
}

void addVariableEntry(std::string& classPath, const char* name, bool required, bool& found) {
    std::string value;
    DWORD error = 0;
    if (!readVariable(name, value, error)) {
        if (required && error == ERROR_ENVVAR_NOT_FOUND) fatalMessage(MessageClassPathVariable, name);
        return;
    }
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    classPath += value;
    if (!endsWith(value, ';')) classPath += ';';
    found = true;
}

void addScannedEntry(std::string& classPath, const char* text, bool& found) {
    char directory[textBufferSize];
    if (!resolvePath(directory, text, nullptr)) return;
    bool jars = addArchives(classPath, directory, "jar");
    bool zips = addArchives(classPath, directory, "zip");
    found = jars || zips;
}

void addEntry(std::string& classPath, const std::string& entry) {
    // Without a flag character there is nothing to say the entry is required; it is skipped.
    if (entry.size() < 2) {
        logError(L"classpath entry \"%S\" has no type and flag, skipped", entry.c_str());
        return;
    }
    char type = entry[0];
    bool required = entry[1] == '1';
    const char* rest = entry.c_str() + 2;
    // No usable path is this long; cutting it would name another file, so it is refused.
    if (std::strlen(rest) >= textBufferSize) {
        logError(L"classpath entry longer than %d bytes, not used: %.200S...", static_cast<int>(textBufferSize - 1),
                 rest);
        if (required) fatalMessage(MessageClassPathMissing, rest);
        return;
    }
    char text[textBufferSize];
    copyText(text, textBufferSize, rest);
    expandString(text, textBufferSize);

    bool found = false;
    switch (type) {
    case 'A':
    case 'D': addPathEntry(classPath, text, found); break;
    case 'E': addVariableEntry(classPath, text, required, found); break;
    case 'S': addScannedEntry(classPath, text, found); break;
    default: logMessage(L"classpath entry type %d unknown: %S", static_cast<int>(type), entry.c_str()); break;
    }
    if (required && !found) fatalMessage(MessageClassPathMissing, text);
}

}  // namespace

std::string resolvePathList(const char* list) {
    std::string joined;
    for (const std::string& piece : splitNonEmpty(list, ';')) {
        char resolved[textBufferSize];
        if (!resolvePath(resolved, piece.c_str(), nullptr)) continue;
        if (!joined.empty()) joined += ';';
        joined += resolved;
    }
    return joined;
}

std::string buildClassPath(const ClassPathOverrides& overrides) {
    std::string classPath = "-Djava.class.path=";
    if (overrides.prepend) {
        classPath += *overrides.prepend;
        classPath += ';';
    }
    if (workDir[0]) {
        addArchives(classPath, workDir, "jar");
        addArchives(classPath, workDir, "zip");
        char userDir[textBufferSize];
        if (formatText(userDir, textBufferSize, "%s\\user", workDir)) {
            addArchives(classPath, userDir, "jar");
            addArchives(classPath, userDir, "zip");
        }
    }
    addRuntimeJar(classPath);
    if (overrides.replace)
        classPath += *overrides.replace;
    else
        addConfiguredClassPath(classPath);
    if (overrides.append) {
        if (!endsWith(classPath, ';')) classPath += ';';
        classPath += *overrides.append;
    }
    if (endsWith(classPath, ';')) classPath.pop_back();
    return classPath;
}

void addConfiguredClassPath(std::string& classPath) {
    std::string configured = configText(ClassPath);
    logMessage(L"classpath entry %S", configured.c_str());
    std::vector<std::string> entries = splitNonEmpty(configured, ';');
    logMessage(L"classpath entries %d", static_cast<int>(entries.size()));
    for (const std::string& entry : entries) addEntry(classPath, entry);
}

bool addArchives(std::string& classPath, const char* directory, const char* extension) {
    if (!fileExists(directory)) return false;
    for (const std::string& name : listArchives(directory, extension)) {
        char path[textBufferSize];
        char resolved[textBufferSize];
        if (!formatText(path, textBufferSize, "%s\\%s", directory, name.c_str())) {
            logError(L"archive path longer than %d bytes, skipped: %S", static_cast<int>(textBufferSize - 1),
                     name.c_str());
            continue;
        }
        if (!resolvePath(resolved, path, nullptr)) continue;
        classPath += resolved;
        classPath += ';';
    }
    return true;
}

std::vector<std::string> listArchives(const char* directory, const char* extension) {
    std::vector<std::string> names;
    char pattern[textBufferSize];
    if (!formatText(pattern, textBufferSize, "%s\\*%s%s", directory, extension[0] == '.' ? "" : ".", extension)) {
        logError(L"archive pattern longer than %d bytes: %S", static_cast<int>(textBufferSize - 1), directory);
        return names;
    }
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::strcmp(entry.cFileName, ".") && std::strcmp(entry.cFileName, "..")) names.push_back(entry.cFileName);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

void addRuntimeJar(std::string& classPath) {
    if (flavor != 'z') return;
    std::string configured = configText(ApplicationDirectory);
    char applicationDir[textBufferSize];
    if (configured.empty()) {
        copyText(applicationDir, textBufferSize, exeDir());
    } else if (configured.size() >= textBufferSize) {
        logError(L"application directory longer than %d bytes, runtime jar not added",
                 static_cast<int>(textBufferSize - 1));
        return;
    } else if (!getFullPath(applicationDir, configured.c_str(), true)) {
        return;
    }
    classPath += applicationDir;
    if (!endsWith(classPath, '\\')) classPath += '\\';
    classPath += ".zandorium\\zdrruntime.jar;";
}
