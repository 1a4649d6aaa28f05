// The entry as a user meets it: command words, run words and the dispatcher path.
#include <gtest/gtest.h>

#include "launcherfixture.h"

namespace tarvo::test {
namespace {

using EntryTest = LauncherTest;

const char usageTail[] = ".exe /install | /uninstall | /stop | /start | /status | /run | /run-redirect\n";

TEST_F(EntryTest, HelpWordsPrintTheUsageLineWithTheBaseName) {
    std::wstring exe = pack({{101, "Alpha"}}, L"My Server.exe");
    for (const wchar_t* word : {L"/help", L"-help", L"--help", L"/?", L"/help Beta"}) {
        ProcessResult r = run(exe, word);
        EXPECT_EQ(r.exitCode, 0u) << narrow(word);
        EXPECT_EQ(plainText(r.out), std::string("Usage: My Server") + usageTail) << narrow(word);
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(EntryTest, ServiceCommandsSayTheyAreNotAvailableYet) {
    std::wstring exe = pack({{101, "Alpha"}});
    for (const wchar_t* word : {L"/status", L"-status", L"--status", L"/install", L"/stop", L"/start", L"/uninstall"}) {
        ProcessResult r = run(exe, word);
        EXPECT_EQ(r.exitCode, 1u) << narrow(word);
        EXPECT_NE(r.err.find("is not available"), std::string::npos) << narrow(word);
    }
}

TEST_F(EntryTest, WithoutCommandWordTheDispatcherFailsQuietlyWithExitCodeZero) {
    std::wstring exe = pack({{101, "Alpha"}});
    for (const wchar_t* args : {L"", L"/STATUS", L"/nonsense x", L"plain words"}) {
        ProcessResult r = run(exe, args);
        EXPECT_EQ(r.exitCode, 0u) << narrow(args);
        EXPECT_EQ(r.out + r.err, "") << narrow(args);
    }
    std::string log = logText(1);
    EXPECT_NE(log.find("\ncommand line2 "), std::string::npos);
    EXPECT_NE(log.find("\ncalling StartServiceCtrlDispatcher\n"
                       "StartServiceCtrlDispatcher failed with error 1063\n"
                       "StartServiceCtrlDispatcher returned\n"),
              std::string::npos)
        << log;
}

struct RunCase {
    const wchar_t* args;
    const char* logLine;  // nullptr: none of the two run lines
    bool child;
};

// Without a JVM to find, every run ends in the JVM search with message 1016; only the
// service child installs the console handler.
TEST_F(EntryTest, RunWordsAndTheRestartMarkerReachTheInProcessRun) {
    std::wstring exe = pack(makeBlock({{101, "Alpha"}, {128, "Bmissing"}}, {{1016, "No JVM here."}}));
    const RunCase cases[] = {
        {L"/run", "running service\n", false},
        {L"-run a b", "running service\n", false},
        {L"--run", "running service\n", false},
        {L"/run-redirect", "running service with redirection\n", false},
        {L"--run-redirect x", "running service with redirection\n", false},
        {L"Alpha __zdr_restart", nullptr, true},
        {L"/run Alpha __zdr_restart", nullptr, true},
    };
    int logNumber = 1;
    for (const auto& c : cases) {
        ProcessResult r = run(exe, c.args);
        EXPECT_EQ(r.exitCode, 1u) << narrow(c.args);
        EXPECT_NE(r.err.find("No JVM here."), std::string::npos) << narrow(c.args);
        std::string log = logText(logNumber++);
        if (c.logLine) {
            EXPECT_NE(log.find(std::string("\n") + c.logLine), std::string::npos) << log;
        } else {
            EXPECT_EQ(log.find("\nrunning service"), std::string::npos) << log;
        }
        EXPECT_EQ(log.find("\nregistering ConsoleCtrlHandler\n") != std::string::npos, c.child) << log;
        EXPECT_NE(log.find("\nSearching for a JVM\n"), std::string::npos) << log;
    }
}

}  // namespace
}  // namespace tarvo::test
