#include "extract.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

TEST(IncludedFileName, OneFileOrOneDirectoryLevelIsAccepted) {
    for (const char* name : {"app.jar", "lib\\app.jar", "a", "a b\\c d.txt", "x..y.jar", ".hidden", "dir.d\\f", "...x",
                             "lib\\console.dll", "com10", "lpt", "nul_x", "\xE4\\\xF6.txt"})
        EXPECT_TRUE(isAcceptableIncludedFileName(name)) << name;
}

TEST(IncludedFileName, NamesThatCouldLeaveTheWorkDirectoryAreRefused) {
    const std::pair<const char*, std::vector<const char*>> refused[] = {
        {"nothing to create", {""}},
        {"a part of dots", {"..", "..\\x", "a\\..", "...", ". .\\x", ".", ".\\x", "x\\."}},
        {"a drive or a stream", {"c:\\windows\\x.dll", "c:x", "x:stream", "d:"}},
        {"a leading backslash", {"\\x", "\\\\server\\share\\x", "\\"}},
        {"more than one level or an empty part", {"a\\b\\c", "a\\\\b", "a\\", "a\\b\\"}},
        {"the other separator", {"../x", "a/b", "/x"}},
        {"a device",
         {"con", "NUL", "nul.txt", "aux.tar.gz", "com1", "LPT9.log", "lib\\prn", "con \\x", "con.d\\file", "conout$"}},
    };
    for (const auto& [why, names] : refused)
        for (const char* name : names) EXPECT_FALSE(isAcceptableIncludedFileName(name)) << why << ": " << name;
}

}  // namespace
