// The diagnostic log as an engineer analysing a failed start reads it.
#include <gtest/gtest.h>

#include "launcherfixture.h"

namespace tarvo::test {
namespace {

using LogTest = LauncherTest;

TEST_F(LogTest, EitherVariableSwitchesItOnOnlyWithExactlyYes) {
    std::wstring exe = pack({{101, "Alpha"}});
    const std::pair<std::map<std::wstring, std::wstring>, bool> cases[] = {
        {{{L"TARVO_LOG", L"Yes"}}, false},
        {{{L"TARVO_LOG", L"yes "}}, false},
        {{{L"TARVO_LOG", L"no"}, {L"ZANDORIUM_LOG", L"YES"}}, false},
        {{{L"TARVO_LOG", L"no"}}, false},
        {{{L"TARVO_LOG", L"no"}, {L"ZANDORIUM_LOG", L"yes"}}, true},
        {{{L"TARVO_LOG", L"yes"}}, true},
    };
    for (const auto& [env, on] : cases) {
        ProcessOptions options;
        options.env = env;
        run(exe, L"/help", options);
        std::wstring file = tmpDir() + L"\\zdr_nlog_1.log";
        EXPECT_EQ(exists(file), on) << narrow(env.begin()->second);
        DeleteFileW(file.c_str());
    }
}

TEST_F(LogTest, StartsWithHeaderAndEmptyLineThenPlainLines) {
    std::wstring exe = pack({{101, "Alpha"}});
    run(exe, L"/help");
    std::string log = logText(1);
    std::string header = "Started executable " + narrow(exe) + " at ";
    ASSERT_EQ(log.rfind(header, 0), 0u) << log;
    size_t end = log.find('\n');
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(log.substr(end, 2), "\n\n") << "the time text ends with its own newline";
    EXPECT_NE(log.find("\nnumber of sections: "), std::string::npos);
    EXPECT_NE(log.find("\nrawDataSize: "), std::string::npos);
    EXPECT_EQ(log.back(), '\n');
}

TEST_F(LogTest, EachProcessTakesTheNextFreeNumber) {
    std::wstring exe = pack({{101, "Alpha"}});
    writeFile(tmpDir() + L"\\zdr_nlog_1.log", "one");
    writeFile(tmpDir() + L"\\zdr_nlog_2.log", "two");
    run(exe, L"/help");
    EXPECT_EQ(readFile(tmpDir() + L"\\zdr_nlog_1.log"), "one");
    EXPECT_EQ(readFile(tmpDir() + L"\\zdr_nlog_2.log"), "two");
    EXPECT_NE(logText(3).find("\nnumber of sections: "), std::string::npos);
    run(exe, L"/help");
    EXPECT_NE(logText(4).find("\nnumber of sections: "), std::string::npos);
}

TEST_F(LogTest, WithAThousandFilesTheLastNumberIsReused) {
    std::wstring exe = pack({{101, "Alpha"}});
    for (int n = 1; n <= 1000; ++n) writeFile(tmpDir() + L"\\zdr_nlog_" + std::to_wstring(n) + L".log", "old");
    run(exe, L"/help");
    EXPECT_EQ(readFile(tmpDir() + L"\\zdr_nlog_999.log"), "old");
    std::string reused = logText(1000);
    EXPECT_EQ(reused.rfind("Started executable ", 0), 0u);
    EXPECT_EQ(reused.find("old"), std::string::npos);
    EXPECT_FALSE(exists(tmpDir() + L"\\zdr_nlog_1001.log"));
}

// When the numbered file cannot be opened (here: the last number is taken by a
// directory), the log falls back to c:\zdr_nlog, and fatal messages name that file.
TEST_F(LogTest, FallsBackToTheFixedPathWhenTheNumberedFileCannotBeOpened) {
    std::wstring exe = pack({{101, "Alpha"}, {1009, "internal {0}"}});
    for (int n = 1; n < 1000; ++n) writeFile(tmpDir() + L"\\zdr_nlog_" + std::to_wstring(n) + L".log", "old");
    CreateDirectoryW((tmpDir() + L"\\zdr_nlog_1000.log").c_str(), nullptr);
    DeleteFileW(L"c:\\zdr_nlog");
    ProcessResult r = run(exe, L"/run");
    std::string fallback = plainText(readFile(L"c:\\zdr_nlog"));
    DeleteFileW(L"c:\\zdr_nlog");
    EXPECT_EQ(fallback.rfind("Started executable ", 0), 0u) << fallback;
    EXPECT_NE(fallback.find("\nrunning service\n"), std::string::npos) << fallback;
    EXPECT_NE(plainText(r.err).find("\n\nLog: c:\\zdr_nlog\n"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tarvo::test
