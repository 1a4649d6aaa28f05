// Writes the configuration block that the launcher reads from behind the raw data of
// its last PE section, followed by the included-files area. Standard library only, so
// the same code runs in the Linux and the Windows pack tool and in the Windows tests.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo::pack {

struct MessageRecord {
    int32_t key;
    std::u16string text;
};

struct LanguageSection {
    std::string code;  // "de", "de_CH"; the launcher applies it when its locale code begins with it
    std::vector<MessageRecord> messages;
};

struct IncludedFile {
    std::string name;  // relative to the launcher's work directory, at most one "dir\" level
    std::vector<uint8_t> content;
};

struct Block {
    std::vector<std::pair<int32_t, std::string>> strings;  // written in this order
    std::vector<MessageRecord> messages;
    std::vector<LanguageSection> languages;
    // The included-files area behind the block. When it is not empty the writer appends
    // a record for key 2002 (the file count) unless `strings` already holds key 2002,
    // and one for key 2003 (the names joined by ";") unless `strings` holds key 2003.
    std::vector<IncludedFile> files;
};

// The block bytes followed by the included-files area.
std::vector<uint8_t> serializeBlock(const Block&);

// Checks the launcher image (a PE file with no bytes after its last section's raw data
// and no block yet) and the block, and returns image + block in `out`. On refusal
// returns false with a one-line reason in `error` and leaves `out` untouched.
bool packLauncher(const std::vector<uint8_t>& launcher, const Block&, std::vector<uint8_t>& out, std::string& error);

// packLauncher from one file into another; the output is written only when packing succeeds.
bool packLauncherFile(const std::string& launcherPath, const std::string& outPath, const Block&, std::string& error);

bool readFileBytes(const std::string& path, std::vector<uint8_t>& out, std::string& error);

// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view);
// True when the text is well-formed UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
bool isValidUtf8(std::string_view);

}  // namespace tarvo::pack
