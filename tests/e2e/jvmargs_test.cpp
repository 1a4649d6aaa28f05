// The JVM option list and class path as packed executables build them from their
// configuration block, VM options files beside them, scanned folders and the
// environment. Every list is compared as a whole, in order.
#include <gtest/gtest.h>

#include <functional>

#include "launcherfixture.h"
#include "optionlist.h"

namespace tarvo::test {
namespace {

constexpr const char* missingText = "File or directory {0} not found or empty\n";
constexpr const char* variableText = "The environment variable {0} has to be defined";

struct OptionsRun {
    ProcessResult result;
    OptionList options;
    std::map<std::string, std::string> values;
};

OptionsRun parseRun(ProcessResult result) {
    OptionsRun run;
    for (const std::string& line : splitLines(plainText(result.out)))
        if (line.rfind("option=", 0) == 0) run.options.push_back(line.substr(7));
    run.values = driverResults(result);
    run.result = std::move(result);
    return run;
}

OptionList operator+(OptionList a, const OptionList& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? separator : "") + parts[i];
    return out;
}

// Wide text in the 8-bit code page of the file APIs, as the JVM gets its options.
std::string ansi(const std::wstring& text) {
    UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    int n = WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

// Names matching `pattern` in the order the file system returns them.
std::vector<std::string> directoryOrder(const std::wstring& directory, const std::wstring& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((directory + L"\\" + pattern).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(narrow(entry.cFileName));
    while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }
// The driver is packed as <dir>\app\bin\svc.exe, so that "..\lib" is a folder of the test.
class JvmArgsTest : public LauncherTest {
protected:
    JvmArgsTest() {
        CreateDirectoryW((dir / L"app").c_str(), nullptr);
        CreateDirectoryW(binDir().c_str(), nullptr);
    }

    std::wstring binDir() const { return dir / L"app\\bin"; }
    std::wstring bin(const std::wstring& name) const { return binDir() + L"\\" + name; }
    std::string exeDir() const { return narrow(binDir()) + "\\"; }

    // Wrapper flavor unless the keys say otherwise; messages 1006 and 1008 as users see them.
    pack::Block block(std::vector<std::pair<int32_t, std::string>> strings) const {
        pack::Block b;
        b.strings.push_back({2001, "t"});
        for (auto& s : strings) {
            if (s.first == 2001) b.strings.erase(b.strings.begin());
            b.strings.push_back(std::move(s));
        }
        b.messages.push_back({1006, pack::utf8ToUtf16(missingText)});
        b.messages.push_back({1008, pack::utf8ToUtf16(variableText)});
        return b;
    }
    std::wstring app(const pack::Block& b, const std::wstring& name = L"svc.exe") {
        return packDriver(L"jvmargs_driver", b, L"app\\bin\\" + name);
    }
    std::wstring app(std::vector<std::pair<int32_t, std::string>> strings = {}) { return app(block(std::move(strings))); }

    void makeDir(const std::wstring& relative) { CreateDirectoryW((dir / relative).c_str(), nullptr); }
    void writeLines(const std::wstring& path, const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) text += line + "\r\n";
        ASSERT_TRUE(writeFile(path, text)) << narrow(path);
    }

    OptionsRun options(const std::wstring& exe, const std::wstring& arguments = L"", ProcessOptions options = {}) {
        return parseRun(run(exe, L"options " + arguments, std::move(options)));
    }
    // The class path option alone, from a run that must succeed.
    std::string classPath(const std::wstring& exe, const std::wstring& arguments = L"", ProcessOptions options = {}) {
        OptionsRun r = this->options(exe, arguments, std::move(options));
        EXPECT_EQ(r.result.exitCode, 0u) << r.result.err;
        return r.options.empty() ? std::string("(no options)") : r.options.back();
    }
    // The list the locale options add for a "-Dsun.locale.formatasdefault=" value other than true.
    static OptionList userLocale(const OptionsRun& r) {
        OptionList out;
        auto values = r.values;
        if (values["language"] != "none") out.push_back("-Duser.language=" + values["language"]);
        if (values["country"] != "none") out.push_back("-Duser.country=" + values["country"]);
        return out;
    }
    // A fatal run: nothing built, the message on standard error, exit code 1.
    void expectFatal(const OptionsRun& r, const std::string& message) {
        EXPECT_EQ(r.result.exitCode, 1u);
        EXPECT_TRUE(startsWith(plainText(r.result.err), message)) << r.result.err;
        expectOptions(r.options, {});
    }
};

// ---- the whole list ----

TEST_F(JvmArgsTest, NineSourcesInTheirFixedOrder) {
    makeDir(L"app\\bin\\conf");
    writeLines(bin(L"conf\\more.vmoptions"), {"-Dmore=1"});
    writeLines(bin(L"svc.vmoptions"), {"-Dfile=1"});
    std::wstring exe = app({{123, "-Dconf=1 -include-options conf\\more.vmoptions \"-Dquoted=a b\" "
                                  "-Dexe=${launcher:sys.launcherDirectory}"},
                            {10200, "2"},
                            {10201, "1.8"},
                            {10202, "-Xss2m -Dhome=${launcher:sys.jvmHome}"},
                            {10203, "1."},
                            {10204, "-Xss1m"},
                            {125, "1"},
                            {121, "A0lib\\app.jar"}});
    OptionsRun r = options(exe, L"--prop=-Dtarvo.moduleName=M --prop=-Dsun.java.command=M --service --noredir "
                                L"--java=C:\\jre\\bin\\java.exe --version=1.8.0_91 "
                                L"svc -J-Xmx1g -Dsun.locale.formatasdefault=false foo");
    ASSERT_EQ(r.result.exitCode, 0u) << r.result.err;
    OptionList expected = OptionList{"-Dtarvo.moduleName=M", "-Dsun.java.command=M",  // launcher properties
                                     "-Dconf=1", "-Dmore=1", "-Dquoted=a b", "-Dexe=" + exeDir(),  // key 123
                                     "-Xss2m", "-Dhome=C:\\jre\\bin\\..",  // version-specific
                                     "-Xmx1g",                               // "-J"
                                     "-Dsun.locale.formatasdefault=false"} +
                          userLocale(r) +
                          OptionList{"-Dfile=1",  // default VM options file
                                     "-Djava.class.path=" + exeDir() + "lib\\app.jar", "-Xrs",
                                     "-Dzandorium.noRedir=true"};
    expectOptions(r.options, expected);
    EXPECT_EQ(r.values["nOptions"], std::to_string(expected.size()));
    EXPECT_EQ(r.values["ignoreUnrecognized"], "1");
    EXPECT_EQ(r.values["version"], "0x00010002");
    EXPECT_EQ(r.values["extraInfoNull"], "1");

    std::string log = logText();
    EXPECT_TRUE(contains(log, "\nadding options\n")) << log;
    EXPECT_TRUE(contains(log, "\ncheck 2 version specific vm option lines for 1.8.0_91\n")) << log;
    EXPECT_TRUE(contains(log, "\nchecking version 1.8 1\n")) << log;
    EXPECT_TRUE(contains(log, "\nadding specific -Xss2m -Dhome=${launcher:sys.jvmHome}\n")) << log;
    EXPECT_TRUE(contains(log, "\nservice: adding -Xrs\n")) << log;
    EXPECT_TRUE(contains(log, "\nvmoption count " + std::to_string(expected.size()) + "\n")) << log;
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(contains(log, "\nvmoption " + std::to_string(i) + ": " + expected[i] + "\n")) << i;
}

TEST_F(JvmArgsTest, RunModesDecideXrsAndNoRedir) {
    std::wstring exe = app();
    const std::string cp = "-Djava.class.path=";
    struct Case {
        const wchar_t* flags;
        std::vector<std::string> fileLines;
        OptionList expected;
        bool addsXrs;
    };
    const Case cases[] = {
        {L"--service", {"-Dfile=1"}, {"-Dfile=1", cp, "-Xrs"}, true},
        // Already present: a service run keeps exactly the one it has, where it stands.
        {L"--service", {"-Xrs", "-Dfile=1"}, {"-Xrs", "-Dfile=1", cp}, false},
        {L"", {"-Dfile=1"}, {"-Dfile=1", cp}, false},                               // /run-redirect
        {L"--noredir", {"-Dfile=1"}, {"-Dfile=1", cp, "-Dzandorium.noRedir=true"}, false},  // /run
        // Only a whole option counts as "-Xrs".
        {L"--service", {"-Xrs2", "-xrs"}, {"-Xrs2", "-xrs", cp, "-Xrs"}, true},
    };
    for (const Case& c : cases) {
        writeLines(bin(L"svc.vmoptions"), c.fileLines);
        OptionsRun r = options(exe, c.flags);
        SCOPED_TRACE(narrow(c.flags) + " " + join(c.fileLines, ","));
        expectOptions(r.options, c.expected);
        int runs = 0;
        for (int n = 1; !logText(n).empty(); ++n) runs = n;
        EXPECT_EQ(contains(logText(runs), "service: adding -Xrs"), c.addsXrs);
    }
}

// ---- version-specific options ----

TEST_F(JvmArgsTest, FirstMatchingVersionEntryOnly) {
    std::wstring exe = app({{10200, "2"},
                            {10201, "1.8"},
                            {10202, "-Xss2m \"-Dspaced=a b\""},
                            {10203, "1."},
                            {10204, "-Xss1m"}});
    const std::pair<const wchar_t*, OptionList> cases[] = {
        {L"--version=1.8.0_91", {"-Xss2m", "-Dspaced=a b"}},
        {L"--version=1.7.0", {"-Xss1m"}},
        {L"--version=11.0.2", {}},
        {L"--version=1", {}},  // shorter than both prefixes
        {L"", {}},             // no JVM selected: nothing is checked
    };
    for (const auto& [flags, specific] : cases) {
        OptionsRun r = options(exe, flags);
        SCOPED_TRACE(narrow(flags));
        expectOptions(r.options, specific + OptionList{"-Djava.class.path="});
    }
}

TEST_F(JvmArgsTest, AbsentOrEmptyPrefixMatchesEveryVersion) {
    // Entry 1 has an empty prefix, so the later "1." entry is never reached.
    std::wstring empty = app(block({{10200, "3"},
                                    {10201, "9"},
                                    {10202, "-Dnine"},
                                    {10203, ""},
                                    {10204, "-Dany -Dtwo"},
                                    {10205, "1."},
                                    {10206, "-Dnever"}}),
                             L"empty.exe");
    expectOptions(options(empty, L"--version=1.8.0").options, {"-Dany", "-Dtwo", "-Djava.class.path="});
    EXPECT_TRUE(contains(logText(), "\nchecking version 9 0\nchecking version  1\n")) << logText();

    // Entry 0 is not in the block at all: its prefix reads as empty and matches.
    std::wstring absent = app(block({{10200, "2"}, {10203, "1."}, {10204, "-Dnever"}}), L"absent.exe");
    expectOptions(options(absent, L"--version=1.8.0").options, {"-Djava.class.path="});

    // A count of 0 switches the entries off.
    std::wstring off = app(block({{10200, "0"}, {10201, ""}, {10202, "-Dnever"}}), L"off.exe");
    expectOptions(options(off, L"--version=1.8.0").options, {"-Djava.class.path="});
    EXPECT_FALSE(contains(logText(3), "version specific")) << logText(3);
}

// ---- "-J" arguments and locale options ----

TEST_F(JvmArgsTest, JArgumentsOnlyWithKey125) {
    writeLines(bin(L"svc.vmoptions"), {"-Dfile=1"});
    std::wstring args = L"-J-Xmx1g svc \"-J-classpath/a extra.jar\" foo -J-Dref=${launcher:sys.jvmHome} x-J-no";
    std::wstring on = app(block({{123, "-Dconf=1"}, {125, "1"}}), L"on.exe");
    CopyFileW(bin(L"svc.vmoptions").c_str(), bin(L"on.vmoptions").c_str(), FALSE);
    expectOptions(options(on, args).options,
                  {"-Dconf=1", "-Xmx1g", "-Dref=${launcher:sys.jvmHome}", "-Dfile=1", "-Djava.class.path=;extra.jar"});
    for (const char* value : {"0", ""}) {
        std::wstring off = app(block({{123, "-Dconf=1"}, {125, value}}), L"off.exe");
        CopyFileW(bin(L"svc.vmoptions").c_str(), bin(L"off.vmoptions").c_str(), FALSE);
        expectOptions(options(off, args).options, {"-Dconf=1", "-Dfile=1", "-Djava.class.path="});
    }
}

TEST_F(JvmArgsTest, LastLocaleArgumentDecidesTheUserOptions) {
    std::wstring exe = app();
    const std::string t = "-Dsun.locale.formatasdefault=true", f = "-Dsun.locale.formatasdefault=false";
    struct Case {
        const wchar_t* args;
        std::string option;  // empty: no locale options at all
        bool userOptions;
    };
    const Case cases[] = {
        {L"-Dsun.locale.formatasdefault=true", t, false},
        {L"-Dsun.locale.formatasdefault=false", f, true},
        {L"svc -Dsun.locale.formatasdefault=false x -Dsun.locale.formatasdefault=true", t, false},
        {L"-Dsun.locale.formatasdefault=true -Dsun.locale.formatasdefault=false", f, true},
        {L"-Dsun.locale.formatasdefault=TRUE", "-Dsun.locale.formatasdefault=TRUE", true},
        {L"svc -Duser.language=xx", "", false},
    };
    for (const Case& c : cases) {
        OptionsRun r = options(exe, c.args);
        SCOPED_TRACE(narrow(c.args));
        // The locale detection always finds a language, so the user options are really exercised.
        EXPECT_NE(r.values["language"], "none");
        OptionList expected;
        if (!c.option.empty()) expected.push_back(c.option);
        if (c.userOptions) expected = expected + userLocale(r);
        expectOptions(r.options, expected + OptionList{"-Djava.class.path="});
    }
}

// ---- VM options files ----

TEST_F(JvmArgsTest, DefaultFileNameFromTheExecutable) {
    std::wstring exe = app();
    struct Case {
        std::vector<std::wstring> files;
        OptionList expected;
    };
    const Case cases[] = {
        {{L"svc.vmoptions", L"svc.exe.vmoptions"}, {"-Dfrom=svc.vmoptions"}},
        {{L"svc.exe.vmoptions"}, {"-Dfrom=svc.exe.vmoptions"}},
        {{L"other.vmoptions", L"svc.vmoptions.txt", L"svc.options"}, {}},
    };
    int runNumber = 0;
    for (const Case& c : cases) {
        for (const wchar_t* name : {L"svc.vmoptions", L"svc.exe.vmoptions"}) DeleteFileW(bin(name).c_str());
        for (const std::wstring& name : c.files) writeLines(bin(name), {"-Dfrom=" + narrow(name)});
        OptionsRun r = options(exe);
        ++runNumber;
        expectOptions(r.options, c.expected + OptionList{"-Djava.class.path="});
    }
    std::string log = logText(runNumber);
    std::string exePath = narrow(bin(L"svc.exe"));
    EXPECT_TRUE(contains(log, "\nvmoptions2: exe " + exePath + " file: " + exeDir() + "svc.vmoptions, file: 0000000000000000\n"))
        << log;
    EXPECT_TRUE(contains(log, "\nvmoptions: opts2: " + exePath + ".vmoptions, file: 0000000000000000\n")) << log;
    EXPECT_TRUE(contains(log, "\ndefault vmoptions file: 0000000000000000\n")) << log;

    // The last four characters go, whatever they are.
    std::wstring dotted = app(block({}), L"my.app.exe");
    writeLines(bin(L"my.app.vmoptions"), {"-Dfrom=my.app"});
    writeLines(bin(L"my.vmoptions"), {"-Dfrom=my"});
    expectOptions(options(dotted).options, {"-Dfrom=my.app", "-Djava.class.path="});
}

TEST_F(JvmArgsTest, LineRules) {
    std::wstring exe = app();
    std::string bytes =
        "   -Xmx512m   \r\n"
        "\t-Dtab=1\n"
        "  # a comment\r\n"
        "#-Dcommented=1\n"
        "\r\n"
        "      \n"
        "-Dx=1 # note\n"
        "-include-options \r\n"
        "-Dcr=1\r\r\n"
        "-Dlatin=\xE9\n"
        "-Ddir=${launcher:sys.launcherDirectory}\n"
        "-Denv=${JVMARGS_LINE_VAR}|%JVMARGS_LINE_VAR%\n"
        "-Dlast=1\x1A-Dafter-ctrl-z=1\n"
        "-Dnever=1\n";
    ASSERT_TRUE(writeFile(bin(L"svc.vmoptions"), bytes));
    ProcessOptions env;
    env.env[L"JVMARGS_LINE_VAR"] = L"from env";
    expectOptions(options(exe, L"", env).options,
                  {"-Xmx512m", "\t-Dtab=1", "-Dx=1 # note", "-include-options", "-Dcr=1", "-Dlatin=" + ansi(L"\u00e9"),
                   "-Ddir=" + exeDir(), "-Denv=from env|%JVMARGS_LINE_VAR%", "-Dlast=1", "-Djava.class.path="});
}

TEST_F(JvmArgsTest, LinesLongerThanTheBufferArriveInPieces) {
    std::wstring exe = app();
    std::string longLine = "-Dlong=" + std::string(40000 - 7, 'x');
    std::string exact = "-Dexact=" + std::string(29999 - 8, 'y');
    std::string twoBuffers = "-Dtwo=" + std::string(2 * 29999 - 6, 'z');
    writeLines(bin(L"svc.vmoptions"), {longLine, exact, twoBuffers, "-Dnext=1"});
    expectOptions(options(exe).options,
                  {longLine.substr(0, 29999), longLine.substr(29999), exact, twoBuffers.substr(0, 29999),
                   twoBuffers.substr(29999), "-Dnext=1", "-Djava.class.path="});
    EXPECT_TRUE(contains(logText(), "longer than 29999 bytes")) << logText().substr(0, 2000);
}

// Expansions that would outgrow the line buffer are refused; include names that no
// name buffer holds are not opened.
TEST_F(JvmArgsTest, OverlongValuesInVmOptionsFiles) {
    std::string longName(6500, 'n');
    writeLines(bin(L"svc.vmoptions"), {"-Dfits=${JVMARGS_WIDE}", "-Dbig=${JVMARGS_HUGE}",
                                       "-include-options " + longName, "-Dend=1"});
    ProcessOptions env;
    env.env = {{L"JVMARGS_WIDE", std::wstring(20000, L'w')}, {L"JVMARGS_HUGE", std::wstring(31000, L'h')}};
    expectOptions(options(app(), L"", env).options,
                  {"-Dfits=" + std::string(20000, 'w'), "-Dbig=${JVMARGS_HUGE}", "-Dend=1", "-Djava.class.path="});
    std::string log = logText();
    EXPECT_TRUE(contains(log, "expansion of a variable refused")) << log.substr(0, 3000);
    EXPECT_TRUE(contains(log, "vmoptions include name longer than 5999 characters, not read: nnnn")) << log.substr(0, 3000);
    EXPECT_FALSE(contains(log, "adding vmoptions from")) << log.substr(0, 3000);
}

TEST_F(JvmArgsTest, IncludesResolveAgainstTheIncludingFile) {
    makeDir(L"app\\bin\\conf");
    makeDir(L"app\\shared");
    writeLines(bin(L"svc.vmoptions"), {"-Dstart=1", "-include-options conf\\more.vmoptions",
                                       "-include-options ${launcher:sys.launcherDirectory}abs.vmoptions",
                                       "-include-options missing.vmoptions", "-Dend=1"});
    writeLines(bin(L"conf\\more.vmoptions"),
               {"-Dmore=1", "-include-options extra.vmoptions", "-include-options ..\\..\\shared\\up.vmoptions",
                "-classpath/a more.jar"});
    writeLines(bin(L"conf\\extra.vmoptions"), {"-Dextra=conf"});
    writeLines(bin(L"extra.vmoptions"), {"-Dextra=bin"});
    writeLines(dir / L"app\\shared\\up.vmoptions", {"-Dup=1"});
    writeLines(bin(L"abs.vmoptions"), {"-Dabs=1"});
    expectOptions(options(app()).options, {"-Dstart=1", "-Dmore=1", "-Dextra=conf", "-Dup=1", "-Dabs=1", "-Dend=1",
                                           "-Djava.class.path=;more.jar"});
    std::string log = logText();
    EXPECT_TRUE(contains(log, " <" + exeDir() + "conf\\more.vmoptions> (conf\\more.vmoptions)\n")) << log;
    EXPECT_TRUE(contains(log, " <" + exeDir() + "conf\\extra.vmoptions> (extra.vmoptions)\n")) << log;
    EXPECT_TRUE(contains(log, "\nadding vmoptions from (0000000000000000) <" + exeDir() +
                                  "missing.vmoptions> (missing.vmoptions)\nadding vmoptions 2\nadding vmoptions 3\n"))
        << log;
    // File lines are expanded before they are applied, so the include name is expanded already.
    EXPECT_TRUE(contains(log, "\nafter exp from " + exeDir() + "abs.vmoptions " + exeDir() + "abs.vmoptions\n")) << log;
}

// Configured words and "-J" arguments have no including file: their includes resolve
// against the executable's directory.
TEST_F(JvmArgsTest, IncludesFromWordsResolveAgainstTheExecutable) {
    makeDir(L"app\\bin\\conf");
    writeLines(bin(L"conf\\words.vmoptions"), {"-Dwords=1", "-include-options next.vmoptions"});
    writeLines(bin(L"conf\\next.vmoptions"), {"-Dnext=1"});
    writeLines(bin(L"conf\\j.vmoptions"), {"-Dj=1"});
    std::wstring exe = app({{123, "-Da -include-options conf\\words.vmoptions -Db"}, {125, "1"}});
    expectOptions(options(exe, L"\"-J-include-options conf\\j.vmoptions\"").options,
                  {"-Da", "-Dwords=1", "-Dnext=1", "-Db", "-Dj=1", "-Djava.class.path="});
    // "-J" text is not expanded as a line: only the include name is, on its own.
    expectOptions(options(exe, L"\"-J-include-options ${launcher:sys.launcherDirectory}conf\\j.vmoptions\"").options,
                  {"-Da", "-Dwords=1", "-Dnext=1", "-Db", "-Dj=1", "-Djava.class.path="});
    EXPECT_TRUE(contains(logText(2), "\nafter exp from " + exeDir() +
                                         "conf\\j.vmoptions ${launcher:sys.launcherDirectory}conf\\j.vmoptions\n"))
        << logText(2);
}

TEST_F(JvmArgsTest, IncludeCyclesAreReadOnce) {
    makeDir(L"app\\bin\\conf");
    writeLines(bin(L"svc.vmoptions"), {"-Dbefore", "-include-options svc.vmoptions",
                                       "-include-options conf\\loop.vmoptions", "-Dafter"});
    writeLines(bin(L"conf\\loop.vmoptions"),
               {"-Dloop", "-include-options ..\\svc.vmoptions", "-include-options loop.vmoptions",
                "-include-options ..\\SVC.VMOPTIONS", "-include-options ..\\conf\\.\\loop.vmoptions", "-Dloop-end"});
    expectOptions(options(app()).options, {"-Dbefore", "-Dloop", "-Dloop-end", "-Dafter", "-Djava.class.path="});
    std::string log = logText();
    size_t cycles = 0;
    for (size_t at = log.find("include cycle"); at != std::string::npos; at = log.find("include cycle", at + 1)) ++cycles;
    EXPECT_EQ(cycles, 5u) << log;
}

// Reading a file twice one after the other is no cycle.
TEST_F(JvmArgsTest, SameFileIncludedTwiceSideBySide) {
    writeLines(bin(L"svc.vmoptions"), {"-include-options common.vmoptions", "-Dmiddle",
                                       "-include-options common.vmoptions"});
    writeLines(bin(L"common.vmoptions"), {"-Dcommon"});
    expectOptions(options(app()).options, {"-Dcommon", "-Dmiddle", "-Dcommon", "-Djava.class.path="});
}

TEST_F(JvmArgsTest, IncludeDepthIsBounded) {
    makeDir(L"app\\bin\\chain");
    writeLines(bin(L"svc.vmoptions"), {"-Ddefault", "-include-options chain\\d1.vmoptions"});
    OptionList expected = {"-Ddefault"};
    for (int k = 1; k <= 40; ++k) {
        std::string name = "d" + std::to_string(k);
        writeLines(bin(L"chain\\" + widen(name) + L".vmoptions"),
                   {"-D" + name, "-include-options d" + std::to_string(k + 1) + ".vmoptions"});
        // The default file is the first of 32 nested files.
        if (k <= 31) expected.push_back("-D" + name);
    }
    expected.push_back("-Djava.class.path=");
    expectOptions(options(app()).options, expected);
    EXPECT_TRUE(contains(logText(), "nested deeper than 32 files, " + exeDir() + "chain\\d32.vmoptions not read"))
        << logText();
}

// An editor may hold the files open for writing while the launcher reads them.
TEST_F(JvmArgsTest, FilesOpenElsewhereForWritingAreRead) {
    writeLines(bin(L"svc.vmoptions"), {"-Ddefault", "-include-options inc.vmoptions"});
    writeLines(bin(L"inc.vmoptions"), {"-Dincluded"});
    std::vector<HANDLE> held;
    for (const wchar_t* name : {L"svc.vmoptions", L"inc.vmoptions"}) {
        HANDLE h = CreateFileW(bin(name).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        held.push_back(h);
    }
    expectOptions(options(app()).options, {"-Ddefault", "-Dincluded", "-Djava.class.path="});
    for (HANDLE h : held) CloseHandle(h);
}

TEST_F(JvmArgsTest, FileClassPathLinesOverrideConfiguredOnes) {
    writeLines(bin(L"svc.vmoptions"), {"-classpath file.jar", "-classpath/a a1.jar", "-classpath/a a2.jar"});
    // Key 121 would end the run if it were read: with a replacement it never is.
    std::wstring exe = app({{123, "\"-classpath c123.jar\" \"-classpath/p p123.jar\" -Dconf"},
                            {121, "A1lib\\missing.jar;E1JVMARGS_NEVER_DEFINED"}});
    OptionsRun r = options(exe);
    EXPECT_EQ(r.result.exitCode, 0u) << r.result.err;
    expectOptions(r.options, {"-Dconf", "-Djava.class.path=p123.jar;file.jar;a2.jar"});
    EXPECT_FALSE(contains(logText(), "classpath entr")) << logText();
}

// ---- class path ----

TEST_F(JvmArgsTest, ScannedDirectoriesInDirectoryOrderJarsBeforeZips) {
    makeDir(L"app\\lib");
    makeDir(L"app\\lib\\common");
    makeDir(L"app\\lib\\server");
    for (const char* name : {"b.jar", "a.jar", "c.zip", "readme.txt", "z.JAR", "a.zip", "jar"})
        writeFile(dir / (L"app\\lib\\common\\" + widen(name)), "x");
    for (const char* name : {"s.jar", "t.zip"}) writeFile(dir / (L"app\\lib\\server\\" + widen(name)), "x");
    std::wstring exe = app({{121, "S1..\\lib\\common;S1..\\lib\\server;"}});

    std::vector<std::string> entries;
    for (const char* folder : {"common", "server"})
        for (const wchar_t* pattern : {L"*.jar", L"*.zip"})
            for (const std::string& name : directoryOrder(dir / (L"app\\lib\\" + widen(folder)), pattern))
                entries.push_back(exeDir() + "..\\lib\\" + folder + "\\" + name);
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_EQ(classPath(exe), "-Djava.class.path=" + join(entries, ";"));
    std::string log = logText();
    EXPECT_TRUE(contains(log, "\nclasspath entry S1..\\lib\\common;S1..\\lib\\server;\nclasspath entries 2\n")) << log;
}

TEST_F(JvmArgsTest, OptionalEntriesAndShortEntries) {
    makeDir(L"app\\lib");
    makeDir(L"app\\lib\\empty");
    writeFile(bin(L"there.jar"), "x");
    std::wstring exe =
        app({{121, "A;S;;E;A0lib\\missing.jar;D0other\\missing2.jar;S0..\\lib\\none;S1..\\lib\\empty;"
                   "E0JVMARGS_UNSET_VAR;X0what;X;D1there.jar;A0${launcher:sys.launcherDirectory}x.jar"}});
    // Missing A and D entries are still added; S, E and unknown types add nothing.
    EXPECT_EQ(classPath(exe), "-Djava.class.path=" + exeDir() + "lib\\missing.jar;" + exeDir() +
                                  "other\\missing2.jar;" + exeDir() + "there.jar;" + exeDir() + "x.jar");
    std::string log = logText();
    EXPECT_TRUE(contains(log, "\nclasspath entries 12\n")) << log;
    for (const char* entry : {"A", "S", "E", "X"})
        EXPECT_TRUE(contains(log, std::string("classpath entry \"") + entry + "\" has no type and flag, skipped"))
            << entry;
}

TEST_F(JvmArgsTest, EnvironmentEntriesAreUsedUnchanged) {
    std::wstring exe = app({{121, "E1JVMARGS_CP_Q;E0JVMARGS_CP_LIST;E1JVMARGS_CP_REL;E1${JVMARGS_CP_NAME};A0z.jar"}});
    ProcessOptions env;
    env.env = {{L"JVMARGS_CP_Q", L"\"C:\\x.jar\""},
               {L"JVMARGS_CP_LIST", L"C:\\a.jar;C:\\b.jar;"},
               {L"JVMARGS_CP_REL", L"rel\\..\\y.jar"},
               {L"JVMARGS_CP_NAME", L"JVMARGS_CP_NAMED"},
               {L"JVMARGS_CP_NAMED", L"\"named.jar"}};
    EXPECT_EQ(classPath(exe, L"", env),
              "-Djava.class.path=C:\\x.jar;C:\\a.jar;C:\\b.jar;rel\\..\\y.jar;\"named.jar;" + exeDir() + "z.jar");
}

TEST_F(JvmArgsTest, RequiredEntriesMissingEndTheRun) {
    makeDir(L"app\\lib");
    std::wstring big(7000, L'b');
    struct Case {
        std::string classPath;
        std::string message;
    };
    const Case cases[] = {
        {"S1..\\lib\\none", "File or directory ..\\lib\\none not found or empty\n"},
        {"A1lib\\missing.jar", "File or directory lib\\missing.jar not found or empty\n"},
        // The message names the entry as expanded.
        {"A0x.jar;D1${launcher:sys.launcherDirectory}gone.jar",
         "File or directory " + exeDir() + "gone.jar not found or empty\n"},
        {"E1JVMARGS_UNSET_VAR", "The environment variable JVMARGS_UNSET_VAR has to be defined"},
        {"E1${JVMARGS_NAME}", "The environment variable JVMARGS_UNSET_VAR has to be defined"},
        {"X1what", "File or directory what not found or empty\n"},
        // An expansion that does not fit is refused: the reference stays and names nothing.
        {"S1${JVMARGS_BIG}", "File or directory ${JVMARGS_BIG} not found or empty\n"},
    };
    for (const Case& c : cases) {
        std::wstring exe = app(block({{121, c.classPath}}), L"fatal.exe");
        ProcessOptions env;
        env.env = {{L"JVMARGS_NAME", L"JVMARGS_UNSET_VAR"}, {L"JVMARGS_BIG", big}};
        SCOPED_TRACE(c.classPath);
        expectFatal(options(exe, L"", env), c.message);
    }
}

// Key 121 is read whole: an entry far behind the first 6000 bytes still counts.
TEST_F(JvmArgsTest, LongConfiguredClassPathIsReadWhole) {
    std::vector<std::string> entries, expected;
    for (int i = 0; i < 400; ++i) {
        std::string path = "C:\\k\\archive-" + std::to_string(1000 + i) + ".jar";
        entries.push_back("A0" + path);
        expected.push_back(path);
    }
    std::string key = join(entries, ";");
    ASSERT_GT(key.size(), 6000u);
    EXPECT_EQ(classPath(app(block({{121, key}}), L"long.exe")), "-Djava.class.path=" + join(expected, ";"));
    expectFatal(options(app(block({{121, key + ";A1C:\\k\\required-last.jar"}}), L"last.exe")),
                "File or directory C:\\k\\required-last.jar not found or empty\n");
}

TEST_F(JvmArgsTest, OverlongValuesInTheClassPath) {
    // An environment value beyond 6000 bytes is a path list like any other: used whole.
    std::vector<std::string> jars;
    for (int i = 0; i < 500; ++i) jars.push_back("C:\\env\\lib-" + std::to_string(i) + ".jar");
    std::string value = join(jars, ";");
    ASSERT_GT(value.size(), 6000u);
    ProcessOptions env;
    env.env[L"JVMARGS_LONG_CP"] = widen(value);
    EXPECT_EQ(classPath(app(block({{121, "E1JVMARGS_LONG_CP;A0tail.jar"}}), L"env.exe"), L"", env),
              "-Djava.class.path=" + value + ";" + exeDir() + "tail.jar");

    // An entry text of 6000 bytes or more names no usable path: refused, never cut.
    std::string longText(6500, 'q');
    EXPECT_EQ(classPath(app(block({{121, "A0" + longText + ";A0after.jar"}}), L"optional.exe")),
              "-Djava.class.path=" + exeDir() + "after.jar");
    EXPECT_TRUE(contains(logText(2), "classpath entry longer than 5999 bytes, not used: qqq")) << logText(2).substr(0, 3000);
    OptionsRun r = options(app(block({{121, "A0a.jar;S1" + longText}}), L"required.exe"));
    expectFatal(r, "File or directory qqqqqqqqqq");
    EXPECT_FALSE(contains(plainText(r.result.err), std::string(6000, 'q'))) << "argument cut to the message buffer";
}

TEST_F(JvmArgsTest, LongConfiguredOptionsAreReadWhole) {
    std::vector<std::string> words;
    for (int i = 0; i < 700; ++i) words.push_back("-Dkey" + std::to_string(1000 + i) + "=v");
    std::string key = join(words, " ");
    ASSERT_GT(key.size(), 6000u);
    expectOptions(options(app({{123, key + " -Dexe=${launcher:sys.launcherDirectory}"}})).options,
                  OptionList(words) + OptionList{"-Dexe=" + exeDir(), "-Djava.class.path="});

    // Expansions may add up to one text buffer to the configured text, not more.
    ProcessOptions env;
    env.env = {{L"JVMARGS_5000", std::wstring(5000, L'f')}, {L"JVMARGS_7000", std::wstring(7000, L's')}};
    std::wstring exe = app(block({{123, "-Dfits=${JVMARGS_5000} -Dbig=${JVMARGS_7000}"}}), L"grow.exe");
    expectOptions(options(exe, L"", env).options,
                  {"-Dfits=" + std::string(5000, 'f'), "-Dbig=${JVMARGS_7000}", "-Djava.class.path="});
}

TEST_F(JvmArgsTest, WorkDirectoryArchivesComeAfterThePrependedPart) {
    pack::Block b = block({{121, "A0x.jar"}});
    for (const char* name : {"a.jar", "b.zip", "c.txt", "d.jar", "user\\u.jar", "user\\v.zip"})
        b.files.push_back({name, {'P', 'K'}});
    std::wstring exe = app(b);
    writeLines(bin(L"svc.vmoptions"), {"-classpath/p p.jar", "-classpath/a a.jar"});
    OptionsRun r = options(exe, L"--extract");
    ASSERT_EQ(r.result.exitCode, 0u) << r.result.err;
    ASSERT_EQ(r.options.size(), 1u);
    std::string text = r.options[0];
    // The work directory is the one folder the run created in its temporary directory.
    std::vector<std::string> created = directoryOrder(tmpDir(), L"*");
    std::erase_if(created, [&](const std::string& n) {
        return n == "." || n == ".." || !(GetFileAttributesW((tmpDir() + L"\\" + widen(n)).c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    });
    ASSERT_EQ(created.size(), 1u);
    std::wstring work = tmpDir() + L"\\" + widen(created[0]);
    std::vector<std::string> entries = {"p.jar"};
    for (const std::wstring& folder : {work, work + L"\\user"})
        for (const wchar_t* pattern : {L"*.jar", L"*.zip"})
            for (const std::string& name : directoryOrder(folder, pattern)) entries.push_back(narrow(folder) + "\\" + name);
    entries.push_back(exeDir() + "x.jar");
    entries.push_back("a.jar");
    ASSERT_EQ(entries.size(), 8u);
    EXPECT_EQ(text, "-Djava.class.path=" + join(entries, ";"));
}

TEST_F(JvmArgsTest, InstallerFlavorAddsTheRuntimeJar) {
    const std::pair<std::vector<std::pair<int32_t, std::string>>, std::string> cases[] = {
        {{{2001, "z"}, {10003, "..\\"}}, narrow(dir / L"app") + "\\.zandorium\\zdrruntime.jar"},
        {{{2001, "z"}, {10003, "..\\..\\app\\."}}, narrow(dir / L"app") + "\\.zandorium\\zdrruntime.jar"},
        {{{2001, "z"}}, exeDir() + ".zandorium\\zdrruntime.jar"},
        {{{2001, "z"}, {121, "A0x.jar"}}, exeDir() + ".zandorium\\zdrruntime.jar;" + exeDir() + "x.jar"},
        {{{2001, "t"}, {10003, "..\\"}}, ""},
        // No directory is that long: the jar is left out rather than put under a cut path.
        {{{2001, "z"}, {10003, std::string(6500, 'd')}}, ""},
    };
    int n = 0;
    for (const auto& [keys, expected] : cases) {
        std::wstring exe = app(block(keys), L"flavor" + std::to_wstring(++n) + L".exe");
        EXPECT_EQ(classPath(exe), "-Djava.class.path=" + expected);
    }
}

// addArchives on one directory, without the rest of the class path.
TEST_F(JvmArgsTest, ArchivesOfOneDirectory) {
    makeDir(L"scan");
    makeDir(L"scan\\inner.jar");
    makeDir(L"empty");
    for (const char* name : {"one.jar", "two.zip", "three.JAR", "four.jar.txt", "five.jarx"})
        writeFile(dir / (L"scan\\" + widen(name)), "x");
    std::wstring exe = app();
    struct Case {
        std::wstring directory;
        const wchar_t* extension;
        const wchar_t* pattern;
        bool found;
    };
    const Case cases[] = {
        {dir / L"scan", L"jar", L"*.jar", true},
        {dir / L"scan", L".zip", L"*.zip", true},
        {dir / L"empty", L"jar", L"*.jar", true},
        {dir / L"none", L"jar", L"*.jar", false},
    };
    for (const Case& c : cases) {
        auto values = driverResults(run(exe, L"archives " + quoteArgument(c.directory) + L" " + c.extension));
        std::vector<std::string> expected;
        for (const std::string& name : directoryOrder(c.directory, c.pattern))
            expected.push_back(narrow(c.directory) + "\\" + name + ";");
        SCOPED_TRACE(narrow(c.directory) + " " + narrow(c.extension));
        EXPECT_EQ(values["found"], c.found ? "1" : "0");
        EXPECT_EQ(values["classpath"], join(expected, ""));
    }
    auto values = driverResults(run(exe, L"archives " + quoteArgument(dir / L"scan") + L" jar"));
    EXPECT_TRUE(contains(values["classpath"], "\\scan\\inner.jar;"));
    EXPECT_FALSE(contains(values["classpath"], "four.jar.txt"));
}

}  // namespace
}  // namespace tarvo::test
