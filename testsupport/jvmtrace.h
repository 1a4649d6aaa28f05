// Reads what the stand-in Java runtime recorded: the trace of jvm.dll and zdrinst.dll
// (file named by STANDIN_TRACE) and the probe log of java.exe, javaw.exe and
// unpack200.exe (file named by STANDIN_PROBE_LOG). Both are UTF-8 record lines:
//
//   kind<TAB>key=value<TAB>key=value...
//
// with tabs, line breaks and backslashes in values escaped by a backslash.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::jvmtrace {

struct Record {
    std::string kind;
    std::vector<std::pair<std::string, std::string>> fields;

    // The value of the first field with this key, or empty.
    std::string get(std::string_view key) const;
    bool has(std::string_view key) const;
    // Every value of a repeated key, in order.
    std::vector<std::string> all(std::string_view key) const;
};

// One JNI call (or invocation-interface call) as the stand-in saw it.
struct Call {
    std::string fn;     // "FindClass", "CallStaticVoidMethod", ...
    std::string cls;    // class addressed, internal form (com/tarvo/runtime/WinLauncher)
    std::string name;   // method name, for method lookups and calls
    std::string sig;    // method signature
    std::vector<std::string> args;  // strings as their text, null as "null", booleans true/false
    std::string result;
    std::string exception;  // toString of the exception pending after the call, if any

    // "FindClass com/x/Y", "GetStaticMethodID com/x/Y.main([Ljava/lang/String;)V", "ExceptionClear"
    std::string brief() const;
};

struct Violation {
    std::string fn;
    std::string what;
};

struct Thrown {
    std::string cls;      // dotted: java.lang.RuntimeException
    std::string message;
    std::string text;     // what toString gives
    std::string thread;
    std::string by;       // "java" (thrown by Java code) or "jvm" (by a JNI function)
};

struct MainCall {
    std::string cls;
    bool nullArray = false;
    std::vector<std::string> args;  // a null element reads as "<null>"
};

class Trace {
public:
    explicit Trace(std::vector<Record> records = {}) : records_(std::move(records)) {}
    const std::vector<Record>& records() const { return records_; }
    std::vector<Record> records(std::string_view kind) const;
    bool empty() const { return records_.empty(); }

    // Paths of the JVM libraries that were loaded (jvm.dll and non-working look-alikes).
    std::vector<std::string> loads() const;
    // The JavaVMInitArgs of the (first) JNI_CreateJavaVM.
    std::string initVersion() const;
    std::string ignoreUnrecognized() const;
    std::vector<std::string> options() const;
    std::vector<std::string> ignoredOptions() const;
    bool created() const;        // JNI_CreateJavaVM returned JNI_OK
    int createResult() const;    // its result; 1 when it was never called
    std::string createFailure() const;

    std::vector<Call> calls() const;
    std::vector<Call> calls(std::string_view fn) const;
    std::vector<std::string> functions() const;  // fn of every call, in order
    std::vector<std::string> briefs() const;     // Call::brief of every call

    std::vector<MainCall> mainCalls() const;
    std::vector<std::string> mainArgs() const;   // arguments of the first main call
    std::string mainClass() const;
    std::vector<std::string> steps() const;      // "print:hello", "sleep:200", ...

    std::vector<Thrown> exceptions() const;
    std::vector<std::string> described() const;  // exceptions printed as uncaught
    std::vector<Violation> violations() const;
    std::vector<Record> helperCalls() const;     // zdrinst.dll registerNatives
    bool destroyBegun() const;
    bool destroyed() const;                       // DestroyJavaVM returned
    int exitCode() const;                         // System.exit code, -1 when none

private:
    std::vector<Record> records_;
};

// A run of java.exe, javaw.exe or unpack200.exe.
struct Run {
    std::string program;  // "java.exe", "javaw.exe", "unpack200.exe"
    std::string path;
    std::string cmdline;
    Record record;
};

class ProbeLog {
public:
    explicit ProbeLog(std::vector<Record> records = {});
    const std::vector<Run>& runs() const { return runs_; }
    std::vector<Run> runs(std::string_view program) const;
    size_t count(std::string_view program) const;

private:
    std::vector<Run> runs_;
};

std::vector<Record> parseRecords(std::string_view text);
std::string unescape(std::string_view value);

// A missing file reads as an empty trace or log.
Trace readTrace(const std::wstring& path);
ProbeLog readProbeLog(const std::wstring& path);

}  // namespace tarvo::jvmtrace
