// The reader of traces and probe logs, on texts written by hand.
#include <gtest/gtest.h>

#include "jvmtrace.h"

using namespace tarvo::jvmtrace;
using Lines = std::vector<std::string>;

namespace {

TEST(JvmTraceReader, UnescapesValuesAndKeepsRepeatedKeys) {
    auto records = parseRecords(
        "option\ti=0\ttext=-Dx=a\\tb\\\\c\\nd\r\n"
        "call\tfn=NewString\targ=\\x01\targ=\targ=z=1\n"
        "\n"
        "bare\n");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].get("text"), "-Dx=a\tb\\c\nd");
    EXPECT_EQ(records[1].all("arg"), (Lines{"\x01", "", "z=1"}));
    EXPECT_EQ(records[2].kind, "bare");
    EXPECT_TRUE(records[2].fields.empty());
    EXPECT_EQ(records[1].get("missing"), "");
}

TEST(JvmTraceReader, AssemblesCallsMainArgumentsAndOutcome) {
    Trace t(parseRecords(
        "load\tpath=Z:\\h\\bin\\server\\jvm.dll\n"
        "init\tversion=0x00010002\tnOptions=2\tignoreUnrecognized=true\n"
        "option\ti=0\ttext=-Da=1\n"
        "option\ti=1\ttext=-Xrs\n"
        "create\tresult=0\tthread=main\n"
        "call\tfn=FindClass\tclass=com/x/Y\tresult=ok\n"
        "call\tfn=CallStaticVoidMethod\tclass=com/x/Y\tname=main\tsig=([Ljava/lang/String;)V\targ=String[3]\n"
        "main\tclass=com/x/Y\tcount=3\n"
        "main-arg\ti=0\ttext=false\n"
        "main-arg\ti=1\tnull=true\n"
        "main-arg\ti=2\ttext=a b\n"
        "call\tfn=CallObjectMethod\tclass=java/lang/Object\tname=toString\tsig=()Ljava/lang/String;\n"
        "return\tfn=CallObjectMethod\tresult=x\n"
        "exception\tclass=java.lang.RuntimeException\tmessage=boom\ttext=java.lang.RuntimeException: boom\tby=java\n"
        "return\tfn=CallStaticVoidMethod\tresult=void\texception=java.lang.RuntimeException: boom\n"
        "violation\tfn=NewStringUTF\twhat=called while an exception is pending\n"
        "init\tversion=0x00010008\tnOptions=1\tignoreUnrecognized=false\n"
        "option\ti=0\ttext=-Dsecond\n"));
    EXPECT_EQ(t.loads(), (Lines{"Z:\\h\\bin\\server\\jvm.dll"}));
    EXPECT_EQ(t.initVersion(), "0x00010002");
    EXPECT_EQ(t.options(), (Lines{"-Da=1", "-Xrs"}));
    EXPECT_TRUE(t.created());
    EXPECT_EQ(t.briefs(), (Lines{"FindClass com/x/Y", "CallStaticVoidMethod com/x/Y.main([Ljava/lang/String;)V",
                                 "CallObjectMethod java/lang/Object.toString()Ljava/lang/String;"}));
    auto calls = t.calls();
    EXPECT_EQ(calls[1].result, "void");
    EXPECT_EQ(calls[1].exception, "java.lang.RuntimeException: boom");
    EXPECT_EQ(calls[2].result, "x");
    EXPECT_EQ(calls[2].exception, "");
    EXPECT_EQ(t.mainClass(), "com/x/Y");
    EXPECT_EQ(t.mainArgs(), (Lines{"false", "<null>", "a b"}));
    ASSERT_EQ(t.violations().size(), 1u);
    EXPECT_EQ(t.violations()[0].fn, "NewStringUTF");
    EXPECT_EQ(t.exceptions().at(0).message, "boom");
    EXPECT_FALSE(t.destroyed());
    EXPECT_EQ(t.exitCode(), -1);
}

TEST(JvmTraceReader, MissingFilesReadAsEmpty) {
    EXPECT_TRUE(readTrace(L"Z:\\does\\not\\exist.txt").empty());
    EXPECT_EQ(readProbeLog(L"Z:\\does\\not\\exist.txt").count("java.exe"), 0u);
    EXPECT_EQ(Trace().createResult(), 1);
}

TEST(JvmTraceReader, CountsRunsPerProgram) {
    ProbeLog log(parseRecords(
        "run\tprogram=java.exe\tpath=c:\\j\\bin\\java.exe\tcmdline=c:\\j\\bin\\java.exe -version\n"
        "run\tprogram=javaw.exe\tpath=c:\\j\\bin\\javaw.exe\n"
        "other\tprogram=java.exe\n"
        "run\tprogram=java.exe\tpath=c:\\k\\bin\\java.exe\n"));
    EXPECT_EQ(log.count("java.exe"), 2u);
    EXPECT_EQ(log.count("javaw.exe"), 1u);
    EXPECT_EQ(log.count("unpack200.exe"), 0u);
    EXPECT_EQ(log.runs("java.exe")[1].path, "c:\\k\\bin\\java.exe");
    EXPECT_EQ(log.runs()[0].cmdline, "c:\\j\\bin\\java.exe -version");
}

}  // namespace
