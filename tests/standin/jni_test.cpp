// The stand-in jvm.dll, loaded by a driver process the way a launcher loads it: correct
// JNI use works and leaves a complete trace; every kind of misuse ends the process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "javahome.h"
#include "jvmtrace.h"
#include "standintest.h"

using namespace standintest;
using tarvo::javahome::JavaHome;
using tarvo::jvmtrace::Trace;
using Lines = std::vector<std::string>;

namespace {

constexpr DWORD kViolationExit = 86;
const char* const kSplashSig = "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V";

struct DriverRun {
    RunResult result;
    Trace trace;
};

class StandinJni : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = JavaHome::jre().build(dir_ / L"jre");
        ASSERT_FALSE(home_.empty());
    }

    DriverRun drive(const std::string& scenario, const std::vector<std::wstring>& args = {},
                    const std::string& input = {}, std::map<std::wstring, std::wstring> env = {}) {
        std::wstring cmd = quote(selfDir() + L"\\standin_jni_driver.exe") + L" " + quote(home_ + L"\\bin\\server\\jvm.dll") +
                           L" " + widen(scenario);
        for (const auto& a : args) cmd += L" " + quote(a);
        std::wstring tracePath = dir_ / L"trace.txt";
        DeleteFileW(tracePath.c_str());
        env[L"STANDIN_TRACE"] = tracePath;
        RunOptions options;
        options.env = env;
        options.input = input;
        options.inputDelayMs = input.empty() ? 0 : 1000;
        RunResult r = run(cmd, options);
        return {r, tarvo::jvmtrace::readTrace(tracePath)};
    }

    TempDir dir_;
    std::wstring home_;
};

// Lines of out that start with prefix, in order.
Lines linesStartingWith(const std::string& out, const std::string& prefix) {
    Lines found;
    for (const auto& line : lines(out))
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
    return found;
}

TEST_F(StandinJni, LauncherSequenceRunsMainAndLeavesACompleteTrace) {
    DriverRun d = drive("launch", {L"--splash", L"--opt", L"-Dstandin.main=print:hello;args", L"--opt", L"-Xmx64m",
                                   L"--arg", L"svc", L"--arg", L"a b", L"--arg", L"\u00e4\u20ac"});
    const Trace& t = d.trace;

    EXPECT_EQ(d.result.exitCode, 0u) << d.result.err;
    EXPECT_EQ(lines(d.result.out), (Lines{"hello", "arg[0]=false", "arg[1]=com.example.Main", "arg[2]=", "arg[3]=",
                                          "arg[4]=false", "arg[5]=svc", "arg[6]=a b", "arg[7]=\u00e4\u20ac",
                                          "driver: main returned", "driver: destroyed: 0"}));
    EXPECT_EQ(d.result.err, "");

    ASSERT_EQ(t.loads().size(), 1u);
    EXPECT_NE(t.loads()[0].find("\\bin\\server\\jvm.dll"), std::string::npos) << t.loads()[0];
    EXPECT_EQ(t.initVersion(), "0x00010002");
    EXPECT_EQ(t.ignoreUnrecognized(), "true");
    EXPECT_EQ(t.options(), (Lines{"-Dstandin.main=print:hello;args", "-Xmx64m"}));
    EXPECT_TRUE(t.created());
    EXPECT_EQ(t.mainClass(), "com/tarvo/runtime/WinLauncher");
    EXPECT_EQ(t.mainArgs(), (Lines{"false", "com.example.Main", "", "", "false", "svc", "a b", "\u00e4\u20ac"}));
    EXPECT_EQ(t.steps(), (Lines{"print:hello", "args"}));

    // The splash call's varargs arrive as the fourteen typed arguments.
    auto splash = t.calls("CallStaticVoidMethod").at(0);
    EXPECT_EQ(splash.brief(), std::string("CallStaticVoidMethod com/tarvo/runtime/WinLauncher.initAwtSplashConfig") + kSplashSig);
    EXPECT_EQ(splash.args, (Lines{"true", "false", "", "20", "20", "0,0,0", "8", "500", "version 3.0", "20", "40", "0,0,0", "8", "500"}));

    Lines expected{"FindClass com/tarvo/runtime/WinLauncher",
                   std::string("GetStaticMethodID com/tarvo/runtime/WinLauncher.initAwtSplashConfig") + kSplashSig,
                   "NewStringUTF", "NewStringUTF", "NewStringUTF", "NewStringUTF",
                   std::string("CallStaticVoidMethod com/tarvo/runtime/WinLauncher.initAwtSplashConfig") + kSplashSig,
                   "ExceptionOccurred", "DeleteLocalRef", "DeleteLocalRef", "DeleteLocalRef", "DeleteLocalRef", "DeleteLocalRef",
                   "FindClass com/tarvo/runtime/WinLauncher",
                   "GetStaticMethodID com/tarvo/runtime/WinLauncher.main([Ljava/lang/String;)V",
                   "FindClass java/lang/String", "NewObjectArray java/lang/String"};
    for (int i = 0; i < 8; ++i) {
        expected.push_back("NewString");
        expected.push_back("SetObjectArrayElement");
        expected.push_back("DeleteLocalRef");
    }
    expected.push_back("DeleteLocalRef");
    expected.push_back("CallStaticVoidMethod com/tarvo/runtime/WinLauncher.main([Ljava/lang/String;)V");
    expected.push_back("ExceptionOccurred");
    EXPECT_EQ(t.briefs(), expected);
    EXPECT_EQ(t.calls("NewObjectArray").at(0).args, (Lines{"8", "null"}));
    EXPECT_EQ(t.calls("SetObjectArrayElement").at(6).args, (Lines{"6", "a b"}));
    EXPECT_EQ(t.calls("CallStaticVoidMethod").at(1).args, (Lines{"String[8]"}));
    EXPECT_EQ(t.calls("CallStaticVoidMethod").at(1).result, "void");

    EXPECT_TRUE(t.destroyed());
    EXPECT_TRUE(t.violations().empty());
    EXPECT_TRUE(t.exceptions().empty());
}

TEST_F(StandinJni, BehavesLikeHotSpotWhereACallerCanObserveIt) {
    DriverRun d = drive("semantics");
    EXPECT_EQ(d.result.exitCode, 0u) << d.result.err;
    EXPECT_EQ(lines(d.result.out),
              (Lines{
                  "driver: FindClass com/tarvo/runtime/WinLauncher: ok",
                  "driver: FindClass com/zandorium/runtime/launcher/WinLauncher: ok",
                  "driver: FindClass com/zandorium/runtime/launcher/FirstRun: ok",
                  "driver: FindClass com/zandorium/runtime/installer/platform/win32/Common: ok",
                  "driver: FindClass java/lang/String: ok",
                  "driver: FindClass java.lang.String: null, pending java.lang.NoClassDefFoundError: java.lang.String",
                  "driver: FindClass com/foo/Absent: null, pending java.lang.NoClassDefFoundError: com/foo/Absent",
                  "driver: GetStaticMethodID main: ok",
                  "driver: GetStaticMethodID main ()V: null, pending java.lang.NoSuchMethodError: "
                  "static Lcom/tarvo/runtime/WinLauncher;.main()V",
                  "driver: GetStaticMethodID mian: null, pending java.lang.NoSuchMethodError: "
                  "static Lcom/tarvo/runtime/WinLauncher;.mian([Ljava/lang/String;)V",
                  "driver: GetMethodID main: null, pending java.lang.NoSuchMethodError: "
                  "Lcom/tarvo/runtime/WinLauncher;.main([Ljava/lang/String;)V",
                  "driver: GetStaticMethodID firstRun: ok",
                  "driver: GetStaticMethodID initFromLauncher: ok",
                  "driver: GetStaticMethodID initAwtSplashConfig: ok",
                  "driver: SetObjectArrayElement 1: ok",
                  "driver: SetObjectArrayElement 2: null, pending java.lang.ArrayIndexOutOfBoundsException: "
                  "Index 2 out of bounds for length 2",
                  "driver: SetObjectArrayElement -1: null, pending java.lang.ArrayIndexOutOfBoundsException: "
                  "Index -1 out of bounds for length 2",
                  "driver: SetObjectArrayElement 0 with a Class: null, pending java.lang.ArrayStoreException: java.lang.Class",
                  "driver: GetObjectArrayElement 1: ok",
                  "driver: NewObjectArray -1: null, pending java.lang.NegativeArraySizeException: -1",
                  "driver: GetStringChars: abc, then no zero",
                  "driver: NewStringUTF: 3 chars, \u00e4-\u20ac",
                  "driver: GetVersion: 0x00010008",
                  "driver: JNI_GetCreatedJavaVMs: 0, 1 VM, the same",
                  "driver: DestroyJavaVM: 0",
                  "driver: JNI_GetCreatedJavaVMs: 0, 0 VM",
                  "driver: JNI_CreateJavaVM again: -1",
              }));
    EXPECT_TRUE(d.trace.violations().empty());
    // Exceptions made by JNI functions are recorded with their origin.
    auto thrown = d.trace.exceptions();
    ASSERT_FALSE(thrown.empty());
    EXPECT_EQ(thrown[0].cls, "java.lang.NoClassDefFoundError");
    EXPECT_EQ(thrown[0].message, "java.lang.String");
    EXPECT_EQ(thrown[0].by, "jvm");
}

struct Outcome {
    const char* name;
    std::vector<std::wstring> args;
    std::string input;  // arrives on standard input after a second
    DWORD exitCode;
    Lines stdoutLines;       // the whole of standard output
    std::string stderrText;  // the whole of standard error
    std::function<void(const Trace&)> traceCheck;
};

TEST_F(StandinJni, MainStepsFirstRunAndHelperLibrary) {
    TempDir app;
    std::wstring okHelper = tarvo::javahome::installHelperLibrary(app / L"ok", 1);
    std::wstring failingHelper = tarvo::javahome::installHelperLibrary(app / L"failing", 0);
    ASSERT_FALSE(okHelper.empty());
    ASSERT_FALSE(failingHelper.empty());
    const std::string boomTrace =
        "Exception in thread \"main\" java.lang.RuntimeException: boom\r\n"
        "\tat com.tarvo.runtime.WinLauncher.main(WinLauncher.java)\r\n";
    auto initFlags = [](const Trace& t) {
        Lines flags;
        for (const auto& c : t.calls("CallStaticVoidMethod"))
            if (c.name == "initFromLauncher") flags.push_back(c.args.at(0));
        return flags;
    };

    const Outcome cases[] = {
        {"main throws: described like HotSpot, JVM not destroyed",
         {L"--opt", L"-Dstandin.main=print:before;throw:boom;print:after"}, "", 1,
         {"before", "driver: exception: java.lang.RuntimeException: boom", "driver: main failed"}, boomTrace,
         [](const Trace& t) {
             // Thrown by main, then thrown again by the driver after it asked for the text.
             ASSERT_EQ(t.exceptions().size(), 2u);
             EXPECT_EQ(t.exceptions()[0].by, "java");
             EXPECT_EQ(t.exceptions()[1].by, "Throw");
             EXPECT_EQ(t.described(), (Lines{"java.lang.RuntimeException: boom"}));
             EXPECT_EQ(t.calls("CallStaticVoidMethod").at(0).exception, "java.lang.RuntimeException: boom");
             EXPECT_FALSE(t.destroyBegun());
         }},
        {"System.exit ends the process inside main",
         {L"--opt", L"-Dstandin.main=print:a;exit:3;print:b"}, "", 3, {"a"}, "",
         [](const Trace& t) {
             EXPECT_EQ(t.exitCode(), 3);
             EXPECT_FALSE(t.destroyBegun());
         }},
        {"stdin is read up to the line 0",
         {L"--opt", L"-Dstandin.main=stdin;print:after"}, "x\r\n0\r\ny\r\n", 0,
         {"after", "driver: main returned", "driver: destroyed: 0"}, "",
         [](const Trace& t) {
             Lines seen;
             for (const auto& r : t.records("stdin")) seen.push_back(r.has("end") ? "end " + r.get("end") : r.get("line"));
             EXPECT_EQ(seen, (Lines{"x", "0", "end zero"}));
         }},
        {"stdin ends without a 0 line",
         {L"--opt", L"-Dstandin.main=stdin"}, "x\n", 0, {"driver: main returned", "driver: destroyed: 0"}, "",
         [](const Trace& t) { EXPECT_EQ(t.records("stdin").back().get("end"), "eof"); }},
        {"a stdin watcher keeps DestroyJavaVM waiting, then exits",
         {L"--opt", L"-Dstandin.main=watchstdin:7;print:started"}, "0\n", 7, {"started", "driver: main returned"}, "",
         [](const Trace& t) {
             EXPECT_TRUE(t.destroyBegun());
             EXPECT_FALSE(t.destroyed());
             EXPECT_EQ(t.exitCode(), 7);
         }},
        {"eprint, prop and env",
         {L"--opt", L"-Dstandin.main=eprint:warn;prop:tarvo.test;prop:tarvo.none;env:STANDIN_TEST_VAR", L"--opt",
          L"-Dtarvo.test=x y"},
         "", 0,
         {"tarvo.test=x y", "tarvo.none is not set", "STANDIN_TEST_VAR=v\u00e4lue", "driver: main returned", "driver: destroyed: 0"},
         "warn\r\n", nullptr},
        {"the installer flavor's launcher class",
         {L"--class", L"com/zandorium/runtime/launcher/WinLauncher", L"--opt", L"-Dstandin.main=print:z"}, "", 0,
         {"z", "driver: main returned", "driver: destroyed: 0"}, "",
         [](const Trace& t) { EXPECT_EQ(t.mainClass(), "com/zandorium/runtime/launcher/WinLauncher"); }},
        {"fewer than five settings: the runtime's main throws",
         {L"--no-settings", L"--arg", L"x", L"--opt", L"-Dstandin.main=print:never"}, "", 1,
         {"driver: exception: java.lang.ArrayIndexOutOfBoundsException: Index 1 out of bounds for length 1", "driver: main failed"},
         "Exception in thread \"main\" java.lang.ArrayIndexOutOfBoundsException: Index 1 out of bounds for length 1\r\n"
         "\tat com.tarvo.runtime.WinLauncher.main(WinLauncher.java)\r\n",
         [](const Trace& t) { EXPECT_EQ(t.mainArgs(), (Lines{"x"})); }},
        {"firstRun true: main follows",
         {L"--firstrun", L"--opt", L"-Dstandin.main=print:main"}, "", 0,
         {"main", "driver: main returned", "driver: destroyed: 0"}, "",
         [](const Trace& t) {
             EXPECT_EQ(t.calls("CallStaticBooleanMethod").at(0).result, "true");
             EXPECT_EQ(t.mainCalls().size(), 1u);
         }},
        {"firstRun false: no main",
         {L"--firstrun", L"--opt", L"-Dstandin.firstRun=false"}, "", 0,
         {"driver: firstRun stopped the run", "driver: destroyed: 0"}, "",
         [](const Trace& t) {
             EXPECT_EQ(t.calls("CallStaticBooleanMethod").at(0).result, "false");
             EXPECT_TRUE(t.mainCalls().empty());
         }},
        {"firstRun throws",
         {L"--firstrun", L"--opt", L"-Dstandin.firstRun=throw:nope"}, "", 0,
         {"driver: exception: java.lang.RuntimeException: nope", "driver: firstRun stopped the run", "driver: destroyed: 0"},
         "Exception in thread \"main\" java.lang.RuntimeException: nope\r\n"
         "\tat com.zandorium.runtime.launcher.FirstRun.firstRun(FirstRun.java)\r\n",
         [](const Trace& t) { EXPECT_TRUE(t.mainCalls().empty()); }},
        {"helper library registers its natives",
         {L"--helper", okHelper}, "", 0, {"driver: registerNatives returned 1", "driver: main returned", "driver: destroyed: 0"}, "",
         [&](const Trace& t) {
             ASSERT_EQ(t.helperCalls().size(), 1u);
             EXPECT_EQ(t.helperCalls()[0].get("module"), "self");
             EXPECT_EQ(t.helperCalls()[0].get("errorLog"), "set");
             EXPECT_EQ(t.helperCalls()[0].get("result"), "1");
             EXPECT_EQ(t.calls("RegisterNatives").at(0).args, (Lines{"isAdmin()Z", "getProcessId()I"}));
             EXPECT_EQ(t.calls("RegisterNatives").at(0).result, "0");
             EXPECT_EQ(initFlags(t), (Lines{"true"}));
         }},
        {"helper library refuses and says so through the error log",
         {L"--helper", failingHelper}, "", 0,
         {"driver: error log: zdrinst: native registration refused (0)", "driver: registerNatives returned 0",
          "driver: main returned", "driver: destroyed: 0"},
         "",
         [&](const Trace& t) {
             EXPECT_EQ(t.helperCalls().at(0).get("result"), "0");
             EXPECT_TRUE(t.calls("RegisterNatives").empty());
             EXPECT_EQ(initFlags(t), (Lines{"true", "false"}));
         }},
    };
    for (const Outcome& c : cases) {
        SCOPED_TRACE(c.name);
        DriverRun d = drive("launch", c.args, c.input, {{L"STANDIN_TEST_VAR", L"v\u00e4lue"}});
        EXPECT_EQ(d.result.exitCode, c.exitCode) << d.result.err;
        EXPECT_EQ(lines(d.result.out), c.stdoutLines);
        EXPECT_EQ(d.result.err, c.stderrText);
        EXPECT_TRUE(d.trace.violations().empty());
        if (c.traceCheck) c.traceCheck(d.trace);
    }
}

TEST_F(StandinJni, TheResultByteOfTheHelperCanComeFromTheEnvironment) {
    TempDir app;
    std::wstring helper = tarvo::javahome::installHelperLibrary(app.path(), 1);
    DriverRun d = drive("launch", {L"--helper", helper}, "", {{L"STANDIN_ZDRINST_RESULT", L"0"}});
    EXPECT_EQ(linesStartingWith(d.result.out, "driver: registerNatives"), (Lines{"driver: registerNatives returned 0"}));
}

TEST_F(StandinJni, DestroyJavaVMWaitsForNonDaemonThreadsOnly) {
    DriverRun d = drive("launch", {L"--time", L"--opt", L"-Dstandin.main=thread:800;daemon:30000"});
    EXPECT_EQ(d.result.exitCode, 0u) << d.result.err;
    Lines took = linesStartingWith(d.result.out, "driver: DestroyJavaVM took ");
    ASSERT_EQ(took.size(), 1u);
    int ms = std::atoi(took[0].c_str() + std::strlen("driver: DestroyJavaVM took "));
    EXPECT_GE(ms, 700);
    EXPECT_LT(ms, 20000);
    // The non-daemon thread ended before DestroyJavaVM returned.
    Lines order;
    for (const auto& r : d.trace.records())
        if ((r.kind == "thread" && r.get("event") == "end") || r.kind == "destroy") order.push_back(r.kind + " " + r.get("name") + r.get("phase"));
    EXPECT_EQ(order, (Lines{"destroy begin", "thread Thread-0", "destroy end"}));
}

TEST_F(StandinJni, AbsentClassesAndMethodsAreNotFound) {
    struct Case {
        const wchar_t* absent;
        Lines out;
    } cases[] = {
        {L"com/tarvo/runtime/WinLauncher", {"driver: main class not found"}},
        {L"com.tarvo.runtime.WinLauncher", {"driver: main class not found"}},
        {L"com/tarvo/runtime/WinLauncher.main", {"driver: main method not found"}},
        {L"com/foo/Other,com/tarvo/runtime/WinLauncher.initAwtSplashConfig", {"driver: main returned", "driver: destroyed: 0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.absent));
        DriverRun d = drive("launch", {L"--opt", std::wstring(L"-Dstandin.absent=") + c.absent});
        EXPECT_EQ(lines(d.result.out), c.out);
        EXPECT_TRUE(d.trace.violations().empty());
    }
}

// standin.throwIn: a listed static method throws a RuntimeException from its own code
// instead of doing its work. The driver checks for an exception after each hook as a
// launcher does, and describes it.
TEST_F(StandinJni, ListedStaticMethodsThrowInsteadOfRunning) {
    TempDir app;
    std::wstring okHelper = tarvo::javahome::installHelperLibrary(app / L"ok", 1);
    std::wstring failingHelper = tarvo::javahome::installHelperLibrary(app / L"failing", 0);
    ASSERT_FALSE(okHelper.empty());
    ASSERT_FALSE(failingHelper.empty());
    const std::string splashFrame = "com.tarvo.runtime.WinLauncher.initAwtSplashConfig(WinLauncher.java)";
    const std::string initFrame = "com.zandorium.runtime.installer.platform.win32.Common.initFromLauncher(Common.java)";
    const std::string firstRunFrame = "com.zandorium.runtime.launcher.FirstRun.firstRun(FirstRun.java)";
    const std::string mainFrame = "com.tarvo.runtime.WinLauncher.main(WinLauncher.java)";
    enum class End { Main, FirstRunStops, MainThrows };
    struct Thrown {
        std::string method;  // name of the called method
        std::string frame;
        std::string message;
    };
    struct Case {
        const char* name;
        std::vector<std::wstring> options;  // -D options besides standin.main
        bool failingHelper;                 // registerNatives returns 0: initFromLauncher(false) follows
        std::vector<Thrown> thrown;         // in the order the calls happen
        End end;
    };
    const Case cases[] = {
        {"nothing listed", {}, false, {}, End::Main},
        {"splash, internal form, with a message",
         {L"-Dstandin.throwIn=com/tarvo/runtime/WinLauncher.initAwtSplashConfig:splash broke"}, false,
         {{"initAwtSplashConfig", splashFrame, "splash broke"}}, End::Main},
        {"initFromLauncher, dotted, default message, both calls",
         {L"-Dstandin.throwIn=com.zandorium.runtime.installer.platform.win32.Common.initFromLauncher"}, true,
         {{"initFromLauncher", initFrame, "initFromLauncher failed"},
          {"initFromLauncher", initFrame, "initFromLauncher failed"}},
         End::Main},
        {"firstRun: its false answer stops the run",
         {L"-Dstandin.throwIn=com/zandorium/runtime/launcher/FirstRun.firstRun:not yet"}, false,
         {{"firstRun", firstRunFrame, "not yet"}}, End::FirstRunStops},
        {"standin.firstRun=throw is the same as listing it",
         {L"-Dstandin.firstRun=throw"}, false, {{"firstRun", firstRunFrame, "firstRun failed"}}, End::FirstRunStops},
        {"a throwIn item wins over standin.firstRun=throw:",
         {L"-Dstandin.firstRun=throw:old", L"-Dstandin.throwIn=com/zandorium/runtime/launcher/FirstRun.firstRun:new"},
         false, {{"firstRun", firstRunFrame, "new"}}, End::FirstRunStops},
        {"several items, empty ones skipped, a message with colons and dots",
         {L"-Dstandin.throwIn=,com/tarvo/runtime/WinLauncher.initAwtSplashConfig:a: b.c,,"
          L"com/zandorium/runtime/installer/platform/win32/Common.initFromLauncher:"},
         false, {{"initAwtSplashConfig", splashFrame, "a: b.c"}, {"initFromLauncher", initFrame, ""}}, End::Main},
        {"main: no arguments read, no steps run",
         {L"-Dstandin.throwIn=com/tarvo/runtime/WinLauncher.main:main broke"}, false,
         {{"main", mainFrame, "main broke"}}, End::MainThrows},
        // The other launcher class's main is a method of its own.
        {"another class's method of the same name", {L"-Dstandin.throwIn=com/zandorium/runtime/launcher/WinLauncher.main"},
         false, {}, End::Main},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::wstring> args{L"--splash", L"--firstrun", L"--helper", c.failingHelper ? failingHelper : okHelper,
                                       L"--opt", L"-Dstandin.main=print:main"};
        for (const auto& o : c.options) {
            args.push_back(L"--opt");
            args.push_back(o);
        }
        DriverRun d = drive("launch", args);
        const Trace& t = d.trace;

        auto text = [](const Thrown& x) {
            return "java.lang.RuntimeException" + (x.message.empty() ? std::string(": ") : ": " + x.message);
        };
        auto thrownBy = [&](const std::string& method) {
            Lines out;
            for (const Thrown& x : c.thrown)
                if (x.method == method) out.push_back("driver: exception: " + text(x));
            return out;
        };
        // What the driver prints, hook by hook.
        Lines out = thrownBy("initAwtSplashConfig");
        Lines init = thrownBy("initFromLauncher");
        if (!init.empty()) out.push_back(init[0]);
        if (c.failingHelper) out.push_back("driver: error log: zdrinst: native registration refused (0)");
        out.push_back(std::string("driver: registerNatives returned ") + (c.failingHelper ? "0" : "1"));
        if (init.size() > 1) out.push_back(init[1]);
        Lines first = thrownBy("firstRun");
        out.insert(out.end(), first.begin(), first.end());
        if (c.end == End::FirstRunStops) {
            out.insert(out.end(), {"driver: firstRun stopped the run", "driver: destroyed: 0"});
        } else if (c.end == End::MainThrows) {
            Lines m = thrownBy("main");
            out.insert(out.end(), m.begin(), m.end());
            out.push_back("driver: main failed");
        } else {
            out.insert(out.end(), {"main", "driver: main returned", "driver: destroyed: 0"});
        }
        EXPECT_EQ(lines(d.result.out), out);
        EXPECT_EQ(d.result.exitCode, c.end == End::MainThrows ? 1u : 0u) << d.result.err;

        // Each one described as HotSpot does, with the listed method's frame.
        std::string err;
        Lines described, byJava;
        for (const Thrown& x : c.thrown) {
            err += "Exception in thread \"main\" " + text(x) + "\r\n\tat " + x.frame + "\r\n";
            described.push_back(text(x));
            byJava.push_back("java.lang.RuntimeException|" + x.message + "|" + text(x) + "|main");
        }
        EXPECT_EQ(d.result.err, err);
        EXPECT_EQ(t.described(), described);
        Lines seen;
        for (const auto& x : t.exceptions())
            if (x.by == "java") seen.push_back(x.cls + "|" + x.message + "|" + x.text + "|" + x.thread);
        EXPECT_EQ(seen, byJava);

        // The calls that threw say so in their trace; the others do not.
        Lines threw;
        for (const auto& call : t.calls())
            if (call.fn.rfind("CallStatic", 0) == 0 && !call.exception.empty())
                threw.push_back(call.name + "|" + call.exception);
        Lines expectedThrew;
        for (const Thrown& x : c.thrown) expectedThrew.push_back(x.method + "|" + text(x));
        EXPECT_EQ(threw, expectedThrew);
        Lines answers;
        for (const auto& call : t.calls("CallStaticBooleanMethod")) answers.push_back(call.result);
        EXPECT_EQ(answers, Lines{c.end == End::FirstRunStops ? "false" : "true"});
        // A throwing main does none of its work: it does not even read its arguments.
        EXPECT_EQ(t.mainCalls().size(), c.end == End::Main ? 1u : 0u);
        EXPECT_EQ(t.steps(), c.end == End::Main ? Lines{"print:main"} : Lines{});
        EXPECT_TRUE(t.violations().empty());
    }
}

TEST_F(StandinJni, ListedAllocationsFindTheHeapFull) {
    // The driver's allocations, in the order it makes them.
    const std::pair<std::string, int> steps[] = {{"NewObjectArray 1", 1}, {"NewString a", 1},   {"NewString ab", 2},
                                                 {"NewObjectArray 2", 2}, {"NewString abc", 3}, {"NewObjectArray 3", 3}};
    const std::string oom = "java.lang.OutOfMemoryError: Java heap space";
    struct Case {
        const wchar_t* value;  // of standin.outOfMemory; null: not set
        std::set<std::string> failing;
    } cases[] = {
        {nullptr, {}},
        {L"NewString:2", {"NewString ab"}},
        // Each function counts its own calls: NewString's third is the fifth allocation.
        {L"NewObjectArray:1,NewString:3", {"NewObjectArray 1", "NewString abc"}},
        {L"NewObjectArray:3,NewObjectArray:2", {"NewObjectArray 2", "NewObjectArray 3"}},
        {L",NewString:1,", {"NewString a"}},
        {L"NewString:4,NewObjectArray:4", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? narrow(c.value) : "not set");
        std::vector<std::wstring> args;
        if (c.value) args = {L"--opt", std::wstring(L"-Dstandin.outOfMemory=") + c.value};
        DriverRun d = drive("out-of-memory", args);
        const Trace& t = d.trace;

        Lines out;
        std::string err;
        std::map<std::string, size_t> seen;  // calls of each function so far
        for (const auto& [what, length] : steps) {
            std::string fn = what.substr(0, what.find(' '));
            size_t index = seen[fn]++;
            bool fails = c.failing.count(what) != 0;
            auto calls = t.calls(fn);
            ASSERT_GT(calls.size(), index) << what;
            // The call record shows the null result and the exception it left pending.
            EXPECT_EQ(calls[index].result == "null", fails) << what;
            EXPECT_EQ(calls[index].exception, fails ? oom : "") << what;
            if (fails) {
                out.push_back("driver: " + what + ": null");
                out.push_back("driver: exception: " + oom);  // toString
                err += "Exception in thread \"main\" " + oom + "\r\n";
            } else {
                out.push_back("driver: " + what + ": ok, length " + std::to_string(length));
            }
        }
        out.push_back("driver: destroyed: 0");
        EXPECT_EQ(d.result.exitCode, 0u) << d.result.err;
        EXPECT_EQ(lines(d.result.out), out);
        EXPECT_EQ(d.result.err, err);

        Lines byJvm;
        for (const auto& x : t.exceptions())
            if (x.by == "jvm") byJvm.push_back(x.cls + "|" + x.message + "|" + x.text + "|" + x.thread);
        EXPECT_EQ(byJvm, Lines(c.failing.size(), "java.lang.OutOfMemoryError|Java heap space|" + oom + "|main"));
        EXPECT_EQ(t.described(), Lines(c.failing.size(), oom));
        EXPECT_TRUE(t.violations().empty());
        EXPECT_TRUE(t.destroyed());
    }
}

TEST_F(StandinJni, CreationChecksItsArguments) {
    struct Case {
        std::vector<std::wstring> args;
        int result;
        std::string stderrStart;
    } cases[] = {
        {{}, 0, ""},
        {{L"--version", L"10008"}, 0, ""},
        {{L"--version", L"10001"}, -3, ""},
        {{L"--version", L"10003"}, -3, ""},
        {{L"--opt", L"-Xfoo"}, 0, ""},
        {{L"--strict", L"--opt", L"-Xfoo"}, -1, "Unrecognized option: -Xfoo\r\n"},
        {{L"--opt", L"-foo"}, -1, "Unrecognized option: -foo\r\n"},
        {{L"--opt", L"-Xmx1q"}, -6, "Invalid maximum heap size: -Xmx1q\r\n"},
        {{L"--strict", L"--opt", L"-Xrs", L"--opt", L"-Xss2m", L"--opt", L"-XX:+UseG1GC", L"--opt", L"-Da=b"}, 0, ""},
        {{L"--opt", L"-Dstandin.createFails=true"}, -1, "Error occurred during initialization of VM\r\n"},
        {{L"--opt", L"-Dstandin.createFails=-4"}, -4, "Error occurred during initialization of VM\r\n"},
        {{L"--opt", L"-Dstandin.outOfMemory=NewString:1,NewObjectArray:2"}, 0, ""},
        {{L"--opt", L"-Dstandin.outOfMemory=NewString:1,NewStringUTF:1"}, -1,
         "standin.outOfMemory: unknown function 'NewStringUTF' in 'NewStringUTF:1' "
         "(only NewString and NewObjectArray can run out of memory)\r\n"
         "Error: Could not create the Java Virtual Machine.\r\n"},
        {{L"--opt", L"-Dstandin.outOfMemory=NewString:0"}, -1,
         "standin.outOfMemory: 'NewString:0' is not <Function>:<n> with n counting calls from 1\r\n"},
        {{L"--opt", L"-Dstandin.outOfMemory=NewObjectArray"}, -1,
         "standin.outOfMemory: 'NewObjectArray' is not <Function>:<n>"},
        {{L"--opt", L"-Dstandin.outOfMemory=NewString:x2"}, -1,
         "standin.outOfMemory: 'NewString:x2' is not <Function>:<n>"},
        {{L"--opt", L"-Dstandin.throwIn=com/tarvo/runtime/WinLauncher.initAwtSplashConfig:x,"
                    L"com.zandorium.runtime.launcher.FirstRun.firstRun"},
         0, ""},
        {{L"--opt", L"-Dstandin.throwIn=com/tarvo/runtime/WinLauncher.main,com/foo/Absent.run:x"}, -1,
         "standin.throwIn: unknown class 'com/foo/Absent' in 'com/foo/Absent.run:x'\r\n"
         "Error: Could not create the Java Virtual Machine.\r\n"
         "Error: A fatal exception has occurred. Program will exit.\r\n"},
        {{L"--opt", L"-Dstandin.throwIn=com.tarvo.runtime.WinLauncher.initSplash"}, -1,
         "standin.throwIn: unknown method 'initSplash' in 'com.tarvo.runtime.WinLauncher.initSplash' "
         "(com/tarvo/runtime/WinLauncher has no static method of that name with Java code)\r\n"
         "Error: Could not create the Java Virtual Machine.\r\n"},
        // An instance method and a native one have no static Java code to throw from.
        {{L"--opt", L"-Dstandin.throwIn=java/lang/Object.toString"}, -1,
         "standin.throwIn: unknown method 'toString' in 'java/lang/Object.toString'"},
        {{L"--opt", L"-Dstandin.throwIn=com/zandorium/runtime/installer/platform/win32/Common.isAdmin"}, -1,
         "standin.throwIn: unknown method 'isAdmin' in"},
        {{L"--opt", L"-Dstandin.throwIn=initAwtSplashConfig:x"}, -1,
         "standin.throwIn: 'initAwtSplashConfig:x' is not <class>.<method>[:<message>]\r\n"},
        {{L"--opt", L"-Dstandin.throwIn=com/tarvo/runtime/WinLauncher.:x"}, -1,
         "standin.throwIn: 'com/tarvo/runtime/WinLauncher.:x' is not <class>.<method>[:<message>]\r\n"},
    };
    for (const Case& c : cases) {
        std::wstring joined;
        for (const auto& a : c.args) joined += a + L" ";
        SCOPED_TRACE(narrow(joined));
        DriverRun d = drive("create", c.args);
        EXPECT_EQ(linesStartingWith(d.result.out, "driver: create"),
                  (Lines{"driver: create returned " + std::to_string(c.result)}));
        EXPECT_EQ(d.result.err.substr(0, c.stderrStart.size()), c.stderrStart);
        if (c.stderrStart.empty()) {
            EXPECT_EQ(d.result.err, "");
        }
        EXPECT_EQ(d.trace.createResult(), c.result);
        EXPECT_EQ(d.trace.created(), c.result == 0);
    }
    DriverRun ignored = drive("create", {L"--opt", L"-Xfoo", L"--opt", L"-Xmx1g"});
    EXPECT_EQ(ignored.trace.options(), (Lines{"-Xfoo", "-Xmx1g"}));
    EXPECT_EQ(ignored.trace.ignoredOptions(), (Lines{"-Xfoo"}));
}

TEST_F(StandinJni, EveryKindOfMisuseEndsTheProcess) {
    struct Case {
        std::string scenario;
        std::vector<std::wstring> args;
        std::string fn;
        std::string what;
    } cases[] = {
        {"pending-exception", {}, "FindClass", "called while an exception is pending (java.lang.NoClassDefFoundError: com/foo/Absent)"},
        {"pending-after-main", {L"--opt", L"-Dstandin.main=throw:boom"}, "NewStringUTF",
         "called while an exception is pending (java.lang.RuntimeException: boom)"},
        // A launcher that fills main's argument array without looking at what it got.
        {"launch", {L"--opt", L"-Dstandin.outOfMemory=NewString:2"}, "SetObjectArrayElement",
         "called while an exception is pending (java.lang.OutOfMemoryError: Java heap space)"},
        {"launch", {L"--opt", L"-Dstandin.outOfMemory=NewObjectArray:1"}, "NewString",
         "called while an exception is pending (java.lang.OutOfMemoryError: Java heap space)"},
        {"wrong-thread", {}, "FindClass", "the JNIEnv of thread \"main\""},
        {"deleted-ref", {}, "GetStaticMethodID", "is a deleted local reference"},
        {"double-delete", {}, "DeleteLocalRef", "is a deleted local reference"},
        {"foreign-ref", {}, "GetStaticMethodID", "is not a reference this JVM handed out"},
        {"other-threads-ref", {}, "GetStringLength", "is a local reference of thread \"Thread-"},
        {"foreign-method-id", {}, "CallStaticVoidMethod", "was not handed out by this JVM"},
        {"wrong-return-type", {}, "CallStaticVoidMethod", "the method returns boolean"},
        {"static-as-instance", {}, "CallObjectMethod", "the method ID is of the static method"},
        {"wrong-argument-type", {}, "CallStaticVoidMethod", "argument 1 is a java.lang.String"},
        {"release-foreign-chars", {}, "ReleaseStringChars", "were not lent out by GetStringChars"},
        {"after-destroy", {}, "FindClass", "the JNIEnv is used after DestroyJavaVM"},
        {"null-options", {}, "JNI_CreateJavaVM", "options is null with nOptions 2"},
        {"unimplemented:GetFieldID", {}, "GetFieldID", "does not implement"},
        {"unimplemented:ThrowNew", {}, "ThrowNew", "does not implement"},
        {"unimplemented:MonitorEnter", {}, "MonitorEnter", "does not implement"},
        {"unimplemented:CallStaticIntMethod", {}, "CallStaticIntMethod", "does not implement"},
        {"unimplemented:GetModule", {}, "GetModule", "does not implement"},
    };
    for (const Case& c : cases) {
        std::wstring joined;
        for (const auto& a : c.args) joined += L" " + a;
        SCOPED_TRACE(c.scenario + narrow(joined));
        DriverRun d = drive(c.scenario, c.args);
        EXPECT_EQ(d.result.exitCode, kViolationExit);
        std::string head = "FATAL ERROR in native method: JNI violation in " + c.fn + ": ";
        EXPECT_NE(d.result.err.find(head), std::string::npos) << d.result.err;
        EXPECT_NE(d.result.err.find(c.what), std::string::npos) << d.result.err;
        ASSERT_EQ(d.trace.violations().size(), 1u);
        EXPECT_EQ(d.trace.violations()[0].fn, c.fn);
        EXPECT_NE(d.trace.violations()[0].what.find(c.what), std::string::npos);
    }
}

}  // namespace
