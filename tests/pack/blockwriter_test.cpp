// The block writer library: exact bytes of the block, the included-files area and its
// keys, where the block lands in the launcher image, and the images it refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "blockformat.h"
#include "blockwriter.h"
#include "packtestutil.h"

namespace tarvo::packtest {
namespace {

namespace fs = std::filesystem;
using pack::Block;

Bytes bytesOf(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

std::string hex(const Bytes& b) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < b.size(); ++i) {
        if (i) s += (i % 16 == 0) ? '\n' : ' ';
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

// Byte for byte, as the format table reads: a small block whose every field has a
// distinct value, so a swapped, missing or wrongly sized field shows.
TEST(BlockBytes, SmallBlockMatchesTheFormatExactly) {
    Block block;
    block.strings = {{101, "ab"}};
    block.messages = {{1000, u"\u00C9"}};
    block.languages = {{"de", {{1000, u"x"}}}};
    block.files = {{"f", {0x00, 0xFF, 0xA5}}};
    Bytes expected = bytesOf({
        0xD5, 0x13, 0xE4, 0xE8,                          // magic
        0x01, 0x00, 0x00, 0x00,                          // format version
        'T', 'R', 'V', 'O',                              // writer id
        0x4E, 0, 0, 0, 0, 0, 0, 0,                       // 78 bytes from offset 12 to the end
        0x03, 0, 0, 0,                                   // three string records
        0x65, 0, 0, 0, 0x02, 0, 0, 0, 'a', 'b',          // 101 = "ab"
        0xD2, 0x07, 0, 0, 0x01, 0, 0, 0, '1',            // 2002 = "1", added by the writer
        0xD3, 0x07, 0, 0, 0x01, 0, 0, 0, 'f',            // 2003 = "f", added by the writer
        0x01, 0, 0, 0,                                   // one message
        0xE8, 0x03, 0, 0, 0x02, 0, 0, 0, 0xC9, 0x00,     // 1000 = U+00C9 in UTF-16LE
        0x01, 0, 0, 0,                                   // one language section
        0x02, 0, 0, 0, 'd', 'e', 0x01, 0, 0, 0,          // "de", one record
        0xE8, 0x03, 0, 0, 0x02, 0, 0, 0, 'x', 0x00,      // 1000 = "x"
        0x03, 0, 0, 0, 0, 0, 0, 0,                       // included file: 8-byte size 3
        0xA5, 0x5A, 0x00,                                // content XOR 0xA5
    });
    EXPECT_EQ(hex(pack::serializeBlock(block)), hex(expected));
}

TEST(BlockBytes, EmptyBlockHasZeroCountsAndNoFileKeys) {
    Bytes expected = bytesOf({0xD5, 0x13, 0xE4, 0xE8, 1, 0, 0, 0, 'T', 'R', 'V', 'O', 20, 0, 0, 0, 0, 0, 0, 0,
                              0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(hex(pack::serializeBlock(Block{})), hex(expected));
}

TEST(BlockBytes, SharedConstantsHaveTheirFormatValues) {
    EXPECT_EQ(configBlockMagic, 0xE8E413D5u);
    EXPECT_EQ(includedFileMask, 0xA5);
    EXPECT_EQ(configBlockLengthOffset, 12u);
    EXPECT_EQ(configBlockHeaderSize, 20u);
}

// A block with every kind of content, read back by an independent reader field by field.
TEST(BlockBytes, FullBlockReadsBackFieldByField) {
    Block block;
    block.strings = {{101, "MyService"}, {-5, ""}, {121, std::string("\x80\xFF;x\0y", 6)}, {101, "again"}};
    block.messages = {{1000, u"Error"}, {1006, u"File {0} not found\n"}, {1, u""}, {2, u"\U0001F600\u20AC"}};
    block.languages = {{"de", {{1000, u"Fehler"}, {1006, u"Datei {0} fehlt"}}}, {"de_CH", {{1000, u"Fehler (CH)"}}}};
    Bytes big(6001);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31);
    block.files = {{"app.jar", big}, {"lib\\native.dll", {}}, {"conf\\a.txt", {'h', 'i'}}};

    Bytes out = pack::serializeBlock(block);
    ParsedBlock p = BlockReader(out, 0).read(0xA5);

    EXPECT_EQ(p.magic, 0xE8E413D5u);
    EXPECT_EQ(p.version, 1u);
    EXPECT_EQ(p.writerId, configBlockWriterId);
    EXPECT_EQ(p.lengthField, p.end - 12);
    auto strings = block.strings;
    strings.emplace_back(2002, "3");
    strings.emplace_back(2003, "app.jar;lib\\native.dll;conf\\a.txt");
    EXPECT_EQ(p.strings, strings);
    ASSERT_EQ(p.messages.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(p.messages[i].key, block.messages[i].key);
        EXPECT_TRUE(p.messages[i].text == block.messages[i].text) << i;
    }
    EXPECT_EQ(p.messages[3].text.size(), 3u);  // a surrogate pair and the euro sign
    ASSERT_EQ(p.languages.size(), 2u);
    for (size_t s = 0; s < 2; ++s) {
        EXPECT_EQ(p.languages[s].first, block.languages[s].code);
        ASSERT_EQ(p.languages[s].second.size(), block.languages[s].messages.size());
        for (size_t i = 0; i < p.languages[s].second.size(); ++i) {
            EXPECT_EQ(p.languages[s].second[i].key, block.languages[s].messages[i].key);
            EXPECT_TRUE(p.languages[s].second[i].text == block.languages[s].messages[i].text);
        }
    }
    ASSERT_EQ(p.files.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(p.files[i].first, static_cast<int64_t>(block.files[i].content.size())) << i;
        EXPECT_EQ(p.files[i].second, block.files[i].content) << i;
    }
    EXPECT_EQ(p.filesEnd, out.size());
    // The empty file is a bare 8-byte size; the next entry follows at once.
    uint64_t second = p.end + 8 + 6001;
    EXPECT_EQ(getLE(out, second, 8), 0u);
    EXPECT_EQ(getLE(out, second + 8, 8), 2u);
    EXPECT_EQ(out[second + 16], 'h' ^ 0xA5);
}

// Keys 2002 and 2003 come from the file list unless the caller gave them.
TEST(BlockBytes, IncludedFileKeys) {
    using Strings = std::vector<std::pair<int32_t, std::string>>;
    const std::vector<pack::IncludedFile> twoFiles = {{"a.jar", {1}}, {"d\\b.dll", {2, 3}}};
    struct Case {
        const char* name;
        Strings given;
        std::vector<pack::IncludedFile> files;
        Strings expected;
    };
    const Case cases[] = {
        {"no files: no keys added", {{101, "x"}}, {}, {{101, "x"}}},
        {"files: both keys appended after the caller's records",
         {{101, "x"}},
         twoFiles,
         {{101, "x"}, {2002, "2"}, {2003, "a.jar;d\\b.dll"}}},
        {"caller's count kept, names added", {{2002, "1"}}, twoFiles, {{2002, "1"}, {2003, "a.jar;d\\b.dll"}}},
        {"caller's names kept, count added", {{2003, "x;y;z"}}, twoFiles, {{2003, "x;y;z"}, {2002, "2"}}},
        {"both given: nothing added", {{2003, "a"}, {2002, "9"}}, twoFiles, {{2003, "a"}, {2002, "9"}}},
        {"caller's keys without files stay alone", {{2002, "4"}}, {}, {{2002, "4"}}},
    };
    for (const Case& c : cases) {
        Block block;
        block.strings = c.given;
        block.files = c.files;
        Bytes out = pack::serializeBlock(block);
        ParsedBlock p = BlockReader(out, 0).read(0xA5);
        EXPECT_EQ(p.strings, c.expected) << c.name;
        size_t areaSize = 0;
        for (const auto& f : c.files) areaSize += 8 + f.content.size();
        EXPECT_EQ(out.size(), p.end + areaSize) << c.name;
    }
}

TEST(Utf8, ConvertsToUtf16AndFlagsMalformedInput) {
    struct Case {
        const char* name;
        std::string in;
        std::u16string out;
        bool valid;
    };
    const Case cases[] = {
        {"ascii", "Error {0}", u"Error {0}", true},
        {"empty", "", u"", true},
        {"two-byte", "F\xC3\xBC" "r", u"F\u00FCr", true},
        {"three-byte", "\xE2\x82\xAC", u"\u20AC", true},
        {"four-byte becomes a surrogate pair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF", true},
        {"latin-1 byte", "F\xFCr", u"F\uFFFDr", false},
        {"lone continuation byte", "a\x80" "b", u"a\uFFFDb", false},
        {"cut at the end", "a\xE2\x82", u"a\uFFFD\uFFFD", false},
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD", false},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(pack::utf8ToUtf16(c.in) == c.out) << c.name;
        EXPECT_EQ(pack::isValidUtf8(c.in), c.valid) << c.name;
    }
}

// The block must start exactly where the launcher computes it from the last section header.
TEST(PackLauncher, AppendsTheBlockWhereTheLauncherLooks) {
    struct Case {
        const char* name;
        PeSpec spec;
    };
    const Case cases[] = {
        {"two sections", PeSpec{}},
        {"one section, PE32 optional header", PeSpec{0x80, 224, {{0x200, 0x600}}}},
        {"e_lfanew right after the MZ header", PeSpec{0x40, 240, {{0x200, 0x200}, {0x400, 0x200}, {0x600, 0x10}}}},
        {"odd optional header size, e_lfanew far out", PeSpec{0x1F0, 0x102, {{0x400, 0x200}, {0x600, 0x1}}}},
        {"last section with no raw data", PeSpec{0x80, 240, {{0x400, 0x200}, {0x600, 0}}}},
    };
    Block block;
    block.strings = {{101, "svc"}};
    block.files = {{"x.jar", {9, 8, 7}}};
    const Bytes tail = pack::serializeBlock(block);
    for (const Case& c : cases) {
        Bytes image = makePe(c.spec), out;
        std::string error;
        ASSERT_TRUE(pack::packLauncher(image, block, out, error)) << c.name << ": " << error;
        EXPECT_EQ(error, "") << c.name;
        EXPECT_EQ(launcherBlockStart(out), image.size()) << c.name;
        ASSERT_EQ(out.size(), image.size() + tail.size()) << c.name;
        EXPECT_TRUE(std::equal(image.begin(), image.end(), out.begin())) << c.name;
        EXPECT_TRUE(std::equal(tail.begin(), tail.end(), out.begin() + image.size())) << c.name;
    }
}

TEST(PackLauncher, RefusesImagesTheLauncherCannotReadItsBlockFrom) {
    const Bytes good = makePe();
    auto edit = [&](auto change) {
        Bytes b = good;
        change(b);
        return b;
    };
    Bytes packed;
    std::string error;
    ASSERT_TRUE(pack::packLauncher(good, Block{}, packed, error)) << error;

    struct Case {
        const char* name;
        Bytes image;
        std::string message;
    };
    const Case cases[] = {
        {"empty file", {}, "not a PE file: no MZ header"},
        {"no MZ", edit([](Bytes& b) { b[0] = 'Z', b[1] = 'M'; }), "not a PE file: no MZ header"},
        {"shorter than the MZ header", Bytes(good.begin(), good.begin() + 63), "not a PE file: no MZ header"},
        {"e_lfanew past the end", edit([](Bytes& b) { setLE(b, 60, 0x7FFFFFF0, 4); }),
         "not a PE file: PE headers run past the end of the file"},
        {"cut inside the file header", Bytes(good.begin(), good.begin() + 0x80 + 10),
         "not a PE file: PE headers run past the end of the file"},
        {"no PE signature", edit([](Bytes& b) { b[0x80 + 3] = 1; }), "not a PE file: no PE signature"},
        {"no sections", edit([](Bytes& b) { setLE(b, 0x80 + 6, 0, 2); }), "PE file has no sections"},
        {"section table past the end", edit([](Bytes& b) { setLE(b, 0x80 + 6, 0xFFFF, 2); }),
         "PE file truncated: section table runs past the end of the file"},
        {"optional header size past the end", edit([](Bytes& b) { setLE(b, 0x80 + 20, 0xFFFF, 2); }),
         "PE file truncated: section table runs past the end of the file"},
        {"last section's data cut off", Bytes(good.begin(), good.end() - 1),
         "PE file truncated: last section's raw data ends at 2560 but the file has 2559 bytes"},
        {"already packed", packed, "the launcher already carries a configuration block"},
        {"signature or overlay behind the sections", edit([](Bytes& b) { b.resize(b.size() + 512, 0x30); }),
         "512 bytes follow the last section's raw data"},
        {"two bytes of a magic are no block", edit([](Bytes& b) { b.push_back(0xD5), b.push_back(0x13); }),
         "2 bytes follow the last section's raw data"},
        {"last section header is not the last data in the file",
         makePe(PeSpec{0x80, 240, {{0x600, 0x400}, {0x400, 0x200}}}), "1024 bytes follow the last section's raw data"},
    };
    for (const Case& c : cases) {
        Bytes out = {0xEE};
        std::string message;
        EXPECT_FALSE(pack::packLauncher(c.image, Block{}, out, message)) << c.name;
        EXPECT_EQ(message.substr(0, c.message.size()), c.message) << c.name << ": " << message;
        EXPECT_EQ(out, Bytes{0xEE}) << c.name;
    }
}

TEST(PackLauncher, RefusesFileNamesTheNameListCannotCarry) {
    const Bytes image = makePe();
    for (const char* name : {"", "a;b.jar"}) {
        Block block;
        block.files = {{"ok.jar", {1}}, {name, {2}}};
        Bytes out;
        std::string error;
        EXPECT_FALSE(pack::packLauncher(image, block, out, error)) << name;
        EXPECT_NE(error.find("included file name \"" + std::string(name) + "\""), std::string::npos) << error;
        // With the names given explicitly the writer does not build the list itself.
        block.strings = {{2003, "ok.jar;other.jar"}};
        error.clear();
        EXPECT_TRUE(pack::packLauncher(image, block, out, error)) << name << ": " << error;
    }
}

class PackFiles : public ::testing::Test {
protected:
    PackFiles() {
        dir = fs::temp_directory_path() / ("tarvo-pack-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                           "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~PackFiles() override { fs::remove_all(dir); }
    std::string path(const char* name) const { return (dir / name).string(); }
    void write(const char* name, const Bytes& bytes) {
        std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    fs::path dir;
};

TEST_F(PackFiles, WritesTheLauncherWithItsBlock) {
    Bytes image = makePe();
    write("launcher.exe", image);
    Block block;
    block.strings = {{101, "svc"}};
    std::string error;
    ASSERT_TRUE(pack::packLauncherFile(path("launcher.exe"), path("app.exe"), block, error)) << error;
    Bytes written, expected = image, tail = pack::serializeBlock(block);
    expected.insert(expected.end(), tail.begin(), tail.end());
    ASSERT_TRUE(pack::readFileBytes(path("app.exe"), written, error)) << error;
    EXPECT_EQ(written, expected);
}

TEST_F(PackFiles, FailuresNameTheFileAndWriteNothing) {
    write("launcher.exe", makePe());
    Bytes trailing = makePe();
    trailing.push_back(0);
    write("unstripped.exe", trailing);
    struct Case {
        const char* name;
        std::string from, to, message;
    };
    const Case cases[] = {
        {"missing launcher", path("none.exe"), path("out.exe"), "cannot open " + path("none.exe") + ": "},
        {"launcher is a directory", dir.string(), path("out.exe"), "cannot read " + dir.string() + ": "},
        {"refused launcher", path("unstripped.exe"), path("out.exe"),
         path("unstripped.exe") + ": 1 bytes follow the last section's raw data"},
        {"output folder missing", path("launcher.exe"), path("no/such/out.exe"),
         "cannot create " + path("no/such/out.exe") + ": "},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(pack::packLauncherFile(c.from, c.to, Block{}, error)) << c.name;
        EXPECT_EQ(error.substr(0, c.message.size()), c.message) << c.name << ": " << error;
        EXPECT_FALSE(fs::exists(c.to)) << c.name;
    }
}

}  // namespace
}  // namespace tarvo::packtest
