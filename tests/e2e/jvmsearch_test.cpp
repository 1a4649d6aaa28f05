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

#include "jvmsearchfixture.h"

namespace tarvo::test {
namespace {

using javahome::JavaHome;

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

// ---- the registry searches ----

const char jreKey[] = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
const char jdkKey[] = "SOFTWARE\\JavaSoft\\Java Development Kit";
const char locatedKey[] = "SOFTWARE\\korvel-software\\tarvo\\locatedjvms";

// The paths checkJavaExe was called with, in order, from its first log line.
std::vector<std::string> checkedPaths(const std::string& log) {
    std::vector<std::string> paths;
    const std::string head = "checkJavaExe (";
    for (size_t at = log.find(head); at != std::string::npos; at = log.find(head, at + 1)) {
        size_t start = at + head.size();
        paths.push_back(log.substr(start, log.find(", [out]", start) - start));
    }
    return paths;
}

std::string slashed(const std::wstring& path) {
    std::string name = narrow(path);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// The fixed keys are removed before and after each test. They belong to the test
// prefix: nothing else registers Java runtimes there.
class RegistryJvmTest : public JvmSearchTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(lock.held());
        clearKeys();
    }
    void TearDown() override { clearKeys(); }
    static void clearKeys() {
        for (const char* key : {jreKey, jdkKey, locatedKey}) RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
        RegDeleteTreeA(HKEY_CURRENT_USER, locatedKey);
        // Created on the way to the keys above; only removed while empty.
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft");
    }

    void currentVersion(const char* key, const std::string& version) {
        writeValue(HKEY_LOCAL_MACHINE, key, "CurrentVersion", version + '\0');
    }
    void javaSoftHome(const char* key, const std::string& name, const std::wstring& home) {
        writeValue(HKEY_LOCAL_MACHINE, name.empty() ? key : std::string(key) + "\\" + name, "JavaHome",
                   narrow(home) + '\0');
    }
    void located(HKEY root, const std::string& name) {
        HKEY handle;
        ASSERT_EQ(RegCreateKeyExA(root, (std::string(locatedKey) + "\\" + name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &handle, nullptr),
                  ERROR_SUCCESS)
            << name;
        RegCloseKey(handle);
    }
    void located(HKEY root, const std::wstring& javaExe) { located(root, slashed(javaExe)); }

    RegistryLock lock;
};

struct CurrentVersionCase {
    const char* name;
    std::wstring exe;
    std::string jdkVersion;  // "<none>" writes no value
    std::string jreVersion;
    std::wstring ownJreHome;  // JavaHome of the JRE key itself
    std::string result;
    std::wstring javaExe;
};

TEST_F(RegistryJvmTest, CurrentVersionPicksTheNewerOfJdkAndJreInRange) {
    std::wstring jdk = JavaHome::jdk("1.8.0_202").build(dir / L"jdk");
    std::wstring jdkWithoutTools = JavaHome::jdk("1.8.0_202").withoutToolsJar().build(dir / L"jdk-notools");
    std::wstring jdkEarly = JavaHome::jdk("1.8.0_45-ea").build(dir / L"jdk-ea");
    std::wstring jre = JavaHome::jre("1.8.0_202").build(dir / L"jre");
    std::wstring jre7 = JavaHome::jre("1.7.0_80").build(dir / L"jre7");
    std::wstring plain = driver({}, L"plain.exe");
    std::wstring min18 = driver({{126, "1.8"}}, L"min18.exe");
    std::wstring jdkOnly = driver({{131, "1"}}, L"jdkonly.exe");
    std::wstring jdkExe = jdk + L"\\jre\\bin\\java.exe";
    std::wstring jreExe = jre + L"\\bin\\java.exe";
    std::wstring jre7Exe = jre7 + L"\\bin\\java.exe";
    std::string tooLong = "1.8.0_" + std::string(120, '9');
    std::string filling = "1.8.0_" + std::string(94, '9');  // 100 bytes

    for (const CurrentVersionCase& c : {
             CurrentVersionCase{"equal", plain, "1.8", "1.8", L"", "1", jreExe},
             CurrentVersionCase{"jre out of range", min18, "1.8", "1.7", L"", "1", jdkExe},
             CurrentVersionCase{"jdk newer", plain, "1.8.0_45", "1.8", L"", "1", jdkExe},
             CurrentVersionCase{"jre newer", plain, "1.8.0_45", "1.8.0_101", L"", "1", jreExe},
             CurrentVersionCase{"jdk only", plain, "1.8", "<none>", L"", "1", jdkExe},
             // Neither version usable: the JRE key itself is asked for its JavaHome.
             CurrentVersionCase{"none", plain, "<none>", "<none>", jre, "1", jreExe},
             CurrentVersionCase{"both out of range", min18, "1.7", "1.6", jre, "1", jreExe},
             CurrentVersionCase{"nothing", plain, "<none>", "<none>", L"", "0", L""},
             // Key 131: the JRE's version is never read, and the JDK needs tools.jar.
             CurrentVersionCase{"jdk required", jdkOnly, "1.8", "9", L"", "1", jdkExe},
             // Values that do not fit 100 bytes with their terminator count as unreadable.
             CurrentVersionCase{"jdk too long", plain, tooLong, "1.7", L"", "1", jre7Exe},
             CurrentVersionCase{"jdk filling", plain, filling, "1.7", L"", "1", jre7Exe},
             CurrentVersionCase{"jdk fits", plain, filling.substr(0, 99) + '\0', "1.7", L"", "1", jdkExe},
         }) {
        SCOPED_TRACE(c.name);
        clearKeys();
        // The raw bytes: "filling" is stored without a terminator.
        if (c.jdkVersion != "<none>") writeValue(HKEY_LOCAL_MACHINE, jdkKey, "CurrentVersion", c.jdkVersion);
        if (c.jreVersion != "<none>") currentVersion(jreKey, c.jreVersion);
        javaSoftHome(jdkKey, c.jdkVersion, jdk);
        javaSoftHome(jreKey, c.jreVersion, c.jreVersion == "1.7" ? jre7 : jre);
        if (!c.ownJreHome.empty()) javaSoftHome(jreKey, "", c.ownJreHome);

        Outcome o = call(c.exe, L"registry current");
        EXPECT_EQ(o["result"], c.result) << describe(o);
        if (c.result == "1") {
            EXPECT_EQ(o["javaExe"], normalised(c.javaExe));
        }
    }

    // Pre-release versions are not allowed here, and a JDK needs tools.jar with key 131.
    clearKeys();
    currentVersion(jdkKey, "1.8");
    javaSoftHome(jdkKey, "1.8", jdkEarly);
    Outcome early = call(plain, L"registry current");
    EXPECT_EQ(early["result"], "0");
    EXPECT_TRUE(contains(early.log, "beta vm not allowed")) << early.log;
    javaSoftHome(jdkKey, "1.8", jdkWithoutTools);
    EXPECT_EQ(call(plain, L"registry current")["result"], "1");
    EXPECT_EQ(call(jdkOnly, L"registry current")["result"], "0");
}

TEST_F(RegistryJvmTest, SubkeysAreTriedFromTheByteWiseGreatestNameDown) {
    for (const char* name : {"1.8", "1.8.0_101", "1.8.0_45", "11.0.2", "9"})
        javaSoftHome(jreKey, name, dir / (L"missing-" + widen(name)));
    auto expected = [&](std::initializer_list<const char*> names) {
        std::vector<std::string> paths;
        for (const char* name : names) paths.push_back(narrow(dir / (L"missing-" + widen(name) + L"\\bin\\java.exe")));
        return paths;
    };

    Outcome all = call(driver({}, L"plain.exe"), L"registry enumerated jre");
    EXPECT_EQ(all["result"], "0") << describe(all);
    EXPECT_EQ(checkedPaths(all.log), expected({"9", "11.0.2", "1.8.0_45", "1.8.0_101", "1.8"}));

    // Names outside the range (lenient) are not tried at all.
    Outcome only8 = call(driver({{126, "1.8"}, {127, "1.8"}}, L"only8.exe"), L"registry enumerated jre");
    EXPECT_EQ(checkedPaths(only8.log), expected({"1.8.0_45", "1.8.0_101", "1.8"}));

    // All working: the first one tried wins, nothing after it is checked.
    clearKeys();
    for (const char* name : {"1.8", "1.8.0_101", "1.8.0_45"})
        javaSoftHome(jreKey, name, JavaHome::jre(name).build(dir / widen(name)));
    Outcome working = call(driver({}, L"plain.exe"), L"registry enumerated jre");
    EXPECT_EQ(working["result"], "1") << describe(working);
    EXPECT_EQ(working["javaExe"], normalised(dir / L"1.8.0_45\\bin\\java.exe"));
    EXPECT_EQ(working["version"], "1.8.0_45");
    EXPECT_EQ(checkedPaths(working.log).size(), 1u);
}

TEST_F(RegistryJvmTest, JavaSoftTriesCurrentVersionThenJreThenJdkSubkeys) {
    std::wstring jre = JavaHome::jre("1.8.0_202").build(dir / L"jre");
    std::wstring jdk = JavaHome::jdk("1.8.0_202").build(dir / L"jdk");
    std::wstring plain = driver({}, L"plain.exe");
    std::wstring min18 = driver({{126, "1.8"}}, L"min18.exe");
    std::wstring jdkOnly = driver({{131, "1"}}, L"jdkonly.exe");

    // CurrentVersion out of range: on to the subkeys, JRE first.
    currentVersion(jreKey, "1.7");
    javaSoftHome(jreKey, "1.7", dir / L"missing-cv");
    javaSoftHome(jreKey, "1.8", dir / L"missing-jre");
    javaSoftHome(jdkKey, "1.8", jdk);
    std::string missingCv = narrow(dir / L"missing-cv\\bin\\java.exe");
    std::string missingJre = narrow(dir / L"missing-jre\\bin\\java.exe");
    std::string jdkExe = narrow(jdk + L"\\jre\\bin\\java.exe");
    Outcome o = call(min18, L"registry javasoft");
    EXPECT_EQ(o["result"], "1") << describe(o);
    EXPECT_EQ(o["javaExe"], normalised(widen(jdkExe)));
    EXPECT_EQ(checkedPaths(o.log), (std::vector<std::string>{missingJre, jdkExe}));

    javaSoftHome(jreKey, "1.8", jre);
    o = call(min18, L"registry javasoft");
    EXPECT_EQ(o["javaExe"], normalised(jre + L"\\bin\\java.exe"));

    // CurrentVersion first, then the JRE's subkeys from the greatest name, then the JDK's.
    currentVersion(jreKey, "1.8");
    currentVersion(jdkKey, "1.8");
    javaSoftHome(jreKey, "1.8", dir / L"missing-jre");
    o = call(plain, L"registry javasoft");
    EXPECT_EQ(o["result"], "1") << describe(o);
    EXPECT_EQ(o["javaExe"], normalised(widen(jdkExe)));
    EXPECT_EQ(checkedPaths(o.log), (std::vector<std::string>{missingJre, missingJre, missingCv, jdkExe}));

    // Key 131: nothing of the JRE key is read.
    javaSoftHome(jreKey, "1.8", jre);
    currentVersion(jreKey, "9");
    javaSoftHome(jreKey, "9", jre);
    o = call(jdkOnly, L"registry javasoft");
    EXPECT_EQ(o["result"], "1") << describe(o);
    EXPECT_EQ(o["javaExe"], normalised(jdk + L"\\jre\\bin\\java.exe"));
    EXPECT_EQ(checkedPaths(o.log), (std::vector<std::string>{jdkExe}));
    javaSoftHome(jdkKey, "1.8", JavaHome::jdk().withoutToolsJar().build(dir / L"jdk-notools"));
    o = call(jdkOnly, L"registry javasoft");
    EXPECT_EQ(o["result"], "0");
    EXPECT_TRUE(checkedPaths(o.log).empty()) << o.log;
}

TEST_F(RegistryJvmTest, SubkeysWhoseValuesDoNotFitAreSkipped) {
    std::wstring jre = JavaHome::jre("1.8.0_101").build(dir / L"jre");
    std::wstring tried = JavaHome::jre("1.8.0_45").build(dir / L"tried");
    // Greatest name first: 1.8.0_50 (too long), 1.8.0_49 (fills 6000 bytes without a
    // terminator), 1.8.0_48 (a long class name), then 1.8.0_101.
    // Both begin with a working home and a NUL, so a reader that cut them would take it.
    std::string home = narrow(tried) + '\0';
    writeValue(HKEY_LOCAL_MACHINE, std::string(jreKey) + "\\1.8.0_50", "JavaHome", home + std::string(7000, 'x') + '\0');
    writeValue(HKEY_LOCAL_MACHINE, std::string(jreKey) + "\\1.8.0_49", "JavaHome", home + std::string(6000 - home.size(), 'x'));
    javaSoftHome(jreKey, "1.8.0_101", jre);
    Outcome o = call(driver(), L"registry enumerated jre");
    EXPECT_EQ(o["result"], "1") << describe(o);
    EXPECT_EQ(o["javaExe"], normalised(jre + L"\\bin\\java.exe"));
    EXPECT_EQ(checkedPaths(o.log).size(), 1u) << o.log;
    EXPECT_TRUE(contains(o.log, "is larger than 6000 bytes")) << o.log;
    EXPECT_TRUE(contains(o.log, "fills 6000 bytes unterminated")) << o.log;

    // A subkey class beyond the class buffer does not hide the subkey's name.
    std::string withClass = std::string(jreKey) + "\\1.8.0_48";
    std::string keyClass(7000, 'c');
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, withClass.c_str(), 0, keyClass.data(), 0, KEY_ALL_ACCESS, nullptr,
                              &handle, nullptr),
              ERROR_SUCCESS);
    // Set through this handle: creating the key again would replace its class.
    std::string triedHome = narrow(tried);
    RegSetValueExA(handle, "JavaHome", 0, REG_SZ, reinterpret_cast<const BYTE*>(triedHome.c_str()),
                   static_cast<DWORD>(triedHome.size() + 1));
    RegCloseKey(handle);
    o = call(driver(), L"registry enumerated jre");
    EXPECT_EQ(o["result"], "1") << describe(o);
    EXPECT_EQ(o["javaExe"], normalised(tried + L"\\bin\\java.exe"));
}

TEST_F(RegistryJvmTest, EveryLocatedJvmIsVerifiedAndTheNewestWins) {
    std::wstring first = JavaHome::jre("1.8.0_202").build(dir / L"a") + L"\\bin\\java.exe";
    std::wstring newest = JavaHome::jre("11.0.2").build(dir / L"b") + L"\\bin\\java.exe";
    std::wstring same = JavaHome::jre("1.8.0_202").build(dir / L"c") + L"\\bin\\java.exe";
    std::wstring early = JavaHome::jre("1.8.0_301-ea").build(dir / L"d") + L"\\bin\\java.exe";
    std::wstring exe = driver();
    located(HKEY_CURRENT_USER, first);
    located(HKEY_CURRENT_USER, same);

    // Equal versions: the first enumerated stays; both are verified.
    Outcome o = call(exe, L"registry located user every");
    EXPECT_EQ(o["result"], "1") << describe(o);
    EXPECT_EQ(o["javaExe"], normalised(first));
    // The names' forward slashes are backslashes again.
    EXPECT_EQ(checkedPaths(o.log), (std::vector<std::string>{narrow(first), narrow(same)}));

    located(HKEY_CURRENT_USER, newest);
    located(HKEY_CURRENT_USER, slashed(dir / L"missing\\bin\\java.exe"));
    o = call(exe, L"registry located user every");
    EXPECT_EQ(o["javaExe"], normalised(newest));
    EXPECT_EQ(o["version"], "11.0.2");
    EXPECT_EQ(checkedPaths(o.log).size(), 4u);

    // Pre-release versions are allowed for located JVMs.
    located(HKEY_LOCAL_MACHINE, early);
    o = call(exe, L"registry located machine every");
    EXPECT_EQ(o["result"], "1") << describe(o);
    EXPECT_EQ(o["version"], "1.8.0_301-ea");

    // Out of range everywhere.
    o = call(driver({{126, "17"}}, L"min17.exe"), L"registry located user every");
    EXPECT_EQ(o["result"], "0");
    EXPECT_EQ(o["version"], "");
}

TEST_F(RegistryJvmTest, WithoutEveryQualifyingOnlyPathsWithZdrJresCount) {
    std::wstring own = JavaHome::jre("1.8.0_202").build(dir / L"app\\zdr_jres\\jre") + L"\\bin\\java.exe";
    // In a folder of its own: file names and registry keys ignore case.
    std::wstring upper = JavaHome::jre("11.0.2").build(dir / L"app2\\ZDR_JRES\\jre") + L"\\bin\\java.exe";
    std::wstring other = JavaHome::jre("17.0.2").build(dir / L"other") + L"\\bin\\java.exe";
    for (const std::wstring& java : {own, upper, other}) located(HKEY_CURRENT_USER, java);
    std::wstring exe = driver();

    Outcome o = call(exe, L"registry located user zdr");
    EXPECT_EQ(o["result"], "1") << describe(o);
    EXPECT_EQ(o["javaExe"], normalised(own));
    // The test is case-sensitive and happens before any verification.
    EXPECT_EQ(checkedPaths(o.log), (std::vector<std::string>{narrow(own)}));

    o = call(exe, L"registry located user every");
    EXPECT_EQ(o["javaExe"], normalised(other));
}

TEST_F(RegistryJvmTest, LocatedJvmsOfBothRootsAreRankedWithTheMachineWinningTies) {
    std::wstring user8 = JavaHome::jre("1.8.0_202").build(dir / L"user8") + L"\\bin\\java.exe";
    std::wstring machine8 = JavaHome::jre("1.8.0_202").build(dir / L"machine8") + L"\\bin\\java.exe";
    std::wstring user11 = JavaHome::jre("11.0.2").build(dir / L"user11") + L"\\bin\\java.exe";
    std::wstring exe = driver();

    located(HKEY_CURRENT_USER, user8);
    Outcome o = call(exe, L"registry pick every");
    EXPECT_EQ(o["javaExe"], normalised(user8)) << describe(o);

    located(HKEY_LOCAL_MACHINE, machine8);
    o = call(exe, L"registry pick every");
    EXPECT_EQ(o["javaExe"], normalised(machine8)) << describe(o);

    located(HKEY_CURRENT_USER, user11);
    o = call(exe, L"registry pick every");
    EXPECT_EQ(o["javaExe"], normalised(user11)) << describe(o);
    EXPECT_EQ(o["version"], "11.0.2");

    clearKeys();
    located(HKEY_LOCAL_MACHINE, machine8);
    o = call(exe, L"registry pick every");
    EXPECT_EQ(o["javaExe"], normalised(machine8));
    clearKeys();
    EXPECT_EQ(call(exe, L"registry pick every")["result"], "0");
}

TEST_F(RegistryJvmTest, TheRegistryEntryRanksJavaSoftAgainstLocatedJvms) {
    std::wstring jre8 = JavaHome::jre("1.8.0_202").build(dir / L"jre8");
    std::wstring jre11 = JavaHome::jre("11.0.2").build(dir / L"jre11");
    std::wstring located8 = JavaHome::jre("1.8.0_202").build(dir / L"zdr_jres\\located8") + L"\\bin\\java.exe";
    std::wstring other8 = JavaHome::jre("1.8.0_202").build(dir / L"other8") + L"\\bin\\java.exe";
    std::wstring plain = driver({}, L"plain.exe");
    std::wstring ownOnly = driver({{165, "1"}}, L"ownonly.exe");

    EXPECT_EQ(call(plain, L"registry registry")["result"], "0");

    currentVersion(jreKey, "1.8");
    javaSoftHome(jreKey, "1.8", jre8);
    Outcome o = call(plain, L"registry registry");
    EXPECT_EQ(o["javaExe"], normalised(jre8 + L"\\bin\\java.exe")) << describe(o);
    EXPECT_TRUE(contains(o.log, "found sun " + normalised(jre8 + L"\\bin\\java.exe") + " 1.8.0_202")) << o.log;
    EXPECT_FALSE(contains(o.log, "found located")) << o.log;

    // Equal versions: the located JVM wins.
    located(HKEY_CURRENT_USER, located8);
    o = call(plain, L"registry registry");
    EXPECT_EQ(o["javaExe"], normalised(located8)) << describe(o);
    EXPECT_TRUE(contains(o.log, "found sun ")) << o.log;
    EXPECT_TRUE(contains(o.log, "found located " + normalised(located8) + " 1.8.0_202")) << o.log;

    // A newer JavaSoft JVM wins.
    javaSoftHome(jreKey, "1.8", jre11);
    o = call(plain, L"registry registry");
    EXPECT_EQ(o["javaExe"], normalised(jre11 + L"\\bin\\java.exe")) << describe(o);
    EXPECT_EQ(o["version"], "11.0.2");

    // Key 165: the JavaSoft keys are not read, only located JVMs below zdr_jres count.
    located(HKEY_LOCAL_MACHINE, other8);
    o = call(ownOnly, L"registry registry");
    EXPECT_EQ(o["javaExe"], normalised(located8)) << describe(o);
    EXPECT_FALSE(contains(o.log, "found sun")) << o.log;
    EXPECT_EQ(checkedPaths(o.log), (std::vector<std::string>{narrow(located8)}));

    // A version that does not fit the caller's buffer is never cut: that candidate is
    // refused and an older one with a shorter version wins.
    clearKeys();
    currentVersion(jreKey, "1.8");
    javaSoftHome(jreKey, "1.8", jre8);
    std::wstring jre7 = JavaHome::jre("1.7").build(dir / L"jre7") + L"\\bin\\java.exe";
    located(HKEY_CURRENT_USER, jre7);
    o = call(plain, L"registry registry");
    EXPECT_EQ(o["version"], "1.8.0_202") << describe(o);
    o = call(plain, L"registry registry 8");
    EXPECT_EQ(o["result"], "1") << describe(o);
    EXPECT_EQ(o["javaExe"], normalised(jre7));
    EXPECT_EQ(o["version"], "1.7");
    EXPECT_TRUE(contains(o.log, "too long (9 bytes)")) << o.log;
}

}  // namespace
}  // namespace tarvo::test
