// java.exe, javaw.exe and unpack200.exe of the stand-in, started the way the launcher
// starts them.
#include <gtest/gtest.h>

#include <functional>

#include "javahome.h"
#include "jvmtrace.h"
#include "standintest.h"

using namespace standintest;
using tarvo::javahome::JavaHome;
using tarvo::javahome::Unpack200Mode;
using Lines = std::vector<std::string>;

namespace {

// " -version" with the program's path in front, as the version probe builds it.
RunResult probe(const std::wstring& exe, const std::wstring& log) {
    RunOptions options;
    options.env[L"STANDIN_PROBE_LOG"] = log;
    return run(exe + L" -version", options);
}

TEST(StandinJava, VersionOutputExitCodeAndDelayComeFromTheConfiguration) {
    struct Case {
        const char* name;
        JavaHome home;
        const wchar_t* program;
        std::string err;
        DWORD exitCode;
        DWORD minMs;
    } cases[] = {
        {"Java 8 JRE", JavaHome::jre("1.8.0_202"), L"java.exe",
         "java version \"1.8.0_202\"\r\nJava(TM) SE Runtime Environment (build 1.8.0_202-b08)\r\n"
         "Java HotSpot(TM) 64-Bit Server VM (build 25.202-b08, mixed mode)\r\n",
         0, 0},
        {"modern JDK, through javaw.exe", JavaHome::modernJdk("17.0.2"), L"javaw.exe",
         "openjdk version \"17.0.2\" 2022-01-18\r\nOpenJDK Runtime Environment (build 17.0.2+8-86)\r\n"
         "OpenJDK 64-Bit Server VM (build 17.0.2+8-86, mixed mode, sharing)\r\n",
         0, 0},
        {"a notice before the version line", JavaHome::jre("1.7.0_80").lineBefore("Picked up _JAVA_OPTIONS: -Xmx1g").linesAfter({}),
         L"java.exe", "Picked up _JAVA_OPTIONS: -Xmx1g\r\njava version \"1.7.0_80\"\r\n", 0, 0},
        {"a line of one's own and a failing exit", JavaHome::jre().versionLine("Error: broken").linesAfter({}).exitCode(1),
         L"java.exe", "Error: broken\r\n", 1, 0},
        {"a slow runtime", JavaHome::jre().linesAfter({}).delayMs(700), L"java.exe", "java version \"1.8.0_202\"\r\n", 0, 600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::wstring home = c.home.build(dir / L"home");
        ASSERT_FALSE(home.empty());
        RunResult r = probe(home + L"\\bin\\" + c.program, dir / L"probes.log");
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_GE(r.elapsedMs, c.minMs);
    }
}

TEST(StandinJava, EveryRunIsCountedInTheProbeLog) {
    TempDir dir;
    std::wstring home = JavaHome::jdk().build(dir / L"jdk");
    std::wstring log = dir / L"probes.log";
    probe(home + L"\\bin\\java.exe", log);
    probe(home + L"\\jre\\bin\\java.exe", log);
    probe(home + L"\\jre\\bin\\javaw.exe", log);
    RunOptions options;
    options.env[L"STANDIN_PROBE_LOG"] = log;
    RunResult other = run(quote(home + L"\\bin\\java.exe") + L" -cp x Main", options);
    EXPECT_EQ(other.exitCode, 1u);
    EXPECT_EQ(other.err.rfind("Unrecognized option: -cp x Main\r\n", 0), 0u) << other.err;

    auto runs = tarvo::jvmtrace::readProbeLog(log);
    EXPECT_EQ(runs.count("java.exe"), 3u);
    EXPECT_EQ(runs.count("javaw.exe"), 1u);
    ASSERT_EQ(runs.runs().size(), 4u);
    EXPECT_EQ(runs.runs()[1].path, narrow(home + L"\\jre\\bin\\java.exe"));
    EXPECT_EQ(runs.runs()[1].cmdline, narrow(home + L"\\jre\\bin\\java.exe -version"));
    EXPECT_EQ(runs.runs()[1].record.get("args"), "-version");
    EXPECT_EQ(runs.runs()[3].record.get("args"), "-cp x Main");
}

TEST(StandinUnpack200, WritesTheJarAndRemovesThePackOrFailsAsConfigured) {
    struct Case {
        Unpack200Mode mode;
        const char* result;
        DWORD exitCode;
        bool jar;
        bool pack;
    } cases[] = {
        {Unpack200Mode::Ok, "ok", 0, true, false},
        {Unpack200Mode::Fail, "fail", 1, false, true},
        {Unpack200Mode::NoJar, "nojar", 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        TempDir dir;
        std::wstring home = JavaHome::jre().packed(L"lib\\rt.jar").unpack200(c.mode).build(dir / L"jre");
        ASSERT_FALSE(home.empty());
        std::wstring pack = home + L"\\lib\\rt.jar.pack";
        std::wstring jar = home + L"\\lib\\rt.jar";
        ASSERT_TRUE(exists(pack));
        ASSERT_FALSE(exists(jar));

        // The unpacker is the application; its command line does not name it.
        std::wstring cmdline = L"-r \"" + pack + L"\" \"" + jar + L"\"";
        RunOptions options;
        options.application = home + L"\\bin\\unpack200.exe";
        options.env[L"STANDIN_PROBE_LOG"] = dir / L"probes.log";
        RunResult r = run(cmdline, options);

        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(exists(jar), c.jar);
        EXPECT_EQ(exists(pack), c.pack);
        if (c.jar) {
            EXPECT_EQ(readFile(jar), tarvo::javahome::packContent(L"lib\\rt.jar"));
        }
        auto log = tarvo::jvmtrace::readProbeLog(dir / L"probes.log");
        ASSERT_EQ(log.count("unpack200.exe"), 1u);
        const auto& rec = log.runs()[0].record;
        EXPECT_EQ(rec.get("cmdline"), narrow(cmdline));
        EXPECT_EQ(rec.get("pack"), narrow(pack));
        EXPECT_EQ(rec.get("jar"), narrow(jar));
        EXPECT_EQ(rec.get("remove"), "true");
        EXPECT_EQ(rec.get("result"), c.result);
    }
}

}  // namespace
