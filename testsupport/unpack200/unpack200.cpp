// unpack200.exe of the stand-in runtime: "-r pack jar" writes the jar from the pack
// file and removes the pack file. Every run is noted in the probe log.
//
// standin.cfg key unpack200.mode: ok (default), fail (exit 1, nothing touched),
// nojar (exit 0, the pack file removed, no jar written).
#include <windows.h>
#include <shellapi.h>

#include "standin.h"

using namespace standin;

// The launcher passes the program as application name and a command line that does
// not begin with it, so the first word is only skipped when it is not an option.
static std::vector<std::wstring> commandWords() {
    int n = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &n);
    std::vector<std::wstring> out;
    for (int i = 0; i < n; ++i) out.emplace_back(argv[i]);
    LocalFree(argv);
    if (!out.empty() && !out[0].empty() && out[0][0] != L'-') out.erase(out.begin());
    return out;
}

static bool copyPackToJar(const std::wstring& pack, const std::wstring& jar) {
    return CopyFileW(pack.c_str(), jar.c_str(), FALSE) != 0;
}

int main() {
    std::wstring self = modulePath(nullptr);
    Config config = Config::read(directoryOf(self) + L"\\" + kBinConfigName);
    std::string mode = config.get("unpack200.mode", "ok");

    std::vector<std::wstring> words = commandWords();
    bool remove = false;
    std::vector<std::wstring> files;
    for (const auto& w : words) {
        if (w == L"-r" || w == L"--remove-pack-file") remove = true;
        else files.push_back(w);
    }
    std::string result;
    int code = 0;
    if (files.size() != 2) {
        writeStd(STD_ERROR_HANDLE, "Usage: unpack200 [-r] packfile jarfile\r\n");
        result = "usage";
        code = 2;
    } else if (mode == "fail") {
        writeStd(STD_ERROR_HANDLE, "Error: corrupted pack file (configured to fail)\r\n");
        result = "fail";
        code = 1;
    } else if (mode == "nojar") {
        if (remove) DeleteFileW(files[0].c_str());
        result = "nojar";
    } else if (!copyPackToJar(files[0], files[1])) {
        writeStd(STD_ERROR_HANDLE, "Error: cannot read the pack file or write the jar file\r\n");
        result = "error " + std::to_string(GetLastError());
        code = 1;
    } else {
        if (remove) DeleteFileW(files[0].c_str());
        result = "ok";
    }
    appendRecord(kProbeLogVar, "run",
                 {{"program", "unpack200.exe"},
                  {"path", toUtf8(self)},
                  {"cmdline", toUtf8(GetCommandLineW())},
                  {"pack", files.size() > 0 ? toUtf8(files[0]) : ""},
                  {"jar", files.size() > 1 ? toUtf8(files[1]) : ""},
                  {"remove", remove ? "true" : "false"},
                  {"result", result}});
    return code;
}
