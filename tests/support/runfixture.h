// Running the Java application end to end: the real launcher, packed with a search
// sequence that names a stand-in Java runtime, started with a run word or the restart
// marker, and the stand-in's trace read back as the witness of what reached Java.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "javahome.h"
#include "jvmtrace.h"
#include "launcherfixture.h"

namespace tarvo::test {

// What one run showed and what the stand-in JVM recorded.
struct RunOutcome {
    ProcessResult process;
    jvmtrace::Trace trace;
    std::string log;

    std::string describe() const {
        return "exit " + std::to_string(process.exitCode) + "\n--- out ---\n" + process.out + "--- err ---\n" +
               process.err + "--- log ---\n" + log;
    }
};

class RunTest : public LauncherTest {
protected:
    // The runtime every launcher of the test finds through key 128, unless the keys
    // name another sequence.
    std::wstring javaHome() {
        if (home.empty()) home = javahome::JavaHome::jre("1.8.0_202").build(dir / L"jre");
        return home;
    }

    pack::Block runBlock(const std::vector<std::pair<int32_t, std::string>>& keys,
                         const std::vector<std::pair<int32_t, std::string>>& messages = {}) {
        pack::Block block;
        block.strings.push_back({128, "B" + narrow(javaHome())});
        for (const auto& key : keys) block.strings.push_back(key);  // a later record wins
        for (const auto& [key, text] : messages) block.messages.push_back({key, pack::utf8ToUtf16(text)});
        return block;
    }

    std::wstring launcher(const std::vector<std::pair<int32_t, std::string>>& keys,
                          const std::wstring& name = L"app.exe",
                          const std::vector<std::pair<int32_t, std::string>>& messages = {}) {
        return pack(runBlock(keys, messages), name);
    }

    RunOutcome start(const std::wstring& exe, const std::wstring& arguments, ProcessOptions options = {}) {
        std::wstring trace = dir / (L"trace-" + std::to_wstring(++runs) + L".txt");
        options.env[L"STANDIN_TRACE"] = trace;
        RunOutcome o;
        o.process = run(exe, arguments, options);
        o.trace = jvmtrace::readTrace(trace);
        o.log = logText(runs);
        return o;
    }

    std::wstring home;
    int runs = 0;
};

}  // namespace tarvo::test
