#include "blockwriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "blockformat.h"

namespace tarvo::pack {
namespace {

constexpr int32_t includedFileCountKey = 2002;
constexpr int32_t includedFileNamesKey = 2003;

// Every integer is written byte by byte so the result does not depend on the host.
void putLE(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void put32(std::vector<uint8_t>& out, uint32_t value) { putLE(out, value, 4); }
void putInt(std::vector<uint8_t>& out, int32_t value) { putLE(out, static_cast<uint32_t>(value), 4); }

uint64_t getLE(const std::vector<uint8_t>& in, size_t at, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(in[at + i]) << (8 * i);
    return value;
}

// Lengths and counts are signed 32-bit fields in the block.
int32_t length32(size_t n) { return static_cast<int32_t>(n); }
bool fits32(size_t n) { return n <= static_cast<size_t>(std::numeric_limits<int32_t>::max()); }

void putMessages(std::vector<uint8_t>& out, const std::vector<MessageRecord>& messages) {
    putInt(out, length32(messages.size()));
    for (const MessageRecord& m : messages) {
        putInt(out, m.key);
        putInt(out, length32(m.text.size() * 2));
        for (char16_t unit : m.text) putLE(out, unit, 2);
    }
}

bool hasStringKey(const Block& block, int32_t key) {
    for (const auto& s : block.strings)
        if (s.first == key) return true;
    return false;
}

bool writerAddsNames(const Block& block) { return !block.files.empty() && !hasStringKey(block, includedFileNamesKey); }

// The caller's string records, then the included-file keys the caller left to the writer.
std::vector<std::pair<int32_t, std::string>> effectiveStrings(const Block& block) {
    auto strings = block.strings;
    if (block.files.empty()) return strings;
    if (!hasStringKey(block, includedFileCountKey))
        strings.emplace_back(includedFileCountKey, std::to_string(block.files.size()));
    if (writerAddsNames(block)) {
        std::string names;
        for (size_t i = 0; i < block.files.size(); ++i) names += (i ? ";" : "") + block.files[i].name;
        strings.emplace_back(includedFileNamesKey, std::move(names));
    }
    return strings;
}

bool checkBlock(const Block& block, std::string& error) {
    bool lengthsFit = fits32(block.strings.size() + 2) && fits32(block.messages.size()) &&
                      fits32(block.languages.size());
    for (const auto& s : block.strings) lengthsFit = lengthsFit && fits32(s.second.size());
    for (const auto& m : block.messages) lengthsFit = lengthsFit && fits32(m.text.size() * 2);
    for (const auto& l : block.languages) {
        lengthsFit = lengthsFit && fits32(l.code.size()) && fits32(l.messages.size());
        for (const auto& m : l.messages) lengthsFit = lengthsFit && fits32(m.text.size() * 2);
    }
    if (!lengthsFit) {
        error = "a record or count of the block exceeds 2147483647 bytes";
        return false;
    }
    // The launcher splits key 2003 at ";" and skips empty names, so such a name would
    // shift every following file onto the wrong content.
    if (writerAddsNames(block)) {
        for (const IncludedFile& f : block.files) {
            if (f.name.empty() || f.name.find(';') != std::string::npos) {
                error = "included file name \"" + f.name + "\" is empty or contains \";\"";
                return false;
            }
        }
    }
    return true;
}

bool refuse(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

// Where the launcher will look for the block: behind the raw data of the last section
// header, read the way the launcher reads it.
bool findBlockStart(const std::vector<uint8_t>& image, uint64_t& start, std::string& error) {
    if (image.size() < 64 || image[0] != 'M' || image[1] != 'Z')
        return refuse(error, "not a PE file: no MZ header");
    uint64_t pe = getLE(image, 60, 4);
    if (pe + 24 > image.size()) return refuse(error, "not a PE file: PE headers run past the end of the file");
    if (std::memcmp(&image[pe], "PE\0\0", 4) != 0) return refuse(error, "not a PE file: no PE signature");
    uint64_t sections = getLE(image, pe + 6, 2);
    uint64_t optionalSize = getLE(image, pe + 20, 2);
    if (sections == 0) return refuse(error, "PE file has no sections");
    uint64_t last = pe + 24 + optionalSize + 40 * (sections - 1);
    if (last + 40 > image.size()) return refuse(error, "PE file truncated: section table runs past the end of the file");
    uint64_t rawSize = getLE(image, last + 16, 4);
    uint64_t rawOffset = getLE(image, last + 20, 4);
    start = rawOffset + rawSize;
    if (start > image.size())
        return refuse(error, "PE file truncated: last section's raw data ends at " + std::to_string(start) +
                                 " but the file has " + std::to_string(image.size()) + " bytes");
    return true;
}

std::string systemError() { return std::strerror(errno); }

}  // namespace

std::vector<uint8_t> serializeBlock(const Block& block) {
    std::vector<uint8_t> out;
    put32(out, configBlockMagic);
    put32(out, configBlockVersion);
    put32(out, configBlockWriterId);
    putLE(out, 0, 8);  // block length, filled in below

    auto strings = effectiveStrings(block);
    putInt(out, length32(strings.size()));
    for (const auto& [key, value] : strings) {
        putInt(out, key);
        putInt(out, length32(value.size()));
        out.insert(out.end(), value.begin(), value.end());
    }
    putMessages(out, block.messages);
    putInt(out, length32(block.languages.size()));
    for (const LanguageSection& section : block.languages) {
        putInt(out, length32(section.code.size()));
        out.insert(out.end(), section.code.begin(), section.code.end());
        putMessages(out, section.messages);
    }

    uint64_t length = out.size() - configBlockLengthOffset;
    for (int i = 0; i < 8; ++i) out[configBlockLengthOffset + i] = static_cast<uint8_t>(length >> (8 * i));

    for (const IncludedFile& file : block.files) {
        putLE(out, file.content.size(), 8);
        for (uint8_t b : file.content) out.push_back(b ^ includedFileMask);
    }
    return out;
}

bool packLauncher(const std::vector<uint8_t>& launcher, const Block& block, std::vector<uint8_t>& out,
                  std::string& error) {
    uint64_t start;
    if (!findBlockStart(launcher, start, error)) return false;
    if (start < launcher.size()) {
        if (launcher.size() - start >= 4 && getLE(launcher, start, 4) == configBlockMagic)
            return refuse(error, "the launcher already carries a configuration block");
        return refuse(error, std::to_string(launcher.size() - start) +
                                 " bytes follow the last section's raw data (unstripped build, signature or "
                                 "other overlay); the block must follow the section data directly");
    }
    if (!checkBlock(block, error)) return false;
    std::vector<uint8_t> tail = serializeBlock(block);
    // The launcher keeps file offsets in 32 bits.
    if (launcher.size() + tail.size() > std::numeric_limits<uint32_t>::max())
        return refuse(error, "the packed launcher would exceed 4 GiB");
    out.reserve(launcher.size() + tail.size());
    out.assign(launcher.begin(), launcher.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return true;
}

bool readFileBytes(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return refuse(error, "cannot open " + path + ": " + systemError());
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    bool failed = std::ferror(file);
    std::string reason = failed ? systemError() : "";
    std::fclose(file);
    if (failed) return refuse(error, "cannot read " + path + ": " + reason);
    out = std::move(bytes);
    return true;
}

bool packLauncherFile(const std::string& launcherPath, const std::string& outPath, const Block& block,
                      std::string& error) {
    std::vector<uint8_t> image, packed;
    if (!readFileBytes(launcherPath, image, error)) return false;
    if (!packLauncher(image, block, packed, error)) {
        error = launcherPath + ": " + error;
        return false;
    }
    std::FILE* file = std::fopen(outPath.c_str(), "wb");
    if (!file) return refuse(error, "cannot create " + outPath + ": " + systemError());
    bool written = std::fwrite(packed.data(), 1, packed.size(), file) == packed.size();
    std::string reason = written ? "" : systemError();
    if (std::fclose(file) != 0 && written) {
        written = false;
        reason = systemError();
    }
    if (!written) {
        std::remove(outPath.c_str());  // a half-written launcher must not look usable
        return refuse(error, "cannot write " + outPath + ": " + reason);
    }
    return true;
}

namespace {

// Decodes one UTF-8 sequence at `i`; returns false for a malformed one (and then
// advances past its first byte only).
bool decodeOne(std::string_view text, size_t& i, char32_t& cp) {
    auto b = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    uint8_t lead = b(i);
    int extra;
    char32_t min;
    if (lead < 0x80) {
        cp = lead;
        ++i;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, min = 0x80, cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, min = 0x800, cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, min = 0x10000, cp = lead & 0x07;
    } else {
        ++i;
        return false;
    }
    if (i + extra >= text.size()) {  // cut off at the end
        ++i;
        return false;
    }
    for (int k = 1; k <= extra; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) {
            ++i;
            return false;
        }
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return false;
    }
    i += extra + 1;
    return true;
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        char32_t cp;
        if (!decodeOne(text, i, cp)) cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

bool isValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        char32_t cp;
        if (!decodeOne(text, i, cp)) return false;
    }
    return true;
}

}  // namespace tarvo::pack
