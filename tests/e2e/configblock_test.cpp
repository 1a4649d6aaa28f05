// Reading the configuration block: corrupt blocks end with their fatal text in a
// message box (the launcher type is not known yet), language sections follow the
// user's language, and later records win.
#include <gtest/gtest.h>

#include "launcherfixture.h"

namespace tarvo::test {
namespace {

class ConfigBlockTest : public LauncherTest {
protected:
    // Writes the stripped launcher followed by `tail` as it is.
    std::wstring launcherWithTail(const std::string& tail) {
        std::wstring path = dir / L"raw.exe";
        writeFile(path, readFile(launcherPath()) + tail);
        return path;
    }
};

std::string le32(int32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
    return s;
}

const std::string magic = "\xD5\x13\xE4\xE8";
const std::string header = magic + le32(1) + le32(0) + std::string(8, '\0');
std::string record(int32_t key, const std::string& bytes) { return le32(key) + le32(int32_t(bytes.size())) + bytes; }

struct BadBlock {
    const char* name;
    std::string tail;
    const char* text;
};

TEST_F(ConfigBlockTest, CorruptBlocksEndWithTheirFatalTextInAMessageBox) {
    const BadBlock cases[] = {
        {"no block at all", "", "Internal Error: readInt"},
        {"magic written big-endian", "\xE8\xE4\x13\xD5" + header.substr(4), "Internal Error: magic"},
        {"cut inside the magic", magic.substr(0, 2), "Internal Error: readInt"},
        {"cut inside the 8-byte field", magic + le32(1) + le32(0) + "\x01\x02", "Internal Error: readLong"},
        {"no string count", header, "Internal Error: readInt"},
        {"string count without records", header + le32(5), "Internal Error: readInt"},
        {"string length of 2,000,000,000", header + le32(1) + le32(101) + le32(2000000000) + "abc",
         "Internal Error: readString"},
        {"negative string length", header + le32(1) + le32(101) + le32(-5), "Internal Error: readString"},
        {"string cut short", header + le32(1) + le32(101) + le32(10) + "abc", "Internal Error: readString"},
        {"message length of 2,000,000,000", header + le32(0) + le32(1) + le32(1000) + le32(2000000000),
         "Internal Error: readWString"},
        {"absurd counts, then nothing", header + le32(0x7FFFFFFF), "Internal Error: readInt"},
        {"no language section count", header + le32(0) + le32(0), "Internal Error: readInt"},
        {"language code too long", header + le32(0) + le32(0) + le32(1) + le32(1500000000) + "de",
         "Internal Error: readString"},
    };
    for (const auto& c : cases) {
        ProcessResult r = run(launcherWithTail(c.tail), L"/help");
        EXPECT_EQ(r.exitCode, 1u) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.name;
        ASSERT_EQ(r.dialogs.size(), 1u) << c.name;
        EXPECT_EQ(r.dialogs[0].title, L"") << c.name;
        EXPECT_EQ(narrow(r.dialogs[0].text).substr(0, std::string(c.text).size()), c.text) << c.name;
    }
}

TEST_F(ConfigBlockTest, NegativeCountsMeanNoRecords) {
    std::wstring exe = launcherWithTail(header + le32(-1) + le32(-7) + le32(INT32_MIN));
    ProcessResult r = run(exe, L"/help");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(plainText(r.out).rfind("Usage: raw.exe", 0), 0u);
}

TEST_F(ConfigBlockTest, ZeroLengthStringReadsLikeAnAbsentKey) {
    std::wstring exe = launcherWithTail(header + le32(2) + record(146, "..") + record(146, "") + le32(0) + le32(0));
    run(exe, L"/help");
    EXPECT_NE(logText().find("\nworking directory unchanged\n"), std::string::npos) << logText();
}

TEST_F(ConfigBlockTest, LaterRecordsReplaceEarlierOnes) {
    std::wstring exe = pack({{146, "C:\\nowhere"}, {146, "C:\\windows"}});
    run(exe, L"/help");
    EXPECT_NE(logText().find("\nchange working directory to C:\\windows\n"), std::string::npos) << logText();
}

TEST_F(ConfigBlockTest, TruncatedReadsAreLogged) {
    std::wstring exe = pack({{2001, "tz"}});
    run(exe, L"/help");
    EXPECT_NE(logText().find("\nERROR: config string 2001 truncated (2 2)\n"), std::string::npos) << logText();
}

// A run that finds no JVM shows message 1016.
TEST_F(ConfigBlockTest, MessagesGoToStandardErrorUnlessTheTypeAsksForABox) {
    for (const char* type : {"0", "4", "2"}) {
        std::wstring exe = pack(makeBlock({{107, type}, {128, "Bmissing"}}, {{1016, "No JVM here."}}),
                                widen(std::string("t") + type + ".exe"));
        ProcessResult r = run(exe, L"/run");
        EXPECT_EQ(r.exitCode, 1u) << type;
        EXPECT_TRUE(r.dialogs.empty()) << type;
        EXPECT_NE(r.err.find("No JVM here."), std::string::npos) << type;
    }
    for (const char* type : {"1", "5"}) {
        std::wstring exe = pack(makeBlock({{107, type}, {128, "Bmissing"}}, {{1016, "No JVM here."}}),
                                widen(std::string("b") + type + ".exe"));
        ProcessResult r = run(exe, L"/run");
        EXPECT_EQ(r.exitCode, 1u) << type;
        ASSERT_EQ(r.dialogs.size(), 1u) << type;
        EXPECT_NE(narrow(r.dialogs[0].text).find("No JVM here."), std::string::npos) << type;
        EXPECT_EQ(r.err, "") << type;
    }
}

}  // namespace
}  // namespace tarvo::test
