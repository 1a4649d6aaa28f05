// The single-instance guard between real processes: packed instance drivers claim the
// semaphore, hold it until the test releases them, and a second start meets it.
#include <gtest/gtest.h>

#include <chrono>
#include <cwctype>
#include <future>
#include <vector>

#include "launcherfixture.h"

namespace tarvo::test {
namespace {

// Without the trailing backslash the launcher uses: it must name the same key.
const char pidsKey[] = "SOFTWARE\\korvel-software\\tarvo\\pids";

// What the guard must name the semaphore of `exe` (an ASCII path without doubled backslashes).
std::string objectName(const std::wstring& exe) {
    std::string name = lowerAscii(narrow(exe));
    for (char& c : name)
        if (c == '\\' || c == ' ') c = '_';
    return name;
}

bool readPid(const std::wstring& exe, DWORD* pid) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, pidsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD size = sizeof *pid;
    LONG status =
        RegQueryValueExA(key, lowerAscii(narrow(exe)).c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(pid), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && size == sizeof *pid;
}

void writePid(const std::wstring& exe, DWORD pid) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, pidsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, lowerAscii(narrow(exe)).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pid), sizeof pid);
    RegCloseKey(key);
}

class InstanceTest : public LauncherTest {
protected:
    ~InstanceTest() override {
        // The guard never deletes its registry value; the tests do, for every executable they used.
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, pidsKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        for (const std::wstring& exe : executables) RegDeleteValueA(key, lowerAscii(narrow(exe)).c_str());
        RegCloseKey(key);
    }

    std::wstring packGuard(StringKeys strings, const std::wstring& name) {
        size_t slash = name.rfind(L'\\');
        if (slash != std::wstring::npos) CreateDirectoryW((dir / name.substr(0, slash)).c_str(), nullptr);
        std::wstring exe = packDriver(L"instance_driver", makeBlock(strings), name);
        executables.push_back(exe);
        return exe;
    }

    // A first instance: runs `command` with the hand-shake files <tag>.ready and <tag>.release.
    std::future<ProcessResult> start(const std::wstring& exe, const std::wstring& command, const std::wstring& tag,
                                     const std::wstring& more = L"") {
        std::wstring arguments =
            command + L" " + quoteArgument(dir / (tag + L".ready")) + L" " + quoteArgument(dir / (tag + L".release"));
        if (!more.empty()) arguments += L" " + more;
        return std::async(std::launch::async, [this, exe, arguments] { return run(exe, arguments); });
    }
    // Waits until the first instance has passed the guard; a process that ended before
    // that is described in the result for the failure message.
    ::testing::AssertionResult ready(const std::wstring& tag, std::future<ProcessResult>& first) {
        std::wstring path = dir / (tag + L".ready");
        for (int i = 0; i < 1500; ++i) {
            if (exists(path)) return ::testing::AssertionSuccess();
            if (first.wait_for(std::chrono::milliseconds(20)) == std::future_status::ready) break;
        }
        if (exists(path)) return ::testing::AssertionSuccess();
        if (first.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
            return ::testing::AssertionFailure() << narrow(tag) << " not ready after 30 s";
        ProcessResult r = first.get();
        return ::testing::AssertionFailure()
               << narrow(tag) << " ended early with " << r.exitCode << ": " << r.out << r.err;
    }
    ProcessResult release(const std::wstring& tag, std::future<ProcessResult>& first) {
        writeFile(dir / (tag + L".release"), "");
        return first.get();
    }

    std::vector<std::wstring> executables;
};

TEST_F(InstanceTest, SecondStartOfTheSameFileExitsWithZeroAndACopyElsewhereRuns) {
    std::wstring exe = packGuard({{101, "x"}, {10005, "1"}}, L"My App\\Guard.EXE");
    std::wstring copy = packGuard({{101, "x"}, {10005, "1"}}, L"Other\\Guard.EXE");
    std::string name = "Local\\" + objectName(exe);

    auto first = start(exe, L"guard", L"first");
    ASSERT_TRUE(ready(L"first", first));

    // The same file under another spelling of its path and with other arguments.
    std::wstring respelled = exe;
    for (wchar_t& c : respelled) c = static_cast<wchar_t>(towupper(c));
    for (const std::wstring& path : {exe, respelled}) {
        ProcessResult second = run(path, L"guard - - 0 other words");
        EXPECT_EQ(second.exitCode, 0u) << narrow(path);
        EXPECT_FALSE(contains(second.out, "passed=")) << second.out;
    }
    ProcessResult other = run(copy, L"guard");
    EXPECT_EQ(other.exitCode, 0u);
    auto otherValues = driverResults(other);
    EXPECT_EQ(otherValues["passed"], "1");
    EXPECT_EQ(otherValues["semaphoreName"], "Local\\" + objectName(copy));

    ProcessResult held = release(L"first", first);
    auto values = driverResults(held);
    EXPECT_EQ(values["passed"], "1");
    EXPECT_EQ(values["semaphoreName"], name);

    std::string firstLog = logText(1);
    EXPECT_TRUE(contains(firstLog, "\nsingle instance mode\nsemaphore name " + name + ", code 0, value ")) << firstLog;
    std::string secondLog = logText(2);
    EXPECT_TRUE(contains(secondLog, "\nsingle instance mode\nsemaphore name " + name + ", code 183, value "))
        << secondLog;
    EXPECT_TRUE(contains(secondLog, "\nother pid " + values["pid"] + "\nexiting\n")) << secondLog;
    EXPECT_FALSE(contains(secondLog, "found window")) << secondLog;

    // The value outlives its instance and names the last first instance.
    DWORD stored = 0;
    ASSERT_TRUE(readPid(exe, &stored));
    EXPECT_EQ(std::to_string(stored), values["pid"]);
    ASSERT_TRUE(readPid(copy, &stored));
    EXPECT_EQ(std::to_string(stored), otherValues["pid"]);

    // Once the first has ended the next start is a first instance again.
    auto again = driverResults(run(exe, L"guard"));
    EXPECT_EQ(again["passed"], "1");
    ASSERT_TRUE(readPid(exe, &stored));
    EXPECT_EQ(std::to_string(stored), again["pid"]);
}

TEST_F(InstanceTest, Key158PutsTheNameIntoTheGlobalNamespace) {
    std::wstring exe = packGuard({{101, "x"}, {10005, "1"}, {158, "1"}}, L"Global App.exe");
    auto first = start(exe, L"guard", L"first");
    ASSERT_TRUE(ready(L"first", first));
    ProcessResult second = run(exe, L"guard");
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_FALSE(contains(second.out, "passed="));
    // The name held is the "Global\" one; the "Local\" one is free.
    for (const char* prefix : {"Global\\", "Local\\"}) {
        HANDLE probe = CreateSemaphoreA(nullptr, 1, 1, (prefix + objectName(exe)).c_str());
        EXPECT_EQ(GetLastError() == ERROR_ALREADY_EXISTS, prefix[0] == 'G') << prefix;
        CloseHandle(probe);
    }
    auto values = driverResults(release(L"first", first));
    EXPECT_EQ(values["semaphoreName"], "Global\\" + objectName(exe));
}

TEST_F(InstanceTest, MultiInstanceModeNumbersFromZeroAndReusesFreedNumbers) {
    std::wstring exe = packGuard({{101, "x"}}, L"Multi App.exe");
    std::string base = "Local\\" + objectName(exe);

    auto a = start(exe, L"guard", L"a");
    ASSERT_TRUE(ready(L"a", a));
    auto b = start(exe, L"guard", L"b");
    ASSERT_TRUE(ready(L"b", b));
    auto aValues = driverResults(release(L"a", a));
    auto cValues = driverResults(run(exe, L"guard"));
    auto bValues = driverResults(release(L"b", b));

    EXPECT_EQ(aValues["semaphoreName"], base + "0");
    EXPECT_EQ(bValues["semaphoreName"], base + "1");
    EXPECT_EQ(cValues["semaphoreName"], base + "0");
    EXPECT_TRUE(contains(logText(1), "\nsemaphore name " + base + "0, code 0, value ")) << logText(1);
    EXPECT_TRUE(contains(logText(2), "\nsemaphore name " + base + "1, code 0, value ")) << logText(2);
    EXPECT_FALSE(contains(logText(2), "single instance mode"));
    DWORD stored = 0;
    EXPECT_FALSE(readPid(exe, &stored)) << "multi-instance mode writes no process id";
}

// A start before the first instance has recorded its id reads the value again every
// 100 ms, for about five seconds, then gives up with "other pid 0".
TEST_F(InstanceTest, SecondStartWaitsForTheFirstInstancesProcessId) {
    std::wstring exe = packGuard({{101, "x"}, {10005, "1"}}, L"late.exe");
    HANDLE taken = CreateSemaphoreA(nullptr, 1, 1, ("Local\\" + objectName(exe)).c_str());
    ASSERT_NE(taken, nullptr);

    auto begin = std::chrono::steady_clock::now();
    ProcessResult never = run(exe, L"guard");
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_EQ(never.exitCode, 0u);
    EXPECT_FALSE(contains(never.out, "passed="));
    EXPECT_TRUE(contains(logText(1), "\nother pid 0\nexiting\n")) << logText(1);
    EXPECT_GE(seconds, 4.8);
    EXPECT_LT(seconds, 20.0);

    begin = std::chrono::steady_clock::now();
    auto late = std::async(std::launch::async, [&] { return run(exe, L"guard"); });
    Sleep(1500);
    writePid(exe, 4242);
    ProcessResult found = late.get();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    CloseHandle(taken);
    EXPECT_EQ(found.exitCode, 0u);
    EXPECT_FALSE(contains(found.out, "passed="));
    EXPECT_TRUE(contains(logText(2), "\nother pid 4242\nexiting\n")) << logText(2);
    EXPECT_LT(seconds, 4.5);
}

// Another kind of object holds the name: the semaphore cannot be created, and the
// guard lets every start run as a first instance rather than turn it away.
TEST_F(InstanceTest, ASemaphoreThatCannotBeCreatedLetsEveryStartRun) {
    std::wstring exe = packGuard({{101, "x"}, {10005, "1"}}, L"blocked.exe");
    std::string name = "Local\\" + objectName(exe);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(mutex, nullptr);
    auto first = start(exe, L"guard", L"first");
    ASSERT_TRUE(ready(L"first", first));
    auto second = driverResults(run(exe, L"guard"));
    auto values = driverResults(release(L"first", first));
    CloseHandle(mutex);
    EXPECT_EQ(values["passed"], "1");
    EXPECT_EQ(second["passed"], "1");
    for (int n : {1, 2}) {
        std::string log = logText(n);
        EXPECT_TRUE(contains(log, "\nsemaphore name " + name + ", code 6, value 0000000000000000\n")) << log;
        EXPECT_FALSE(contains(log, "other pid")) << log;
    }
}

struct ActivationCase {
    const char* key10007;
    bool minimised;
    bool popup;  // an owned popup was the window's last active one
};

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Every visible window of the first instance is treated in enumeration order. An owned
// popup lies above its owner, so it comes first; both turns reach the first instance as
// activation requests, and whether the owner's popup step still finds the popup as its
// last active one depends on how far the first instance has got with them. So with a
// popup either window may end in front, but the owner must have been activated.
TEST_F(InstanceTest, SecondStartBringsTheFirstInstancesWindowToTheFrontWhenAsked) {
    const ActivationCase cases[] = {
        {"1", true, false}, {"1", true, true},  {"1", false, false},
        {"1", false, true}, {"0", true, false}, {"0", false, true},
    };
    int number = 0;
    for (const ActivationCase& c : cases) {
        std::wstring tag = L"window" + std::to_wstring(++number);
        std::wstring exe = packGuard({{101, "x"}, {10005, "1"}, {10007, c.key10007}}, tag + L".exe");
        std::wstring mode = std::wstring(c.minimised ? L"" : L"shown") + (c.popup ? L"popup" : L"");
        auto first = start(exe, L"window", tag, mode.empty() ? L"" : L"30000 " + mode);
        ASSERT_TRUE(ready(tag, first));
        ProcessResult second = run(exe, L"guard");
        EXPECT_EQ(second.exitCode, 0u);
        auto values = driverResults(release(tag, first));
        std::string what = std::string("key 10007 = ") + c.key10007 + (c.minimised ? ", minimised" : ", shown") +
                           (c.popup ? ", with popup" : "");

        // The first instance as the guard meets it. Windows of its own that Wine may add
        // show as "own" and are treated like the others.
        const std::string& before = values["windowsBefore"];
        EXPECT_EQ(countOf(before, "main TarvoInstanceDriver"), 1u) << what << ": " << before;
        EXPECT_EQ(countOf(before, "popup TarvoInstanceDriver"), c.popup ? 1u : 0u) << what << ": " << before;
        EXPECT_EQ(countOf(before, "hidden"), 0u) << what << ": " << before;
        bool extraWindows = countOf(before, "own ") > 0;
        EXPECT_EQ(values["iconicBefore"], c.minimised ? "1" : "0") << what;
        const std::string& frontBefore = values["foregroundBefore"];
        EXPECT_TRUE(frontBefore != "main" && frontBefore != "popup" && frontBefore != "hidden") << what;
        EXPECT_EQ(values["lastActivePopupBefore"], c.popup ? "1" : "0") << what;

        bool activates = c.key10007[0] == '1';
        EXPECT_EQ(values["iconic"], c.minimised && !activates ? "1" : "0") << what;
        const std::string& inFront = values["foreground"];
        if (activates) {
            EXPECT_TRUE(inFront == "main" || (c.popup && inFront == "popup") || (extraWindows && inFront == "own"))
                << what << ": " << inFront << " of " << before;
        } else {
            EXPECT_TRUE(inFront != "main" && inFront != "popup" && inFront != "hidden") << what << ": " << inFront;
        }
        EXPECT_EQ(values["mainActivated"] != "0", activates) << what;
        EXPECT_EQ(values["popupActivated"] != "0", activates && c.popup) << what;
        EXPECT_EQ(countOf(values["windows"], "hidden"), 0u) << what << ": " << values["windows"];

        std::string log = logText(2 * number);
        EXPECT_TRUE(contains(log, "\nother pid " + values["pid"] + "\n")) << log;
        EXPECT_EQ(countOf(log, "\nfound window "), activates ? countOf(before, ";") + 1 : 0u) << what << log;
        EXPECT_EQ(countOf(log, "\nrestore\n"), activates && c.minimised ? 1u : 0u) << what << log;
        if (activates) {
            EXPECT_EQ(countOf(log, "\nforeground\npopup\ndone\n"), countOf(before, ";") + 1) << what << log;
            EXPECT_TRUE(contains(log, "\ndone\nexiting\n")) << what << log;
        }
    }
}

}  // namespace
}  // namespace tarvo::test
