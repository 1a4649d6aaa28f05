// JVM discovery end to end: packed jvmsearch drivers turn Java homes into executables,
// verify stand-in java.exe files (probing them or reading the per-user version cache in
// the real registry) and search the JavaSoft and located-JVM keys. Probes are counted
// in the stand-in's probe log, one log per driver run.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "javahome.h"
#include "jvmtrace.h"
#include "launcherfixture.h"

namespace tarvo::test {
namespace {

using javahome::JavaHome;

const char cacheRoot[] = "SOFTWARE\\korvel-software\\tarvo\\jvms";

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The path as checkJavaExe leaves it: full and lower-case (the test paths are ASCII).
std::string normalised(const std::wstring& path) { return lowerAscii(narrow(path)); }

// The cache key name below cacheRoot: the normalised path with forward slashes.
std::string cacheKeyName(const std::wstring& javaExe) {
    std::string name = normalised(javaExe);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

std::vector<std::string> subkeyNames(HKEY root, const std::string& key) {
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

struct RegValue {
    bool present = false;
    DWORD type = 0;
    std::string bytes;

    // RegSetValueExA counts a terminator the caller left out when the byte after the
    // counted ones is NUL (so does Windows); the text is what comes before it.
    std::string text() const {
        return !bytes.empty() && bytes.back() == '\0' ? bytes.substr(0, bytes.size() - 1) : bytes;
    }
};

RegValue readValue(HKEY root, const std::string& key, const char* name) {
    RegValue value;
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return value;
    DWORD size = 0;
    if (RegQueryValueExA(handle, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.bytes.resize(size);
        value.present = RegQueryValueExA(handle, name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.bytes.data()),
                                         &size) == ERROR_SUCCESS;
        value.bytes.resize(size);
    }
    RegCloseKey(handle);
    return value;
}

// Creates the key when needed; `bytes` are stored as they are, terminator included or
// not: a non-NUL byte behind them keeps RegSetValueExA from adding one.
void writeValue(HKEY root, const std::string& key, const char* name, const std::string& bytes, DWORD type = REG_SZ) {
    std::string data = bytes + 'X';
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr),
              ERROR_SUCCESS)
        << key;
    RegSetValueExA(handle, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(bytes.size()));
    RegCloseKey(handle);
}

std::string cacheKey(const std::wstring& javaExe) { return std::string(cacheRoot) + "\\" + cacheKeyName(javaExe); }

struct CacheEntry {
    bool exists = false;
    RegValue lastWriteTime;
    RegValue version;
};

CacheEntry readCache(const std::wstring& javaExe) {
    CacheEntry entry;
    std::vector<std::string> names = subkeyNames(HKEY_CURRENT_USER, cacheRoot);
    // Compared case-sensitively: the registry would also find a key of another case.
    entry.exists = std::find(names.begin(), names.end(), cacheKeyName(javaExe)) != names.end();
    entry.lastWriteTime = readValue(HKEY_CURRENT_USER, cacheKey(javaExe), "LastWriteTime");
    entry.version = readValue(HKEY_CURRENT_USER, cacheKey(javaExe), "Version");
    return entry;
}

// The file's last-write time as the cache stores it: 8 bytes, low 32 bits first.
std::string fileTimeBytes(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(path.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return {};
    FindClose(h);
    uint64_t value = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    std::string bytes;
    for (int i = 0; i < 8; ++i) bytes += static_cast<char>(value >> (8 * i));
    return bytes;
}

// Moves the file's last-write time by `seconds`, as an update of the executable would.
void touch(const std::wstring& path, int seconds) {
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME time;
    GetFileTime(h, nullptr, nullptr, &time);
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    value.QuadPart += static_cast<uint64_t>(seconds) * 10000000u;
    time.dwLowDateTime = value.LowPart;
    time.dwHighDateTime = value.HighPart;
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &time));
    CloseHandle(h);
}

void deleteCacheEntriesUnder(const std::wstring& folder) {
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

std::string describe(const Outcome& o) { return o.process.out + o.process.err + "\n--- log ---\n" + o.log; }

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

// ---- Java homes ----

TEST_F(JvmSearchTest, FindJavaExePrefersTheHomesJreAndWithKey131NeedsToolsJar) {
    std::wstring jre = JavaHome::jre().build(dir / L"jre8");
    std::wstring jdk = JavaHome::jdk().build(dir / L"jdk8");
    std::wstring jdkWithoutTools = JavaHome::jdk().withoutToolsJar().build(dir / L"jdk8-notools");
    std::wstring modern = JavaHome::modernJdk().build(dir / L"jdk17");
    std::wstring modernWithTools = JavaHome::modernJdk().build(dir / L"jdk17-tools");
    ASSERT_TRUE(writeFile(modernWithTools + L"\\lib\\tools.jar", "jar"));
    std::wstring missing = dir / L"missing";
    std::wstring plain = driver({}, L"plain.exe");
    std::wstring jdkOnly = driver({{131, "1"}}, L"jdkonly.exe");

    struct Case {
        std::wstring exe;
        std::wstring home;
        std::string result;
        std::wstring javaExe;
    };
    for (const Case& c : {
             Case{plain, jre, "1", jre + L"\\bin\\java.exe"},
             Case{plain, jdk, "1", jdk + L"\\jre\\bin\\java.exe"},
             Case{plain, modern, "1", modern + L"\\bin\\java.exe"},
             // Whether it exists is for checkJavaExe to find out.
             Case{plain, missing, "1", missing + L"\\bin\\java.exe"},
             Case{jdkOnly, jdk, "1", jdk + L"\\jre\\bin\\java.exe"},
             Case{jdkOnly, jdkWithoutTools, "0", jdkWithoutTools + L"\\jre\\bin\\java.exe"},
             Case{jdkOnly, jre, "0", jre + L"\\jre\\bin\\java.exe"},
             Case{jdkOnly, modern, "0", modern + L"\\jre\\bin\\java.exe"},
             // tools.jar is enough, and the executable is looked for in jre\bin only.
             Case{jdkOnly, modernWithTools, "1", modernWithTools + L"\\jre\\bin\\java.exe"},
         }) {
        Outcome o = call(c.exe, L"findjava " + quoteArgument(c.home));
        EXPECT_EQ(o["result"], c.result) << narrow(c.home) << describe(o);
        EXPECT_EQ(o["javaExe"], narrow(c.javaExe)) << narrow(c.home);
        EXPECT_EQ(o.probeCount(), 0u);
    }

    Outcome o = check(jdkOnly, modernWithTools + L"\\jre\\bin\\java.exe");
    EXPECT_EQ(o["result"], "0");
    EXPECT_TRUE(contains(o.log, "file doesn't exist")) << o.log;
    EXPECT_EQ(o.probeCount(), 0u);
}

// ---- the probe and the cache ----

TEST_F(JvmSearchTest, ProbesOnceAndReadsTheCacheUntilTheExecutableChanges) {
    std::wstring home = JavaHome::jre("1.8.0_202").build(dir / L"Java\\JRE8");
    std::wstring java = home + L"\\bin\\java.exe";
    std::wstring exe = driver();
    // A spelling with upper case, a ".." and a doubled backslash.
    std::wstring spelled = home + L"\\BIN\\..\\bin\\\\Java.EXE";

    Outcome first = check(exe, spelled);
    EXPECT_EQ(first["result"], "1") << describe(first);
    EXPECT_EQ(first["version"], "1.8.0_202");
    EXPECT_EQ(first["javaExe"], normalised(java));
    ASSERT_EQ(first.probeCount(), 1u);
    EXPECT_EQ(first.probes.runs()[0].record.get("args"), "-version");
    EXPECT_TRUE(contains(first.log, "Exit Code 0")) << first.log;
    EXPECT_TRUE(contains(first.log, "Java version: 1.8.0_202")) << first.log;
    EXPECT_TRUE(contains(first.log, "got version from execution 1.8.0_202")) << first.log;
    EXPECT_TRUE(contains(first.log, "checkJavaExe returning 1")) << first.log;
    EXPECT_TRUE(probeFilesLeft().empty());

    CacheEntry entry = readCache(java);
    ASSERT_TRUE(entry.exists) << "no key named " << cacheKeyName(java);
    EXPECT_EQ(entry.lastWriteTime.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(entry.lastWriteTime.bytes, fileTimeBytes(java));
    EXPECT_EQ(entry.version.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(entry.version.text(), "1.8.0_202");

    for (int i = 0; i < 2; ++i) {
        Outcome cached = check(exe, spelled);
        EXPECT_EQ(cached["result"], "1");
        EXPECT_EQ(cached["version"], "1.8.0_202");
        EXPECT_EQ(cached.probeCount(), 0u) << describe(cached);
        EXPECT_TRUE(contains(cached.log, "got version from registry 1.8.0_202")) << cached.log;
    }

    touch(java, 3600);
    Outcome changed = check(exe, java);
    EXPECT_EQ(changed.probeCount(), 1u) << describe(changed);
    EXPECT_EQ(changed["version"], "1.8.0_202");
    EXPECT_EQ(readCache(java).lastWriteTime.bytes, fileTimeBytes(java));
    Outcome again = check(exe, java);
    EXPECT_EQ(again.probeCount(), 0u);
}

TEST_F(JvmSearchTest, ARelativePathIsTakenFromTheDriversDirectoryNotTheWorkingDirectory) {
    std::wstring exe = driver({}, L"app\\drv.exe");
    JavaHome::jre("1.8.0_202").build(dir / L"app\\jre");
    // The same relative path below the working directory holds another runtime.
    JavaHome::jre("11.0.1").build(dir / L"cwd\\jre");
    ProcessOptions options;
    options.cwd = dir / L"cwd";
    Outcome o = check(exe, L"jre\\bin\\java.exe", L"", options);
    EXPECT_EQ(o["result"], "1") << describe(o);
    EXPECT_EQ(o["version"], "1.8.0_202");
    EXPECT_EQ(o["javaExe"], normalised(dir / L"app\\jre\\bin\\java.exe"));
}

TEST_F(JvmSearchTest, BlanksInThePathDoNotSplitTheProbesCommandLine) {
    std::wstring home = JavaHome::jre("1.8.0_202").build(dir / L"Program Files\\Java\\jre 8");
    // What an unquoted long path would start instead: <dir>\Program.exe.
    ASSERT_TRUE(CopyFileW(javahome::standinFile(L"java.exe").c_str(), (dir / L"Program.exe").c_str(), FALSE));
    ASSERT_TRUE(writeFile(dir / L"standin.cfg", "version.line=java version \"6.6.6\"\r\n"));

    Outcome o = check(driver(), home + L"\\bin\\java.exe");
    EXPECT_EQ(o["result"], "1") << describe(o);
    EXPECT_EQ(o["version"], "1.8.0_202");
    ASSERT_EQ(o.probeCount(), 1u);
    std::string cmdline = o.probes.runs()[0].cmdline;
    ASSERT_TRUE(cmdline.size() > 9 && cmdline.compare(cmdline.size() - 9, 9, " -version") == 0) << cmdline;
    std::string program = cmdline.substr(0, cmdline.size() - 9);
    // The short form when there is one, else the quoted long form.
    EXPECT_TRUE(program.find(' ') == std::string::npos || (program.front() == '"' && program.back() == '"'))
        << cmdline;
    EXPECT_FALSE(contains(o.probes.runs()[0].path, "Program.exe"));
}

struct VersionLineCase {
    const char* name;
    std::string line;
    std::string before;  // a line printed before the version line
    const char* result;
    const char* version;
};

TEST_F(JvmSearchTest, OnlyTheQuotedVersionOfAProperFirstLineCounts) {
    std::wstring exe = driver();
    // The longest first line that is read whole has 99 characters.
    std::string longest = "1.8.0." + std::string(78, '7');
    for (const VersionLineCase& c : {
             VersionLineCase{"java", "java version \"1.8.0_202\"", "", "1", "1.8.0_202"},
             VersionLineCase{"dated", "openjdk version \"17.0.2\" 2022-01-18", "", "1", "17.0.2"},
             VersionLineCase{"lts", "openjdk version \"11.0.22\" 2024-01-16 LTS", "", "1", "11.0.22"},
             VersionLineCase{"longest", "java version \"" + longest + "\"", "", "1", longest.c_str()},
             VersionLineCase{"notice", "java version \"1.8.0_202\"", "Picked up _JAVA_OPTIONS: -Xmx1g", "0", ""},
             VersionLineCase{"unclosed", "java version \"1.8.0_202", "", "0", ""},
             // Cut at 99 characters, before its closing quote.
             VersionLineCase{"cut", "java version \"" + longest + "7\"", "", "0", ""},
             VersionLineCase{"unquoted", "openjdk version 17.0.2", "", "0", ""},
             VersionLineCase{"capital", "Java version \"1.8.0_202\"", "", "0", ""},
             VersionLineCase{"other", "java full version \"1.8.0_202-b08\"", "", "0", ""},
         }) {
        SCOPED_TRACE(c.name);
        JavaHome spec = JavaHome::jre().versionLine(c.line);
        if (!c.before.empty()) spec.lineBefore(c.before);
        std::wstring java = spec.build(dir / widen(c.name)) + L"\\bin\\java.exe";
        Outcome o = check(exe, java);
        EXPECT_EQ(o["result"], c.result) << describe(o);
        EXPECT_EQ(o["version"], c.version);
        EXPECT_EQ(o.probeCount(), 1u);
        EXPECT_TRUE(probeFilesLeft().empty());
        if (std::string(c.result) == "1") {
            EXPECT_EQ(readCache(java).version.text(), c.version);
            continue;
        }
        EXPECT_TRUE(contains(o.log, "couldn't get version")) << o.log;
        // A probe that ended with 0 leaves no entry, so the next check probes again.
        EXPECT_FALSE(readCache(java).exists);
        EXPECT_EQ(check(exe, java).probeCount(), 1u);
    }
}

TEST_F(JvmSearchTest, AFailedProbeLeavesTheMarkerAndTheNextCheckProbesAgain) {
    std::wstring home = JavaHome::jre("1.8.0_202").exitCode(1).build(dir / L"jre");
    std::wstring java = home + L"\\bin\\java.exe";
    std::wstring exe = driver();

    for (int i = 0; i < 2; ++i) {
        Outcome o = check(exe, java);
        EXPECT_EQ(o["result"], "0") << describe(o);
        EXPECT_EQ(o["version"], "");
        EXPECT_EQ(o.probeCount(), 1u);
        EXPECT_TRUE(contains(o.log, "Exit Code 1")) << o.log;
        EXPECT_TRUE(contains(o.log, "couldn't get version")) << o.log;
        CacheEntry entry = readCache(java);
        EXPECT_EQ(entry.version.text(), "1.0.0");
        EXPECT_EQ(entry.lastWriteTime.bytes, fileTimeBytes(java));
    }
    EXPECT_TRUE(probeFilesLeft().empty());

    // Repaired without a new last-write time: the marker still sends it to a probe.
    ASSERT_TRUE(writeFile(home + L"\\bin\\standin.cfg", "version.line=java version \"1.8.0_202\"\r\n"));
    Outcome repaired = check(exe, java);
    EXPECT_EQ(repaired["result"], "1") << describe(repaired);
    EXPECT_EQ(repaired.probeCount(), 1u);
    EXPECT_EQ(readCache(java).version.text(), "1.8.0_202");
    EXPECT_EQ(check(exe, java).probeCount(), 0u);
}

struct CachedCase {
    const char* name;
    std::string lastWriteTime;  // "" for the file's own
    std::string version;        // written as it is; "<none>" writes no value
    size_t versionSize;
    bool probed;
    std::string result;  // the version the check ends with
};

TEST_F(JvmSearchTest, ACacheEntryCountsOnlyWithTheExactTimeAndATrustedVersionThatFits) {
    std::wstring exe = driver();
    std::string probed = "1.8.0_202";
    std::string longVersion = "1.8.0_" + std::string(2494, '5');  // 2500 bytes
    std::string filling = "1.8.0_" + std::string(5994, '5');      // 6000 bytes
    auto withByte = [](std::string bytes, size_t i) {
        bytes[i] = static_cast<char>(bytes[i] ^ 0x01);
        return bytes;
    };
    auto cases = [&](const std::string& time) {
        return std::vector<CachedCase>{
            {"plain", time, "1.7.0_80", 2000, false, "1.7.0_80"},
            {"terminated", time, std::string("1.7.0_80") + '\0', 2000, false, "1.7.0_80"},
            {"short", time, "1.7", 2000, false, "1.7"},
            {"empty", time, "", 2000, false, ""},
            {"untrusted7", time, "1.7.", 2000, true, probed},
            {"untrusted6", time, "1.6.", 2000, true, probed},
            {"untrusted5", time, "1.5.", 2000, true, probed},
            {"marker", time, "1.0.0", 2000, true, probed},
            {"noversion", time, "<none>", 2000, true, probed},
            {"lowbyte", withByte(time, 0), "1.7.0_80", 2000, true, probed},
            {"highbyte", withByte(time, 7), "1.7.0_80", 2000, true, probed},
            {"sevenbytes", time.substr(0, 7), "1.7.0_80", 2000, true, probed},
            {"ninebytes", time + '\0', "1.7.0_80", 2000, true, probed},
            // Longer than the caller's buffer: never cut, probed instead.
            {"toolong", time, longVersion, 2000, true, probed},
            {"fits", time, longVersion, 6000, false, longVersion},
            {"lastbyte", time, filling.substr(0, 5999) + '\0', 6000, false, filling.substr(0, 5999)},
            {"filling", time, filling, 6000, true, probed},
            {"beyond", time, filling + "5555", 6000, true, probed},
        };
    };
    // Every copy of the stand-in keeps its source's last-write time.
    std::string time = fileTimeBytes(javahome::standinFile(L"java.exe"));
    ASSERT_EQ(time.size(), 8u);
    for (const CachedCase& c : cases(time)) {
        SCOPED_TRACE(c.name);
        std::wstring java = JavaHome::jre(probed).build(dir / widen(c.name)) + L"\\bin\\java.exe";
        ASSERT_EQ(fileTimeBytes(java), time);
        writeValue(HKEY_CURRENT_USER, cacheKey(java), "LastWriteTime", c.lastWriteTime, REG_BINARY);
        if (c.version != "<none>") writeValue(HKEY_CURRENT_USER, cacheKey(java), "Version", c.version);

        Outcome o = check(exe, java, L"0 " + std::to_wstring(c.versionSize));
        EXPECT_EQ(o["result"], "1") << describe(o);
        EXPECT_EQ(o["version"], c.result);
        EXPECT_EQ(o.probeCount(), c.probed ? 1u : 0u);
        CacheEntry entry = readCache(java);
        if (c.probed) {
            // Overwritten by the probe.
            EXPECT_EQ(entry.lastWriteTime.bytes, time);
            EXPECT_EQ(entry.version.text(), probed);
        } else {
            EXPECT_EQ(entry.lastWriteTime.bytes, c.lastWriteTime);
            EXPECT_EQ(entry.version.bytes, c.version);
        }
    }
}

TEST_F(JvmSearchTest, WithLauncherType1TheJavawBesideItIsRequired) {
    std::wstring withJavaw = JavaHome::jre("1.8.0_202").build(dir / L"jre");
    std::wstring withoutJavaw = JavaHome::jre("1.8.0_202").withoutJavaw().build(dir / L"nojavaw");
    std::wstring gui = driver({{107, "1"}}, L"gui.exe");

    Outcome o = check(gui, withJavaw + L"\\bin\\java.exe");
    EXPECT_EQ(o["result"], "1") << describe(o);
    EXPECT_EQ(o["javaExe"], normalised(withJavaw + L"\\bin\\javaw.exe"));
    // The version still comes from java.exe.
    EXPECT_EQ(o.probes.count("java.exe"), 1u);
    EXPECT_EQ(o.probes.count("javaw.exe"), 0u);
    EXPECT_FALSE(readCache(withJavaw + L"\\bin\\javaw.exe").exists);

    o = check(gui, withoutJavaw + L"\\bin\\java.exe");
    EXPECT_EQ(o["result"], "0") << describe(o);
    EXPECT_EQ(o["version"], "1.8.0_202");
    EXPECT_EQ(o["javaExe"], normalised(withoutJavaw + L"\\bin\\javaw.exe"));
    EXPECT_TRUE(contains(o.log, "checkJavaExe returning 0")) << o.log;

    // Out of range: the path stays the java.exe.
    o = check(driver({{107, "1"}, {126, "9"}}, L"gui9.exe"), withJavaw + L"\\bin\\java.exe");
    EXPECT_EQ(o["result"], "0");
    EXPECT_EQ(o["javaExe"], normalised(withJavaw + L"\\bin\\java.exe"));

    // Other launcher types never look for javaw.exe.
    o = check(driver({{107, "2"}}, L"console.exe"), withoutJavaw + L"\\bin\\java.exe");
    EXPECT_EQ(o["result"], "1");
    EXPECT_EQ(o["javaExe"], normalised(withoutJavaw + L"\\bin\\java.exe"));
}

TEST_F(JvmSearchTest, AMissingExecutableIsNeitherProbedNorCached) {
    std::wstring java = dir / L"nothing\\bin\\java.exe";
    Outcome o = check(driver(), java);
    EXPECT_EQ(o["result"], "0");
    EXPECT_TRUE(contains(o.log, "file doesn't exist")) << o.log;
    EXPECT_TRUE(contains(o.log, "checkJavaExe returning 0")) << o.log;
    EXPECT_EQ(o.probeCount(), 0u);
    EXPECT_FALSE(readCache(java).exists);
}

TEST_F(JvmSearchTest, TheStrictRangeAndThePreReleaseTestDecideOnTheProbedVersion) {
    std::wstring java8 = JavaHome::jre("1.8.0_202").build(dir / L"jre8") + L"\\bin\\java.exe";
    std::wstring java17 = JavaHome::modernJdk("17.0.2").build(dir / L"jdk17") + L"\\bin\\java.exe";
    std::wstring early = JavaHome::jre("1.8.0_45-ea").build(dir / L"jre8ea") + L"\\bin\\java.exe";
    std::wstring only8 = driver({{126, "1.8"}, {127, "1.8"}}, L"only8.exe");
    std::wstring only8Pre = driver({{126, "1.8"}, {127, "1.8"}, {130, "1"}}, L"only8pre.exe");
    std::wstring after60 = driver({{126, "1.8.0_60"}}, L"after60.exe");

    struct Case {
        std::wstring exe;
        std::wstring java;
        const wchar_t* allow;
        const char* result;
        bool betaLogged;
    };
    for (const Case& c : {
             Case{only8, java8, L"0", "1", false},
             Case{only8, java17, L"0", "0", false},
             Case{only8, early, L"0", "0", true},
             Case{only8, early, L"1", "1", false},
             Case{only8Pre, early, L"0", "1", false},
             Case{after60, java8, L"0", "1", false},
             Case{after60, early, L"1", "0", false},
         }) {
        Outcome o = check(c.exe, c.java, c.allow);
        EXPECT_EQ(o["result"], c.result) << narrow(c.java) << describe(o);
        EXPECT_EQ(contains(o.log, "beta vm not allowed"), c.betaLogged) << narrow(c.java) << o.log;
    }
    // The version was cached whatever the tests made of it.
    EXPECT_EQ(readCache(early).version.text(), "1.8.0_45-ea");
}

TEST_F(JvmSearchTest, Key130AllowsPreReleaseVersionsOnlyAsANonZeroNumber) {
    struct Case {
        const char* key130;
        const char* version;
        const wchar_t* allow;
        const char* result;
    };
    for (const Case& c : {
             Case{"", "1.8.0_45-ea", L"0", "0"},
             Case{"0", "9-ea", L"0", "0"},
             Case{"yes", "11-rc1", L"0", "0"},
             Case{"1", "1.8.0_45-ea", L"0", "1"},
             Case{"2", "1.8.0-beta", L"0", "1"},
             Case{"", "1.8.0_45-ea", L"1", "1"},
             Case{"", "1.8.0_45", L"0", "1"},
         }) {
        std::wstring exe = driver({{130, c.key130}}, L"k130-" + widen(c.key130) + L".exe");
        Outcome o = call(exe, L"checkversion " + widen(c.version) + L" " + c.allow);
        EXPECT_EQ(o["result"], c.result) << c.key130 << " " << c.version << describe(o);
        EXPECT_EQ(contains(o.log, "beta vm not allowed"), std::string(c.result) == "0") << o.log;
    }
}

TEST_F(JvmSearchTest, AProbeThatHangsIsTerminatedAfterSixtySeconds) {
    std::wstring java = JavaHome::jre("1.8.0_202").delayMs(90000).build(dir / L"slow") + L"\\bin\\java.exe";
    ProcessOptions options;
    options.timeoutMs = 110000;
    auto start = std::chrono::steady_clock::now();
    Outcome o = check(driver(), java, L"", options);
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_FALSE(o.process.timedOut);
    EXPECT_EQ(o["result"], "0") << describe(o);
    EXPECT_GE(seconds, 59);
    EXPECT_LT(seconds, 85);
    EXPECT_TRUE(contains(o.log, "Terminating process")) << o.log;
    EXPECT_TRUE(contains(o.log, "couldn't get version")) << o.log;
    EXPECT_EQ(o.probeCount(), 1u);
    // Neither a version nor the failure marker: the version line it printed is not used.
    EXPECT_FALSE(readCache(java).exists);
    EXPECT_TRUE(probeFilesLeft().empty());
}

}  // namespace
}  // namespace tarvo::test
