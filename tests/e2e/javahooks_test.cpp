// What the launcher does between creating the JVM and calling main: the splash text
// settings handed to the runtime, the installer flavor's helper library and its
// first-run hook. The real launcher runs against the stand-in JVM; the stand-in's trace
// shows which classes and methods were looked up and called, with which arguments.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runfixture.h"

namespace tarvo::test {
namespace {

using jvmtrace::Call;
using jvmtrace::Trace;
using Keys = std::vector<std::pair<int32_t, std::string>>;

const char splashSig[] = "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V";
const char tarvoLauncher[] = "com/tarvo/runtime/WinLauncher";
const char zandoriumLauncher[] = "com/zandorium/runtime/launcher/WinLauncher";
const char firstRunClass[] = "com/zandorium/runtime/launcher/FirstRun";
const char commonClass[] = "com/zandorium/runtime/installer/platform/win32/Common";
const std::pair<int32_t, std::string> internalError{1009, "An internal error occurred (error code: {0})"};

// Calls of the static methods the runtime offers, in the order they happened.
std::vector<Call> methodCalls(const Trace& trace, const std::string& name) {
    std::vector<Call> out;
    for (const Call& c : trace.calls())
        if (c.fn.rfind("CallStatic", 0) == 0 && c.name == name) out.push_back(c);
    return out;
}

bool lookedUp(const Trace& trace, const std::string& cls) {
    for (const Call& c : trace.calls())
        if (c.fn == "FindClass" && c.cls == cls) return true;
    return false;
}

// Index of the first call brief that starts with `prefix`, or -1.
int position(const std::vector<std::string>& briefs, const std::string& prefix) {
    for (size_t i = 0; i < briefs.size(); ++i)
        if (briefs[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
    return -1;
}

// The handle and path of the log line "helper dll <handle> <path>".
std::pair<std::string, std::string> helperLine(const std::string& log) {
    const std::string lead = "\nhelper dll ";
    size_t at = log.find(lead);
    if (at == std::string::npos) return {"(no line)", ""};
    std::string line = log.substr(at + lead.size(), log.find('\n', at + 1) - at - lead.size());
    size_t blank = line.find(' ');
    if (blank == std::string::npos) return {line, ""};
    return {line.substr(0, blank), line.substr(blank + 1)};
}

// The line after each "ERROR: an exception occurred" in the log, in order.
std::vector<std::string> loggedExceptions(const std::string& log) {
    const std::string lead = "ERROR: an exception occurred\n";
    std::vector<std::string> out;
    for (size_t at = log.find(lead); at != std::string::npos; at = log.find(lead, at + 1)) {
        size_t start = at + lead.size();
        out.push_back(log.substr(start, log.find('\n', start) - start));
    }
    return out;
}

class JavaHooksTest : public RunTest {
protected:
    // Every run must have kept to the JNI rules: the stand-in ends a run at the first
    // violation, but a test should still say what it was.
    static void expectNoViolations(const RunOutcome& o) {
        for (const auto& v : o.trace.violations()) ADD_FAILURE() << "JNI violation in " << v.fn << ": " << v.what;
    }

    static void expectMainOn(const RunOutcome& o, const std::string& cls) {
        ASSERT_EQ(o.trace.mainCalls().size(), 1u) << o.describe();
        EXPECT_EQ(o.trace.mainClass(), cls);
        EXPECT_EQ(o.process.exitCode, 0u) << o.describe();
        EXPECT_TRUE(o.trace.destroyed());
    }

    void makeDirectory(const std::wstring& path) { ASSERT_TRUE(javahome::makeDirectories(path)) << narrow(path); }

    void putMarker(const std::wstring& appDir) {
        makeDirectory(appDir + L"\\.zandorium");
        ASSERT_TRUE(writeFile(appDir + L"\\.zandorium\\firstrun", "marker"));
    }

    void putHelper(const std::wstring& appDir) { ASSERT_FALSE(javahome::installHelperLibrary(appDir).empty()); }
};

// ---- splash text settings ----

// Which values of keys 108 and 10123 let the settings through: both must be non-zero.
TEST_F(JavaHooksTest, SplashSettingsArePassedOnlyWhenBothKeysAreNonZero) {
    struct Case {
        const char* splash;      // key 108, nullptr: absent
        const char* splashText;  // key 10123
        bool passed;
    };
    const Case cases[] = {
        {"1", "1", true},  {"2", "-1", true}, {"0", "1", false},
        {"1", "0", false}, {nullptr, "1", false}, {"1", nullptr, false},
    };
    for (const Case& c : cases) {
        std::string name = std::string(c.splash ? c.splash : "-") + "/" + (c.splashText ? c.splashText : "-");
        SCOPED_TRACE(name);
        Keys keys{{2001, "t"}, {10111, "line one"}};
        if (c.splash) keys.push_back({108, c.splash});
        if (c.splashText) keys.push_back({10123, c.splashText});
        RunOutcome o = start(launcher(keys), L"/run");
        expectNoViolations(o);
        expectMainOn(o, tarvoLauncher);
        std::vector<Call> splash = methodCalls(o.trace, "initAwtSplashConfig");
        EXPECT_EQ(splash.size(), c.passed ? 1u : 0u) << o.describe();
        EXPECT_EQ(lookedUp(o.trace, tarvoLauncher) && position(o.trace.briefs(), "GetStaticMethodID " +
                                                                                     std::string(tarvoLauncher) +
                                                                                     ".initAwtSplashConfig") >= 0,
                  c.passed);
    }
}

// The fourteen arguments in their order, from the keys that hold them; absent texts are
// empty and absent numbers 0. The call always goes to the wrapper's runtime class and
// comes before main, whatever the flavor.
TEST_F(JavaHooksTest, SplashSettingsArriveInOrderOnTheWrapperRuntimeClass) {
    const std::string umlauts = "Gr\xC3\xBC\xC3\x9F" "e";  // UTF-8 bytes, passed on unchanged
    const Keys full{{163, "1"},          {10109, "20"},   {10110, "-7"},          {10111, "Quendro Server"},
                    {10112, "unread-1"}, {10113, "8"},    {10114, "0,0,0"},       {10115, "500"},
                    {10116, "21"},       {10117, "40"},   {10118, "version 3.0"}, {10119, "unread-2"},
                    {10120, "9"},        {10121, umlauts}, {10122, "2147483647"}};
    struct Case {
        const char* name;
        const char* flavor;
        Keys settings;
        std::vector<std::string> expected;
        const char* mainClass;
    };
    const Case cases[] = {
        {"every key, wrapper",
         "t",
         full,
         {"true", "true", "Quendro Server", "20", "-7", "0,0,0", "8", "500", "version 3.0", "21", "40", umlauts, "9",
          "2147483647"},
         tarvoLauncher},
        {"every key, installer",
         "z",
         full,
         {"true", "true", "Quendro Server", "20", "-7", "0,0,0", "8", "500", "version 3.0", "21", "40", umlauts, "9",
          "2147483647"},
         zandoriumLauncher},
        {"no settings",
         "t",
         {},
         {"true", "false", "", "0", "0", "", "0", "0", "", "0", "0", "", "0", "0"},
         tarvoLauncher},
        {"key 163 zero, second line only",
         nullptr,
         {{163, "0"}, {10116, "3"}, {10118, "line two"}, {10121, "255,0,0"}},
         {"true", "false", "", "0", "0", "", "0", "0", "line two", "3", "0", "255,0,0", "0", "0"},
         zandoriumLauncher},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Keys keys{{108, "1"}, {10123, "1"}};
        if (c.flavor) keys.push_back({2001, c.flavor});
        keys.insert(keys.end(), c.settings.begin(), c.settings.end());
        RunOutcome o = start(launcher(keys), L"/run");
        expectNoViolations(o);
        expectMainOn(o, c.mainClass);
        std::vector<Call> splash = methodCalls(o.trace, "initAwtSplashConfig");
        ASSERT_EQ(splash.size(), 1u) << o.describe();
        EXPECT_EQ(splash[0].fn, "CallStaticVoidMethod");
        EXPECT_EQ(splash[0].cls, tarvoLauncher);
        EXPECT_EQ(splash[0].sig, splashSig);
        EXPECT_EQ(splash[0].args, c.expected);
        std::vector<std::string> briefs = o.trace.briefs();
        int splashAt = position(briefs, "CallStaticVoidMethod " + std::string(tarvoLauncher) + ".initAwtSplashConfig");
        int mainAt = position(briefs, "CallStaticVoidMethod " + std::string(c.mainClass) + ".main");
        EXPECT_GE(splashAt, 0);
        EXPECT_LT(splashAt, mainAt);
    }
}

// A runtime without the splash class or method: logged, the failed lookup's exception
// cleared, and the application still starts.
TEST_F(JavaHooksTest, MissingSplashClassOrMethodIsLoggedAndMainStillRuns) {
    struct Case {
        const char* flavor;
        const char* absent;
        const char* logged;
        const char* mainClass;
    };
    const Case cases[] = {
        // The wrapper's class cannot go missing without taking main with it, so the
        // missing class is shown with the installer flavor.
        {"z", "com/tarvo/runtime/WinLauncher", "could not find main class for splash properties", zandoriumLauncher},
        {"t", "com/tarvo/runtime/WinLauncher.initAwtSplashConfig", "could not find method for splash properties",
         tarvoLauncher},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.absent);
        std::wstring exe = launcher({{2001, c.flavor},
                                     {108, "1"},
                                     {10123, "1"},
                                     {10111, "line one"},
                                     {123, std::string("-Dstandin.absent=") + c.absent}});
        RunOutcome o = start(exe, L"/run");
        expectNoViolations(o);
        expectMainOn(o, c.mainClass);
        EXPECT_TRUE(methodCalls(o.trace, "initAwtSplashConfig").empty());
        EXPECT_TRUE(contains(o.log, c.logged)) << o.log;
        EXPECT_TRUE(o.trace.described().empty());
        EXPECT_FALSE(contains(o.process.err, "Exception")) << o.process.err;
    }
}

// ---- helper library ----

// The wrapper flavor knows neither the helper library nor the first-run marker: with
// both in place (and a first-run hook that would stop the run) main is called directly.
TEST_F(JavaHooksTest, WrapperFlavorIgnoresHelperLibraryAndMarker) {
    putHelper(dir.path());
    putMarker(dir.path());
    std::wstring exe = launcher({{2001, "t"}, {123, "-Dstandin.firstRun=false"}});
    RunOutcome o = start(exe, L"/run");
    expectNoViolations(o);
    expectMainOn(o, tarvoLauncher);
    EXPECT_TRUE(o.trace.helperCalls().empty());
    EXPECT_FALSE(lookedUp(o.trace, commonClass));
    EXPECT_FALSE(lookedUp(o.trace, firstRunClass));
    EXPECT_FALSE(contains(o.log, "load helper dll")) << o.log;
    EXPECT_FALSE(contains(o.log, "checkFirstRun")) << o.log;
}

// Where the helper library is looked for and what becomes of it: the application
// directory comes from key 10003 against the executable's directory; registerNatives
// gets the JNIEnv, the library's own handle and the launcher's error log; a library
// that is missing, lacks the export or has no runtime class to prepare leaves the run
// going without it.
TEST_F(JavaHooksTest, HelperLibraryIsPreparedAndRegisteredOrSkipped) {
    enum class Library { None, Helper, NoExport };
    struct Case {
        const char* name;
        const wchar_t* exeName;    // below the case's folder
        const char* appDirKey;     // key 10003, nullptr: absent
        const wchar_t* libraryIn;  // where .zandorium\zdrinst.dll goes, below the case's folder
        Library library;
        bool loads;                // LoadLibraryW finds it
        const char* result;        // STANDIN_ZDRINST_RESULT
        const char* absent;        // standin.absent
        std::vector<std::string> initFlags;  // arguments of the initFromLauncher calls
        const char* registered;              // result of registerNatives, nullptr: not called
        std::vector<std::string> logged;
    };
    const Case cases[] = {
        {"registered", L"app.exe", nullptr, L"", Library::Helper, true, "1", "", {"true"}, "1", {}},
        {"app dir ..\\", L"bin\\app.exe", "..\\", L"", Library::Helper, true, "1", "", {"true"}, "1", {}},
        {"app dir .. without backslash", L"bin\\app.exe", "..", L"", Library::Helper, true, "1", "", {"true"}, "1", {}},
        {"app dir below the exe", L"app.exe", "inst", L"inst", Library::Helper, true, "1", "", {"true"}, "1", {}},
        {"library beside the exe, app dir elsewhere",
         L"bin\\app.exe", "..\\", L"bin", Library::Helper, false, "1", "", {}, nullptr, {}},
        {"registering fails",
         L"app.exe", nullptr, L"", Library::Helper, true, "0", "", {"true", "false"}, "0",
         {"registering helper dll failed", "zdrinst: native registration refused (0)"}},
        {"no library", L"app.exe", nullptr, L"", Library::None, false, "1", "", {}, nullptr, {}},
        {"no registerNatives export",
         L"app.exe", nullptr, L"", Library::NoExport, true, "1", "", {}, nullptr,
         {"did not find register natives in helper dll"}},
        {"Common class missing",
         L"app.exe", nullptr, L"", Library::Helper, true, "1", commonClass, {}, nullptr,
         {"did not find com/zandorium/runtime/installer/platform/win32/Common"}},
        {"initFromLauncher missing",
         L"app.exe", nullptr, L"", Library::Helper, true, "1",
         "com/zandorium/runtime/installer/platform/win32/Common.initFromLauncher", {}, nullptr,
         {"did not find initMethod"}},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A folder of its own per case, so that no library of an earlier case is found.
        std::wstring root = dir / (L"case" + std::to_wstring(++number));
        makeDirectory(root + L"\\bin");
        std::wstring libraryDir = *c.libraryIn ? root + L"\\" + c.libraryIn : root;
        std::wstring library = libraryDir + L"\\.zandorium\\zdrinst.dll";
        if (c.library == Library::Helper) putHelper(libraryDir);
        if (c.library == Library::NoExport) {
            makeDirectory(libraryDir + L"\\.zandorium");
            ASSERT_TRUE(CopyFileW(javahome::standinFile(L"jvm-nocreate.dll").c_str(), library.c_str(), FALSE));
        }
        Keys keys{{123, std::string("-Dstandin.absent=") + c.absent}};
        if (c.appDirKey) keys.push_back({10003, c.appDirKey});
        std::wstring exe = pack(runBlock(keys), L"case" + std::to_wstring(number) + L"\\" + c.exeName);
        ProcessOptions options;
        options.env[L"STANDIN_ZDRINST_RESULT"] = widen(c.result);
        RunOutcome o = start(exe, L"/run", options);
        expectNoViolations(o);
        expectMainOn(o, zandoriumLauncher);

        std::vector<std::string> flags;
        for (const Call& call : methodCalls(o.trace, "initFromLauncher")) {
            EXPECT_EQ(call.cls, commonClass);
            EXPECT_EQ(call.sig, "(Z)V");
            EXPECT_EQ(call.args.size(), 1u);
            if (!call.args.empty()) flags.push_back(call.args[0]);
        }
        EXPECT_EQ(flags, c.initFlags) << o.describe();

        std::vector<jvmtrace::Record> helper = o.trace.helperCalls();
        ASSERT_EQ(helper.size(), c.registered ? 1u : 0u) << o.describe();
        if (c.registered) {
            EXPECT_EQ(helper[0].get("module"), "self");
            EXPECT_EQ(helper[0].get("errorLog"), "set");
            EXPECT_EQ(helper[0].get("result"), c.registered);
        }
        // initFromLauncher(true) comes before the registration, the false one after it,
        // and everything before main.
        std::vector<jvmtrace::Record> records = o.trace.records();
        int registeredAt = -1, firstInitAt = -1, lastInitAt = -1, mainAt = -1;
        for (size_t i = 0; i < records.size(); ++i) {
            const jvmtrace::Record& r = records[i];
            if (r.kind == "helper") registeredAt = static_cast<int>(i);
            if (r.kind == "call" && r.get("name") == "initFromLauncher") {
                if (firstInitAt < 0) firstInitAt = static_cast<int>(i);
                lastInitAt = static_cast<int>(i);
            }
            if (r.kind == "main" && mainAt < 0) mainAt = static_cast<int>(i);
        }
        if (c.registered) {
            EXPECT_LT(firstInitAt, registeredAt);
            if (c.initFlags.size() == 2) {
                EXPECT_GT(lastInitAt, registeredAt);
            }
        }
        EXPECT_LT(std::max(registeredAt, lastInitAt), mainAt);

        EXPECT_TRUE(contains(o.log, "\nload helper dll\n")) << o.log;
        for (const std::string& text : c.logged) EXPECT_TRUE(contains(o.log, text)) << text << "\n" << o.log;
        // The path is the key against the executable's directory, not normalised; the
        // handle is null exactly when the library did not load.
        std::string expectedPath = narrow(root);
        if (std::wstring(c.exeName).find(L'\\') != std::wstring::npos) expectedPath += "\\bin";
        if (c.appDirKey) {
            expectedPath += std::string("\\") + c.appDirKey;
            if (expectedPath.back() == '\\') expectedPath.pop_back();
        }
        expectedPath += "\\.zandorium\\zdrinst.dll";
        std::pair<std::string, std::string> loaded = helperLine(o.log);
        EXPECT_EQ(loaded.second, expectedPath) << o.log;
        bool nullHandle = loaded.first.find_first_not_of('0') == std::string::npos;
        EXPECT_EQ(nullHandle, !c.loads) << loaded.first;
        EXPECT_FALSE(contains(o.log, "helper dll path longer")) << o.log;
    }
}

// ---- exceptions the runtime's set-up leaves ----

// The splash settings and initFromLauncher are the runtime's business: an exception they
// leave is logged and cleared without the JVM's description, and the run goes on to main
// as if they had succeeded. A failed registration's initFromLauncher(false) is treated
// the same way.
TEST_F(JavaHooksTest, ExceptionsFromSplashAndInitFromLauncherAreLoggedAndCleared) {
    const std::string splash = std::string(tarvoLauncher) + ".initAwtSplashConfig";
    const std::string init = std::string(commonClass) + ".initFromLauncher";
    struct Case {
        const char* name;
        const char* flavor;
        std::string throwIn;         // standin.throwIn
        const char* registerResult;  // STANDIN_ZDRINST_RESULT
        std::vector<std::string> thrownBy;  // the calls that threw, in order, as "method(flag)"
        std::vector<std::string> messages;  // of their exceptions
        std::vector<std::string> initFlags;
        const char* registered;  // result of registerNatives, nullptr: not called
        const char* mainClass;
    };
    const Case cases[] = {
        {"splash, wrapper", "t", splash + ":splash broke", "1", {"initAwtSplashConfig"}, {"splash broke"}, {}, nullptr,
         tarvoLauncher},
        {"initFromLauncher(true): the helper still registers", "z", init + ":init refused", "1",
         {"initFromLauncher(true)"}, {"init refused"}, {"true"}, "1", zandoriumLauncher},
        {"both initFromLauncher calls around a failed registration", "z", init, "0",
         {"initFromLauncher(true)", "initFromLauncher(false)"}, {"initFromLauncher failed", "initFromLauncher failed"},
         {"true", "false"}, "0", zandoriumLauncher},
        {"splash and initFromLauncher, installer", "z", splash + "," + init + ":second", "1",
         {"initAwtSplashConfig", "initFromLauncher(true)"}, {"initAwtSplashConfig failed", "second"}, {"true"}, "1",
         zandoriumLauncher},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring root = dir / (L"case" + std::to_wstring(++number));
        makeDirectory(root);
        putHelper(root);
        Keys keys{{2001, c.flavor},
                  {108, "1"},
                  {10123, "1"},
                  {10111, "line one"},
                  {123, "-Dstandin.main=print:app-started \"-Dstandin.throwIn=" + c.throwIn + "\""}};
        std::wstring exe = pack(runBlock(keys), L"case" + std::to_wstring(number) + L"\\app.exe");
        ProcessOptions options;
        options.env[L"STANDIN_ZDRINST_RESULT"] = widen(c.registerResult);
        RunOutcome o = start(exe, L"/run", options);

        // The run went on: nothing was left pending into the next call, main ran.
        expectNoViolations(o);
        expectMainOn(o, c.mainClass);
        EXPECT_TRUE(contains(o.process.out, "app-started")) << o.describe();

        // The calls threw what was asked for, and nothing else threw.
        std::vector<std::string> threw, texts;
        for (const Call& call : o.trace.calls()) {
            if (call.fn.rfind("CallStatic", 0) != 0 || call.exception.empty()) continue;
            std::string flag = call.name == "initFromLauncher" && !call.args.empty() ? "(" + call.args[0] + ")" : "";
            threw.push_back(call.name + flag);
        }
        for (const std::string& m : c.messages) texts.push_back("ERROR: java.lang.RuntimeException: " + m);
        EXPECT_EQ(threw, c.thrownBy) << o.describe();

        // Logged with their text, not described: no uncaught-exception report on stderr.
        EXPECT_EQ(loggedExceptions(o.log), texts) << o.log;
        EXPECT_TRUE(o.trace.described().empty());
        EXPECT_FALSE(contains(o.process.err, "Exception in thread")) << o.process.err;

        std::vector<std::string> flags;
        for (const Call& call : methodCalls(o.trace, "initFromLauncher"))
            if (!call.args.empty()) flags.push_back(call.args[0]);
        EXPECT_EQ(flags, c.initFlags);
        // Not an assertion: every case should have its say.
        std::vector<jvmtrace::Record> helper = o.trace.helperCalls();
        EXPECT_EQ(helper.size(), c.registered ? 1u : 0u) << o.describe();
        if (c.registered && !helper.empty()) {
            EXPECT_EQ(helper[0].get("result"), c.registered);
        }
    }
}

// ---- first-run hook ----

// The installer flavor asks FirstRun only when the marker exists in the application
// directory; its answer (or an exception) decides whether main runs. Without the
// runtime's class or method the run ends with an internal error.
TEST_F(JavaHooksTest, FirstRunMarkerDecidesWhetherMainRuns) {
    enum class Outcome { Main, Stopped, Fatal };
    struct Case {
        const char* name;
        const wchar_t* exeName;
        const char* appDirKey;
        const wchar_t* markerIn;  // nullptr: no marker
        const char* firstRun;     // standin.firstRun
        const char* absent;
        Outcome outcome;
        bool asked;             // FirstRun looked up
        const char* errorCode;  // for Fatal
    };
    const Case cases[] = {
        {"no marker", L"app.exe", nullptr, nullptr, "false", "", Outcome::Main, false, nullptr},
        {"marker, true", L"app.exe", nullptr, L"", "true", "", Outcome::Main, true, nullptr},
        {"marker, false", L"app.exe", nullptr, L"", "false", "", Outcome::Stopped, true, nullptr},
        {"marker, throws", L"app.exe", nullptr, L"", "throw:setup not finished", "", Outcome::Stopped, true, nullptr},
        {"marker in app dir ..\\, false", L"bin\\app.exe", "..\\", L"", "false", "", Outcome::Stopped, true, nullptr},
        {"marker in app dir .., false", L"bin\\app.exe", "..", L"", "false", "", Outcome::Stopped, true, nullptr},
        {"marker beside the exe, app dir elsewhere", L"bin\\app.exe", "..\\", L"bin", "false", "", Outcome::Main,
         false, nullptr},
        {"marker, FirstRun missing", L"app.exe", nullptr, L"", "true", firstRunClass, Outcome::Fatal, true, "14"},
        {"marker, firstRun missing", L"app.exe", nullptr, L"", "true",
         "com/zandorium/runtime/launcher/FirstRun.firstRun", Outcome::Fatal, true, "15"},
        {"no marker, FirstRun missing", L"app.exe", nullptr, nullptr, "true", firstRunClass, Outcome::Main, false,
         nullptr},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring root = dir / (L"case" + std::to_wstring(++number));
        makeDirectory(root + L"\\bin");
        if (c.markerIn) putMarker(*c.markerIn ? root + L"\\" + c.markerIn : root);
        Keys keys{{123, std::string("-Dstandin.main=print:app-started \"-Dstandin.firstRun=") + c.firstRun +
                            "\" -Dstandin.absent=" + c.absent}};
        if (c.appDirKey) keys.push_back({10003, c.appDirKey});
        std::wstring exe = pack(runBlock(keys, {internalError}), L"case" + std::to_wstring(number) + L"\\" + c.exeName);
        RunOutcome o = start(exe, L"/run");
        expectNoViolations(o);

        std::vector<Call> asked = methodCalls(o.trace, "firstRun");
        EXPECT_EQ(lookedUp(o.trace, firstRunClass), c.asked) << o.describe();
        std::vector<std::string> briefs = o.trace.briefs();
        switch (c.outcome) {
        case Outcome::Main: {
            expectMainOn(o, zandoriumLauncher);
            EXPECT_TRUE(contains(o.process.out, "app-started")) << o.describe();
            EXPECT_EQ(asked.size(), c.asked ? 1u : 0u);
            // Asked before the launcher class is looked up.
            if (c.asked) {
                EXPECT_LT(position(briefs, "CallStaticBooleanMethod " + std::string(firstRunClass) + ".firstRun"),
                          position(briefs, "FindClass " + std::string(zandoriumLauncher)));
            }
            EXPECT_FALSE(contains(o.log, "checkFirstRun stopped further execution")) << o.log;
            break;
        }
        case Outcome::Stopped: {
            EXPECT_EQ(o.process.exitCode, 0u) << o.describe();
            ASSERT_EQ(asked.size(), 1u) << o.describe();
            EXPECT_EQ(asked[0].fn, "CallStaticBooleanMethod");
            EXPECT_EQ(asked[0].sig, "()Z");
            EXPECT_TRUE(o.trace.mainCalls().empty());
            EXPECT_FALSE(lookedUp(o.trace, zandoriumLauncher));
            EXPECT_FALSE(contains(o.process.out, "app-started"));
            EXPECT_TRUE(o.trace.destroyed()) << o.describe();
            EXPECT_TRUE(contains(o.log, "checkFirstRun stopped further execution")) << o.log;
            std::string thrown = std::string(c.firstRun).rfind("throw:", 0) == 0 ? c.firstRun + 6 : "";
            if (!thrown.empty()) {
                EXPECT_TRUE(contains(o.log, "an exception occurred")) << o.log;
                EXPECT_TRUE(contains(o.log, "java.lang.RuntimeException: " + thrown)) << o.log;
                std::string described = "Exception in thread \"main\" java.lang.RuntimeException: " + thrown;
                EXPECT_TRUE(contains(o.process.err, described)) << o.process.err;
                EXPECT_TRUE(contains(o.process.err, "FirstRun.firstRun")) << o.process.err;
                EXPECT_EQ(o.trace.described().size(), 1u);
            } else {
                EXPECT_FALSE(contains(o.log, "an exception occurred")) << o.log;
                EXPECT_TRUE(o.trace.described().empty());
            }
            break;
        }
        case Outcome::Fatal: {
            EXPECT_EQ(o.process.exitCode, 1u) << o.describe();
            EXPECT_TRUE(o.trace.mainCalls().empty());
            EXPECT_FALSE(lookedUp(o.trace, zandoriumLauncher));
            std::string shown = o.process.err;
            for (const Dialog& d : o.process.dialogs) shown += narrow(d.text);
            EXPECT_TRUE(contains(shown, std::string("An internal error occurred (error code: ") + c.errorCode + ")"))
                << o.describe();
            EXPECT_EQ(asked.size(), 0u);
            break;
        }
        }
    }
}

// The hooks run in the service child and with /run-redirect as with /run.
TEST_F(JavaHooksTest, HooksRunInEveryInProcessMode) {
    putHelper(dir.path());
    putMarker(dir.path());
    std::wstring exe = launcher({{108, "1"}, {10123, "1"}, {10118, "two"}, {123, "-Dstandin.firstRun=true"}});
    for (const wchar_t* arguments : {L"/run", L"/run-redirect", L"svc __zdr_restart"}) {
        SCOPED_TRACE(narrow(arguments));
        RunOutcome o = start(exe, arguments);
        expectNoViolations(o);
        expectMainOn(o, zandoriumLauncher);
        std::vector<std::string> briefs = o.trace.briefs();
        int splashAt = position(briefs, "CallStaticVoidMethod " + std::string(tarvoLauncher) + ".initAwtSplashConfig");
        int initAt = position(briefs, "CallStaticVoidMethod " + std::string(commonClass) + ".initFromLauncher");
        int firstRunAt = position(briefs, "CallStaticBooleanMethod " + std::string(firstRunClass) + ".firstRun");
        int mainAt = position(briefs, "CallStaticVoidMethod " + std::string(zandoriumLauncher) + ".main");
        EXPECT_GE(splashAt, 0) << o.describe();
        EXPECT_LT(splashAt, initAt);
        EXPECT_LT(initAt, firstRunAt);
        EXPECT_LT(firstRunAt, mainAt);
        EXPECT_EQ(o.trace.helperCalls().size(), 1u);
    }
}

// ---- paths that do not fit ----

// An application directory whose helper library path outgrows its 4000 characters is
// refused with a log line, not cut into some other path; the first-run marker path
// (2000 bytes) is refused the same way and counts as no marker. The key names a real
// folder in a long roundabout way, and that folder holds both files.
TEST_F(JavaHooksTest, OverlongApplicationDirectoryIsLoggedAndSkipped) {
    struct Case {
        const char* name;
        size_t detours;  // "d\..\" repetitions in key 10003
        bool helperTooLong;
    };
    const Case cases[] = {
        {"marker path too long", 400, false},
        {"helper path too long as well", 790, true},
    };
    putHelper(dir / L"inst");
    putMarker(dir / L"inst");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string key;
        for (size_t i = 0; i < c.detours; ++i) key += "d\\..\\";
        key += "inst";
        ASSERT_LT(key.size(), 4000u);
        std::wstring exe = launcher({{10003, key}, {123, "-Dstandin.firstRun=false"}});
        RunOutcome o = start(exe, L"/run");
        expectNoViolations(o);
        expectMainOn(o, zandoriumLauncher);
        EXPECT_FALSE(lookedUp(o.trace, firstRunClass));
        EXPECT_TRUE(contains(o.log, "first-run marker path longer than 1999 bytes")) << o.log;
        EXPECT_EQ(contains(o.log, "helper dll path longer than 3999 characters"), c.helperTooLong) << o.log;
        EXPECT_EQ(o.trace.helperCalls().size(), c.helperTooLong ? 0u : 1u) << o.describe();
        EXPECT_EQ(lookedUp(o.trace, commonClass), !c.helperTooLong);
    }
}

}  // namespace
}  // namespace tarvo::test
