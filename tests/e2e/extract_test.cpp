// Extraction of included files from packed instance drivers: the block writer stores
// the files behind the block, the driver extracts them as the run sequence does
// (a result other than 0 ends with message 1009 "16").
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "blockformat.h"
#include "launcherfixture.h"

namespace tarvo::test {
namespace {

const char internalError[] = "An internal error occurred (error code: {0})";

std::vector<uint8_t> someBytes(size_t size, unsigned seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

std::string text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

pack::IncludedFile included(const std::string& name, size_t size) {
    return {name, someBytes(size, static_cast<unsigned>(size + name.size()))};
}

std::string workDirFromLog(const std::string& log) {
    size_t at = log.find("\nTemp dir3: ");
    if (at == std::string::npos) return {};
    at += 12;
    return log.substr(at, log.find('\n', at) - at);
}

class ExtractTest : public LauncherTest {
protected:
    std::wstring packFiles(std::vector<pack::IncludedFile> files, StringKeys strings, const std::wstring& name) {
        pack::Block block = makeBlock(strings, {{1009, internalError}});
        block.strings.insert(block.strings.begin(), {101, "x"});
        block.files = std::move(files);
        return packDriver(L"instance_driver", block, name);
    }
    static long long sizeOf(const std::wstring& path) { return static_cast<long long>(readFile(path).size()); }
};

TEST_F(ExtractTest, ContentsAreByteIdenticalAfterUnmasking) {
    std::vector<pack::IncludedFile> files = {
        included("empty.bin", 0),      included("six.bin", 6000),
        included("sixplus.bin", 6001), included("lib\\big.jar", 3 * 1024 * 1024 + 17),
        included("one.txt", 1),
    };
    std::wstring exe = packFiles(files, {}, L"app.exe");
    ProcessResult r = run(exe, L"extract");
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    auto values = driverResults(r);
    EXPECT_EQ(values["result"], "0");
    std::string workDir = values["workDir"];
    ASSERT_EQ(workDir.rfind(narrow(tmpDir()) + "\\trv", 0), 0u) << workDir;
    for (const auto& f : files) {
        std::wstring path = widen(workDir + "\\" + f.name);
        if (f.content.empty()) {
            EXPECT_FALSE(exists(path)) << f.name << ": an empty entry creates no file";
        } else {
            EXPECT_TRUE(readFile(path) == text(f.content)) << f.name;
        }
    }
    EXPECT_EQ(values["unextractedPosition"], std::to_string(sizeOf(exe)));

    std::string log = logText();
    EXPECT_TRUE(contains(log, "\nextracting files\nIncluded files: 5\n")) << log;
    EXPECT_TRUE(contains(log, "\ncreating directory " + workDir + "\\lib\n")) << log;
    EXPECT_TRUE(contains(log, "\nextracting " + workDir + "\\sixplus.bin (size: 6001)\n")) << log;
    EXPECT_TRUE(contains(log, "\nextracting " + workDir + "\\empty.bin (size: 0)\n")) << log;
    EXPECT_TRUE(contains(log, "\nextracting files done\n")) << log;
}

struct CountCase {
    const char* name;
    std::vector<std::pair<int32_t, std::string>> strings;
    std::vector<pack::IncludedFile> files;
    std::vector<std::string> extracted;  // with content; every other listed file must be absent
    long long unreadTail;                // bytes of the file behind the last entry read
};

TEST_F(ExtractTest, CountAndNameListDecideWhatIsExtracted) {
    const CountCase cases[] = {
        {"count 2 with three names",
         {{2002, "2"}},
         {included("a", 10), included("b", 20), included("c", 30)},
         {"a", "b"},
         8 + 30},
        {"count 3 with two names", {{2002, "3"}}, {included("a", 10), included("b", 20)}, {"a", "b"}, 0},
        {"empty names between separators",
         {{2002, "2"}, {2003, ";a;;b;"}},
         {included("a", 10), included("b", 20)},
         {"a", "b"},
         0},
        {"an empty entry is followed directly by the next",
         {},
         {included("x", 0), included("y", 6001), included("z", 0)},
         {"y"},
         0},
        {"a count without names reads nothing", {{2002, "2"}, {2003, ""}}, {}, {}, 0},
    };
    int number = 0;
    for (const CountCase& c : cases) {
        std::wstring exe = dir / (L"count" + std::to_wstring(++number) + L".exe");
        pack::Block block = makeBlock({{101, "x"}});
        for (const auto& s : c.strings) block.strings.push_back(s);
        block.files = c.files;
        ASSERT_EQ(packLauncherTo(exe, block, driverPath(L"instance_driver")), "") << c.name;

        ProcessResult r = run(exe, L"extract");
        EXPECT_EQ(r.exitCode, 0u) << c.name << r.err;
        auto values = driverResults(r);
        EXPECT_EQ(values["result"], "0") << c.name;
        std::string workDir = values["workDir"];
        EXPECT_TRUE(!workDir.empty() && exists(widen(workDir))) << c.name;
        for (const auto& f : c.files) {
            bool wanted = std::find(c.extracted.begin(), c.extracted.end(), f.name) != c.extracted.end();
            std::wstring path = widen(workDir + "\\" + f.name);
            EXPECT_EQ(exists(path), wanted) << c.name << ": " << f.name;
            if (wanted) {
                EXPECT_TRUE(readFile(path) == text(f.content)) << c.name << ": " << f.name;
            }
        }
        EXPECT_EQ(values["unextractedPosition"], std::to_string(sizeOf(exe) - c.unreadTail)) << c.name;
    }
}

TEST_F(ExtractTest, WithoutACountNothingIsCreatedOrRead) {
    const std::pair<const char*, std::vector<std::pair<int32_t, std::string>>> cases[] = {
        {"no key 2002", {}},
        {"key 2002 is 0 although files follow", {{2002, "0"}}},
        {"key 2002 is not a number", {{2002, "two"}}},
    };
    int number = 0;
    for (const auto& [name, strings] : cases) {
        std::wstring exe = dir / (L"none" + std::to_wstring(++number) + L".exe");
        pack::Block block = makeBlock({{101, "x"}});
        for (const auto& s : strings) block.strings.push_back(s);
        if (!strings.empty()) block.files = {included("a", 10)};
        ASSERT_EQ(packLauncherTo(exe, block, driverPath(L"instance_driver")), "") << name;
        ProcessResult r = run(exe, L"extract");
        auto values = driverResults(r);
        EXPECT_EQ(values["result"], "0") << name;
        EXPECT_EQ(values["workDir"], "") << name;
        EXPECT_EQ(values["unextractedPosition"], "0") << name;
        std::string log = logText(number);
        EXPECT_TRUE(contains(log, "\nextracting files\nIncluded files: 0\n")) << name << log;
        EXPECT_FALSE(contains(log, "Temp dir3")) << name;
        EXPECT_FALSE(contains(log, "extracting files done")) << name;
    }
}

TEST_F(ExtractTest, OneDirectoryLevelIsCreatedOnce) {
    std::vector<pack::IncludedFile> files = {included("lib\\a.jar", 100), included("lib\\b.jar", 200),
                                             included("c.txt", 5)};
    std::wstring exe = packFiles(files, {}, L"dirs.exe");
    auto values = driverResults(run(exe, L"extract"));
    ASSERT_EQ(values["result"], "0");
    for (const auto& f : files) EXPECT_TRUE(readFile(widen(values["workDir"] + "\\" + f.name)) == text(f.content));
    EXPECT_FALSE(contains(logText(), "failed to create directory")) << logText();
}

struct FatalCase {
    const char* badName;
    const char* code;
    const char* logLine;
};

// A bad name comes after a good file and a directory: the fatal end must leave no
// trace of either, and nothing may appear outside the work directory.
TEST_F(ExtractTest, RefusedNamesAndUncreatableTargetsEndTheRunAndRemoveTheWorkDirectory) {
    std::string drivePath = "c:\\tarvo-escape-" + std::to_string(GetCurrentProcessId()) + ".txt";
    const FatalCase cases[] = {
        {"..\\escape.txt", "12", "ERROR: refusing included file name ..\\escape.txt\n"},
        {"..", "12", "ERROR: refusing included file name ..\n"},
        {"sub\\..\\..\\escape.txt", "12", "ERROR: refusing included file name sub\\..\\..\\escape.txt\n"},
        {drivePath.c_str(), "12", "ERROR: refusing included file name c:\\tarvo-escape-"},
        {"\\escape.txt", "12", "ERROR: refusing included file name \\escape.txt\n"},
        {"a\\b\\two-levels.txt", "12", "ERROR: refusing included file name a\\b\\two-levels.txt\n"},
        {"../escape.txt", "12", "ERROR: refusing included file name ../escape.txt\n"},
        {"con", "12", "ERROR: refusing included file name con\n"},
        // A file stands where the directory belongs: its creation fails, so does the file's.
        {"ok.txt\\inner.txt", "11", "ERROR: could not create "},
    };
    int number = 0;
    for (const FatalCase& c : cases) {
        std::wstring exe = dir / (L"bad" + std::to_wstring(++number) + L".exe");
        pack::Block block = makeBlock({{101, "x"}}, {{1009, internalError}});
        block.files = {included("ok.txt", 7000), included("lib\\x.jar", 10), included(c.badName, 10)};
        ASSERT_EQ(packLauncherTo(exe, block, driverPath(L"instance_driver")), "") << c.badName;

        ProcessResult r = run(exe, L"extract");
        EXPECT_EQ(r.exitCode, 1u) << c.badName;
        EXPECT_TRUE(contains(r.err, std::string("An internal error occurred (error code: ") + c.code + ")"))
            << c.badName << ": " << r.err;
        EXPECT_FALSE(contains(r.out, "result=")) << c.badName;
        std::string log = logText(number);
        EXPECT_TRUE(contains(log, c.logLine)) << c.badName << log;
        std::string workDir = workDirFromLog(log);
        ASSERT_FALSE(workDir.empty()) << c.badName;
        EXPECT_FALSE(exists(widen(workDir))) << c.badName << ": " << workDir;
        EXPECT_FALSE(exists(tmpDir() + L"\\escape.txt")) << c.badName;
        EXPECT_FALSE(exists(dir.path() + L"\\escape.txt")) << c.badName;
        EXPECT_FALSE(exists(widen(drivePath))) << c.badName;
    }
}

struct DamageCase {
    const char* name;
    long long keep;     // bytes of the area kept (the rest is cut off); -1 keeps all
    long long patchAt;  // offset in the area of an 8-byte size to overwrite; -1 for none
    long long size;
    const char* stderrText;
    const char* logLine;
};

// The area behind the block is cut off or claims more than the file holds: the run ends
// with an error, no partial file stays behind and the work directory is removed.
TEST_F(ExtractTest, ATruncatedOrCorruptAreaFailsCleanly) {
    pack::Block block = makeBlock({{101, "x"}}, {{1009, internalError}});
    block.files = {included("ok.txt", 100), included("big.bin", 20000), included("after.txt", 10)};
    std::wstring packed = dir / L"packed.exe";
    ASSERT_EQ(packLauncherTo(packed, block, driverPath(L"instance_driver")), "");
    std::string image = readFile(packed);
    size_t area = image.size() - (8 + 100 + 8 + 20000 + 8 + 10);
    const long long bigSize = 8 + 100;  // offset of big.bin's size in the area

    const DamageCase cases[] = {
        {"cut inside the content", bigSize + 8 + 7000, -1, 0, "(error code: 16)",
         "ERROR: included file %s\\big.bin needs 20000 bytes, 7000 left\n"},
        {"cut inside a size", bigSize + 3, -1, 0, "Internal Error: readLong", "\nerror "},
        {"a size beyond the end of the file", -1, bigSize, 1LL << 40, "(error code: 16)",
         "ERROR: included file %s\\big.bin needs 1099511627776 bytes, 20018 left\n"},
    };
    int number = 0;
    for (const DamageCase& c : cases) {
        std::string bytes = image;
        if (c.keep >= 0) bytes.resize(area + static_cast<size_t>(c.keep));
        if (c.patchAt >= 0) std::memcpy(&bytes[area + static_cast<size_t>(c.patchAt)], &c.size, 8);
        std::wstring exe = dir / (L"damaged" + std::to_wstring(++number) + L".exe");
        ASSERT_TRUE(writeFile(exe, bytes));

        ProcessResult r = run(exe, L"extract");
        EXPECT_EQ(r.exitCode, 1u) << c.name;
        EXPECT_TRUE(contains(r.err, c.stderrText)) << c.name << ": " << r.err;
        std::string log = logText(number);
        std::string workDir = workDirFromLog(log);
        ASSERT_FALSE(workDir.empty()) << c.name;
        std::string line = c.logLine;
        if (size_t at = line.find("%s"); at != std::string::npos) line.replace(at, 2, workDir);
        EXPECT_TRUE(contains(log, line)) << c.name << log;
        EXPECT_FALSE(exists(widen(workDir))) << c.name;
    }
}

TEST_F(ExtractTest, NegativeSizesAreEmptyEntries) {
    pack::Block block = makeBlock({{101, "x"}});
    block.files = {included("neg.bin", 0), included("after.bin", 50)};
    std::wstring exe = dir / L"negative.exe";
    ASSERT_EQ(packLauncherTo(exe, block, driverPath(L"instance_driver")), "");
    std::string bytes = readFile(exe);
    int64_t negative = -5;
    std::memcpy(&bytes[bytes.size() - (8 + 8 + 50)], &negative, 8);
    ASSERT_TRUE(writeFile(exe, bytes));
    auto values = driverResults(run(exe, L"extract"));
    EXPECT_EQ(values["result"], "0");
    EXPECT_FALSE(exists(widen(values["workDir"] + "\\neg.bin")));
    EXPECT_TRUE(readFile(widen(values["workDir"] + "\\after.bin")) == text(block.files[1].content));
    EXPECT_TRUE(contains(logText(), "neg.bin (size: -5)\n")) << logText();
}

// Without a work directory the targets would land in the root of the drive.
TEST_F(ExtractTest, ExtractingWithoutAWorkDirectoryIsAWriteFailure) {
    std::string name = "tarvo-root-" + std::to_string(GetCurrentProcessId()) + ".txt";
    pack::Block block = makeBlock({{101, "x"}}, {{1009, internalError}});
    block.files = {included(name, 10)};
    std::wstring exe = dir / L"keep.exe";
    ASSERT_EQ(packLauncherTo(exe, block, driverPath(L"instance_driver")), "");
    ProcessResult r = run(exe, L"extract keep");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(driverResults(r)["result"], "2");
    EXPECT_TRUE(contains(r.err, "(error code: 16)")) << r.err;
    EXPECT_TRUE(contains(logText(), "ERROR: no work directory for the included files\n")) << logText();
    EXPECT_FALSE(exists(widen("c:\\" + name)));
}

struct CopyCase {
    const char* name;
    long long length;
    bool unscramble;
    bool readOnlyTarget;
    const char* result;
    size_t copied;        // bytes expected in the target
    const char* logLine;  // nullptr: no error line
};

// copyData on plain files: the chunk of at most 6000 bytes shows in the count of
// unwritten bytes when a write fails.
TEST_F(ExtractTest, CopyDataCopiesUnmasksAndReportsFailures) {
    std::wstring exe = packDriver(L"instance_driver", makeBlock({{101, "x"}}), L"copy.exe");
    std::vector<uint8_t> source = someBytes(12001, 7);
    std::wstring sourcePath = dir / L"source.bin";
    ASSERT_TRUE(writeFile(sourcePath, text(source)));
    const CopyCase cases[] = {
        {"whole file as is", 12001, false, false, "0", 12001, nullptr},
        {"part of it unmasked", 6001, true, false, "0", 6001, nullptr},
        {"nothing", 0, true, false, "0", 0, nullptr},
        {"more than the source holds", 20000, false, false, "1", 12001, "ERROR: ReadFile failed 0 0 12001\n"},
        {"a target without write access", 6001, false, true, "2", 0, "ERROR: WriteFile failed 6000 5\n"},
        {"a short chunk to a target without write access", 5999, false, true, "2", 0,
         "ERROR: WriteFile failed 5999 5\n"},
    };
    int number = 0;
    for (const CopyCase& c : cases) {
        std::wstring target = dir / (L"target" + std::to_wstring(++number) + L".bin");
        std::wstring args = L"copy " + quoteArgument(sourcePath) + L" " + quoteArgument(target) + L" " +
                            std::to_wstring(c.length) + (c.unscramble ? L" 1" : L" 0") +
                            (c.readOnlyTarget ? L" readonly" : L"");
        auto values = driverResults(run(exe, args));
        EXPECT_EQ(values["result"], c.result) << c.name;
        std::string expected = text(source).substr(0, c.copied);
        if (c.unscramble)
            for (char& b : expected) b = static_cast<char>(b ^ includedFileMask);
        EXPECT_TRUE(readFile(target) == expected) << c.name;
        std::string log = logText(number);
        if (c.logLine) {
            EXPECT_TRUE(contains(log, c.logLine)) << c.name << log;
        } else {
            EXPECT_FALSE(contains(log, "ERROR:")) << c.name << log;
        }
    }
}

}  // namespace
}  // namespace tarvo::test
