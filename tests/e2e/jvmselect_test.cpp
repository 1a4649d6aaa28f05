// Choosing and loading the JVM end to end: the search sequence with its fixed frame of
// sources, the JVM library of the chosen runtime with PATH extended by its bin
// directory, and the messages a user sees when no JVM loads. Packed jvmsearch drivers
// run the search against stand-in Java homes; the order of trial is read from the log
// and from the versions the stand-in java.exe reported.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jvmsearchfixture.h"

namespace tarvo::test {
namespace {

using javahome::JavaHome;
using javahome::JvmLibrary;

const char installationsKey[] = "SOFTWARE\\korvel-software\\zandorium\\installations";
const char locatedKey[] = "SOFTWARE\\korvel-software\\tarvo\\locatedjvms";

// Lines of `log` that contain `part`, in order.
std::vector<std::string> linesWith(const std::string& log, const std::string& part) {
    std::vector<std::string> lines;
    for (const std::string& line : splitLines(log))
        if (contains(line, part)) lines.push_back(line);
    return lines;
}

// The text after `head` on each line that has it.
std::vector<std::string> valuesAfter(const std::string& log, const std::string& head) {
    std::vector<std::string> values;
    for (const std::string& line : linesWith(log, head)) values.push_back(line.substr(line.find(head) + head.size()));
    return values;
}

// Each of `expected` occurs in `log`, each after the one before.
void expectInOrder(const std::string& log, const std::vector<std::string>& expected) {
    size_t at = 0;
    for (const std::string& part : expected) {
        size_t found = log.find(part, at);
        ASSERT_NE(found, std::string::npos) << "missing after offset " << at << ": " << part << "\n" << log;
        at = found + part.size();
    }
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) text += part + "|";
    return text;
}

// Every message the launcher shows ends with the name of its diagnostic log.
std::string withoutLogNames(const std::string& text) {
    std::string plain = plainText(text);
    for (size_t at; (at = plain.find("\n\nLog: ")) != std::string::npos;) {
        size_t end = plain.find('\n', at + 2);
        plain.erase(at, end == std::string::npos ? std::string::npos : end - at);
    }
    return plain;
}

const std::initializer_list<std::pair<int32_t, std::string>> jvmMessages = {
    {1000, "Launcher error"},
    {1005, "M1005 not started"},
    {1016, "M1016 no JVM {0}"},
    {1018, "M1018 variable {0}"},
    {1020, "M1020 location {0}"},
};

class JvmSelectTest : public JvmSearchTest {
protected:
    ~JvmSelectTest() override {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            HKEY key;
            if (RegOpenKeyExA(root, installationsKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) continue;
            RegDeleteValueA(key, appId().c_str());
            RegCloseKey(key);
        }
    }

    // The drivers sit in dir\app, so "..\jre" is dir\jre.
    std::wstring selector(StringKeys keys, const std::wstring& name = L"app\\drv.exe") {
        javahome::makeDirectories(dir / L"app");
        return packDriver(L"jvmsearch_driver", makeBlock(keys, jvmMessages), name);
    }

    // Every variable the fixed frame reads is set by the test or removed.
    Outcome select(const std::wstring& exe, const std::wstring& command, std::map<std::wstring, std::wstring> env = {},
                   const std::wstring& cwd = {}) {
        ProcessOptions options;
        for (const wchar_t* name : {L"TARVO_JAVA_HOME", L"ZANDORIUM_JAVA_HOME", L"JAVA_HOME", L"JDK_HOME"})
            options.env[name] = L"";
        for (auto& [name, value] : env) options.env[name] = value;
        options.cwd = cwd.empty() ? dir.path() : cwd;
        return call(exe, command, options);
    }

    // A per-test application id, so that parallel tests never share an installations value.
    std::string appId() const { return "tarvo-test-" + narrow(dir.path().substr(dir.path().rfind(L'\\') + 1)); }

    void installations(HKEY root, const std::string& list) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(root, installationsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, appId().c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(list.c_str()),
                       static_cast<DWORD>(list.size() + 1));
        RegCloseKey(key);
    }

    void appFile(const wchar_t* name, const std::string& content) {
        javahome::makeDirectories(dir / L"app\\.zandorium");
        ASSERT_TRUE(writeFile(dir / (std::wstring(L"app\\.zandorium\\") + name), content));
    }
};

// ---- the order of trial ----

TEST_F(JvmSelectTest, TheSampleSequenceTriesEverySourceInTheFixedOrder) {
    RegistryLock lock;  // entry Y must find nothing
    ASSERT_TRUE(lock.held());
    // Every home is older than the minimum, so each is probed and refused in turn; the
    // relaxed pass accepts ..\jre, whose library does not load, and the search goes on.
    auto home = [&](const wchar_t* name, const char* version, JvmLibrary library = JvmLibrary::Working) {
        return JavaHome::jre(version).jvm(L"server", library).build(dir / name);
    };
    home(L"pref", "1.8.0_1");
    home(L"jre", "1.8.0_2", JvmLibrary::NotPE);
    std::wstring javaHome = home(L"javahome", "1.8.0_3");
    std::wstring jdkHome = home(L"jdkhome", "1.8.0_4");
    home(L"inst", "1.8.0_5");
    home(L"user\\jre", "1.8.0_6");
    home(L"machine\\jre", "1.8.0_7");
    std::wstring tarvoHome = home(L"tarvo", "1.8.0_8");
    std::wstring zandoriumHome = home(L"zandorium", "1.8.0_9");
    appFile(L"pref_jre.cfg", "..\\pref\r\n");
    appFile(L"inst_jre.cfg", "..\\inst\n");
    installations(HKEY_CURRENT_USER, narrow(dir / L"user"));
    installations(HKEY_LOCAL_MACHINE, narrow(dir / L"machine"));
    std::wstring exe = selector({{128, "B..\\jre;Y;EJAVA_HOME;EJDK_HOME;"}, {126, "11"}, {10003, "."},
                                 {160, appId()}});

    Outcome o = select(exe, L"search",
                       {{L"JAVA_HOME", javaHome},
                        {L"JDK_HOME", jdkHome},
                        {L"TARVO_JAVA_HOME", tarvoHome},
                        {L"ZANDORIUM_JAVA_HOME", zandoriumHome}});

    EXPECT_EQ(o["loaded"], "0") << describe(o);
    EXPECT_EQ(o["kind"], "2");
    EXPECT_EQ(o["label"], "..\\jre");
    EXPECT_EQ(joined(valuesAfter(o.log, "Java version: ")),
              "1.8.0_1|1.8.0_2|1.8.0_3|1.8.0_4|1.8.0_5|1.8.0_6|1.8.0_7|1.8.0_8|1.8.0_9|");
    EXPECT_EQ(o.probeCount(), 9u);
    std::string jreExe = normalised(dir / L"jre\\bin\\java.exe");
    expectInOrder(o.log, {
                             "Searching for a JVM",
                             "MinVersion: 11, MaxVersion: ",
                             "Has preferred location ..\\pref\n",
                             "Testing location ..\\jre (type B)",
                             "Testing location  (type Y)",
                             "Testing location JAVA_HOME (type E)",
                             "Testing location JDK_HOME (type E)",
                             "Has installer location ..\\inst\n",
                             "Testing relative location ..\\jre",
                             jreExe + " exists",
                             "Trying to load JVM-DLL from " + jreExe,
                             "Failed with error code",
                             "checking app id " + appId() + " (0, ",
                             "java version did not match in " + narrow(dir / L"user") + "\\jre",
                             "checking app id " + appId() + " (256, ",
                             "checking app id " + appId() + " (0, ",
                             "java version did not match in " + narrow(dir / L"machine") + "\\jre",
                             "checking app id " + appId() + " (256, ",
                             "Search sequence finished",
                         });
    EXPECT_FALSE(contains(o.log, "Using preferred location"));
    EXPECT_FALSE(contains(o.log, "Using installer location"));
}

TEST_F(JvmSelectTest, ACandidateWhoseLibraryDoesNotLoadLeavesTheSearchGoingAndNamesTheSource) {
    JavaHome::jre().jvm(L"server", JvmLibrary::NotPE).build(dir / L"broken");
    std::wstring good = JavaHome::jre("1.8.0_77").build(dir / L"good");
    struct Case {
        const char* sequence;
        const char* loaded;
        const char* kind;
        const char* label;
        std::wstring javaExe;
    };
    for (const Case& c : {
             Case{"B..\\broken;B..\\good", "1", "2", "..\\good", good + L"\\bin\\java.exe"},
             Case{"B..\\broken", "0", "2", "..\\broken", dir / L"broken\\bin\\java.exe"},
             Case{"EBROKEN;EGOOD", "1", "3", "GOOD", good + L"\\bin\\java.exe"},
             Case{"EBROKEN;Xignored", "0", "3", "BROKEN", dir / L"broken\\bin\\java.exe"},
         }) {
        SCOPED_TRACE(c.sequence);
        std::wstring exe = selector({{128, c.sequence}});
        Outcome o = select(exe, L"search", {{L"BROKEN", dir / L"broken"}, {L"GOOD", good}});
        EXPECT_EQ(o["loaded"], c.loaded) << describe(o);
        EXPECT_EQ(o["kind"], c.kind);
        EXPECT_EQ(o["label"], c.label);
        EXPECT_EQ(o["javaExe"], normalised(c.javaExe));
        EXPECT_TRUE(contains(o.log, "Failed with error code")) << o.log;
    }
}

TEST_F(JvmSelectTest, TheRelaxedPassTakesBEntriesAndRelativeAAndREntriesAsSoonAsJavaExists) {
    JavaHome::jre("1.6.0_45").build(dir / L"old");
    std::string absent = narrow(dir / L"absent");
    std::wstring exe = selector({{128, "A" + absent + ";Aabsent-a;B" + absent + ";R\\absent-r;R" + absent +
                                           ";Eabsent;S;Y;babsent;B..\\old;Bnever"},
                                 {126, "1.8"}});
    RegistryLock lock;
    Outcome o = select(exe, L"search");

    // Absolute is a colon second or two leading backslashes; "\absent-r" is relative.
    EXPECT_EQ(joined(valuesAfter(o.log, "Testing relative location ")),
              "absent-a|" + absent + "|\\absent-r|..\\old|") << o.log;
    EXPECT_EQ(o["loaded"], "1") << describe(o);
    EXPECT_EQ(o["kind"], "2");
    EXPECT_EQ(o["label"], "..\\old");
    EXPECT_EQ(o["javaExe"], normalised(dir / L"old\\bin\\java.exe"));
    // Out of range for the first pass; accepted unprobed, so no version is claimed for it.
    EXPECT_EQ(o["version"], "");
    EXPECT_TRUE(contains(o.log, "Testing location absent (type b)")) << o.log;
}

// ---- the fixed frame ----

TEST_F(JvmSelectTest, PreferredAndInstallerFilesAreReadFromTheApplicationDirectory) {
    JavaHome::jre("1.8.0_1").build(dir / L"pref");
    JavaHome::jre("1.8.0_2").build(dir / L"inst");
    JavaHome::jre("1.7.0_80").build(dir / L"old");
    struct Case {
        const char* name;
        std::string pref;  // "<none>": no file
        std::string inst;
        const char* label;
        const char* version;
    };
    std::string longLine = "..\\pref" + std::string(6000, ' ');
    for (const Case& c : {
             Case{"preferred", "..\\pref\r\r\n..\\inst\n", "..\\inst", "..\\pref", "1.8.0_1"},
             Case{"preferred out of range", "..\\old", "..\\inst", "..\\inst", "1.8.0_2"},
             Case{"installer", "<none>", "..\\inst", "..\\inst", "1.8.0_2"},
             Case{"line without end", "..\\pref", "<none>", "..\\pref", "1.8.0_1"},
             // A first line that does not fit is refused whole rather than cut.
             Case{"line too long", longLine, "..\\inst", "..\\inst", "1.8.0_2"},
             Case{"empty file", "", "..\\inst", "..\\inst", "1.8.0_2"},
         }) {
        SCOPED_TRACE(c.name);
        removeTree(dir / L"app\\.zandorium");
        if (c.pref != "<none>") appFile(L"pref_jre.cfg", c.pref);
        if (c.inst != "<none>") appFile(L"inst_jre.cfg", c.inst);
        std::wstring exe = selector({{128, "B..\\missing"}, {126, "1.8"}, {10003, "."}});
        Outcome o = select(exe, L"search");
        EXPECT_EQ(o["loaded"], "1") << describe(o);
        EXPECT_EQ(o["kind"], "2");
        EXPECT_EQ(o["label"], c.label);
        EXPECT_EQ(o["version"], c.version);
        if (c.pref == longLine) {
            EXPECT_TRUE(contains(o.log, "pref_jre.cfg longer than")) << o.log;
        }
    }
}

TEST_F(JvmSelectTest, EnvironmentEntriesAreExpandedAndTakeForwardSlashes) {
    std::wstring good = JavaHome::jre("1.8.0_77").build(dir / L"good");
    std::wstring slashed = good;
    for (wchar_t& c : slashed)
        if (c == L'\\') c = L'/';
    std::wstring tooLong = good + L"\\" + std::wstring(6000, L'x');
    struct Case {
        const char* name;
        const char* sequence;
        std::map<std::wstring, std::wstring> env;
        const char* loaded;
        const char* label;
    };
    for (const Case& c : {
             Case{"forward slashes", "EMYJAVA", {{L"MYJAVA", slashed}}, "1", "MYJAVA"},
             Case{"expanded name", "E${WHICH}", {{L"WHICH", L"MYJAVA"}, {L"MYJAVA", good}}, "1", "MYJAVA"},
             Case{"lower-case letter", "eMYJAVA", {{L"MYJAVA", good}}, "0", ""},
             Case{"empty variable", "EMYJAVA;EOTHER", {{L"MYJAVA", L""}, {L"OTHER", good}}, "1", "OTHER"},
             Case{"fixed variable", "", {{L"ZANDORIUM_JAVA_HOME", good}}, "1", "ZANDORIUM_JAVA_HOME"},
             // A value that does not fit is refused, never cut into another directory.
             Case{"value too long", "EMYJAVA", {{L"MYJAVA", tooLong}}, "0", ""},
         }) {
        SCOPED_TRACE(c.name);
        std::wstring exe = selector({{128, c.sequence}});
        Outcome o = select(exe, L"search", c.env);
        EXPECT_EQ(o["loaded"], c.loaded) << describe(o);
        EXPECT_EQ(o["label"], c.label);
        if (std::string(c.loaded) == "1") {
            EXPECT_EQ(o["javaExe"], normalised(good + L"\\bin\\java.exe"));
        }
        if (std::string(c.name) == "value too long") {
            EXPECT_TRUE(contains(o.log, "value of MYJAVA longer than")) << o.log;
        }
    }
}

TEST_F(JvmSelectTest, PreviousInstallationsAreSearchedEntryByEntry) {
    JavaHome::jre("1.7.0_80").build(dir / L"first\\jre");
    javahome::makeDirectories(dir / L"second");
    std::wstring third = JavaHome::jre("1.8.0_77").build(dir / L"third\\jre");
    installations(HKEY_CURRENT_USER, narrow(dir / L"first") + ";;" + narrow(dir / L"second") + ";" +
                                         narrow(dir / L"third"));
    std::wstring exe = selector({{126, "1.8"}, {160, appId()}});
    Outcome o = select(exe, L"search");
    EXPECT_EQ(o["loaded"], "1") << describe(o);
    EXPECT_EQ(o["kind"], "4");
    EXPECT_EQ(o["label"], "");
    EXPECT_EQ(o["javaExe"], normalised(third + L"\\bin\\java.exe"));
    expectInOrder(o.log, {"found installations: ", "java version did not match in " + narrow(dir / L"first\\jre"),
                          "java version did not match in " + narrow(dir / L"second\\jre"),
                          "found JRE from previous installation (user) " + normalised(third + L"\\bin\\java.exe")});

    // Without an application id the four checks only log themselves.
    Outcome none = select(selector({{126, "1.8"}}, L"app\\noid.exe"), L"search");
    EXPECT_EQ(none["loaded"], "0");
    EXPECT_EQ(linesWith(none.log, "checking app id  (").size(), 4u) << none.log;
    EXPECT_FALSE(contains(none.log, "could not open installation node"));
}

// ---- loading the library ----

TEST_F(JvmSelectTest, JvmSubdirectoriesAreTriedPreferredFirstThenInTheFixedOrder) {
    struct Case {
        const char* name;
        JavaHome home;
        const char* preferred;
        std::vector<std::string> tried;  // "<subdir> <exists>"
    };
    for (const Case& c : {
             Case{"default", JavaHome::jre().jvm(L"client").jvm(L"server"), "", {"hotspot 0", "client 1"}},
             Case{"key 152", JavaHome::jre().jvm(L"client").jvm(L"server"), "server", {"server 1"}},
             Case{"key 152 missing", JavaHome::jre().jvm(L"classic"), "custom",
                  {"custom 0", "hotspot 0", "client 0", "server 0", "classic 1"}},
             Case{"key 152 broken", JavaHome::jre().jvm(L"server", JvmLibrary::NotPE).jvm(L"jrockit"), "server",
                  {"server 1", "hotspot 0", "client 0", "server 1", "classic 0", "jrockit 1"}},
             Case{"modern jdk", JavaHome::modernJdk(), "", {"hotspot 0", "client 0", "server 1"}},
         }) {
        SCOPED_TRACE(c.name);
        std::wstring home = c.home.build(dir / (L"home-" + widen(c.name)));
        std::wstring exe = selector({{128, "B" + narrow(home)}, {152, c.preferred}});
        Outcome o = select(exe, L"search");
        EXPECT_EQ(o["loaded"], "1") << describe(o);
        std::string bin = normalised(home + L"\\bin") + "\\";
        std::vector<std::string> tried;
        for (const std::string& line : valuesAfter(o.log, "Trying " + bin)) {
            size_t dll = line.find("\\jvm.dll (exists ");
            tried.push_back(line.substr(0, dll) + " " + line.substr(dll + 17, 1));
        }
        EXPECT_EQ(joined(tried), joined(c.tried)) << o.log;
    }
}

TEST_F(JvmSelectTest, AJdkWithoutALibraryInItsBinLoadsTheOneInItsJre) {
    std::wstring jdk = JavaHome::jdk("1.8.0_202").build(dir / L"jdk");
    std::string oldPath = "C:\\windows\\system32;C:\\windows;" + narrow(jdk) + "\\bin";
    std::wstring exe = selector({{128, "SPATH"}});
    Outcome o = select(exe, L"search", {{L"PATH", widen(oldPath)}});
    EXPECT_EQ(o["loaded"], "1") << describe(o);
    EXPECT_EQ(o["kind"], "1");
    EXPECT_EQ(o["label"], "PATH");
    std::string bin = normalised(jdk + L"\\bin");
    expectInOrder(o.log, {"Setting PATH " + oldPath + ";" + bin + "\n", "Setting PATH " + oldPath + "\n",
                          "Setting PATH " + oldPath + ";" + bin + "\\..\\jre\\bin\n",
                          "Trying " + bin + "\\..\\jre\\bin\\server\\jvm.dll (exists 1)"});
    EXPECT_EQ(o["path"], oldPath + ";" + bin + "\\..\\jre\\bin");
    EXPECT_EQ(o["runtimePath"], o["path"]);
}

TEST_F(JvmSelectTest, PathKeepsTheLoadedBinDirectoryOrIsRestoredWhole) {
    std::wstring good = JavaHome::jre().build(dir / L"good");
    std::wstring broken = JavaHome::jre().jvm(L"server", JvmLibrary::NotPE).build(dir / L"broken");
    std::string shortPath = "C:\\windows\\system32;C:\\windows";
    std::string longPath = shortPath;
    while (longPath.size() < 13000) longPath += ";C:\\tarvo\\a-long-path-entry-" + std::to_string(longPath.size());
    struct Case {
        const char* name;
        std::wstring home;
        std::string path;  // "<none>": no PATH at all
        std::string expected;
    };
    std::string goodBin = normalised(good + L"\\bin");
    for (const Case& c : {
             Case{"loaded", good, shortPath, shortPath + ";" + goodBin},
             Case{"not loaded", broken, shortPath, shortPath},
             Case{"long, loaded", good, longPath, longPath + ";" + goodBin},
             Case{"long, not loaded", broken, longPath, longPath},
             Case{"none, loaded", good, "<none>", goodBin},
             Case{"none, not loaded", broken, "<none>", "<none>"},
         }) {
        SCOPED_TRACE(c.name);
        std::wstring exe = selector({{128, "B" + narrow(c.home)}});
        Outcome o = select(exe, L"search", {{L"PATH", c.path == "<none>" ? L"" : widen(c.path)}});
        EXPECT_EQ(o["path"], c.expected) << describe(o).substr(0, 3000);
        EXPECT_EQ(o["runtimePath"], c.expected);
    }
}

// ---- what LoadDLL keeps and shows ----

TEST_F(JvmSelectTest, LoadDllRecordsTheSelectedJvmAndResolvesCreateJavaVM) {
    std::wstring good = JavaHome::jre("1.8.0_77").build(dir / L"good");
    std::wstring exe = selector({{128, "B" + narrow(good)}});
    Outcome o = select(exe, L"loaddll");
    EXPECT_EQ(o["result"], "1") << describe(o);
    EXPECT_EQ(o["createJavaVM"], "1");
    EXPECT_EQ(o["home"], normalised(good + L"\\bin") + "\\..");
    EXPECT_EQ(o["version"], "1.8.0_77");
    EXPECT_TRUE(contains(o.log, "LoadDLL (1, (null), 0)")) << o.log;
    EXPECT_TRUE(contains(o.log, "Loading of JVM-DLL successful"));
    EXPECT_EQ(o.process.err, "");
}

TEST_F(JvmSelectTest, WithoutAUsableJvmTheMessageFitsTheLastSource) {
    std::wstring broken = JavaHome::jre().jvm(L"server", JvmLibrary::NotPE).build(dir / L"broken");
    std::wstring noCreate = JavaHome::jre().jvm(L"server", JvmLibrary::NoCreateJavaVM).build(dir / L"nocreate");
    std::string brokenExe = narrow(broken + L"\\bin\\java.exe");
    struct Case {
        const char* name;
        std::string sequence;
        std::map<std::wstring, std::wstring> env;
        bool registry;
        std::vector<std::string> messages;
        std::vector<std::string> errors;  // logged error lines
    };
    for (const Case& c : {
             Case{"nothing", "Bmissing", {}, false, {"M1016 no JVM 64"}, {"No JVM found"}},
             Case{"path", "SPATH", {{L"PATH", broken + L"\\bin"}}, false, {"M1016 no JVM 64", "M1005 not started"},
                  {"Could not get DLL-Handle.", "Could not load functions"}},
             Case{"location", "B" + narrow(broken), {}, false,
                  {"M1020 location " + narrow(broken), "M1005 not started"},
                  {"Could not get DLL-Handle.", "Could not load functions"}},
             Case{"variable", "", {{L"TARVO_JAVA_HOME", broken}}, false,
                  {"M1018 variable TARVO_JAVA_HOME", "M1005 not started"},
                  {"Could not get DLL-Handle.", "Could not load functions"}},
             Case{"registry", "Y", {}, true, {"M1005 not started"},
                  {"Could not get DLL-Handle.", "Could not load functions"}},
             // The library loads but has no JNI_CreateJavaVM.
             Case{"no JNI_CreateJavaVM", "B" + narrow(noCreate), {}, false,
                  {"M1020 location " + narrow(noCreate), "M1005 not started"}, {"Could not load functions"}},
         }) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<RegistryLock> lock;
        if (c.registry) {
            lock = std::make_unique<RegistryLock>();
            std::string name = normalised(broken + L"\\bin\\java.exe");
            std::replace(name.begin(), name.end(), '\\', '/');
            HKEY key;
            ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(locatedKey) + "\\" + name).c_str(), 0, nullptr,
                                      0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(key);
        }
        std::wstring exe = selector({{128, c.sequence}});
        Outcome o = select(exe, L"loaddll", c.env);
        if (c.registry) RegDeleteTreeA(HKEY_CURRENT_USER, locatedKey);
        EXPECT_EQ(o["result"], "0") << describe(o);
        std::string shown;
        for (const std::string& message : c.messages) shown += message + "\n";
        EXPECT_EQ(withoutLogNames(o.process.err), shown);
        std::vector<std::string> errors;
        for (const char* line : {"No JVM found", "Could not get DLL-Handle.", "Could not load functions"})
            if (contains(o.log, line)) errors.push_back(line);
        EXPECT_EQ(joined(errors), joined(c.errors)) << o.log;
    }
}

TEST_F(JvmSelectTest, AGraphicalLauncherShowsTheMessagesInBoxes) {
    std::wstring broken = JavaHome::jre().jvm(L"server", JvmLibrary::NotPE).build(dir / L"broken");
    std::wstring exe = selector({{128, "B..\\broken"}, {107, "5"}});
    ProcessOptions options;
    options.answerDialogs = true;
    ProcessResult r = run(exe, L"loaddll", options);
    ASSERT_EQ(r.dialogs.size(), 2u) << r.out << r.err;
    EXPECT_EQ(narrow(r.dialogs[0].title), "Launcher error");
    EXPECT_EQ(withoutLogNames(narrow(r.dialogs[0].text)), "M1020 location ..\\broken");
    EXPECT_EQ(withoutLogNames(narrow(r.dialogs[1].text)), "M1005 not started");
    EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace tarvo::test
