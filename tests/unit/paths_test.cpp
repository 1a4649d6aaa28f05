#include "paths.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

TEST(IsRelativePath, RecognisesAbsoluteForms) {
    const std::pair<const char*, bool> cases[] = {
        {"C:\\x", false}, {"\\\\server\\share", false}, {"\"C:\\x", false}, {"C:x", true},
        {"C:/x", true},   {"\\x", true},                {"x", true},        {"C:", true},
        {"", true},       {"\"C:", true},               {"\"\\\\s", false}, {"lib\\a.jar", true},
    };
    for (const auto& [path, relative] : cases) {
        EXPECT_EQ(isRelativePath(path), relative) << path;
        std::wstring wide(path, path + std::char_traits<char>::length(path));
        EXPECT_EQ(isRelativePathW(wide.c_str()), relative) << path;
    }
}

TEST(CollapseBackslashes, KeepsLeadingPairOnly) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\\\a\\\\\\b", L"C:\\a\\b"},
        {L"\\\\server\\share", L"\\\\server\\share"},
        {L"\\\\\\server\\\\share", L"\\\\server\\share"},
        {L"a\\\\", L"a\\"},
        {L"\\", L"\\"},
        {L"", L""},
    };
    for (const auto& [in, out] : cases) {
        wchar_t buffer[64];
        wcscpy(buffer, in);
        collapseBackslashes(buffer);
        EXPECT_STREQ(buffer, out);
    }
}

TEST(FileExists, DriveRootsNeedNoDisk) {
    for (const char* root : {"Q:\\", "Q:\\.", "Q:\\.\\."}) EXPECT_TRUE(fileExists(root)) << root;
    EXPECT_FALSE(fileExists("Q:\\.\\.\\."));
    EXPECT_FALSE(fileExists("Q:"));
    EXPECT_TRUE(fileExistsW(L"Q:\\"));
    EXPECT_TRUE(fileExists(getExePath()));
    EXPECT_FALSE(fileExists("C:\\surely\\not\\here.txt"));
}

TEST(ResolvePath, CountsFromTheExecutableDirectory) {
    std::string dir = exeDir();
    ASSERT_FALSE(dir.empty());
    ASSERT_EQ(dir.back(), '\\');
    char out[textBufferSize];
    ASSERT_TRUE(resolvePath(out, "\\lib", nullptr));
    EXPECT_EQ(std::string(out), dir + "lib");
    ASSERT_TRUE(resolvePath(out, "a\\\\b.jar", nullptr));
    EXPECT_EQ(std::string(out), dir + "a\\b.jar");
    ASSERT_TRUE(resolvePath(out, "C:\\x\\\\y", nullptr));
    EXPECT_STREQ(out, "C:\\x\\y");
    ASSERT_TRUE(resolvePath(out, "opts.txt", "C:\\conf\\main.vmoptions"));
    EXPECT_STREQ(out, "C:\\conf\\opts.txt");
}

TEST(ResolvePath, RefusesWhatDoesNotFit) {
    std::string longPath(textBufferSize, 'a');
    char out[textBufferSize] = "unchanged";
    EXPECT_FALSE(resolvePath(out, longPath.c_str(), nullptr));
    EXPECT_STREQ(out, "");
    wchar_t outW[textBufferSize] = L"unchanged";
    std::wstring longWide(textBufferSize - 2, L'b');
    EXPECT_FALSE(resolvePathW(outW, longWide.c_str(), false, nullptr));
    EXPECT_STREQ(outW, L"");
}

TEST(GetFullPath, LowerCasesOnlyWhenAsked) {
    char out[textBufferSize];
    ASSERT_TRUE(getFullPath(out, "C:\\Some\\..\\Dir\\File.TXT", true));
    EXPECT_STREQ(out, "C:\\Dir\\File.TXT");
    ASSERT_TRUE(getFullPath(out, "C:\\Some\\..\\Dir\\File.TXT", false));
    EXPECT_STREQ(out, "c:\\dir\\file.txt");
    wchar_t outW[textBufferSize];
    ASSERT_TRUE(getFullPathW(outW, L"C:\\A\\.\\B", false, false));
    EXPECT_STREQ(outW, L"c:\\a\\b");
}

TEST(TempDir, SearchFindsAUsableDirectoryAndCachesIt) {
    char dir[textBufferSize];
    getTempDir(dir);
    ASSERT_NE(dir[0], 0);
    DWORD attributes = GetFileAttributesA(dir);
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << dir;
    char again[textBufferSize];
    getTempDir(again);
    EXPECT_STREQ(dir, again);
    wchar_t wide[textBufferSize];
    getTempDirW(wide, false);
    EXPECT_NE(wide[0], 0);
}

}  // namespace
