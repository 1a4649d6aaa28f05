#include "cmdline.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct SplitCase {
    const wchar_t* line;
    ArgumentVector words;
};

TEST(SplitCommandLine, SplitsAtBlanksAndQuotes) {
    const SplitCase cases[] = {
        {L"a \"b c\" d", {L"a", L"b c", L"d"}},
        {L"x\"y z\"w", {L"xy z", L"w"}},
        {L"'it''s'", {L"it", L"s"}},
        {L"\"abc", {L"abc"}},
        {L"a   b", {L"a", L"b"}},
        {L"  lead", {L"lead"}},
        {L"trail ", {L"trail"}},
        {L"\"\" x", {L"", L"x"}},
        {L"\"it's\" 'say \"hi\"'", {L"it's", L"say \"hi\""}},
        {L"C:\\dir\\a.exe \\\"x", {L"C:\\dir\\a.exe", L"\\x"}},
        {L"a\tb c", {L"a\tb", L"c"}},
        {L"", {}},
    };
    for (const auto& c : cases) {
        ArgumentVector words;
        splitCommandLine(c.line, words);
        EXPECT_EQ(words, c.words) << "line: " << testing::PrintToString(std::wstring(c.line));
    }
}

TEST(SplitCommandLine, AppendsToExistingWords) {
    ArgumentVector words{L"first"};
    splitCommandLine(L"second", words);
    EXPECT_EQ(words, (ArgumentVector{L"first", L"second"}));
}

TEST(CommandLineTail, DropsProgramNameAndBlanks) {
    const std::pair<const char*, const char*> cases[] = {
        {"app.exe /install Alpha", "/install Alpha"},
        {"\"C:\\My Apps\\app.exe\"   /status", "/status"},
        {"\"C:\\My Apps\\app.exe\"/run", "/run"},
        {"app.exe", ""},
        {"app.exe\t \t-help", "-help"},
        {"\"unclosed quote", ""},
    };
    for (const auto& [line, tail] : cases) EXPECT_STREQ(commandLineTail(line), tail) << line;
}

}  // namespace

namespace {

struct CommandCase {
    const char* text;
    const char* word;
    const char* serviceName;  // nullptr: left as it was
    bool interactive;
};

TEST(ParseCommandWords, SeparatesWordServiceNameAndNonInteractive) {
    const CommandCase cases[] = {
        {"install non-interactive Alpha", "install", "Alpha", false},
        {"install Alpha non-interactive", "install", "Alpha non-interactive", true},
        {"install  Alpha", "install", " Alpha", true},
        {"install non-interactive", "install", nullptr, false},
        {"status", "status", nullptr, true},
        {"status ", "status", nullptr, true},
        {"run Alpha", "run", "Alpha", true},
        {"install non-interactive non-interactive Beta", "install", "Beta", false},
        {"install non-interactiveX Beta", "install", " Beta", false},
        {"stop My Service", "stop", "My Service", true},
    };
    for (const auto& c : cases) {
        char command[100];
        strcpy(command, c.text);
        char name[100] = "configured";
        bool interactive = true;
        parseCommandWords(command, name, sizeof name, interactive);
        EXPECT_STREQ(command, c.word) << c.text;
        EXPECT_STREQ(name, c.serviceName ? c.serviceName : "configured") << c.text;
        EXPECT_EQ(interactive, c.interactive) << c.text;
    }
}

TEST(ParseCommandWords, CutsAServiceNameThatDoesNotFit) {
    char command[] = "install ABCDEFGHIJ";
    char name[6] = "";
    bool interactive = true;
    parseCommandWords(command, name, sizeof name, interactive);
    EXPECT_STREQ(command, "install");
    EXPECT_STREQ(name, "ABCDE");
}

}  // namespace
