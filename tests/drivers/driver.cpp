#include "driver.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>

#include "environment.h"
#include "paths.h"

std::string toUtf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::string toAnsi(const std::wstring& text) {
    char out[textBufferSize];
    toAnsiPath(text.c_str(), out, sizeof out, nullptr);
    return out;
}

void printResult(const char* name, const std::wstring& value) { printResult(name, toUtf8(value)); }
void printResult(const char* name, const std::string& value) {
    std::printf("%s=%s\n", name, value.c_str());
    std::fflush(stdout);
}
void printResult(const char* name, long long value) { printResult(name, std::to_string(value)); }

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    initEnvironment(GetModuleHandleW(nullptr));
    if (argc < 2 || !driverCommands.count(argv[1])) {
        std::fprintf(stderr, "unknown driver command\n");
        return 2;
    }
    DriverArgs args(argv + 2, argv + argc);
    return driverCommands.at(argv[1])(args);
}
