#include "standin.h"

#include <cstdio>
#include <cstdlib>

namespace standin {

std::string toUtf8(std::wstring_view text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

static std::wstring widen(UINT codePage, std::string_view text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::wstring fromUtf8(std::string_view text) { return widen(CP_UTF8, text); }
std::wstring fromAnsi(std::string_view text) { return widen(CP_ACP, text); }

std::wstring envVar(const wchar_t* name) {
    wchar_t small[512];
    DWORD n = GetEnvironmentVariableW(name, small, 512);
    if (n == 0) return {};
    if (n < 512) return std::wstring(small, n);
    std::wstring big(n, L'\0');
    n = GetEnvironmentVariableW(name, big.data(), n);
    big.resize(n);
    return big;
}

std::wstring modulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring directoryOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

HMODULE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
}

static void appendEscaped(std::string& out, std::string_view value) {
    for (unsigned char c : value) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
}

std::string formatRecord(std::string_view kind, const std::vector<Field>& fields) {
    std::string line(kind);
    for (const Field& f : fields) {
        line += '\t';
        line += f.key;
        line += '=';
        appendEscaped(line, f.value);
    }
    line += '\n';
    return line;
}

namespace {
// Records of one module are written in the order they are made; other modules and
// processes append on their own handles, and each record is a single write.
struct RecordLock {
    CRITICAL_SECTION cs;
    RecordLock() { InitializeCriticalSection(&cs); }
};
RecordLock& recordLock() {
    static RecordLock lock;
    return lock;
}
}  // namespace

void appendRecord(const wchar_t* fileVar, std::string_view kind, const std::vector<Field>& fields) {
    std::wstring path = envVar(fileVar);
    if (path.empty()) return;
    std::string line = formatRecord(kind, fields);
    EnterCriticalSection(&recordLock().cs);
    HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(h);
    }
    LeaveCriticalSection(&recordLock().cs);
}

void writeStd(DWORD which, std::string_view bytes) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

Config Config::read(const std::wstring& path) {
    Config config;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return config;
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(h);

    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        config.entries_.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return config;
}

bool Config::has(std::string_view key) const {
    for (const auto& [k, v] : entries_)
        if (k == key) return true;
    return false;
}

std::string Config::get(std::string_view key, std::string_view fallback) const {
    std::string value(fallback);
    for (const auto& [k, v] : entries_)
        if (k == key) value = v;
    return value;
}

int Config::getInt(std::string_view key, int fallback) const {
    if (!has(key)) return fallback;
    std::string text = get(key);
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 0);
    return end != text.c_str() ? static_cast<int>(value) : fallback;
}

std::vector<std::string> Config::all(std::string_view key) const {
    std::vector<std::string> out;
    for (const auto& [k, v] : entries_)
        if (k == key) out.push_back(v);
    return out;
}

}  // namespace standin
