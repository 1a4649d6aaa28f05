#include "registryjvms.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "config.h"
#include "javaexe.h"
#include "log.h"
#include "textbuf.h"

const char javaSoftJdkKey[] = "SOFTWARE\\JavaSoft\\Java Development Kit";
const char javaSoftJreKey[] = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
const char locatedJvmsKey[] = "SOFTWARE\\korvel-software\\tarvo\\locatedjvms\\";

namespace {

const size_t currentVersionSize = 100;
// A key that keeps failing at every index (deleted while we read it, say) must not
// keep the enumeration going for ever.
const int maxConsecutiveErrors = 64;

// Calls `visit` with the name of every subkey of `key` in index order. A subkey whose
// class does not fit is read again without it; one whose name does not fit is skipped.
template <typename Visit>
void enumerateSubkeys(HKEY key, const char* keyName, Visit visit) {
    char name[textBufferSize];
    char keyClass[textBufferSize];
    int errors = 0;
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = sizeof name;
        DWORD classSize = sizeof keyClass;
        LONG status = RegEnumKeyExA(key, index, name, &nameSize, nullptr, keyClass, &classSize, nullptr);
        if (status == ERROR_MORE_DATA) {
            nameSize = sizeof name;
            status = RegEnumKeyExA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
        }
        if (status == ERROR_NO_MORE_ITEMS) return;
        if (status != ERROR_SUCCESS) {
            logMessage(L"could not read subkey %d of %S (error %d)", static_cast<int>(index), keyName,
                       static_cast<int>(status));
            if (++errors >= maxConsecutiveErrors) return;
            continue;
        }
        errors = 0;
        visit(name);
    }
}

// Internal candidate buffers hold textBufferSize bytes; a version must also fit the caller's.
size_t candidateSize(size_t versionSize) { return std::min(versionSize, textBufferSize); }

// A version text of at most `size` - 1 bytes, or empty when it does not fit.
void copyVersion(char* version, size_t size, const char* text) {
    if (!copyText(version, size, text)) version[0] = 0;
}

// Takes the found candidate into the caller's buffers.
bool take(char* javaExe, char* version, size_t versionSize, const char* foundExe, const char* foundVersion) {
    copyText(javaExe, textBufferSize, foundExe);
    copyVersion(version, versionSize, foundVersion);
    return true;
}

// "CurrentVersion" of a JavaSoft key when it is readable and in range, else empty.
void currentVersion(const char* javaSoftKey, char* out, const VersionRange& range) {
    if (!readRegistryText(HKEY_LOCAL_MACHINE, javaSoftKey, "CurrentVersion", out, currentVersionSize) ||
        !isVersionInRange(out, range))
        out[0] = 0;
}

// JavaHome of a JavaSoft version key, turned into its java executable and verified.
bool checkJavaSoftHome(const char* versionKey, char* javaExe, char* version, size_t versionSize,
                       const VersionRange& range) {
    char home[textBufferSize];
    if (!readRegistryText(HKEY_LOCAL_MACHINE, versionKey, "JavaHome", home, sizeof home)) return false;
    return findJavaExe(home, javaExe) && checkJavaExe(javaExe, version, versionSize, range, false);
}

}  // namespace

bool findCurrentVersionJvm(char* javaExe, char* version, size_t versionSize, const VersionRange& range) {
    char jdkVersion[currentVersionSize];
    char jreVersion[currentVersionSize];
    currentVersion(javaSoftJdkKey, jdkVersion, range);
    jreVersion[0] = 0;
    if (getConfigInt(RequireJdk) == 0) currentVersion(javaSoftJreKey, jreVersion, range);

    // Fits: both key names are short and each version has fewer than 100 bytes.
    char chosen[textBufferSize];
    if (isNewerVersion(jdkVersion, jreVersion))
        formatText(chosen, sizeof chosen, "%s\\%s", javaSoftJdkKey, jdkVersion);
    else
        formatText(chosen, sizeof chosen, "%s\\%s", javaSoftJreKey, jreVersion);
    return checkJavaSoftHome(chosen, javaExe, version, versionSize, range);
}

bool findEnumeratedJvm(char* javaExe, char* version, size_t versionSize, const VersionRange& range,
                       const char* javaSoftKey) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, javaSoftKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    std::vector<std::string> names;
    enumerateSubkeys(key, javaSoftKey, [&](const char* name) {
        if (isVersionInRange(name, range)) names.emplace_back(name);
    });
    RegCloseKey(key);
    // std::string orders its bytes as unsigned values, a prefix before its extensions.
    std::sort(names.begin(), names.end());
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        char versionKey[textBufferSize];
        if (!formatText(versionKey, sizeof versionKey, "%s\\%s", javaSoftKey, it->c_str())) continue;
        if (checkJavaSoftHome(versionKey, javaExe, version, versionSize, range)) return true;
    }
    return false;
}

bool findJavaSoftJvm(char* javaExe, char* version, size_t versionSize, const VersionRange& range) {
    if (findCurrentVersionJvm(javaExe, version, versionSize, range)) return true;
    if (getConfigInt(RequireJdk) == 0 && findEnumeratedJvm(javaExe, version, versionSize, range, javaSoftJreKey))
        return true;
    return findEnumeratedJvm(javaExe, version, versionSize, range, javaSoftJdkKey);
}

bool findLocatedJvm(HKEY root, char* javaExe, char* version, size_t versionSize, const VersionRange& range,
                    bool everyQualifies) {
    version[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(root, locatedJvmsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    bool found = false;
    enumerateSubkeys(key, locatedJvmsKey, [&](const char* name) {
        char candidate[textBufferSize];
        copyText(candidate, sizeof candidate, name);
        for (char* p = candidate; *p; ++p)
            if (*p == '/') *p = '\\';
        if (!everyQualifies && !std::strstr(candidate, "zdr_jres")) return;
        char candidateVersion[textBufferSize];
        if (checkJavaExe(candidate, candidateVersion, candidateSize(versionSize), range, true) &&
            isNewerVersion(candidateVersion, version)) {
            found = take(javaExe, version, versionSize, candidate, candidateVersion);
        }
    });
    RegCloseKey(key);
    return found;
}

bool pickLocatedJvm(char* javaExe, char* version, size_t versionSize, const VersionRange& range, bool everyQualifies) {
    char userExe[textBufferSize];
    char userVersion[textBufferSize];
    char machineExe[textBufferSize];
    char machineVersion[textBufferSize];
    size_t size = candidateSize(versionSize);
    bool user = findLocatedJvm(HKEY_CURRENT_USER, userExe, userVersion, size, range, everyQualifies);
    bool machine = findLocatedJvm(HKEY_LOCAL_MACHINE, machineExe, machineVersion, size, range, everyQualifies);
    if (user && (!machine || isNewerVersion(userVersion, machineVersion)))
        return take(javaExe, version, versionSize, userExe, userVersion);
    if (machine) return take(javaExe, version, versionSize, machineExe, machineVersion);
    return false;
}

bool findRegistryJvm(char* javaExe, char* version, size_t versionSize, const VersionRange& range) {
    bool ownJresOnly = getConfigInt(OwnJresOnly) != 0;
    char sunExe[textBufferSize];
    char sunVersion[textBufferSize];
    bool sun = false;
    if (!ownJresOnly) {
        sun = findJavaSoftJvm(sunExe, sunVersion, candidateSize(versionSize), range);
        if (sun) logMessage(L"found sun %S %S", sunExe, sunVersion);
    }
    char locatedExe[textBufferSize];
    char locatedVersion[textBufferSize];
    bool located = pickLocatedJvm(locatedExe, locatedVersion, candidateSize(versionSize), range, !ownJresOnly);
    if (located) logMessage(L"found located %S %S", locatedExe, locatedVersion);

    if (sun && (!located || isNewerVersion(sunVersion, locatedVersion)))
        return take(javaExe, version, versionSize, sunExe, sunVersion);
    if (located) return take(javaExe, version, versionSize, locatedExe, locatedVersion);
    return false;
}
