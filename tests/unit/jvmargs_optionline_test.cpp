// Option lines and words: prefixes, class path overrides, the "-include-options" word,
// the 8-bit conversion, and how the class path option takes the overrides.
#include <gtest/gtest.h>

#include <windows.h>

#include "../support/optionlist.h"
#include "classpath.h"
#include "environment.h"
#include "jvmoptions.h"
#include "vmoptions.h"

namespace {

using tarvo::test::expectOptions;
using tarvo::test::OptionList;

struct Applied {
    JvmOptionList options;
    ClassPathOverrides overrides;
};

Applied applyLines(std::initializer_list<const wchar_t*> lines) {
    Applied applied;
    for (const wchar_t* line : lines) applyOptionLine(line, nullptr, applied.options, applied.overrides);
    return applied;
}

std::string show(const std::optional<std::string>& value) { return value ? "<" + *value + ">" : "absent"; }

struct LineCase {
    std::initializer_list<const wchar_t*> lines;
    OptionList options;
    const char* replace;  // nullptr: absent
    const char* prepend;
    const char* append;
};

TEST(OptionLine, PrefixesDecideWhereALineGoes) {
    const LineCase cases[] = {
        {{L"-Xmx512m"}, {"-Xmx512m"}, nullptr, nullptr, nullptr},
        {{L"-classpath a.jar"}, {}, "a.jar", nullptr, nullptr},
        {{L"-classpath/p p.jar"}, {}, nullptr, "p.jar", nullptr},
        {{L"-classpath/a a.jar", L"-classpath/a b.jar"}, {}, nullptr, nullptr, "b.jar"},
        // The rest after the prefix is kept as it is, further blanks included.
        {{L"-classpath  spaced.jar "}, {}, " spaced.jar ", nullptr, nullptr},
        // Prefixes are case-sensitive and include their blank.
        {{L"-classpath", L"-CLASSPATH x.jar", L"-classpath/x y.jar", L"-classpath/a"},
         {"-classpath", "-CLASSPATH x.jar", "-classpath/x y.jar", "-classpath/a"},
         nullptr,
         nullptr,
         nullptr},
        {{L"-include-options"}, {"-include-options"}, nullptr, nullptr, nullptr},
        {{L"-Dx=1 # note", L"\t-Dtab", L"-Dref=${launcher:sys.jvmHome}"},
         {"-Dx=1 # note", "\t-Dtab", "-Dref=${launcher:sys.jvmHome}"},
         nullptr,
         nullptr,
         nullptr},
        // A line is not expanded here: the override keeps its reference.
        {{L"-classpath/a ${NOT_EXPANDED}"}, {}, nullptr, nullptr, "${NOT_EXPANDED}"},
        {{L"-classpath a.jar", L"-Da", L"-classpath/p p.jar", L"-classpath b.jar", L"-Db"},
         {"-Da", "-Db"},
         "b.jar",
         "p.jar",
         nullptr},
        {{L""}, {""}, nullptr, nullptr, nullptr},
    };
    for (const LineCase& c : cases) {
        Applied applied = applyLines(c.lines);
        SCOPED_TRACE(testing::Message() << "first line <" << tarvo::test::showOption(toAnsiString(*c.lines.begin()))
                                        << ">");
        expectOptions(applied.options, c.options);
        EXPECT_EQ(show(applied.overrides.replace), c.replace ? show(std::string(c.replace)) : "absent");
        EXPECT_EQ(show(applied.overrides.prepend), c.prepend ? show(std::string(c.prepend)) : "absent");
        EXPECT_EQ(show(applied.overrides.append), c.append ? show(std::string(c.append)) : "absent");
    }
}

TEST(OptionLine, IncludeOfAMissingFileAddsNothing) {
    Applied applied = applyLines({L"-Dbefore", L"-include-options no-such-dir\\missing.vmoptions", L"-Dafter"});
    expectOptions(applied.options, {"-Dbefore", "-Dafter"});
    EXPECT_FALSE(applied.overrides.replace || applied.overrides.prepend || applied.overrides.append);
}

TEST(OptionWords, IncludeOptionsTakesTheNextWord) {
    const std::pair<ArgumentVector, OptionList> cases[] = {
        {{L"-Xss1m", L"-classpath", L"x.jar"}, {"-Xss1m", "-classpath", "x.jar"}},
        // Last word: nothing to join, so it stays an option of its own.
        {{L"-Da", L"-include-options"}, {"-Da", "-include-options"}},
        {{L"-include-options", L"missing-file.vmoptions", L"-Db"}, {"-Db"}},
        {{L"-include-options", L"-include-options", L"-Dc"}, {"-Dc"}},
        {{L"-Include-options", L"x"}, {"-Include-options", "x"}},
        {{}, {}},
    };
    for (const auto& [words, expected] : cases) {
        JvmOptionList options;
        ClassPathOverrides overrides;
        applyOptionWords(words, options, overrides);
        expectOptions(options, expected);
    }
    JvmOptionList options;
    ClassPathOverrides overrides;
    applyOptionWords({L"-classpath c.jar", L"-classpath/a a.jar", L"-Dz"}, options, overrides);
    expectOptions(options, {"-Dz"});
    EXPECT_EQ(show(overrides.replace), "<c.jar>");
    EXPECT_EQ(show(overrides.append), "<a.jar>");
}

TEST(ToAnsiString, ConvertsInTheFileApiCodePage) {
    EXPECT_EQ(toAnsiString(L""), "");
    EXPECT_EQ(toAnsiString(L"-Dplain=ascii text"), "-Dplain=ascii text");
    if (GetACP() != 1252 || !AreFileApisANSI()) GTEST_SKIP() << "expectations for code page 1252";
    EXPECT_EQ(toAnsiString(L"-Dname=\u00e9\u00fc"), "-Dname=\xE9\xFC");
    // No mapping: the system's default character stands in.
    EXPECT_EQ(toAnsiString(L"a\u4e2db"), "a?b");
}

// Without a configuration block, a work directory or the installer flavor, the class
// path option consists of the overrides alone.
TEST(ClassPathOption, OverridesInTheirFixedOrder) {
    flavor = 't';
    struct Case {
        const char* prepend;
        const char* replace;
        const char* append;
        const char* expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, "-Djava.class.path="},
        // The empty class path still gains a separator before the appended part.
        {nullptr, nullptr, "x.jar", "-Djava.class.path=;x.jar"},
        {"p.jar", nullptr, nullptr, "-Djava.class.path=p.jar"},
        {nullptr, "r.jar", nullptr, "-Djava.class.path=r.jar"},
        {"p.jar", "r.jar", "a.jar", "-Djava.class.path=p.jar;r.jar;a.jar"},
        {nullptr, "r.jar;", "a.jar", "-Djava.class.path=r.jar;a.jar"},
        {nullptr, nullptr, "a.jar;", "-Djava.class.path=;a.jar"},
        {"p1.jar;p2.jar", nullptr, "a.jar", "-Djava.class.path=p1.jar;p2.jar;a.jar"},
        {nullptr, "", nullptr, "-Djava.class.path="},
        {nullptr, nullptr, "", "-Djava.class.path="},
    };
    for (const Case& c : cases) {
        ClassPathOverrides overrides;
        if (c.prepend) overrides.prepend = c.prepend;
        if (c.replace) overrides.replace = c.replace;
        if (c.append) overrides.append = c.append;
        EXPECT_EQ(buildClassPath(overrides), c.expected);
    }
}

// No key 125 and no known locale in this process: only the last locale argument counts.
TEST(ConfiguredOptions, LastLocaleArgumentWithoutConfiguration) {
    const std::pair<ArgumentVector, OptionList> cases[] = {
        {{L"-J-Xmx1g", L"svc"}, {}},
        {{L"-Dsun.locale.formatasdefault=true"}, {"-Dsun.locale.formatasdefault=true"}},
        {{L"-Dsun.locale.formatasdefault=false", L"x", L"-Dsun.locale.formatasdefault=true"},
         {"-Dsun.locale.formatasdefault=true"}},
        {{L"-Dsun.locale.formatasdefault=true", L"-Dsun.locale.formatasdefault="}, {"-Dsun.locale.formatasdefault="}},
        {{L"-dsun.locale.formatasdefault=true"}, {}},
        {{}, {}},
    };
    for (const auto& [arguments, expected] : cases) {
        JvmOptionList options;
        ClassPathOverrides overrides;
        addConfiguredOptions(arguments, options, overrides);
        expectOptions(options, expected);
    }
}

}  // namespace
