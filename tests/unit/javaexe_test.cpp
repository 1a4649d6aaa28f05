// The probe's command line: the short form of the path runs as it is; a path with a
// blank, which is what is left when no short form can be had, is quoted so that
// CreateProcess never splits it at the blank.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "javaexe.h"
#include "textbuf.h"

namespace {

struct CommandCase {
    const char* javaExe;
    const char* shortPath;  // nullptr or "" when there is none
    const char* commandLine;
};

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << "'" << c.javaExe << "' short '" << (c.shortPath ? c.shortPath : "(null)") << "'";
}

class ProbeCommandLine : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ProbeCommandLine, NamesTheExecutableWhole) {
    char out[textBufferSize];
    ASSERT_TRUE(makeProbeCommandLine(GetParam().javaExe, GetParam().shortPath, out, sizeof out));
    EXPECT_STREQ(out, GetParam().commandLine);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProbeCommandLine,
    ::testing::Values(
        CommandCase{"c:\\program files\\java\\jre 8\\bin\\java.exe", "c:\\progra~1\\java\\jre8~1\\bin\\java.exe",
                    "c:\\progra~1\\java\\jre8~1\\bin\\java.exe -version"},
        CommandCase{"c:\\program files\\java\\jre 8\\bin\\java.exe", nullptr,
                    "\"c:\\program files\\java\\jre 8\\bin\\java.exe\" -version"},
        CommandCase{"c:\\program files\\java\\jre 8\\bin\\java.exe", "",
                    "\"c:\\program files\\java\\jre 8\\bin\\java.exe\" -version"},
        CommandCase{"c:\\java\\jre8\\bin\\java.exe", nullptr, "c:\\java\\jre8\\bin\\java.exe -version"},
        // A volume without short names hands back the long form, blanks included.
        CommandCase{"c:\\a b\\java.exe", "c:\\a b\\java.exe", "\"c:\\a b\\java.exe\" -version"}));

TEST(ProbeCommandLine, RefusesWhatDoesNotFit) {
    std::string path = "c:\\" + std::string(60, 'x') + "\\java.exe";
    char out[textBufferSize];
    EXPECT_FALSE(makeProbeCommandLine(path.c_str(), nullptr, out, 64));
    EXPECT_FALSE(makeProbeCommandLine(path.c_str(), nullptr, out, path.size() + sizeof " -version" - 1));
    EXPECT_TRUE(makeProbeCommandLine(path.c_str(), nullptr, out, path.size() + sizeof " -version"));
    EXPECT_EQ(std::string(out), path + " -version");
}

}  // namespace
