// Pieces shared by the stand-in binaries: text conversions, the record files
// (trace and probe log), and the key=value configuration files beside a binary.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace standin {

// Environment variables that name the record files.
inline constexpr const wchar_t* kTraceVar = L"STANDIN_TRACE";
inline constexpr const wchar_t* kProbeLogVar = L"STANDIN_PROBE_LOG";

std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);
// Option strings and other 8-bit texts use the ANSI code page, as a JVM reads them.
std::wstring fromAnsi(std::string_view text);

std::wstring envVar(const wchar_t* name);
std::wstring modulePath(HMODULE module);
std::wstring directoryOf(const std::wstring& path);
// The module (exe or DLL) that contains the calling code.
HMODULE thisModule();

struct Field {
    std::string key;
    std::string value;
};

// One record line: kind, then tab-separated key=value fields. Tabs, line breaks,
// backslashes and other control characters in values are escaped with a backslash.
std::string formatRecord(std::string_view kind, const std::vector<Field>& fields);
// Appends a record to the file named by the environment variable; nothing when unset.
void appendRecord(const wchar_t* fileVar, std::string_view kind, const std::vector<Field>& fields);

// Writes bytes unbuffered to a standard handle, as the JVM's own streams do.
void writeStd(DWORD which, std::string_view bytes);

// key=value lines; blank lines and lines starting with '#' are skipped. A key may repeat.
class Config {
public:
    static Config read(const std::wstring& path);
    bool has(std::string_view key) const;
    std::string get(std::string_view key, std::string_view fallback = {}) const;
    int getInt(std::string_view key, int fallback) const;
    std::vector<std::string> all(std::string_view key) const;

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

// The configuration file of the stand-in executables in a bin directory.
inline constexpr const wchar_t* kBinConfigName = L"standin.cfg";

}  // namespace standin
