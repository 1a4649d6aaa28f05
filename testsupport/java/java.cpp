// java.exe and javaw.exe of the stand-in runtime. They answer " -version" the way the
// configuration file beside them says, and note every run in the probe log.
//
// standin.cfg keys: version.line, version.before (repeatable), version.after
// (repeatable), version.exitCode, version.delayMs.
#include <windows.h>
#include <shellapi.h>

#include "standin.h"

#ifdef STANDIN_JAVAW
static const char* const kProgram = "javaw.exe";
#else
static const char* const kProgram = "java.exe";
#endif

using namespace standin;

static std::vector<std::wstring> commandArguments() {
    int n = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &n);
    std::vector<std::wstring> out;
    for (int i = 1; i < n; ++i) out.emplace_back(argv[i]);
    LocalFree(argv);
    return out;
}

int main() {
    std::wstring self = modulePath(nullptr);
    Config config = Config::read(directoryOf(self) + L"\\" + kBinConfigName);
    std::vector<std::wstring> args = commandArguments();
    std::string joined;
    for (const auto& a : args) joined += (joined.empty() ? "" : " ") + toUtf8(a);
    appendRecord(kProbeLogVar, "run",
                 {{"program", kProgram}, {"path", toUtf8(self)}, {"cmdline", toUtf8(GetCommandLineW())}, {"args", joined}});

    if (args.size() != 1 || args[0] != L"-version") {
        writeStd(STD_ERROR_HANDLE, "Unrecognized option: " + joined + "\r\nError: Could not create the Java Virtual Machine.\r\n");
        return 1;
    }
    std::string text;
    for (const std::string& line : config.all("version.before")) text += line + "\r\n";
    text += config.get("version.line", "openjdk version \"17.0.2\" 2022-01-18") + "\r\n";
    for (const std::string& line : config.all("version.after")) text += line + "\r\n";
    writeStd(STD_ERROR_HANDLE, text);

    int delay = config.getInt("version.delayMs", 0);
    if (delay > 0) Sleep(static_cast<DWORD>(delay));
    return config.getInt("version.exitCode", 0);
}
