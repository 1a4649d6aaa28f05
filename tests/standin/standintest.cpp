#include "standintest.h"

#include <thread>

namespace standintest {

std::wstring selfDir() {
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/"));
}

static void drain(HANDLE pipe, std::string* into) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) into->append(buffer, got);
}

RunResult run(const std::wstring& commandLine, const RunOptions& options) {
    RunResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite, errRead, errWrite;
    CreatePipe(&inRead, &inWrite, &inherit, 0);
    CreatePipe(&outRead, &outWrite, &inherit, 0);
    CreatePipe(&errRead, &errWrite, &inherit, 0);
    for (HANDLE own : {inWrite, outRead, errRead}) SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inRead;
    si.hStdOutput = outWrite;
    si.hStdError = errWrite;
    PROCESS_INFORMATION pi{};
    std::wstring cmd = commandLine;
    std::vector<wchar_t> env = tarvo::test::environmentBlock(options.env);
    DWORD start = GetTickCount();
    BOOL started = CreateProcessW(options.application.empty() ? nullptr : options.application.c_str(), cmd.data(),
                                  nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, env.data(),
                                  nullptr, &si, &pi);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (!started) {
        CloseHandle(inWrite);
        CloseHandle(outRead);
        CloseHandle(errRead);
        result.exitCode = static_cast<DWORD>(-1);
        result.err = "CreateProcessW failed with error " + std::to_string(GetLastError());
        return result;
    }
    std::thread out(drain, outRead, &result.out);
    std::thread err(drain, errRead, &result.err);
    std::thread in([&] {
        DWORD written = 0;
        if (options.inputDelayMs) Sleep(options.inputDelayMs);
        if (!options.input.empty())
            WriteFile(inWrite, options.input.data(), static_cast<DWORD>(options.input.size()), &written, nullptr);
        CloseHandle(inWrite);
    });
    if (WaitForSingleObject(pi.hProcess, options.timeoutMs) == WAIT_TIMEOUT) {
        result.timedOut = true;
        TerminateProcess(pi.hProcess, 999);
        WaitForSingleObject(pi.hProcess, INFINITE);
    }
    result.elapsedMs = GetTickCount() - start;
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    in.join();
    out.join();
    err.join();
    CloseHandle(outRead);
    CloseHandle(errRead);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return result;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
        pos = end + 1;
    }
    return out;
}

}  // namespace standintest
