// A fixture for end-to-end tests: packs copies of the real launcher from a table of
// keys into a private folder and runs them with a private temporary directory, so
// that their diagnostic logs and work directories never meet another test's.
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "blockwriter.h"
#include "testutil.h"

namespace tarvo::test {

using StringKeys = std::initializer_list<std::pair<int32_t, std::string>>;

pack::Block makeBlock(StringKeys strings, std::initializer_list<std::pair<int32_t, std::string>> messages = {});
// Packs `source` (the launcher unless given) with `block` into `path`; an empty
// result means success.
std::string packLauncherTo(const std::wstring& path, const pack::Block& block, const std::wstring& source = {});
// A driver executable of tests/drivers, by name (for example L"core_driver").
std::wstring driverPath(const std::wstring& name);
// Text with CR LF turned into LF and a leading byte-order mark removed.
std::string plainText(std::string text);

// The "name=value" lines a driver printed (a later line with the same name wins).
std::map<std::string, std::string> driverResults(const ProcessResult& result);

class LauncherTest : public ::testing::Test {
protected:
    LauncherTest();

    std::wstring pack(const pack::Block& block, const std::wstring& name = L"app.exe", const std::wstring& source = {});
    // Packs a driver instead of the launcher.
    std::wstring packDriver(const std::wstring& driver, const pack::Block& block, const std::wstring& name = L"drv.exe") {
        return pack(block, name, driverPath(driver));
    }
    std::wstring pack(StringKeys strings, const std::wstring& name = L"app.exe") { return pack(makeBlock(strings), name); }
    // Runs `exe` with the argument text; TMP and TEMP point at tmpDir() and the log is on.
    ProcessResult run(const std::wstring& exe, const std::wstring& arguments, ProcessOptions options = {});
    std::wstring tmpDir() const { return dir / L"tmp"; }
    // The diagnostic log files the last runs wrote, in number order.
    std::string logText(int number = 1) const;

    TempDir dir;
};

}  // namespace tarvo::test
