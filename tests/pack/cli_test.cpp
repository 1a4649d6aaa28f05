// The tarvo-pack command line, run as a process: what it writes for a full set of
// options, and how it fails on bad command lines and unusable files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "blockwriter.h"
#include "packtestutil.h"

namespace tarvo::packtest {
namespace {

namespace fs = std::filesystem;

struct CliResult {
    int exitCode = -1;
    std::string out, err;
};

std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class PackCli : public ::testing::Test {
protected:
    PackCli() {
        dir = fs::temp_directory_path() /
              ("tarvo-pack-cli-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        image = makePe();
        write("launcher.exe", image);
    }
    ~PackCli() override { fs::remove_all(dir); }

    std::string path(const std::string& name) const { return (dir / name).string(); }
    void write(const std::string& name, const Bytes& bytes) {
        std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    Bytes read(const std::string& name) {
        std::string s = slurp(path(name));
        return Bytes(s.begin(), s.end());
    }

    CliResult run(const std::vector<std::string>& args) {
        std::string command = shellQuote(TARVO_PACK_EXE);
        for (const auto& a : args) command += " " + shellQuote(a);
        command += " >" + shellQuote(path("stdout")) + " 2>" + shellQuote(path("stderr"));
        int status = std::system(command.c_str());
        CliResult r;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = slurp(path("stdout"));
        r.err = slurp(path("stderr"));
        return r;
    }

    fs::path dir;
    Bytes image;
};

// Every option at once; the result must equal what the library writes for the same block.
TEST_F(PackCli, WritesTheBlockTheOptionsDescribe) {
    write("app.jar", {0xA5, 0x00, 0x41});
    write("empty.txt", {});
    CliResult r = run({"--string", "101=My Service", "--message", "1000=Error", "--message", "de:1000=Fehler \xC3\xBC",
                 "--string", "-7=a=b", "--message", "de_CH:1000=Fehler (CH)", "--message", "de:1006=Datei {0} \xE2\x82\xAC",
                 "--include", "lib\\app.jar=" + path("app.jar"), "--string", "146=", "--include",
                 "empty.txt=" + path("empty.txt"), "--message", "2=\xF0\x9F\x98\x80", "--", path("launcher.exe"),
                 path("out.exe")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    pack::Block expected;
    expected.strings = {{101, "My Service"}, {-7, "a=b"}, {146, ""}};
    expected.messages = {{1000, u"Error"}, {2, u"\U0001F600"}};
    expected.languages = {{"de", {{1000, u"Fehler \u00FC"}, {1006, u"Datei {0} \u20AC"}}},
                          {"de_CH", {{1000, u"Fehler (CH)"}}}};
    expected.files = {{"lib\\app.jar", {0xA5, 0x00, 0x41}}, {"empty.txt", {}}};
    Bytes want = image, tail = pack::serializeBlock(expected);
    want.insert(want.end(), tail.begin(), tail.end());
    Bytes got = read("out.exe");
    EXPECT_EQ(got, want);
    ParsedBlock p = BlockReader(got, launcherBlockStart(got)).read(0xA5);
    EXPECT_EQ(p.strings.back(), (std::pair<int32_t, std::string>{2003, "lib\\app.jar;empty.txt"}));
}

TEST_F(PackCli, HelpGoesToStandardOutput) {
    CliResult r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("Usage: tarvo-pack [options] LAUNCHER.exe OUTPUT.exe\n", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST_F(PackCli, BadCommandLinesAreRefusedBeforeAnythingIsWritten) {
    const std::string in = path("launcher.exe"), out = path("out.exe");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--strin", "101=x", in, out}, "unknown option --strin"},
        {{"-s", "101=x", in, out}, "unknown option -s"},
        {{in, out, "--string"}, "--string needs a value"},
        {{"--string", "101", in, out}, "--string 101: expected KEY=VALUE"},
        {{"--string", "10x=a", in, out}, "--string 10x=a: key \"10x\" is not a 32-bit decimal integer"},
        {{"--string", " 101=a", in, out}, "key \" 101\" is not a 32-bit decimal integer"},
        {{"--string", "+101=a", in, out}, "key \"+101\" is not a 32-bit decimal integer"},
        {{"--string", "=a", in, out}, "key \"\" is not a 32-bit decimal integer"},
        {{"--string", "2147483648=a", in, out}, "key \"2147483648\" is not a 32-bit decimal integer"},
        {{"--message", "de:x=a", in, out}, "--message de:x=a: key \"x\" is not a 32-bit decimal integer"},
        {{"--message", "1000", in, out}, "--message 1000: expected [LANG:]KEY=TEXT"},
        {{"--message", "1000=F\xFCr", in, out}, "--message 1000=...: text is not valid UTF-8"},
        {{"--include", "a.jar", in, out}, "--include a.jar: expected NAME=PATH"},
        {{"--include", "=" + in, in, out}, "expected NAME=PATH"},
        {{"--include", "a.jar=", in, out}, "expected NAME=PATH"},
        {{"--include", "a;b.jar=" + in, in, out}, "NAME must not contain \";\""},
        {{in}, "expected LAUNCHER.exe and OUTPUT.exe, got 1 file argument(s)"},
        {{in, out, path("third.exe")}, "expected LAUNCHER.exe and OUTPUT.exe, got 3 file argument(s)"},
    };
    for (const Case& c : cases) {
        CliResult r = run(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_EQ(r.out, "") << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Try 'tarvo-pack --help'."), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out)) << c.message;
    }
}

TEST_F(PackCli, UnusableFilesFailWithoutOutput) {
    Bytes signedImage = image;
    signedImage.resize(signedImage.size() + 16, 0x11);
    write("signed.exe", signedImage);
    write("notes.txt", {'h', 'i'});
    ASSERT_EQ(run({"--string", "101=x", path("launcher.exe"), path("packed.exe")}).exitCode, 0);
    const std::string out = path("out.exe");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{path("missing.exe"), out}, "tarvo-pack: cannot open " + path("missing.exe") + ": "},
        {{"--include", "a.jar=" + path("missing.jar"), path("launcher.exe"), out},
         "tarvo-pack: --include a.jar: cannot open " + path("missing.jar") + ": "},
        {{path("packed.exe"), out},
         "tarvo-pack: " + path("packed.exe") + ": the launcher already carries a configuration block\n"},
        {{path("signed.exe"), out}, "tarvo-pack: " + path("signed.exe") + ": 16 bytes follow the last section's raw data"},
        {{path("notes.txt"), out}, "tarvo-pack: " + path("notes.txt") + ": not a PE file: no MZ header\n"},
    };
    for (const Case& c : cases) {
        CliResult r = run(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.message;
        EXPECT_EQ(r.err.substr(0, c.message.size()), c.message) << r.err;
        EXPECT_FALSE(fs::exists(out)) << c.message;
    }
}

}  // namespace
}  // namespace tarvo::packtest
