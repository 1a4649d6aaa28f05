// Launcher core units in a packed process: temporary directories, the work
// directory, the fatal path, messages, the working directory and the locale.
#include <gtest/gtest.h>

#include "launcherfixture.h"

namespace tarvo::test {
namespace {

using CoreTest = LauncherTest;

std::string withSlash(std::string dir) { return dir.back() == '\\' ? dir : dir + "\\"; }

TEST_F(CoreTest, TemporaryDirectoryFollowsTheCandidateChain) {
    std::wstring exe = packDriver(L"core_driver", makeBlock({{101, "x"}}));
    writeFile(dir / L"afile", "x");
    CreateDirectoryW((dir / L"prof").c_str(), nullptr);
    CreateDirectoryW((dir / L"prof\\AppData").c_str(), nullptr);
    CreateDirectoryW((dir / L"prof\\AppData\\Local").c_str(), nullptr);
    CreateDirectoryW((dir / L"prof\\AppData\\Local\\Temp").c_str(), nullptr);
    CreateDirectoryW((dir / L"home").c_str(), nullptr);
    std::wstring drive = dir.path().substr(0, 2), rest = dir.path().substr(2);
    std::wstring unusable = dir / L"afile\\sub";  // under a file: can never be created

    struct Case {
        const char* name;
        std::map<std::wstring, std::wstring> env;
        std::wstring expected;
    } cases[] = {
        {"a missing TMP is created", {{L"TMP", dir / L"fresh"}, {L"TEMP", dir / L"fresh"}}, dir / L"fresh\\"},
        {"an unusable TMP falls to USERPROFILE",
         {{L"TMP", unusable}, {L"TEMP", unusable}, {L"USERPROFILE", dir / L"prof"}},
         dir / L"prof\\AppData\\Local\\Temp"},
        {"then to HOMEDRIVE and HOMEPATH",
         {{L"TMP", unusable}, {L"TEMP", unusable}, {L"USERPROFILE", dir / L"nothing"}, {L"HOMEDRIVE", drive},
          {L"HOMEPATH", rest + L"\\home"}},
         dir / L"home"},
        {"then to the Windows temp directory",
         {{L"TMP", unusable}, {L"TEMP", unusable}, {L"USERPROFILE", dir / L"nothing"}, {L"HOMEDRIVE", L"Q:"},
          {L"HOMEPATH", L"\\none"}},
         L"C:\\windows\\temp"},
    };
    for (const auto& c : cases) {
        ProcessOptions options;
        options.env = c.env;
        options.env[L"TARVO_LOG"] = L"no";
        auto values = driverResults(run(exe, L"tempdir", options));
        EXPECT_EQ(values["wide"], narrow(c.expected)) << c.name;
        EXPECT_EQ(values["narrow"], narrow(c.expected)) << c.name;
    }
}

// A profile folder whose name the ANSI code page cannot spell: the 8-bit search
// must skip it (its name would come out with "?"), the wide search may use it.
TEST_F(CoreTest, ANameOutsideTheCodePageIsSkippedOnlyByThe8BitSearch) {
    std::wstring exe = packDriver(L"core_driver", makeBlock({{101, "x"}}));
    std::wstring profile = dir / L"\u0416\u4E2D";
    for (const wchar_t* sub : {L"", L"\\AppData", L"\\AppData\\Local", L"\\AppData\\Local\\Temp"})
        CreateDirectoryW((profile + sub).c_str(), nullptr);
    CreateDirectoryW((dir / L"home").c_str(), nullptr);
    writeFile(dir / L"afile", "x");
    ProcessOptions options;
    options.env = {{L"TMP", dir / L"afile\\x"},  {L"TEMP", dir / L"afile\\x"},
                   {L"USERPROFILE", profile},     {L"HOMEDRIVE", dir.path().substr(0, 2)},
                   {L"HOMEPATH", dir.path().substr(2) + L"\\home"}, {L"TARVO_LOG", L"no"}};
    auto values = driverResults(run(exe, L"tempdir", options));
    EXPECT_EQ(values["wide"], narrow(profile + L"\\AppData\\Local\\Temp"));
    EXPECT_EQ(values["narrow"], narrow(dir / L"home"));
}

TEST_F(CoreTest, WorkDirectoryIsCreatedInTheTemporaryDirectory) {
    std::wstring exe = packDriver(L"core_driver", makeBlock({{101, "x"}}));
    ProcessResult r = run(exe, L"workdir");
    std::string workDir = driverResults(r)["workDir"];
    ASSERT_EQ(workDir.rfind(withSlash(narrow(tmpDir())) + "trv", 0), 0u) << workDir;
    EXPECT_NE(workDir.find(".tmp_dir"), std::string::npos) << workDir;
    EXPECT_TRUE(exists(widen(workDir)));
    std::string log = logText();
    EXPECT_NE(log.find("\ntempPath is "), std::string::npos);
    EXPECT_NE(log.find("\nTemp dir3: " + workDir + "\n"), std::string::npos) << log;
}

TEST_F(CoreTest, FatalMessagesFillThePlaceholderNameTheLogAndRemoveTheWorkDirectory) {
    pack::Block block = makeBlock({{101, "x"}}, {{1009, "An internal error occurred (error code: {0})"}});
    std::wstring exe = packDriver(L"core_driver", block);
    ProcessResult r = run(exe, L"fatal 1009 workdir 7");
    EXPECT_EQ(r.exitCode, 1u);
    std::string logPath = narrow(tmpDir()) + "\\zdr_nlog_1.log";
    EXPECT_EQ(plainText(r.err), "An internal error occurred (error code: 7)\n\nLog: " + logPath + "\n");
    size_t at = logText().find("\nTemp dir3: ");
    ASSERT_NE(at, std::string::npos);
    std::string workDir = logText().substr(at + 12, logText().find('\n', at + 1) - at - 12);
    EXPECT_FALSE(exists(widen(workDir))) << workDir;
    EXPECT_NE(logText().find("\nemptying " + workDir + "\n"), std::string::npos);

    ProcessOptions quiet;
    quiet.env[L"TARVO_LOG"] = L"no";
    EXPECT_EQ(plainText(run(exe, L"fatal 1009 - 7", quiet).err), "An internal error occurred (error code: 7)\n");
}

TEST_F(CoreTest, MessageBoxesCarryTheConfiguredTitleAndTheLogLine) {
    pack::Block block = makeBlock({{101, "x"}, {107, "5"}}, {{1000, "Problem"}, {1010, "Couldn't load main class."}});
    std::wstring exe = packDriver(L"core_driver", block);
    ProcessResult r = run(exe, L"fatal 1010");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.dialogs.size(), 1u);
    EXPECT_EQ(r.dialogs[0].title, L"Problem");
    EXPECT_EQ(narrow(r.dialogs[0].text), "Couldn't load main class.\n\nLog: " + narrow(tmpDir()) + "\\zdr_nlog_1.log");
}

TEST_F(CoreTest, MessageTextsAndPlaceholders) {
    pack::Block block = makeBlock({{101, "x"}, {1018, "8-bit {0} text"}},
                                  {{1006, "File or directory {0} not found or empty\n"}, {1020, "{0} and {0}"}});
    std::wstring exe = packDriver(L"core_driver", block);
    struct Case {
        const wchar_t* args;
        const char* shown;
    } cases[] = {
        {L"message 1006 lib\\a.jar", "File or directory lib\\a.jar not found or empty\n\n"},
        {L"message 1006", "File or directory {0} not found or empty\n\n"},
        {L"message 1020 X", "X and {0}\n"},
        {L"message 1018 Y", "8-bit Y text\n"},
        {L"message 1234 Z", "\n"},
    };
    ProcessOptions quiet;
    quiet.env[L"TARVO_LOG"] = L"no";
    for (const auto& c : cases) EXPECT_EQ(plainText(run(exe, c.args, quiet).err), c.shown) << narrow(c.args);
}

TEST_F(CoreTest, EmptyDirectoryReachesTwoLevelsOnly) {
    std::wstring exe = packDriver(L"core_driver", makeBlock({{101, "x"}}));
    std::wstring top = dir / L"top";
    for (const wchar_t* d : {L"", L"\\a", L"\\a\\b", L"\\e", L"\\e\\f"}) CreateDirectoryW((top + d).c_str(), nullptr);
    for (const wchar_t* f : {L"\\1.txt", L"\\a\\2.txt", L"\\a\\b\\c.txt", L"\\e\\3.txt"}) writeFile(top + f, "x");
    run(exe, L"emptydir " + quoteArgument(top) + L" 1");
    EXPECT_TRUE(exists(top));
    EXPECT_FALSE(exists(top + L"\\1.txt"));
    EXPECT_FALSE(exists(top + L"\\a\\2.txt"));
    EXPECT_TRUE(exists(top + L"\\a\\b\\c.txt"));  // third level: left alone, so a and b stay
    EXPECT_FALSE(exists(top + L"\\e"));          // e held only a file and an empty directory

    writeFile(top + L"\\1.txt", "x");
    ProcessOptions inDir;
    inDir.cwd = dir.path();
    run(exe, L"emptydir .\\top 1", inDir);
    EXPECT_TRUE(exists(top + L"\\1.txt")) << "relative paths starting with a dot are never emptied";
}

TEST_F(CoreTest, WorkingDirectoryComesFromTheConfigurationInEveryRole) {
    CreateDirectoryW((dir / L"bin").c_str(), nullptr);
    std::wstring driver = pack(makeBlock({{101, "x"}, {146, ".."}}), L"bin\\drv.exe", driverPath(L"core_driver"));
    ProcessOptions options;
    options.cwd = L"C:\\windows";
    EXPECT_EQ(driverResults(run(driver, L"cwd", options))["cwd"], narrow(dir.path()));
    EXPECT_NE(logText().find("\nchange working directory to " + narrow(dir.path()) + "\n"), std::string::npos);

    std::wstring unchanged = pack(makeBlock({{101, "x"}}), L"bin\\same.exe", driverPath(L"core_driver"));
    EXPECT_EQ(driverResults(run(unchanged, L"cwd", options))["cwd"], "C:\\windows");
    EXPECT_NE(logText(2).find("\nworking directory unchanged\n"), std::string::npos);

    std::wstring launcher = pack(makeBlock({{101, "x"}, {146, ".."}}), L"bin\\app.exe");
    run(launcher, L"/status", options);
    EXPECT_NE(logText(3).find("\nchange working directory to " + narrow(dir.path()) + "\n"), std::string::npos);
}

}  // namespace
}  // namespace tarvo::test

namespace tarvo::test {
namespace {

// In a folder whose name the ANSI code page cannot spell, the 8-bit path falls back
// to the short form, which every 8-bit API can open; the wide path stays long.
TEST_F(CoreTest, ExecutablePathInBothWidths) {
    std::wstring folder = dir / L"\u0416\u4E2D app";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring exe = pack(makeBlock({{101, "x"}}), L"\u0416\u4E2D app\\drv.exe", driverPath(L"core_driver"));
    auto values = driverResults(run(exe, L"exepaths"));
    EXPECT_EQ(values["exePathW"], narrow(exe));
    EXPECT_EQ(values["exeDirW"], narrow(folder) + "\\");
    std::string shortPath = values["exePath"];
    EXPECT_EQ(shortPath.find('?'), std::string::npos) << shortPath;
    EXPECT_EQ(_stricmp(shortPath.substr(shortPath.size() - 8).c_str(), "\\drv.exe"), 0) << shortPath;
    EXPECT_TRUE(exists(widen(shortPath))) << shortPath;
    EXPECT_EQ(values["exeDir"], shortPath.substr(0, shortPath.size() - 7));

    std::wstring plain = pack(makeBlock({{101, "x"}}), L"plain.exe", driverPath(L"core_driver"));
    auto plainValues = driverResults(run(plain, L"exepaths"));
    EXPECT_EQ(plainValues["exePath"], narrow(plain));
    EXPECT_EQ(plainValues["exeDir"], narrow(dir.path()) + "\\");
}

// A temporary directory so deep that a temporary file name still fits the 8-bit
// limit but "<name>_dir<time>" no longer does: ten attempts, then message 1009 "7".
TEST_F(CoreTest, WorkDirectoryThatCannotBeCreatedEndsWithInternalError7) {
    pack::Block block = makeBlock({{101, "x"}}, {{1009, "An internal error occurred (error code: {0})"}});
    std::wstring exe = packDriver(L"core_driver", block);
    std::wstring deep = tmpDir();
    while (deep.size() < 236) {
        deep += L"\\" + std::wstring(std::min<size_t>(60, 236 - deep.size()), L'd');
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    ProcessOptions options;
    options.env = {{L"TMP", deep}, {L"TEMP", deep}};
    ProcessResult r = run(exe, L"workdir", options);
    EXPECT_EQ(r.exitCode, 1u) << r.out;
    EXPECT_EQ(plainText(r.err).rfind("An internal error occurred (error code: 7)", 0), 0u) << r.err;
    std::string log = plainText(readFile(deep + L"\\zdr_nlog_1.log"));
    size_t attempts = 0;
    for (size_t at = log.find("\nCould not create dir ("); at != std::string::npos;
         at = log.find("\nCould not create dir (", at + 1))
        ++attempts;
    EXPECT_EQ(attempts, 10u) << log;
}

}  // namespace
}  // namespace tarvo::test
