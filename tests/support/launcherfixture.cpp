#include "launcherfixture.h"

namespace tarvo::test {

pack::Block makeBlock(StringKeys strings, std::initializer_list<std::pair<int32_t, std::string>> messages) {
    pack::Block block;
    for (const auto& s : strings) block.strings.push_back(s);
    for (const auto& [key, text] : messages) block.messages.push_back({key, pack::utf8ToUtf16(text)});
    return block;
}

std::wstring driverPath(const std::wstring& name) { return distDir() + L"\\testdrivers\\" + name + L".exe"; }

std::string packLauncherTo(const std::wstring& path, const pack::Block& block, const std::wstring& source) {
    std::wstring from = source.empty() ? launcherPath() : source;
    std::string launcher = readFile(from);
    if (launcher.empty()) return "cannot read " + narrow(from);
    std::vector<uint8_t> image(launcher.begin(), launcher.end()), out;
    std::string error;
    if (!pack::packLauncher(image, block, out, error)) return error;
    if (!writeFile(path, std::string(out.begin(), out.end()))) return "cannot write " + narrow(path);
    return {};
}

std::string plainText(std::string text) {
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

std::map<std::string, std::string> driverResults(const ProcessResult& result) {
    std::map<std::string, std::string> values;
    for (const std::string& line : splitLines(plainText(result.out))) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

LauncherTest::LauncherTest() { CreateDirectoryW(tmpDir().c_str(), nullptr); }

std::wstring LauncherTest::pack(const pack::Block& block, const std::wstring& name, const std::wstring& source) {
    std::wstring path = dir / name;
    std::string error = packLauncherTo(path, block, source);
    EXPECT_EQ(error, "");
    return path;
}

ProcessResult LauncherTest::run(const std::wstring& exe, const std::wstring& arguments, ProcessOptions options) {
    options.env.try_emplace(L"TMP", tmpDir());
    options.env.try_emplace(L"TEMP", tmpDir());
    options.env.try_emplace(L"TARVO_LOG", L"yes");
    std::wstring line = quoteArgument(exe);
    if (!arguments.empty()) line += L" " + arguments;
    return runProcess(line, options);
}

std::string LauncherTest::logText(int number) const {
    return plainText(readFile(tmpDir() + L"\\zdr_nlog_" + std::to_wstring(number) + L".log"));
}

}  // namespace tarvo::test
