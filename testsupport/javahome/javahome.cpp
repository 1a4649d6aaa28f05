#include "javahome.h"

#include <windows.h>

namespace tarvo::javahome {

namespace {

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

bool writeFile(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(h);
    return ok;
}

bool copyStandin(const std::wstring& name, const std::wstring& to) {
    return CopyFileW(standinFile(name).c_str(), to.c_str(), FALSE) != 0;
}

std::wstring parentOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

std::wstring standinDir() {
    std::wstring path = L"Z:" + widen(TARVO_STANDIN_DIR_UNIX);
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::wstring standinFile(const std::wstring& name) { return standinDir() + L"\\" + name; }

bool makeDirectories(const std::wstring& path) {
    if (path.empty()) return false;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    std::wstring parent = parentOf(path);
    if (!parent.empty() && parent.back() != L':' && !makeDirectories(parent)) return false;
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::string packContent(const std::wstring& jar) { return "stand-in pack of " + narrow(jar) + "\n"; }

JavaHome JavaHome::jre(const std::string& version) {
    JavaHome h(Layout::Jre);
    h.versionLine_ = "java version \"" + version + "\"";
    h.after_ = {"Java(TM) SE Runtime Environment (build " + version + "-b08)",
                "Java HotSpot(TM) 64-Bit Server VM (build 25.202-b08, mixed mode)"};
    return h;
}

JavaHome JavaHome::jdk(const std::string& version) {
    JavaHome h = jre(version);
    h.layout_ = Layout::Jdk;
    return h;
}

JavaHome JavaHome::modernJdk(const std::string& version) {
    JavaHome h(Layout::ModernJdk);
    h.versionLine_ = "openjdk version \"" + version + "\" 2022-01-18";
    h.after_ = {"OpenJDK Runtime Environment (build " + version + "+8-86)",
                "OpenJDK 64-Bit Server VM (build " + version + "+8-86, mixed mode, sharing)"};
    h.toolsJar_ = false;
    return h;
}

JavaHome& JavaHome::versionLine(const std::string& line) {
    versionLine_ = line;
    return *this;
}

JavaHome& JavaHome::lineBefore(const std::string& line) {
    before_.push_back(line);
    return *this;
}

JavaHome& JavaHome::linesAfter(std::vector<std::string> lines) {
    after_ = std::move(lines);
    return *this;
}

JavaHome& JavaHome::exitCode(int code) {
    exitCode_ = code;
    return *this;
}

JavaHome& JavaHome::delayMs(int ms) {
    delayMs_ = ms;
    return *this;
}

JavaHome& JavaHome::jvm(const std::wstring& subdir, JvmLibrary library) {
    defaultJvm_ = false;
    for (Jvm& j : jvms_)
        if (j.subdir == subdir) {
            j.library = library;
            return *this;
        }
    jvms_.push_back({subdir, library});
    return *this;
}

JavaHome& JavaHome::noJvm() {
    defaultJvm_ = false;
    jvms_.clear();
    return *this;
}

JavaHome& JavaHome::withoutJavaw() {
    javaw_ = false;
    return *this;
}

JavaHome& JavaHome::withoutToolsJar() {
    toolsJar_ = false;
    return *this;
}

JavaHome& JavaHome::packed(const std::wstring& jar, bool jarPresent) {
    packs_.push_back({jar, jarPresent});
    return *this;
}

JavaHome& JavaHome::unpack200(Unpack200Mode mode) {
    unpack200_ = mode;
    return *this;
}

std::wstring JavaHome::runtimeBin() const { return layout_ == Layout::Jdk ? L"jre\\bin" : L"bin"; }

std::wstring JavaHome::build(const std::wstring& home) const {
    std::string config = "version.line=" + versionLine_ + "\n";
    for (const auto& line : before_) config += "version.before=" + line + "\n";
    for (const auto& line : after_) config += "version.after=" + line + "\n";
    config += "version.exitCode=" + std::to_string(exitCode_) + "\n";
    config += "version.delayMs=" + std::to_string(delayMs_) + "\n";
    config += std::string("unpack200.mode=") +
              (unpack200_ == Unpack200Mode::Fail ? "fail" : unpack200_ == Unpack200Mode::NoJar ? "nojar" : "ok") + "\n";

    // A JDK carries the launcher programs twice: in its own bin and in jre\bin.
    std::vector<std::wstring> bins{home + L"\\bin"};
    if (layout_ == Layout::Jdk) bins.push_back(home + L"\\jre\\bin");
    for (const auto& bin : bins) {
        if (!makeDirectories(bin)) return {};
        if (!copyStandin(L"java.exe", bin + L"\\java.exe")) return {};
        if (javaw_ && !copyStandin(L"javaw.exe", bin + L"\\javaw.exe")) return {};
        if (!copyStandin(L"unpack200.exe", bin + L"\\unpack200.exe")) return {};
        if (!writeFile(bin + L"\\standin.cfg", config)) return {};
    }
    if (!makeDirectories(home + L"\\lib")) return {};
    if (layout_ == Layout::Jdk) {
        if (!makeDirectories(home + L"\\jre\\lib")) return {};
        if (toolsJar_ && !writeFile(home + L"\\lib\\tools.jar", "stand-in tools.jar\n")) return {};
    }
    if (layout_ == Layout::ModernJdk && !writeFile(home + L"\\lib\\modules", "stand-in modules\n")) return {};

    std::vector<Jvm> jvms = jvms_;
    if (defaultJvm_) jvms.push_back({L"server", JvmLibrary::Working});
    std::wstring runtime = home + L"\\" + runtimeBin();
    for (const Jvm& j : jvms) {
        std::wstring dir = runtime + L"\\" + j.subdir;
        if (!makeDirectories(dir)) return {};
        std::wstring dll = dir + L"\\jvm.dll";
        bool ok = j.library == JvmLibrary::Working        ? copyStandin(L"jvm.dll", dll)
                  : j.library == JvmLibrary::NoCreateJavaVM ? copyStandin(L"jvm-nocreate.dll", dll)
                                                            : writeFile(dll, "This is a text file, not a DLL.\n");
        if (!ok) return {};
    }

    for (const Pack& p : packs_) {
        std::wstring jar = home + L"\\" + p.jar;
        if (!makeDirectories(parentOf(jar))) return {};
        if (!writeFile(jar + L".pack", packContent(p.jar))) return {};
        if (p.jarPresent && !writeFile(jar, "stand-in jar " + narrow(p.jar) + "\n")) return {};
    }
    return home;
}

std::wstring installHelperLibrary(const std::wstring& appDir, int result) {
    std::wstring dir = appDir + L"\\.zandorium";
    if (!makeDirectories(dir)) return {};
    std::wstring dll = dir + L"\\zdrinst.dll";
    if (!copyStandin(L"zdrinst.dll", dll)) return {};
    if (!writeFile(dir + L"\\zdrinst.cfg", "result=" + std::to_string(result) + "\n")) return {};
    return dll;
}

}  // namespace tarvo::javahome
