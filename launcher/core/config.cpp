#include "config.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <string>

#include "blockformat.h"
#include "log.h"
#include "messages.h"
#include "paths.h"
#include "textbuf.h"

bool guiErrorMode = true;

namespace {

std::map<int32_t, std::string> configStrings;
std::map<int32_t, std::wstring> configMessages;
uint32_t endPosition = 0;

// Bytes left between the current position and the end of the file: no record may
// claim more, so a corrupt length can neither allocate gigabytes nor over-read.
int64_t bytesRemaining(HANDLE file) {
    LARGE_INTEGER size, position, zero{};
    if (!GetFileSizeEx(file, &size) || !SetFilePointerEx(file, zero, &position, FILE_CURRENT)) return 0;
    return size.QuadPart - position.QuadPart;
}

bool readExactly(HANDLE file, void* buffer, DWORD count, DWORD* got) {
    *got = 0;
    return ReadFile(file, buffer, count, got, nullptr) && *got == count;
}

void seekTo(HANDLE file, int64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = offset;
    SetFilePointerEx(file, to, nullptr, FILE_BEGIN);
}

// Reads a length-prefixed byte string; false when the length is negative or runs past the file.
bool readBytes(HANDLE file, std::string& out) {
    int32_t length = readInt(file);
    if (length < 0 || length > bytesRemaining(file)) return false;
    out.resize(static_cast<size_t>(length));
    DWORD got;
    return length == 0 || readExactly(file, out.data(), static_cast<DWORD>(length), &got);
}

std::string readString(HANDLE file) {
    std::string text;
    if (!readBytes(file, text)) fatalText(L"Internal Error: readString");
    return std::string(text.c_str());  // a record's text ends at its first zero byte
}

std::wstring readWString(HANDLE file) {
    std::string bytes;
    if (!readBytes(file, bytes)) fatalText(L"Internal Error: readWString");
    std::wstring text(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return std::wstring(text.c_str());
}

void readMessageRecords(HANDLE file, int32_t count, bool apply) {
    for (int32_t i = 0; i < count; ++i) {
        int32_t key = readInt(file);
        std::wstring text = readWString(file);
        if (apply) configMessages[key] = std::move(text);
    }
}

}  // namespace

namespace {

// Reads one little-endian integer; a short read ends the process with `failure`.
template <typename T>
T readValue(HANDLE file, const wchar_t* failure) {
    T value = 0;
    DWORD got;
    if (!readExactly(file, &value, sizeof value, &got)) {
        if (sizeof value == 4)
            logMessage(L"error %d %d\n", static_cast<int>(GetLastError()), static_cast<int>(got));
        else
            logMessage(L"error %d\n", static_cast<int>(GetLastError()));
        fatalText(failure);
    }
    return value;
}

}  // namespace

int32_t readInt(HANDLE file) { return readValue<int32_t>(file, L"Internal Error: readInt"); }
int64_t readLong(HANDLE file) { return readValue<int64_t>(file, L"Internal Error: readLong"); }
int16_t readShort(HANDLE file) { return readValue<int16_t>(file, L"Internal Error: readShort"); }

HANDLE openOwnExecutable() {
    return CreateFileW(getExePathW(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

void seekConfigBlock(HANDLE file) {
    seekTo(file, 60);
    int64_t peOffset = readInt(file);
    seekTo(file, peOffset + 6);
    int sections = readShort(file);
    logMessage(L"number of sections: %d", sections);
    seekTo(file, peOffset + 20);
    int optionalSize = readShort(file);
    logMessage(L"size of optional headers: %d", optionalSize);
    int64_t lastSection = peOffset + optionalSize + 40LL * sections - 16;
    logMessage(L"resSectionTableStart: %d", static_cast<int>(lastSection));
    seekTo(file, lastSection + 16);
    int32_t rawSize = readInt(file);
    int32_t rawOffset = readInt(file);
    logMessage(L"rawDataSize: %d, rawDataOffset: %d", rawSize, rawOffset);
    seekTo(file, static_cast<int64_t>(rawSize) + rawOffset);
}

void readConfigBlock() {
    HANDLE file = openOwnExecutable();
    if (file == INVALID_HANDLE_VALUE) {
        logError(L"Could not open %p %d %s", file, static_cast<int>(GetLastError()), getExePathW());
        fatalText(L"Error opening media file.");
    }
    seekConfigBlock(file);
    if (static_cast<uint32_t>(readInt(file)) != configBlockMagic) fatalText(L"Internal Error: magic");
    readInt(file);
    readInt(file);
    readLong(file);

    int32_t strings = readInt(file);
    for (int32_t i = 0; i < strings; ++i) {
        int32_t key = readInt(file);
        configStrings[key] = readString(file);
    }
    readMessageRecords(file, readInt(file), true);

    char locale[16];
    detectLocale(locale, sizeof locale);

    int32_t sectionCount = readInt(file);
    for (int32_t i = 0; i < sectionCount; ++i) {
        std::string code = readString(file);
        bool matches = std::strncmp(locale, code.c_str(), code.size()) == 0;
        readMessageRecords(file, readInt(file), matches);
    }

    LARGE_INTEGER zero{}, position;
    SetFilePointerEx(file, zero, &position, FILE_CURRENT);
    endPosition = static_cast<uint32_t>(position.QuadPart);
    CloseHandle(file);

    int type = getConfigInt(LauncherType);
    if (type != 1 && type != 5) guiErrorMode = false;
}

uint32_t configEndPosition() { return endPosition; }

int getConfigString(int key, char* buffer, size_t size) {
    auto it = configStrings.find(key);
    if (it == configStrings.end()) {
        if (size) buffer[0] = 0;
        return 0;
    }
    const std::string& value = it->second;
    if (!copyText(buffer, size, value.c_str()))
        logError(L"config string %d truncated (%d %d)", key, static_cast<int>(size), static_cast<int>(value.size()));
    return static_cast<int>(std::strlen(buffer));
}

int getConfigInt(int key) {
    char value[textBufferSize];
    getConfigString(key, value, sizeof value);
    return static_cast<int>(std::strtol(value, nullptr, 10));
}

bool getConfigFlag(int key) { return getConfigInt(key) != 0; }

int getConfigStringW(int key, wchar_t* buffer, size_t count) {
    auto it = configStrings.find(key);
    if (it == configStrings.end()) {
        if (count) buffer[0] = 0;
        return 0;
    }
    if (!widenBytes(buffer, count, it->second.c_str()))
        logError(L"config string %d truncated (%d %d)", key, static_cast<int>(count),
                 static_cast<int>(it->second.size()));
    return static_cast<int>(std::wcslen(buffer));
}

char* getConfigStringCopy(int key) {
    auto it = configStrings.find(key);
    const char* value = it == configStrings.end() ? "" : it->second.c_str();
    size_t n = std::strlen(value) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) std::memcpy(copy, value, n);
    return copy;
}

wchar_t* getConfigMessage(int key, wchar_t* buffer, size_t count) {
    auto it = configMessages.find(key);
    if (it == configMessages.end()) {
        if (count) buffer[0] = 0;
        return nullptr;
    }
    if (!copyTextW(buffer, count, it->second.c_str()))
        logError(L"config message %d truncated (%d %d)", key, static_cast<int>(count),
                 static_cast<int>(it->second.size()));
    return buffer;
}
