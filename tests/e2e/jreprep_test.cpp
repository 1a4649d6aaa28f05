// Packed runtimes end to end: a jreprep driver prepares stand-in Java homes whose lib
// and lib\ext hold ".jar.pack" files, running the home's own stand-in unpack200.exe,
// whose runs are counted in the probe log. The driver frames every call with a log
// line before and after, so the unit's own log lines can be told apart.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "javahome.h"
#include "jvmtrace.h"
#include "launcherfixture.h"

namespace tarvo::test {
namespace {

using javahome::JavaHome;
using javahome::Unpack200Mode;

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

std::vector<std::string> sorted(std::vector<std::string> items) {
    std::sort(items.begin(), items.end());
    return items;
}

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

// What one driver run printed and logged, and the unpack200.exe runs it caused.
struct Outcome {
    ProcessResult process;
    std::string log;
    // The log lines between each call's opening and closing driver line (up to the end
    // of the log for a call that did not return).
    std::vector<std::vector<std::string>> calls;
    std::vector<jvmtrace::Run> unpacks;

    std::vector<std::string> unpackedPacks() const {
        std::vector<std::string> packs;
        for (const auto& run : unpacks) packs.push_back(run.record.get("pack"));
        return sorted(packs);
    }
    std::vector<std::string> lines(size_t call = 0) const { return call < calls.size() ? calls[call] : std::vector<std::string>{}; }
};

std::string describe(const Outcome& o) { return o.process.out + o.process.err + "\n--- log ---\n" + o.log; }

class JrePrepTest : public LauncherTest {
protected:
    std::wstring driver() {
        return packDriver(L"jreprep_driver",
                          makeBlock({{101, "x"}}, {{1009, "An internal error occurred (error code: {0})"}}),
                          L"prep.exe");
    }

    Outcome call(const std::wstring& arguments) {
        std::wstring probeLog = dir / (L"probes-" + std::to_wstring(++runs) + L".log");
        ProcessOptions options;
        options.env[L"STANDIN_PROBE_LOG"] = probeLog;
        Outcome o;
        o.process = run(exe, arguments, options);
        o.log = logText(runs);
        bool inside = false;
        for (const std::string& line : splitLines(o.log)) {
            if (line.rfind("driver: prepareJre ", 0) == 0 || line.rfind("driver: unpackJar ", 0) == 0) {
                o.calls.emplace_back();
                inside = true;
            } else if (line == "driver: returned") {
                inside = false;
            } else if (inside) {
                o.calls.back().push_back(line);
            }
        }
        o.unpacks = jvmtrace::readProbeLog(probeLog).runs("unpack200.exe");
        return o;
    }

    Outcome prepare(const std::wstring& home) { return call(L"prepare " + quoteArgument(home)); }

    std::wstring exe = driver();
    int runs = 0;
};

std::string returned(const std::wstring& home) { return "returned=" + narrow(home) + "\n"; }

// ---- the main path ----

TEST_F(JrePrepTest, OnePackFileIsUnpackedWithItsQuotedPathsAndRemoved) {
    // The blank shows whether the unpacker's two paths are quoted.
    std::wstring home = JavaHome::jre().packed(L"lib\\rt.jar").build(dir / L"Java Home\\jre");
    ASSERT_FALSE(home.empty());
    std::string h = narrow(home);
    std::string pack = h + "\\lib\\rt.jar.pack";
    std::string jar = h + "\\lib\\rt.jar";
    std::string commandLine = "-r " + inQuotes(pack) + " " + inQuotes(jar);

    Outcome o = prepare(home);
    EXPECT_EQ(o.process.exitCode, 0u) << describe(o);
    EXPECT_EQ(plainText(o.process.out), "Preparing JRE ...\n" + returned(home));
    EXPECT_EQ(o.lines(), (std::vector<std::string>{
                             "checking " + jar,
                             "Unpacking JRE",
                             h + "\\bin\\unpack200.exe",
                             commandLine,
                             "waiting for unpack200 to finish",
                             "unpack done",
                             "Unpacking JRE done",
                         }))
        << o.log;
    // The unpacker removed the pack file itself: that is no error.
    EXPECT_FALSE(contains(o.log, "ERROR")) << o.log;

    ASSERT_EQ(o.unpacks.size(), 1u) << describe(o);
    const jvmtrace::Run& unpack = o.unpacks[0];
    EXPECT_EQ(unpack.path, h + "\\bin\\unpack200.exe");
    EXPECT_EQ(unpack.cmdline, commandLine);
    EXPECT_EQ(unpack.record.get("pack"), pack);
    EXPECT_EQ(unpack.record.get("jar"), jar);
    EXPECT_EQ(unpack.record.get("remove"), "true");
    EXPECT_EQ(unpack.record.get("result"), "ok");

    EXPECT_FALSE(exists(widen(pack)));
    EXPECT_EQ(readFile(widen(jar)), javahome::packContent(L"lib\\rt.jar"));
}

// Which pack files are unpacked, and that one call announces itself once at most.
TEST_F(JrePrepTest, EveryPackFileWithoutItsJarIsUnpackedUnderASingleAnnouncement) {
    struct Packed {
        std::wstring jar;
        bool jarPresent;
    };
    struct Case {
        std::wstring name;
        std::vector<Packed> packs;
        std::vector<std::wstring> unpacked;  // jars the unpacker writes
        std::vector<std::wstring> strays = {};  // files that only look like pack files
        bool withoutLib = false;
    };
    std::vector<Case> cases{
        {L"lib-and-ext",
         {{L"lib\\rt.jar", false}, {L"lib\\charsets.jar", false}, {L"lib\\ext\\localedata.jar", false},
          {L"lib\\ext\\sunjce_provider.jar", false}},
         {L"lib\\rt.jar", L"lib\\charsets.jar", L"lib\\ext\\localedata.jar", L"lib\\ext\\sunjce_provider.jar"}},
        // The announcement is shared by both directories: the first unpacking in lib\ext makes it.
        {L"ext-only-missing",
         {{L"lib\\rt.jar", true}, {L"lib\\ext\\localedata.jar", false}, {L"lib\\ext\\nashorn.jar", false}},
         {L"lib\\ext\\localedata.jar", L"lib\\ext\\nashorn.jar"}},
        {L"mixed", {{L"lib\\rt.jar", false}, {L"lib\\jsse.jar", true}, {L"lib\\ext\\dnsns.jar", true}}, {L"lib\\rt.jar"}},
        {L"all-present", {{L"lib\\rt.jar", true}, {L"lib\\ext\\localedata.jar", true}}, {}},
        // Only "*.jar.pack" counts, and only in lib and lib\ext.
        {L"strays",
         {{L"lib\\rt.jar", false}},
         {L"lib\\rt.jar"},
         {L"lib\\notes.pack", L"lib\\rt.zip.pack", L"lib\\old.jar.pack.bak", L"lib\\security\\policy.jar.pack",
          L"bin\\tools.jar.pack"}},
        {L"no-lib", {}, {}, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.name));
        JavaHome spec = JavaHome::jre();
        for (const Packed& p : c.packs) spec.packed(p.jar, p.jarPresent);
        std::wstring home = spec.build(dir / c.name);
        ASSERT_FALSE(home.empty());
        for (const std::wstring& stray : c.strays) {
            ASSERT_TRUE(javahome::makeDirectories(home + L"\\" + stray.substr(0, stray.rfind(L'\\'))));
            ASSERT_TRUE(writeFile(home + L"\\" + stray, "stray\n"));
        }
        if (c.withoutLib) removeTree(home + L"\\lib");
        std::string h = narrow(home);

        Outcome o = prepare(home);
        bool announced = !c.unpacked.empty();
        EXPECT_EQ(o.process.exitCode, 0u) << describe(o);
        EXPECT_EQ(plainText(o.process.out), (announced ? "Preparing JRE ...\n" : "") + returned(home));

        std::vector<std::string> expectedPacks;
        for (const std::wstring& jar : c.unpacked) expectedPacks.push_back(h + "\\" + narrow(jar) + ".pack");
        EXPECT_EQ(o.unpackedPacks(), sorted(expectedPacks)) << describe(o);

        std::vector<std::string> checked, others;
        for (const std::string& line : o.lines())
            (line.rfind("checking ", 0) == 0 ? checked : others).push_back(line);
        std::vector<std::string> expectedChecks;
        for (const Packed& p : c.packs) expectedChecks.push_back("checking " + h + "\\" + narrow(p.jar));
        EXPECT_EQ(sorted(checked), sorted(expectedChecks)) << o.log;
        std::string unitLog;
        for (const std::string& line : others) unitLog += line + "\n";
        EXPECT_EQ(countOf(unitLog, "Unpacking JRE\n"), announced ? 1u : 0u) << o.log;
        EXPECT_EQ(countOf(unitLog, "Unpacking JRE done\n"), announced ? 1u : 0u) << o.log;
        if (announced) {
            EXPECT_EQ(others.back(), "Unpacking JRE done") << o.log;
        }
        EXPECT_EQ(countOf(unitLog, "waiting for unpack200 to finish\n"), c.unpacked.size()) << o.log;
        if (!announced) {
            EXPECT_TRUE(others.empty()) << o.log;
        }
        EXPECT_FALSE(contains(o.log, "ERROR")) << o.log;

        for (const Packed& p : c.packs) {
            std::wstring jar = home + L"\\" + p.jar;
            bool unpacked = std::find(c.unpacked.begin(), c.unpacked.end(), p.jar) != c.unpacked.end();
            EXPECT_EQ(exists(jar + L".pack"), !unpacked) << narrow(jar);
            EXPECT_EQ(readFile(jar), unpacked ? javahome::packContent(p.jar) : "stand-in jar " + narrow(p.jar) + "\n")
                << narrow(jar);
        }
        for (const std::wstring& stray : c.strays) EXPECT_EQ(readFile(home + L"\\" + stray), "stray\n") << narrow(stray);
    }
}

TEST_F(JrePrepTest, ALaterCallFindsNothingToDoAndOnlyChecksTheRemainingPackFiles) {
    std::wstring home =
        JavaHome::jre().packed(L"lib\\rt.jar").packed(L"lib\\ext\\dnsns.jar", true).build(dir / L"jre");
    ASSERT_FALSE(home.empty());
    std::string remaining = "checking " + narrow(home) + "\\lib\\ext\\dnsns.jar";

    // Twice in one process, then once more in another.
    Outcome first = call(L"prepare " + quoteArgument(home) + L" " + quoteArgument(home));
    ASSERT_EQ(first.calls.size(), 2u) << describe(first);
    EXPECT_EQ(plainText(first.process.out), "Preparing JRE ...\n" + returned(home) + returned(home));
    EXPECT_EQ(first.unpacks.size(), 1u);
    EXPECT_TRUE(contains(first.log, "Unpacking JRE done")) << first.log;
    EXPECT_EQ(first.lines(1), std::vector<std::string>{remaining}) << first.log;

    Outcome later = prepare(home);
    EXPECT_EQ(plainText(later.process.out), returned(home));
    EXPECT_TRUE(later.unpacks.empty());
    EXPECT_EQ(later.lines(), std::vector<std::string>{remaining}) << later.log;
    EXPECT_EQ(readFile(home + L"\\lib\\rt.jar"), javahome::packContent(L"lib\\rt.jar"));
    EXPECT_TRUE(exists(home + L"\\lib\\ext\\dnsns.jar.pack"));
}

// ---- unpackers that fail ----

TEST_F(JrePrepTest, AMissingUnpackerEndsTheProcessWithInternalError20) {
    std::wstring home = JavaHome::jre().packed(L"lib\\rt.jar").packed(L"lib\\ext\\dnsns.jar").build(dir / L"jre");
    ASSERT_FALSE(home.empty());
    ASSERT_TRUE(DeleteFileW((home + L"\\bin\\unpack200.exe").c_str()));

    Outcome o = prepare(home);
    EXPECT_EQ(o.process.exitCode, 1u) << describe(o);
    // The announcement was flushed before the process ended; the driver never got back.
    EXPECT_EQ(plainText(o.process.out), "Preparing JRE ...\n");
    EXPECT_EQ(splitLines(plainText(o.process.err)).at(0), "An internal error occurred (error code: 20)") << o.process.err;
    EXPECT_TRUE(contains(o.log, "\ncould not create unpack process\n")) << o.log;
    EXPECT_FALSE(contains(o.log, "waiting for unpack200 to finish")) << o.log;
    EXPECT_FALSE(contains(o.log, "driver: returned")) << o.log;
    EXPECT_FALSE(contains(o.log, "Unpacking JRE done")) << o.log;
    EXPECT_TRUE(exists(home + L"\\lib\\rt.jar.pack"));
    EXPECT_TRUE(exists(home + L"\\lib\\ext\\dnsns.jar.pack"));
}

// The runtime's only copy of a library is its pack file: when the unpacker leaves no jar
// behind, the pack file is not deleted, and the next call tries again.
TEST_F(JrePrepTest, AnUnpackerThatWritesNoJarIsReportedAndNothingIsDeleted) {
    struct Case {
        std::wstring name;
        Unpack200Mode mode;
        bool packLeft;        // after the unpacker
        std::string error;    // the whole error line, with <jar> and <pack> filled in below
        std::string result;   // as the unpacker recorded it
    };
    for (const Case& c : {
             Case{L"fail", Unpack200Mode::Fail, true, "ERROR: unpacker produced no <jar>; keeping <pack>", "fail"},
             // This unpacker removed the pack file itself: neither a deletion error nor a claim to keep it.
             Case{L"nojar", Unpack200Mode::NoJar, false, "ERROR: unpacker produced no <jar>", "nojar"},
         }) {
        SCOPED_TRACE(narrow(c.name));
        std::wstring home = JavaHome::jre().packed(L"lib\\rt.jar").unpack200(c.mode).build(dir / c.name);
        ASSERT_FALSE(home.empty());
        std::string pack = narrow(home) + "\\lib\\rt.jar.pack";
        std::string jar = narrow(home) + "\\lib\\rt.jar";
        std::string error = c.error;
        error.replace(error.find("<jar>"), 5, jar);
        if (error.find("<pack>") != std::string::npos) error.replace(error.find("<pack>"), 6, pack);

        Outcome o = prepare(home);
        EXPECT_EQ(o.process.exitCode, 0u) << describe(o);
        EXPECT_EQ(plainText(o.process.out), "Preparing JRE ...\n" + returned(home));
        ASSERT_EQ(o.unpacks.size(), 1u) << describe(o);
        EXPECT_EQ(o.unpacks[0].record.get("result"), c.result);
        std::vector<std::string> unitLog = o.lines();
        ASSERT_GE(unitLog.size(), 2u) << o.log;
        EXPECT_EQ(unitLog[unitLog.size() - 2], error) << o.log;
        EXPECT_EQ(unitLog.back(), "Unpacking JRE done") << o.log;
        EXPECT_EQ(countOf(o.log, "ERROR"), 1u) << o.log;
        EXPECT_FALSE(contains(o.log, "could not delete packed file")) << o.log;
        EXPECT_EQ(exists(widen(pack)), c.packLeft);
        EXPECT_FALSE(exists(widen(jar)));

        Outcome again = prepare(home);
        EXPECT_EQ(again.unpacks.size(), c.packLeft ? 1u : 0u) << describe(again);
        EXPECT_EQ(contains(plainText(again.process.out), "Preparing JRE ...\n"), c.packLeft) << again.process.out;
        EXPECT_EQ(exists(widen(pack)), c.packLeft);
    }
}

TEST_F(JrePrepTest, APackFileThatCannotBeDeletedIsLoggedAndTheNextOneFollows) {
    std::wstring home = JavaHome::jre().packed(L"lib\\rt.jar").packed(L"lib\\ext\\dnsns.jar").build(dir / L"jre");
    ASSERT_FALSE(home.empty());
    std::wstring pack = home + L"\\lib\\rt.jar.pack";
    // Readable for the unpacker's copy, but neither it nor the launcher may delete it.
    HANDLE held = CreateFileW(pack.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Outcome o = prepare(home);
    CloseHandle(held);

    EXPECT_EQ(o.process.exitCode, 0u) << describe(o);
    EXPECT_EQ(plainText(o.process.out), "Preparing JRE ...\n" + returned(home));
    EXPECT_EQ(o.unpackedPacks(), sorted({narrow(pack), narrow(home) + "\\lib\\ext\\dnsns.jar.pack"})) << describe(o);
    std::vector<std::string> unitLog = o.lines();
    auto failed = std::find(unitLog.begin(), unitLog.end(),
                            "could not delete packed file (error " + std::to_string(ERROR_SHARING_VIOLATION) + ")");
    ASSERT_NE(failed, unitLog.end()) << o.log;
    EXPECT_EQ(*(failed - 1), "unpack done") << o.log;
    EXPECT_EQ(unitLog.back(), "Unpacking JRE done") << o.log;
    EXPECT_TRUE(exists(pack));
    EXPECT_EQ(readFile(home + L"\\lib\\rt.jar"), javahome::packContent(L"lib\\rt.jar"));
    EXPECT_FALSE(exists(home + L"\\lib\\ext\\dnsns.jar.pack"));
    EXPECT_EQ(readFile(home + L"\\lib\\ext\\dnsns.jar"), javahome::packContent(L"lib\\ext\\dnsns.jar"));
}

// ---- one pack file at a time ----

TEST_F(JrePrepTest, UnpackJarDeletesThePackFileOnlyWhenTheJarIsThereAndSkipsAMissingOne) {
    // This unpacker touches nothing, so whatever is deleted, the launcher deleted.
    std::wstring home = JavaHome::jre()
                            .packed(L"lib\\rt.jar", true)
                            .packed(L"lib\\jce.jar")
                            .unpack200(Unpack200Mode::Fail)
                            .build(dir / L"jre");
    ASSERT_FALSE(home.empty());
    std::wstring withJar = home + L"\\lib\\rt.jar.pack";
    std::wstring withoutJar = home + L"\\lib\\jce.jar.pack";
    std::wstring missing = home + L"\\lib\\ext\\gone.jar.pack";

    Outcome o = call(L"unpack " + quoteArgument(home) + L" " + quoteArgument(withJar));
    EXPECT_EQ(plainText(o.process.out), returned(withJar)) << describe(o);
    EXPECT_EQ(o.unpacks.size(), 1u);
    EXPECT_FALSE(exists(withJar));
    EXPECT_TRUE(exists(home + L"\\lib\\rt.jar"));
    EXPECT_FALSE(contains(o.log, "ERROR")) << o.log;

    o = call(L"unpack " + quoteArgument(home) + L" " + quoteArgument(withoutJar));
    EXPECT_EQ(o.unpacks.size(), 1u);
    EXPECT_TRUE(exists(withoutJar));
    EXPECT_TRUE(contains(o.log, "; keeping " + narrow(withoutJar) + "\n")) << o.log;

    o = call(L"unpack " + quoteArgument(home) + L" " + quoteArgument(missing));
    EXPECT_EQ(o.process.exitCode, 0u) << describe(o);
    EXPECT_EQ(plainText(o.process.out), returned(missing));
    EXPECT_EQ(o.lines(), std::vector<std::string>{"pack path doesn't exists"}) << o.log;
    EXPECT_TRUE(o.unpacks.empty());
}

}  // namespace
}  // namespace tarvo::test
