// The user's language as Wine derives it from LANG. Wine fixes a process's language
// when it starts from the Unix side, so a child cannot be given another one through
// its environment block: ctest runs these cases once per language with LANG set for
// the whole test process (see CMakeLists.txt), and TARVO_TEST_LANG names it.
#include <gtest/gtest.h>

#include "javahome.h"
#include "jvmtrace.h"
#include "launcherfixture.h"

namespace tarvo::test {
namespace {

struct Expected {
    const char* lang;
    const char* code;
    const char* language;
    const char* country;
    const wchar_t* title;  // of the message box, from the language sections below
};

const Expected expectations[] = {
    {"en_US", "en_US", "en", "US", L"Error"},
    {"de_DE", "de_DE", "de", "DE", L"Fehler"},
    {"de_AT", "de_AT", "de", "AT", L"Fehler"},
    {"de_CH", "de_CH", "de", "CH", L"Fehler (CH)"},
    // Not in the table as a whole: the primary language decides.
    {"es_US", "es", "es", "none", L"Error (es)"},
    {"nb_NO", "no_NO", "no", "NO", L"Error"},
};

class UserLanguage : public LauncherTest {
protected:
    void SetUp() override {
        char lang[64] = "";
        GetEnvironmentVariableA("TARVO_TEST_LANG", lang, sizeof lang);
        if (!lang[0]) GTEST_SKIP() << "runs once per language with TARVO_TEST_LANG set";
        for (const auto& e : expectations)
            if (std::string(e.lang) == lang) expected = &e;
        ASSERT_NE(expected, nullptr) << "no expectations for " << lang;
    }
    const Expected* expected = nullptr;
};

TEST_F(UserLanguage, GivesTheLocaleCodeLanguageAndCountry) {
    std::wstring exe = packDriver(L"core_driver", makeBlock({{101, "x"}}));
    auto values = driverResults(run(exe, L"locale"));
    EXPECT_EQ(values["code"], expected->code);
    EXPECT_EQ(values["language"], expected->language);
    EXPECT_EQ(values["country"], expected->country);
    EXPECT_NE(logText().find(std::string("\nlanguage/country is ") + expected->code + "\n"), std::string::npos);
}

// Key 107 = 1 asks for message boxes; a run that finds no JVM shows message 1000 as title.
TEST_F(UserLanguage, PicksLanguageSectionsInFileOrder) {
    pack::Block block = makeBlock({{107, "1"}, {128, "Bmissing"}}, {{1000, "Error"}, {1016, "No JVM."}});
    block.languages.push_back({"de", {{1000, u"Fehler"}}});
    block.languages.push_back({"de_CH", {{1000, u"Fehler (CH)"}}});
    block.languages.push_back({"de_DE_x", {{1000, u"never"}}});
    block.languages.push_back({"es", {{1000, u"Error (es)"}}});
    std::wstring exe = pack(block);
    ProcessResult r = run(exe, L"/run");
    EXPECT_EQ(r.exitCode, 1u);
    ASSERT_EQ(r.dialogs.size(), 1u);
    EXPECT_EQ(r.dialogs[0].title, expected->title);
}

// A run asked for the user's locale formats hands Java the user's language and country.
TEST_F(UserLanguage, RunsPassTheUserLocaleToJava) {
    std::wstring home = javahome::JavaHome::jre().build(dir / L"jre");
    std::wstring exe = pack(makeBlock({{2001, "t"}, {128, "B" + narrow(home)}}));
    std::wstring trace = dir / L"trace.txt";
    ProcessOptions options;
    options.env[L"STANDIN_TRACE"] = trace;
    ProcessResult r = run(exe, L"/run app -Dsun.locale.formatasdefault=false", options);
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    std::vector<std::string> locale;
    for (const std::string& option : jvmtrace::readTrace(trace).options())
        if (option.rfind("-Dsun.locale", 0) == 0 || option.rfind("-Duser.", 0) == 0) locale.push_back(option);
    std::vector<std::string> expectedOptions = {"-Dsun.locale.formatasdefault=false",
                                                std::string("-Duser.language=") + expected->language};
    if (std::string(expected->country) != "none") expectedOptions.push_back(std::string("-Duser.country=") + expected->country);
    EXPECT_EQ(locale, expectedOptions);
}

}  // namespace
}  // namespace tarvo::test
