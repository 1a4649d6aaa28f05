// Typed reads of configuration keys, as every unit of the launcher performs them.
#include <gtest/gtest.h>

#include "launcherfixture.h"

namespace tarvo::test {
namespace {

using ConfigKeysTest = LauncherTest;

struct KeyCase {
    const wchar_t* args;
    const char* value;
    const char* length;  // nullptr when the read has no length
};

TEST_F(ConfigKeysTest, TypedReadsAndAbsentKeys) {
    pack::Block block = makeBlock({{101, "quendro Service"},
                                   {102, "yes"},
                                   {104, "2"},
                                   {126, " 12abc"},
                                   {127, "-3"},
                                   {2001, "tz"},
                                   {146, ""},
                                   {124, "0123456789"}},
                                  {{1000, "Fehler \xC3\xA4"}});
    std::wstring exe = packDriver(L"core_driver", block);
    const KeyCase cases[] = {
        {L"key 101 text", "quendro Service", "15"},
        {L"key 102 flag", "false", nullptr},
        {L"key 104 flag", "true", nullptr},
        {L"key 126 int", "12", nullptr},
        {L"key 127 int", "-3", nullptr},
        {L"key 2001 text 2", "t", "1"},
        {L"key 146 text", "", "0"},
        {L"key 124 text 6", "01234", "5"},
        {L"key 124 wide 6", "01234", "5"},
        {L"key 1000 message", "Fehler \xC3\xA4", nullptr},
        {L"key 1000 text", "", "0"},
        // Absent keys of every kind read as empty text, 0 or false.
        {L"key 103 text", "", "0"},
        {L"key 103 wide", "", "0"},
        {L"key 107 int", "0", nullptr},
        {L"key 125 flag", "false", nullptr},
        {L"key 2003 copy", "", nullptr},
        {L"key 1010 message", "", nullptr},
    };
    ProcessOptions quiet;
    quiet.env[L"TARVO_LOG"] = L"no";
    for (const auto& c : cases) {
        auto values = driverResults(run(exe, c.args, quiet));
        EXPECT_EQ(values["value"], c.value) << narrow(c.args);
        if (c.length) {
            EXPECT_EQ(values["length"], c.length) << narrow(c.args);
        }
    }
    EXPECT_EQ(driverResults(run(exe, L"key 1010 message", quiet))["present"], "false");
}

TEST_F(ConfigKeysTest, EightBitTextIsWidenedByteByByte) {
    std::wstring exe = packDriver(L"core_driver", makeBlock({{122, "caf\xE9"}}));
    auto values = driverResults(run(exe, L"key 122 wide"));
    EXPECT_EQ(values["value"], "caf\xC3\xA9");  // byte E9 became U+00E9
}

TEST_F(ConfigKeysTest, FlavorIsTheFirstCharacterOfItsKey) {
    const std::pair<const char*, const char*> cases[] = {
        {"t", "t"}, {"tz", "t"}, {"z", "z"}, {"", "z"}, {"x", "z"}, {nullptr, "z"}, {"T", "z"},
    };
    int n = 0;
    for (const auto& [value, flavor] : cases) {
        pack::Block block = value ? makeBlock({{2001, value}}) : makeBlock({{101, "x"}});
        std::wstring exe = packDriver(L"core_driver", block, L"f" + std::to_wstring(n++) + L".exe");
        EXPECT_EQ(driverResults(run(exe, L"flavor"))["flavor"], flavor) << (value ? value : "(absent)");
    }
}

}  // namespace
}  // namespace tarvo::test
