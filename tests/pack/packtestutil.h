// Test helpers: a synthetic PE image and an independent reader of the block format,
// written from the launcher's point of view rather than sharing the writer's code.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tarvo::packtest {

using Bytes = std::vector<uint8_t>;

inline uint64_t getLE(const Bytes& b, size_t at, int n) {
    if (at + n > b.size()) throw std::out_of_range("read past the end at " + std::to_string(at));
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= static_cast<uint64_t>(b[at + i]) << (8 * i);
    return v;
}

inline void setLE(Bytes& b, size_t at, uint64_t v, int n) {
    if (b.size() < at + n) b.resize(at + n);
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

struct SectionSpec {
    uint32_t rawOffset;
    uint32_t rawSize;
};

struct PeSpec {
    uint32_t lfanew = 0x80;
    uint16_t optionalSize = 240;  // PE32+ optional header with 16 data directories
    std::vector<SectionSpec> sections = {{0x400, 0x200}, {0x600, 0x400}};
};

// MZ header, PE signature, file header, a zero optional header and the section table,
// then every section's raw data (a byte pattern) up to the end of the furthest one.
inline Bytes makePe(const PeSpec& spec = {}) {
    Bytes image(64, 0);
    image[0] = 'M';
    image[1] = 'Z';
    setLE(image, 60, spec.lfanew, 4);
    size_t pe = spec.lfanew;
    setLE(image, pe, 0x00004550, 4);  // "PE\0\0"
    setLE(image, pe + 4, 0x8664, 2);
    setLE(image, pe + 6, spec.sections.size(), 2);
    setLE(image, pe + 20, spec.optionalSize, 2);
    size_t table = pe + 24 + spec.optionalSize;
    size_t end = table + 40 * spec.sections.size();
    image.resize(end, 0);
    for (size_t i = 0; i < spec.sections.size(); ++i) {
        size_t h = table + 40 * i;
        std::string name = ".s" + std::to_string(i);
        std::copy(name.begin(), name.end(), image.begin() + h);
        setLE(image, h + 8, spec.sections[i].rawSize / 2 + 5, 4);  // VirtualSize, unlike the raw size
        setLE(image, h + 12, 0x1000 * (i + 1), 4);               // VirtualAddress
        setLE(image, h + 16, spec.sections[i].rawSize, 4);       // SizeOfRawData
        setLE(image, h + 20, spec.sections[i].rawOffset, 4);     // PointerToRawData
        end = std::max<size_t>(end, spec.sections[i].rawOffset + spec.sections[i].rawSize);
    }
    size_t headers = image.size();
    image.resize(end, 0);
    for (size_t i = headers; i < end; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    return image;
}

// Where the launcher looks for the block, computed the way it does.
inline uint64_t launcherBlockStart(const Bytes& file) {
    uint64_t pe = getLE(file, 60, 4);
    uint64_t sections = getLE(file, pe + 6, 2);
    uint64_t optional = getLE(file, pe + 20, 2);
    uint64_t last = pe + optional + 40 * sections - 16;
    return getLE(file, last + 16, 4) + getLE(file, last + 20, 4);
}

struct Message {
    int32_t key;
    std::u16string text;
    bool operator==(const Message&) const = default;
};

struct ParsedBlock {
    uint32_t magic = 0, version = 0, writerId = 0;
    uint64_t lengthField = 0;
    std::vector<std::pair<int32_t, std::string>> strings;
    std::vector<Message> messages;
    std::vector<std::pair<std::string, std::vector<Message>>> languages;
    uint64_t end = 0;  // offset of the first byte after the last language section
    std::vector<std::pair<int64_t, Bytes>> files;  // size field and unmasked content
    uint64_t filesEnd = 0;
};

class BlockReader {
public:
    BlockReader(const Bytes& bytes, uint64_t at) : b_(bytes), at_(at) {}

    // Reads the block and then as many included files as key 2003 names (bounded by key 2002).
    ParsedBlock read(uint8_t mask) {
        ParsedBlock p;
        uint64_t start = at_;
        p.magic = u32();
        p.version = u32();
        p.writerId = u32();
        p.lengthField = take(8);
        for (int32_t n = i32(), i = 0; i < n; ++i) {
            int32_t key = i32();
            p.strings.emplace_back(key, bytes(i32()));
        }
        p.messages = messages();
        for (int32_t n = i32(), i = 0; i < n; ++i) {
            std::string code = bytes(i32());
            p.languages.emplace_back(code, messages());
        }
        p.end = at_ - start;
        std::map<int32_t, std::string> keys(p.strings.begin(), p.strings.end());
        long count = std::strtol(keys[2002].c_str(), nullptr, 10);
        std::vector<std::string> names;
        std::string list = keys[2003];
        for (size_t s = 0; s <= list.size();) {
            size_t e = std::min(list.find(';', s), list.size());
            if (e > s) names.push_back(list.substr(s, e - s));
            s = e + 1;
        }
        for (size_t i = 0; i < names.size() && static_cast<long>(i) < count; ++i) {
            int64_t size = static_cast<int64_t>(take(8));
            std::string raw = bytes(size > 0 ? size : 0);
            Bytes content;
            for (char c : raw) content.push_back(static_cast<uint8_t>(c) ^ mask);
            p.files.emplace_back(size, content);
        }
        p.filesEnd = at_ - start;
        return p;
    }

private:
    uint64_t take(int n) {
        uint64_t v = getLE(b_, at_, n);
        at_ += n;
        return v;
    }
    uint32_t u32() { return static_cast<uint32_t>(take(4)); }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    std::string bytes(int64_t n) {
        if (n < 0 || at_ + n > b_.size()) throw std::out_of_range("record runs past the end");
        std::string s(b_.begin() + at_, b_.begin() + at_ + n);
        at_ += n;
        return s;
    }
    std::vector<Message> messages() {
        std::vector<Message> out;
        for (int32_t n = i32(), i = 0; i < n; ++i) {
            int32_t key = i32();
            std::string raw = bytes(i32());
            std::u16string text;
            for (size_t k = 0; k + 1 < raw.size(); k += 2)
                text += static_cast<char16_t>(static_cast<uint8_t>(raw[k]) | (static_cast<uint8_t>(raw[k + 1]) << 8));
            out.push_back({key, text});
        }
        return out;
    }

    const Bytes& b_;
    uint64_t at_;
};

}  // namespace tarvo::packtest
