#include "instance.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(ToObjectName, BackslashesAndBlanksBecomeUnderscores) {
    const std::pair<const char*, const char*> cases[] = {
        {"c:\\program files\\app\\app.exe", "c:_program_files_app_app.exe"},
        {"\\\\server\\share\\a b\\x.exe", "__server_share_a_b_x.exe"},
        {"plain", "plain"},
        {"  ", "__"},
        {"", ""},
        // Every other character stays, the colon and a slash included.
        {"c:/a\tb\\\xE4.exe", "c:/a\tb_\xE4.exe"},
    };
    for (const auto& [in, out] : cases) {
        char buffer[64];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_TRUE(toObjectName(buffer, sizeof buffer, in)) << in;
        EXPECT_STREQ(buffer, out) << in;
    }
}

TEST(ToObjectName, CutsAtTheBufferAndSaysSo) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(toObjectName(buffer, sizeof buffer, "c:\\a b\\cdef"));
    EXPECT_STREQ(buffer, "c:_a_b_");
    char exact[9];
    EXPECT_TRUE(toObjectName(exact, sizeof exact, "c:\\a b\\c"));
    EXPECT_STREQ(exact, "c:_a_b_c");
    char guard[4] = {'x', 'x', 'x', 'x'};
    EXPECT_FALSE(toObjectName(guard, 1, "a"));
    EXPECT_EQ(guard[0], 0);
    EXPECT_EQ(guard[1], 'x');
}

TEST(MakeSemaphoreName, PrefixObjectNameAndNumber) {
    const char* path = "c:\\program files\\app\\app.exe";
    struct Case {
        bool global;
        int number;
        const char* expected;
    } cases[] = {
        {false, -1, "Local\\c:_program_files_app_app.exe"},
        {true, -1, "Global\\c:_program_files_app_app.exe"},
        {false, 0, "Local\\c:_program_files_app_app.exe0"},
        {false, 1, "Local\\c:_program_files_app_app.exe1"},
        {true, 100000, "Global\\c:_program_files_app_app.exe100000"},
    };
    for (const auto& c : cases) {
        char buffer[textBufferSize];
        EXPECT_TRUE(makeSemaphoreName(buffer, sizeof buffer, path, c.global, c.number)) << c.expected;
        EXPECT_STREQ(buffer, c.expected);
    }
}

// The longest path a 6000-byte buffer holds leaves no room for prefix and number: the
// name is refused as a whole, never cut to a name another program could own.
TEST(MakeSemaphoreName, ANameThatDoesNotFitIsEmpty) {
    std::string path = "c:\\" + std::string(textBufferSize - 4, 'a');
    char buffer[textBufferSize];
    EXPECT_FALSE(makeSemaphoreName(buffer, sizeof buffer, path.c_str(), false, -1));
    EXPECT_STREQ(buffer, "");

    std::string fitting(textBufferSize - 1 - std::strlen("Local\\") - 1, 'b');
    EXPECT_TRUE(makeSemaphoreName(buffer, sizeof buffer, fitting.c_str(), false, -1));
    EXPECT_EQ(std::strlen(buffer), textBufferSize - 2);
    EXPECT_TRUE(makeSemaphoreName(buffer, sizeof buffer, fitting.c_str(), false, 7));
    EXPECT_FALSE(makeSemaphoreName(buffer, sizeof buffer, fitting.c_str(), false, 10));
    EXPECT_STREQ(buffer, "");
    EXPECT_TRUE(makeSemaphoreName(buffer, sizeof buffer, fitting.c_str(), true, -1));
    EXPECT_FALSE(makeSemaphoreName(buffer, sizeof buffer, fitting.c_str(), true, 0));

    char small[10];
    EXPECT_FALSE(makeSemaphoreName(small, sizeof small, "c:\\x", true, -1));
    EXPECT_STREQ(small, "");
}

// Real semaphores in this process stand for other instances of a made-up executable.
TEST(ClaimInstanceNumber, TakesTheFirstFreeNumberAndStopsAtTheBound) {
    std::string path = "c:\\unit test " + std::to_string(GetCurrentProcessId()) + "\\app.exe";
    std::string base = "Local\\c:_unit_test_" + std::to_string(GetCurrentProcessId()) + "_app.exe";
    std::vector<HANDLE> others;
    for (int n = 0; n <= 3; ++n) others.push_back(CreateSemaphoreA(nullptr, 1, 1, (base + std::to_string(n)).c_str()));

    char name[textBufferSize];
    DWORD code = 0;
    // Every number up to the bound is taken: the last candidate is kept although it exists.
    HANDLE last = claimInstanceNumber(name, sizeof name, path.c_str(), false, 3, &code);
    EXPECT_EQ(std::string(name), base + "3");
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_NE(last, nullptr);
    CloseHandle(last);

    HANDLE next = claimInstanceNumber(name, sizeof name, path.c_str(), false, 100000, &code);
    EXPECT_EQ(std::string(name), base + "4");
    EXPECT_EQ(code, 0u);
    // Taken candidates were closed: only this process's own handles keep 0 to 3 alive.
    CloseHandle(others[1]);
    HANDLE reused = claimInstanceNumber(name, sizeof name, path.c_str(), false, 100000, &code);
    EXPECT_EQ(std::string(name), base + "1");
    EXPECT_EQ(code, 0u);
    for (HANDLE h : {others[0], others[2], others[3], next, reused}) CloseHandle(h);

    HANDLE fresh = claimInstanceNumber(name, sizeof name, path.c_str(), true, 100000, &code);
    EXPECT_EQ(std::string(name), "Global\\" + base.substr(6) + "0");
    EXPECT_EQ(code, 0u);
    CloseHandle(fresh);
}

// A name the system refuses (kernel object names are limited far below the buffer)
// ends the search at once.
TEST(ClaimInstanceNumber, ANameTheSystemRefusesEndsTheSearch) {
    std::string path = "c:\\" + std::string(400, 'x') + ".exe";
    char name[textBufferSize];
    DWORD code = 0;
    HANDLE handle = claimInstanceNumber(name, sizeof name, path.c_str(), false, 100000, &code);
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(code, 0u);
    EXPECT_NE(code, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(std::string(name), "Local\\c:_" + std::string(400, 'x') + ".exe0");

    std::string tooLong = "c:\\" + std::string(textBufferSize - 4, 'y');
    handle = claimInstanceNumber(name, sizeof name, tooLong.c_str(), false, 100000, &code);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_STREQ(name, "");
}

}  // namespace
