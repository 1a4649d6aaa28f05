// The Java application runs: /run, /run-redirect and the service child create the
// stand-in JVM in the launcher's own process and call the launcher class' main. The
// stand-in's trace shows what reached Java: the option list, main's arguments, the
// JNI calls, exceptions, threads and DestroyJavaVM.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "optionlist.h"
#include "runfixture.h"

namespace tarvo::test {
namespace {

using javahome::JavaHome;

const char basePath[] = "C:\\windows\\system32;C:\\windows";

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) text += "[" + part + "]";
    return text;
}

// The semaphore a multi-instance run takes first: the lower-cased path with "_" for
// every backslash and blank, numbered 0.
std::string firstSemaphore(const std::wstring& exe) {
    std::string name = lowerAscii(narrow(exe));
    for (char& c : name)
        if (c == '\\' || c == ' ') c = '_';
    return "Local\\" + name + "0";
}

// The console code page depends on whether the run has a console; the rest of the list
// is compared whole, so that one is checked by its form and taken over.
OptionList withCodePageOf(OptionList expected, const OptionList& actual) {
    for (std::string& option : expected) {
        if (option != "<codepage>") continue;
        for (const std::string& candidate : actual)
            if (std::regex_match(candidate, std::regex("-Dtarvo\\.consoleCodepage=cp[0-9]+"))) option = candidate;
    }
    return expected;
}

class RunSequenceTest : public RunTest {
protected:
    ProcessOptions withPath() {
        ProcessOptions options;
        options.env[L"PATH"] = widen(basePath);
        options.env[L"MANPATH"] = L"";
        return options;
    }

    std::string jreBin() { return lowerAscii(narrow(javaHome())) + "\\bin"; }

    // The launcher properties of a run of `exe` without included files.
    OptionList properties(const std::wstring& exe, bool service, bool installer) {
        OptionList options = {"-Dtarvo.semaphoreName=" + firstSemaphore(exe)};
        if (installer) options.push_back("-Dtarvo.isZandorium=true");
        if (service) options.push_back("-Dtarvo.isService=true");
        options.push_back("-Dtarvo.moduleName=" + narrow(exe));
        options.push_back("-Dsun.java.command=" + narrow(exe));
        options.push_back("-Dtarvo.tempDir=");
        options.push_back("-Dtarvo.unextractedPosition=0");
        options.push_back(std::string("-Djava.library.path=") + basePath + ";" + jreBin());
        options.push_back("<codepage>");
        return options;
    }

    void expectClean(const RunOutcome& o) {
        EXPECT_TRUE(o.trace.violations().empty()) << o.describe();
    }
};

// ---- the three start modes ----

struct ModeCase {
    const char* name;
    const wchar_t* arguments;
    bool service;
    const char* lastOption;  // after the class path; empty for none
    std::vector<std::string> mainArgs;
    bool consoleHandler;
};

TEST_F(RunSequenceTest, EachStartModeHandsJavaItsOptionsAndArguments) {
    std::wstring exe = launcher({{2001, "t"},
                                 {101, "Quendro"},
                                 {122, "com.quendro.server.ServerMain"},
                                 {123, "-Dstandin.main=print:started -Xss2m"}});
    const ModeCase cases[] = {
        {"run", L"/run first second", false, "-Dzandorium.noRedir=true",
         {"false", "com.quendro.server.ServerMain", "", "", "false", "first", "second"}, false},
        {"run-redirect", L"--run-redirect first", false, "", {"false", "com.quendro.server.ServerMain", "", "", "false", "first"},
         false},
        {"service child", L"Quendro __zdr_restart", true, "-Xrs",
         {"false", "com.quendro.server.ServerMain", "", "", "false", "Quendro"}, true},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.name);
        RunOutcome o = start(exe, c.arguments, withPath());
        EXPECT_EQ(o.process.exitCode, 0u) << o.describe();
        EXPECT_EQ(plainText(o.process.out), "started\n");
        OptionList expected = properties(exe, c.service, false);
        expected.insert(expected.end(), {"-Dstandin.main=print:started", "-Xss2m", "-Djava.class.path="});
        if (*c.lastOption) expected.push_back(c.lastOption);
        expectOptions(o.trace.options(), withCodePageOf(expected, o.trace.options()));
        EXPECT_EQ(o.trace.mainClass(), "com/tarvo/runtime/WinLauncher");
        EXPECT_EQ(joined(o.trace.mainArgs()), joined(c.mainArgs));
        EXPECT_TRUE(o.trace.destroyed());
        EXPECT_EQ(contains(o.log, "\nregistering ConsoleCtrlHandler\n"), c.consoleHandler) << o.log;
        expectClean(o);
    }
}

TEST_F(RunSequenceTest, TheSampleSettingsReachMainAsTheyAre) {
    std::wstring exe = launcher({{107, "4"},
                                 {122, "com.quendro.server.ServerMain"},
                                 {102, "1"},
                                 {103, "${installer:sys.tempDir}\\quendro_error.log"},
                                 {104, "0"},
                                 {105, "never.log"},
                                 {106, "1"}});
    RunOutcome o = start(exe, L"/run", withPath());
    EXPECT_EQ(o.process.exitCode, 0u) << o.describe();
    EXPECT_EQ(joined(o.trace.mainArgs()),
              joined({"false", "com.quendro.server.ServerMain", "${installer:sys.tempDir}\\quendro_error.log", "",
                      "true"}));
    EXPECT_EQ(o.trace.mainClass(), "com/zandorium/runtime/launcher/WinLauncher");
    expectClean(o);
}

struct ArgumentsCase {
    const char* name;
    std::vector<std::pair<int32_t, std::string>> keys;
    const wchar_t* arguments;
    std::vector<std::string> afterSettings;  // main's arguments after the five settings
    std::vector<std::string> settings;       // the five, when they matter; empty: not checked
    std::vector<std::string> jvmOptionsContain;
};

TEST_F(RunSequenceTest, MainGetsTheSettingsTheConfiguredWordsAndTheRemainingArguments) {
    javahome::makeDirectories(dir / L"bin");
    std::string exeDir = narrow(dir / L"bin");
    const ArgumentsCase cases[] = {
        {"redirect files made absolute",
         {{102, "1"}, {103, "logs\\err.log"}, {104, "1"}, {105, "${LOGROOT}\\out.log"}},
         L"/run",
         {},
         {"false", "", exeDir + "\\logs\\err.log", "D:\\logs\\out.log", "false"},
         {}},
        {"a redirect file naming nothing stays empty", {{102, "1"}, {103, ""}, {107, "1"}}, L"/run", {},
         {"true", "", "", "", "false"}, {}},
        {"key 124 and -J arguments", {{125, "1"}, {124, "-x \"a b\""}}, L"/run svc -J-Xmx1g foo",
         {"svc", "-x", "a b", "foo"}, {}, {"-Xmx1g"}},
        {"a first -J argument stays", {{125, "1"}}, L"/run -J-Xmx1g -J-Xms8m x", {"-J-Xmx1g", "x"}, {},
         {"-Xmx1g", "-Xms8m"}},
        {"-J kept without key 125", {}, L"/run svc -J-Xmx1g", {"svc", "-J-Xmx1g"}, {}, {}},
        {"locale arguments go to the JVM", {}, L"/run svc -Dsun.locale.formatasdefault=true b",
         {"svc", "b"}, {}, {"-Dsun.locale.formatasdefault=true"}},
        {"non-ASCII arguments", {}, L"/run gr\u00fc\u00dfe \u65e5\u672c", {"gr\u00fc\u00dfe", "\u65e5\u672c"}, {}, {}},
    };
    int number = 0;
    for (const ArgumentsCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<int32_t, std::string>> keys = {{2001, "t"}};
        keys.insert(keys.end(), c.keys.begin(), c.keys.end());
        std::wstring exe = launcher(keys, L"bin\\app" + std::to_wstring(++number) + L".exe");
        ProcessOptions options = withPath();
        options.env[L"LOGROOT"] = L"D:\\logs";
        RunOutcome o = start(exe, c.arguments, options);
        EXPECT_EQ(o.process.exitCode, 0u) << o.describe();
        std::vector<std::string> args = o.trace.mainArgs();
        ASSERT_GE(args.size(), 5u) << o.describe();
        if (!c.settings.empty()) {
            EXPECT_EQ(joined({args.begin(), args.begin() + 5}), joined(c.settings));
        }
        EXPECT_EQ(joined({args.begin() + 5, args.end()}), joined(c.afterSettings));
        OptionList options2 = o.trace.options();
        for (const std::string& option : c.jvmOptionsContain)
            EXPECT_NE(std::find(options2.begin(), options2.end(), option), options2.end()) << option;
        expectClean(o);
    }
}

TEST_F(RunSequenceTest, PropertiesFollowTheRunsEnvironmentAndTheSelectedJvm) {
    std::wstring exe = launcher({{2001, "t"},
                                 {10200, "2"},
                                 {10201, "1.7"},
                                 {10202, "-Dfor=seven"},
                                 {10203, "1.8"},
                                 {10204, "-Dfor=eight"}});
    ProcessOptions options = withPath();
    options.env[L"MANPATH"] = L"/usr/share/man";
    RunOutcome o = start(exe, L"/run", options);
    EXPECT_EQ(o.process.exitCode, 0u) << o.describe();
    OptionList expected = properties(exe, false, false);
    expected.pop_back();  // no console code page with MANPATH set
    expected.insert(expected.end(), {"-Dfor=eight", "-Djava.class.path=", "-Dzandorium.noRedir=true"});
    expectOptions(o.trace.options(), expected);
}

// ---- how a run ends ----

struct EndCase {
    const char* name;
    std::string steps;
    unsigned exitCode;
    const char* stderrPart;  // empty: standard error stays empty
    bool destroyed;
};

TEST_F(RunSequenceTest, TheApplicationDecidesHowTheRunEnds) {
    const EndCase cases[] = {
        {"main returns", "print:done", 0, "", true},
        {"main throws", "throw:boom", 1,
         "Exception in thread \"main\" java.lang.RuntimeException: boom\n\tat com.tarvo.runtime.WinLauncher.main", false},
        {"System.exit", "exit:3", 3, "", false},
    };
    int number = 0;
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring exe = launcher({{2001, "t"}, {123, "-Dstandin.main=" + c.steps}},
                                    L"end" + std::to_wstring(++number) + L".exe");
        RunOutcome o = start(exe, L"/run", withPath());
        EXPECT_EQ(o.process.exitCode, c.exitCode) << o.describe();
        if (*c.stderrPart) {
            EXPECT_TRUE(contains(plainText(o.process.err), c.stderrPart)) << o.process.err;
        } else {
            EXPECT_EQ(o.process.err, "");
        }
        EXPECT_EQ(o.trace.destroyed(), c.destroyed);
        expectClean(o);
        if (c.exitCode == 1) {
            EXPECT_TRUE(contains(o.log, "\nERROR: an exception occurred\nERROR: java.lang.RuntimeException: boom\n"
                                        "ERROR: could not call main\n"))
                << o.log;
        }
    }
}

TEST_F(RunSequenceTest, DestroyJavaVMWaitsForNonDaemonThreadsOnly) {
    std::wstring exe = launcher({{2001, "t"}, {123, "-Dstandin.main=thread:1500;daemon:60000;print:main-done"}});
    RunOutcome o = start(exe, L"/run", withPath());
    EXPECT_EQ(o.process.exitCode, 0u) << o.describe();
    EXPECT_FALSE(o.process.timedOut);
    // The order of the records: the non-daemon thread ends before DestroyJavaVM returns.
    std::map<std::string, std::string> daemon;  // by thread name, from its start record
    std::vector<std::string> events;
    for (const jvmtrace::Record& r : o.trace.records()) {
        if (r.kind == "thread" && r.get("event") == "start") daemon[r.get("name")] = r.get("daemon");
        if (r.kind == "thread" && r.get("event") == "end") events.push_back("thread end daemon=" + daemon[r.get("name")]);
        if (r.kind == "destroy") events.push_back("destroy " + r.get("phase"));
    }
    EXPECT_EQ(joined(events), "[destroy begin][thread end daemon=false][destroy end]") << o.describe();
    EXPECT_TRUE(contains(o.log, "\ndest JVM\nlaunch done\n")) << o.log;
}

struct FailureCase {
    const char* name;
    std::string options;  // key 123
    const char* shown;    // text on standard error, before "\n\nLog: "
    const char* logged;
};

TEST_F(RunSequenceTest, AJvmOrLauncherClassThatCannotBeUsedEndsTheRunWithExitCode1) {
    const FailureCase cases[] = {
        {"JVM not created", "-Dstandin.createFails=true", "Error occurred during initialization of VM",
         "ERROR: could not initialize JVM\n"},
        {"launcher class missing", "-Dstandin.absent=com/tarvo/runtime/WinLauncher", "Couldn't load main class.",
         "ERROR: could not find main class\n"},
        {"main missing", "-Dstandin.absent=com/tarvo/runtime/WinLauncher.main", "Main method not found.",
         "ERROR: could not find main method\n"},
    };
    int number = 0;
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring exe = launcher({{2001, "t"}, {123, c.options}}, L"fail" + std::to_wstring(++number) + L".exe",
                                    {{1010, "Couldn't load main class."}, {1011, "Main method not found."}});
        RunOutcome o = start(exe, L"/run", withPath());
        EXPECT_EQ(o.process.exitCode, 1u) << o.describe();
        EXPECT_TRUE(contains(o.process.err, c.shown)) << o.process.err;
        EXPECT_TRUE(contains(o.log, c.logged)) << o.log;
        EXPECT_TRUE(o.trace.mainCalls().empty());
        expectClean(o);
    }
}

// The JVM running out of memory while main's arguments are built: the run stops there,
// with the JVM's own report of the error, and no JNI call is made while it is pending.
TEST_F(RunSequenceTest, ArgumentsThatCannotBeAllocatedEndTheRunWithExitCode1) {
    struct Case {
        const char* failing;
        const char* logged;
    };
    for (const Case& c : {Case{"NewObjectArray:1", "ERROR: could not create the argument array for main\n"},
                          Case{"NewString:3", "ERROR: could not create argument 2 for main\n"}}) {
        SCOPED_TRACE(c.failing);
        std::wstring exe = launcher({{2001, "t"}, {123, std::string("-Dstandin.outOfMemory=") + c.failing}},
                                    L"oom-" + widen(std::string(c.failing).substr(3, 6)) + L".exe");
        RunOutcome o = start(exe, L"/run", withPath());
        EXPECT_EQ(o.process.exitCode, 1u) << o.describe();
        EXPECT_TRUE(contains(plainText(o.process.err),
                             "Exception in thread \"main\" java.lang.OutOfMemoryError: Java heap space"))
            << o.process.err;
        EXPECT_TRUE(contains(o.log, c.logged)) << o.log;
        EXPECT_TRUE(contains(o.log, "ERROR: java.lang.OutOfMemoryError: Java heap space\nERROR: could not call main\n"))
            << o.log;
        EXPECT_TRUE(o.trace.mainCalls().empty());
        expectClean(o);
    }
}

TEST_F(RunSequenceTest, WithoutAJvmNoJavaCodeRuns) {
    std::wstring exe = launcher({{128, "Bmissing"}}, L"app.exe", {{1016, "No JVM ({0}-bit)."}});
    RunOutcome o = start(exe, L"/run", withPath());
    EXPECT_EQ(o.process.exitCode, 1u) << o.describe();
    EXPECT_TRUE(contains(o.process.err, "No JVM (64-bit).")) << o.process.err;
    EXPECT_TRUE(o.trace.empty());
    EXPECT_FALSE(contains(o.log, "launching program"));
}

// ---- what the run prepares ----

struct NativePathCase {
    const char* name;
    std::string key;
    std::string pathStart;  // PATH as Java sees it begins with this, then basePath
};

TEST_F(RunSequenceTest, NativeLibraryDirectoriesComeFirstInPath) {
    std::string exeDir = narrow(dir.path());
    const NativePathCase cases[] = {
        {"relative entries", "lib;bin", exeDir + "\\lib;" + exeDir + "\\bin;"},
        {"absolute entry, empty pieces", ";D:\\native\\\\x64;;\\\\server\\share\\lib;", "D:\\native\\x64;\\\\server\\share\\lib;"},
        {"variables", "${NATIVE}\\a", "E:\\n\\a;"},
        {"empty", "", ""},
    };
    int number = 0;
    for (const NativePathCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring exe = launcher({{2001, "t"}, {10004, c.key}, {123, "-Dstandin.main=env:PATH"}},
                                    L"native" + std::to_wstring(++number) + L".exe");
        ProcessOptions options = withPath();
        options.env[L"NATIVE"] = L"E:\\n";
        RunOutcome o = start(exe, L"/run", options);
        EXPECT_EQ(o.process.exitCode, 0u) << o.describe();
        std::string path = c.pathStart + basePath;
        EXPECT_EQ(plainText(o.process.out), "PATH=" + path + ";" + jreBin() + "\n");
        EXPECT_TRUE(contains(o.log, "\nnative lib dir is " + c.key + "\n")) << o.log;
        EXPECT_TRUE(contains(o.log, "\nSetting PATH (native libs) " + path + "\n")) << o.log;
    }
}

// Key 10004 is read up to 5,999 characters and expanded in a 12,000-byte buffer; the
// resolved list is never cut. An expansion that would not fit is refused as a whole.
TEST_F(RunSequenceTest, LongNativeLibraryListsAreKeptWholeOrRefusedWhole) {
    std::string list;
    for (int i = 0; list.size() < 10000; ++i) list += "D:\\native-" + std::to_string(i) + std::string(200, 'n') + ";";
    std::string tooLong = list + list;
    struct Case {
        const char* name;
        std::string value;  // of NATIVE
        std::string pathStart;
        bool refused;
    };
    for (const Case& c : {Case{"10,000 characters", list, list, false},
                          Case{"20,000 characters", tooLong, "${NATIVE};", true}}) {
        SCOPED_TRACE(c.name);
        std::wstring exe = launcher({{2001, "t"}, {10004, "${NATIVE}"}, {123, "-Dstandin.main=env:PATH"}});
        ProcessOptions options = withPath();
        options.env[L"NATIVE"] = widen(c.value);
        RunOutcome o = start(exe, L"/run", options);
        EXPECT_EQ(o.process.exitCode, 0u) << o.describe().substr(0, 3000);
        std::string expected = c.refused ? narrow(dir.path()) + "\\" + c.pathStart : c.pathStart;
        EXPECT_EQ(plainText(o.process.out), "PATH=" + expected + basePath + ";" + jreBin() + "\n");
        EXPECT_EQ(contains(o.log, "expansion of a variable refused"), c.refused);
    }
}

TEST_F(RunSequenceTest, IncludedFilesAreExtractedBeforeTheJvmStartsAndRemovedAfterAFailure) {
    pack::Block block = runBlock({{2001, "t"}, {123, "-Dstandin.main=prop:tarvo.tempDir"}},
                                 {{1009, "An internal error occurred (error code: {0})"}});
    block.files = {{"app.jar", std::vector<uint8_t>(3000, 'j')}};
    std::wstring exe = pack(block, L"files.exe");
    RunOutcome o = start(exe, L"/run", withPath());
    EXPECT_EQ(o.process.exitCode, 0u) << o.describe();
    std::string tempDir;
    for (const std::string& option : o.trace.options())
        if (option.rfind("-Dtarvo.tempDir=", 0) == 0) tempDir = option.substr(16);
    ASSERT_FALSE(tempDir.empty());
    OptionList options = o.trace.options();
    EXPECT_NE(std::find(options.begin(), options.end(), "-Djava.class.path=" + tempDir + "\\app.jar"), options.end())
        << showOptions(options);
    // Just behind the last included file: the end of this launcher's image.
    std::string position = "-Dtarvo.unextractedPosition=" + std::to_string(readFile(exe).size());
    EXPECT_NE(std::find(options.begin(), options.end(), position), options.end()) << showOptions(options);

    // The same launcher with its area cut inside the file: nothing of Java runs.
    std::string image = readFile(exe);
    image.resize(image.size() - 1000);
    std::wstring cut = dir / L"cut.exe";
    ASSERT_TRUE(writeFile(cut, image));
    RunOutcome failed = start(cut, L"/run", withPath());
    EXPECT_EQ(failed.process.exitCode, 1u) << failed.describe();
    EXPECT_TRUE(contains(failed.process.err, "An internal error occurred (error code: 16)")) << failed.process.err;
    EXPECT_TRUE(failed.trace.empty());
}

TEST_F(RunSequenceTest, APackedRuntimeIsPreparedOnTheConsoleOfTheFirstRun) {
    std::wstring packed = JavaHome::jre().packed(L"lib\\rt.jar").packed(L"lib\\ext\\x.jar").build(dir / L"packed");
    std::wstring exe = launcher({{2001, "t"}, {128, "B" + narrow(packed)}, {123, "-Dstandin.main=print:java"}});
    RunOutcome first = start(exe, L"/run", withPath());
    EXPECT_EQ(first.process.exitCode, 0u) << first.describe();
    EXPECT_EQ(plainText(first.process.out), "Preparing JRE ...\njava\n");
    EXPECT_TRUE(exists(packed + L"\\lib\\rt.jar"));
    EXPECT_FALSE(exists(packed + L"\\lib\\rt.jar.pack"));
    RunOutcome second = start(exe, L"/run", withPath());
    EXPECT_EQ(plainText(second.process.out), "java\n");
}

TEST_F(RunSequenceTest, ASecondInstanceInSingleInstanceModeEndsBeforeTheJvm) {
    std::wstring exe = launcher({{2001, "t"}, {10005, "1"}});
    // The first instance's semaphore, held by the test in its place.
    std::string name = firstSemaphore(exe);
    name.pop_back();  // single-instance mode has no number
    HANDLE held = CreateSemaphoreA(nullptr, 0, 1, name.c_str());
    ASSERT_NE(held, nullptr);
    RunOutcome o = start(exe, L"/run", withPath());
    CloseHandle(held);
    EXPECT_EQ(o.process.exitCode, 0u) << o.describe();
    EXPECT_TRUE(o.trace.empty());
    EXPECT_FALSE(contains(o.log, "LoadDLL")) << o.log;
}

TEST_F(RunSequenceTest, TheServiceChildStopsWhenTheServiceProcessWritesZero) {
    std::wstring exe = launcher({{2001, "t"}, {101, "Quendro"}, {123, "-Dstandin.main=watchstdin:0;print:up"}});
    ProcessOptions options = withPath();
    options.stdinText = "0\n";
    RunOutcome o = start(exe, L"Quendro __zdr_restart", options);
    EXPECT_EQ(o.process.exitCode, 0u) << o.describe();
    EXPECT_FALSE(o.process.timedOut);
    EXPECT_EQ(o.trace.exitCode(), 0);
    expectClean(o);
}

}  // namespace
}  // namespace tarvo::test
