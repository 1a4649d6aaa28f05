// Java homes built to order: the trees, and the JVM libraries that do or do not load.
#include <gtest/gtest.h>

#include "javahome.h"
#include "standintest.h"

using namespace standintest;
using tarvo::javahome::JavaHome;
using tarvo::javahome::JvmLibrary;

namespace {

TEST(JavaHomeBuilder, BuildsTheRequestedLayout) {
    struct Case {
        const char* name;
        JavaHome home;
        std::vector<const wchar_t*> present;
        std::vector<const wchar_t*> absent;
    } cases[] = {
        {"JRE", JavaHome::jre(),
         {L"bin\\java.exe", L"bin\\javaw.exe", L"bin\\unpack200.exe", L"bin\\standin.cfg", L"bin\\server\\jvm.dll", L"lib"},
         {L"jre", L"lib\\tools.jar", L"bin\\client"}},
        {"JDK with its jre", JavaHome::jdk(),
         {L"bin\\java.exe", L"bin\\javaw.exe", L"jre\\bin\\java.exe", L"jre\\bin\\javaw.exe", L"jre\\bin\\unpack200.exe",
          L"jre\\bin\\server\\jvm.dll", L"lib\\tools.jar"},
         {L"bin\\server"}},
        {"modern JDK", JavaHome::modernJdk(), {L"bin\\java.exe", L"bin\\server\\jvm.dll", L"lib\\modules"},
         {L"jre", L"lib\\tools.jar"}},
        {"several JVM subdirectories", JavaHome::jre().jvm(L"client").jvm(L"hotspot").jvm(L"jrockit"),
         {L"bin\\client\\jvm.dll", L"bin\\hotspot\\jvm.dll", L"bin\\jrockit\\jvm.dll"}, {L"bin\\server"}},
        {"no javaw.exe", JavaHome::jdk().withoutJavaw(), {L"bin\\java.exe", L"jre\\bin\\java.exe"},
         {L"bin\\javaw.exe", L"jre\\bin\\javaw.exe"}},
        {"JDK without tools.jar", JavaHome::jdk().withoutToolsJar(), {L"jre\\bin\\server\\jvm.dll"}, {L"lib\\tools.jar"}},
        {"no JVM library", JavaHome::jre().noJvm(), {L"bin\\java.exe"}, {L"bin\\server", L"bin\\client"}},
        {"packed libraries", JavaHome::jre().packed(L"lib\\rt.jar").packed(L"lib\\ext\\foo.jar", true),
         {L"lib\\rt.jar.pack", L"lib\\ext\\foo.jar.pack", L"lib\\ext\\foo.jar"}, {L"lib\\rt.jar"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::wstring home = c.home.build(dir / L"java home");
        ASSERT_EQ(home, dir / L"java home");
        for (const wchar_t* p : c.present) EXPECT_TRUE(exists(home + L"\\" + p)) << narrow(p);
        for (const wchar_t* p : c.absent) EXPECT_FALSE(exists(home + L"\\" + p)) << narrow(p);
    }
}

TEST(JavaHomeBuilder, JvmLibrariesLoadOrFailAsOrdered) {
    TempDir dir;
    std::wstring home = JavaHome::jre()
                            .jvm(L"server", JvmLibrary::Working)
                            .jvm(L"client", JvmLibrary::NotPE)
                            .jvm(L"classic", JvmLibrary::NoCreateJavaVM)
                            .build(dir / L"jre");
    ASSERT_FALSE(home.empty());

    HMODULE working = LoadLibraryW((home + L"\\bin\\server\\jvm.dll").c_str());
    ASSERT_NE(working, nullptr);
    EXPECT_NE(GetProcAddress(working, "JNI_CreateJavaVM"), nullptr);
    EXPECT_NE(GetProcAddress(working, "JNI_GetCreatedJavaVMs"), nullptr);
    EXPECT_NE(GetProcAddress(working, "JNI_GetDefaultJavaVMInitArgs"), nullptr);

    EXPECT_TRUE(exists(home + L"\\bin\\client\\jvm.dll"));
    EXPECT_EQ(LoadLibraryW((home + L"\\bin\\client\\jvm.dll").c_str()), nullptr);

    HMODULE noCreate = LoadLibraryW((home + L"\\bin\\classic\\jvm.dll").c_str());
    ASSERT_NE(noCreate, nullptr);
    EXPECT_NE(noCreate, working);
    EXPECT_EQ(GetProcAddress(noCreate, "JNI_CreateJavaVM"), nullptr);
    FreeLibrary(noCreate);
    FreeLibrary(working);
}

TEST(JavaHomeBuilder, HelperLibraryGoesBesideTheApplication) {
    TempDir dir;
    std::wstring dll = tarvo::javahome::installHelperLibrary(dir / L"app", 0);
    EXPECT_EQ(dll, dir / L"app\\.zandorium\\zdrinst.dll");
    EXPECT_EQ(readFile(dir / L"app\\.zandorium\\zdrinst.cfg"), "result=0\n");
    HMODULE helper = LoadLibraryW(dll.c_str());
    ASSERT_NE(helper, nullptr);
    EXPECT_NE(GetProcAddress(helper, "registerNatives"), nullptr);
    FreeLibrary(helper);
}

}  // namespace
