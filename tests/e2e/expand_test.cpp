// Variable expansion in a packed process, with a real executable directory and environment.
#include <gtest/gtest.h>

#include "launcherfixture.h"

namespace tarvo::test {
namespace {

class ExpandTest : public LauncherTest {
protected:
    void SetUp() override { exe = packDriver(L"core_driver", makeBlock({{101, "x"}})); }
    std::string expand(const std::wstring& mode, const std::wstring& text, const std::wstring& java = L"",
                       std::map<std::wstring, std::wstring> env = {}) {
        ProcessOptions options;
        options.env = std::move(env);
        std::wstring args = L"expand " + mode + L" " + quoteArgument(text);
        if (!java.empty()) args += L" " + quoteArgument(java);
        return driverResults(run(exe, args, options))["result"];
    }
    std::string exeDir() const { return narrow(dir.path()) + "\\"; }
    std::wstring exe;
};

TEST_F(ExpandTest, LauncherVariablesInEveryWidth) {
    const std::pair<std::wstring, std::string> cases[] = {
        {L"${launcher:sys.launcherDirectory}lib\\a.jar", exeDir() + "lib\\a.jar"},
        {L"%ZANDORIUM_EXEDIR%\\lib", exeDir() + "\\lib"},
        {L"%TARVO_EXEDIR%|${TARVO_EXEDIR}|${ZANDORIUM_EXEDIR}", exeDir() + "|" + exeDir() + "|" + exeDir()},
        {L"a${launcher:sys.pathlistSeparator}b%TARVO_PATHLIST_SEPARATOR%c${ZANDORIUM_PATHLIST_SEPARATOR}d",
         "a;b;c;d"},
        {L"[${launcher:sys.launcherTempDirectory}][%TARVO_TEMPDIR%][${ZANDORIUM_TEMPDIR}]", "[][][]"},
        {L"[${launcher:sys.jvmHome}][%ZANDORIUM_JVM_HOME%]", "[][]"},
        {L"${launcher:sys.tempDir}", narrow(tmpDir()) + "\\"},
        {L"${installer:sys.tempDir}\\x.log", "${installer:sys.tempDir}\\x.log"},
        {L"${TARVO_EXEDIR}${TARVO_EXEDIR}", exeDir() + exeDir()},
        {L"${tarvo_exedir}", "${tarvo_exedir}"},
    };
    for (const auto& [text, expected] : cases)
        for (const wchar_t* mode : {L"narrow", L"wide", L"ansi"})
            EXPECT_EQ(expand(mode, text), expected) << narrow(text) << " " << narrow(mode);
}

TEST_F(ExpandTest, JvmHomeFollowsTheSelectedJavaExecutable) {
    EXPECT_EQ(expand(L"wide", L"${launcher:sys.jvmHome}\\lib", L"C:\\jre\\bin\\java.exe"), "C:\\jre\\bin\\..\\lib");
    EXPECT_EQ(expand(L"narrow", L"%TARVO_JVM_HOME%", L"C:\\jre\\bin\\javaw.exe"), "C:\\jre\\bin\\..");
    EXPECT_EQ(expand(L"narrow", L"${TARVO_JVM_HOME}", L"C:\\jre\\bin\\jre.exe"), "C:\\jre\\bin..");
}

TEST_F(ExpandTest, EnvironmentReferencesAsStoredAndUpperCased) {
    std::map<std::wstring, std::wstring> env = {{L"MixedCase", L"v"}, {L"SELF", L"<${SELF}>"},
                                                {L"HOLDS_JVM", L"${launcher:sys.jvmHome}"}};
    const std::pair<std::wstring, std::string> cases[] = {
        {L"${MixedCase}|${MIXEDCASE}|${mixedcase}|%MixedCase%", "v|v|${mixedcase}|%MixedCase%"},
        {L"${SELF}", "<${SELF}>"},
        {L"${HOLDS_JVM}", "${launcher:sys.jvmHome}"},
        {L"${UNDEFINED_VARIABLE_X}", "${UNDEFINED_VARIABLE_X}"},
    };
    for (const auto& [text, expected] : cases)
        for (const wchar_t* mode : {L"narrow", L"wide"}) EXPECT_EQ(expand(mode, text, L"", env), expected) << narrow(text);
}

TEST_F(ExpandTest, ALauncherValueHoldingAnEnvironmentReferenceIsExpandedFurther) {
    CreateDirectoryW((dir / L"${MARK}").c_str(), nullptr);
    std::wstring inner = pack(makeBlock({{101, "x"}}), L"${MARK}\\drv.exe", driverPath(L"core_driver"));
    ProcessOptions options;
    options.env[L"MARK"] = L"m";
    auto values = driverResults(run(inner, L"expand wide ${TARVO_EXEDIR}", options));
    EXPECT_EQ(values["result"], narrow(dir.path()) + "\\m\\");
}

// An expansion that would outgrow the buffer is refused and logged, never written past its end.
TEST_F(ExpandTest, OverlongResultsAreRefusedAndLogged) {
    std::wstring big(4000, L'x');
    std::map<std::wstring, std::wstring> env = {{L"BIG", big}, {L"HUGE", std::wstring(30000, L'y')}};
    std::string twice = expand(L"wide", L"${BIG}${BIG}", L"", env);
    EXPECT_EQ(twice, narrow(big) + "${BIG}");
    EXPECT_NE(logText(1).find("ERROR: expansion of a variable refused"), std::string::npos);
    EXPECT_EQ(expand(L"narrow", L"a${HUGE}b", L"", env), "a${HUGE}b");
    EXPECT_EQ(expand(L"wide", L"${HUGE}", L"", env), "${HUGE}");
}

}  // namespace
}  // namespace tarvo::test
