// Builds Java home trees to order for tests under Wine, from the stand-in runtime's
// binaries: java.exe, javaw.exe, unpack200.exe, jvm.dll and its look-alikes.
//
//   std::wstring home = JavaHome::jdk("1.8.0_202").jvm(L"client").withoutJavaw().build(dir + L"\\jdk8");
#pragma once
#include <string>
#include <vector>

namespace tarvo::javahome {

// Folder of the built stand-in (build/dist/testsupport) as a Windows path.
std::wstring standinDir();
std::wstring standinFile(const std::wstring& name);

enum class Layout {
    Jre,        // bin\java.exe, bin\javaw.exe, bin\<vm>\jvm.dll
    Jdk,        // bin\java.exe, lib\tools.jar and the runtime in jre\ (jre\bin\<vm>\jvm.dll)
    ModernJdk,  // bin\java.exe, bin\<vm>\jvm.dll, lib\modules; no jre\, no tools.jar
};

enum class JvmLibrary {
    Working,         // the stand-in jvm.dll
    NotPE,           // a file named jvm.dll that is no executable image
    NoCreateJavaVM,  // a DLL that loads but does not export JNI_CreateJavaVM
};

enum class Unpack200Mode { Ok, Fail, NoJar };

class JavaHome {
public:
    // Version lines as the JDKs print them: java version "1.8.0_202" for Jre and Jdk,
    // openjdk version "17.0.2" 2022-01-18 for ModernJdk, each followed by two more lines.
    static JavaHome jre(const std::string& version = "1.8.0_202");
    static JavaHome jdk(const std::string& version = "1.8.0_202");
    static JavaHome modernJdk(const std::string& version = "17.0.2");

    JavaHome& versionLine(const std::string& line);
    JavaHome& lineBefore(const std::string& line);  // e.g. "Picked up _JAVA_OPTIONS: -Xmx1g"
    JavaHome& linesAfter(std::vector<std::string> lines);
    JavaHome& exitCode(int code);
    JavaHome& delayMs(int ms);

    // A JVM subdirectory of the runtime's bin directory (server, client, hotspot,
    // classic, jrockit, ...). Without any call the runtime has bin\server\jvm.dll.
    JavaHome& jvm(const std::wstring& subdir, JvmLibrary library = JvmLibrary::Working);
    JavaHome& noJvm();
    JavaHome& withoutJavaw();
    JavaHome& withoutToolsJar();
    // A packed library, relative to the home: packed(L"lib\\rt.jar") writes
    // lib\rt.jar.pack (and lib\rt.jar too when jarPresent).
    JavaHome& packed(const std::wstring& jar, bool jarPresent = false);
    JavaHome& unpack200(Unpack200Mode mode);

    // Creates the tree at home (folders included) and returns home; empty on failure.
    std::wstring build(const std::wstring& home) const;

    Layout layout() const { return layout_; }
    // Where java.exe and the JVM subdirectories of the runtime are below the home:
    // L"bin" or L"jre\\bin".
    std::wstring runtimeBin() const;

private:
    explicit JavaHome(Layout layout) : layout_(layout) {}

    struct Jvm {
        std::wstring subdir;
        JvmLibrary library;
    };
    struct Pack {
        std::wstring jar;
        bool jarPresent;
    };

    Layout layout_;
    std::string versionLine_;
    std::vector<std::string> before_;
    std::vector<std::string> after_;
    int exitCode_ = 0;
    int delayMs_ = 0;
    bool defaultJvm_ = true;
    std::vector<Jvm> jvms_;
    bool javaw_ = true;
    bool toolsJar_ = true;
    std::vector<Pack> packs_;
    Unpack200Mode unpack200_ = Unpack200Mode::Ok;
};

// Puts the helper library at appDir\.zandorium\zdrinst.dll; registerNatives returns
// result (0 is a failure). Returns the library's path, empty on failure.
std::wstring installHelperLibrary(const std::wstring& appDir, int result = 1);

// Content written into every pack file; unpack200.exe copies it into the jar.
std::string packContent(const std::wstring& jar);

bool makeDirectories(const std::wstring& path);

}  // namespace tarvo::javahome
