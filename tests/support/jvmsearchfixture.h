// What the JVM-discovery tests share: packed jvmsearch drivers run with a probe log of
// their own, their results and log read back, and the per-user version cache entries
// they leave removed again.
#pragma once
#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "javahome.h"
#include "jvmtrace.h"
#include "launcherfixture.h"

namespace tarvo::test {

inline constexpr char cacheRoot[] = "SOFTWARE\\korvel-software\\tarvo\\jvms";

// The path as checkJavaExe leaves it: full and lower-case (the test paths are ASCII).
inline std::string normalised(const std::wstring& path) { return lowerAscii(narrow(path)); }

// The cache key name below cacheRoot: the normalised path with forward slashes.
inline std::string cacheKeyName(const std::wstring& javaExe) {
    std::string name = normalised(javaExe);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

inline std::vector<std::string> subkeyNames(HKEY root, const std::string& key) {
    std::vector<std::string> names;
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return names;
    char name[512];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(handle, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, size);
    }
    RegCloseKey(handle);
    return names;
}
inline void deleteCacheEntriesUnder(const std::wstring& folder) {
    std::string prefix = cacheKeyName(folder) + "/";
    for (const std::string& name : subkeyNames(HKEY_CURRENT_USER, cacheRoot))
        if (lowerAscii(name).rfind(prefix, 0) == 0) RegDeleteTreeA(HKEY_CURRENT_USER, (std::string(cacheRoot) + "\\" + name).c_str());
}

// What one driver run printed and logged, and the java.exe runs it caused.
struct Outcome {
    ProcessResult process;
    std::map<std::string, std::string> values;
    std::string log;
    jvmtrace::ProbeLog probes;

    std::string operator[](const std::string& name) const {
        auto it = values.find(name);
        return it == values.end() ? "<missing>" : it->second;
    }
    size_t probeCount() const { return probes.count("java.exe") + probes.count("javaw.exe"); }
};

inline std::string describe(const Outcome& o) { return o.process.out + o.process.err + "\n--- log ---\n" + o.log; }

class JvmSearchTest : public LauncherTest {
protected:
    ~JvmSearchTest() override { deleteCacheEntriesUnder(dir.path()); }

    std::wstring driver(StringKeys keys = {}, const std::wstring& name = L"drv.exe") {
        size_t slash = name.rfind(L'\\');
        if (slash != std::wstring::npos) javahome::makeDirectories(dir / name.substr(0, slash));
        return packDriver(L"jvmsearch_driver", makeBlock(keys), name);
    }

    Outcome call(const std::wstring& exe, const std::wstring& arguments, ProcessOptions options = {}) {
        std::wstring probeLog = dir / (L"probes-" + std::to_wstring(++runs) + L".log");
        options.env[L"STANDIN_PROBE_LOG"] = probeLog;
        Outcome o;
        o.process = run(exe, arguments, options);
        o.values = driverResults(o.process);
        o.log = logText(runs);
        o.probes = jvmtrace::readProbeLog(probeLog);
        return o;
    }

    Outcome check(const std::wstring& exe, const std::wstring& javaExe, const std::wstring& more = L"",
                  ProcessOptions options = {}) {
        return call(exe, L"check " + quoteArgument(javaExe) + (more.empty() ? L"" : L" " + more), options);
    }

    // Files the probes left in the private temporary directory.
    std::vector<std::wstring> probeFilesLeft() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileW((tmpDir() + L"\\trv*").c_str(), &data);
        if (h == INVALID_HANDLE_VALUE) return names;
        do names.push_back(data.cFileName);
        while (FindNextFileW(h, &data));
        FindClose(h);
        return names;
    }

    int runs = 0;
};

// The JavaSoft and located-JVM keys have fixed names and are read whole by every
// registry search, so the tests that write them, and the searches that must not see
// another test's entries, hold one lock shared by every test process of the Wine prefix.
class RegistryLock {
public:
    RegistryLock() : lock(CreateMutexW(nullptr, FALSE, L"tarvo-test-jvm-registry")) {
        if (lock) WaitForSingleObject(lock, INFINITE);
    }
    ~RegistryLock() {
        if (!lock) return;
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;
    bool held() const { return lock != nullptr; }

private:
    HANDLE lock;
};

}  // namespace tarvo::test
