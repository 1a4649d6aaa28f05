// The stand-in JVM's inside: a tiny object heap, the classes of the Java side, the
// reference tables that make misuse visible, and the strict-checking helpers.
#pragma once
#define _JNI_IMPLEMENTATION_
#include <jni.h>
#include <windows.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "standin.h"

namespace standin::jvm {

// Exit code of a process that the stand-in ended because of a JNI violation.
inline constexpr int kViolationExitCode = 86;

struct ClassInfo;
struct Object;
struct EnvImpl;

struct Value {
    char type = 'V';  // first character of the type descriptor, '[' folded into 'L'
    jvalue prim{};
    Object* obj = nullptr;
};

inline Value boolValue(bool b) {
    Value v;
    v.type = 'Z';
    v.prim.z = b ? JNI_TRUE : JNI_FALSE;
    return v;
}
inline Value objValue(Object* o) {
    Value v;
    v.type = 'L';
    v.obj = o;
    return v;
}

using MethodImpl = std::function<Value(EnvImpl& env, Object* self, const std::vector<Value>& args)>;

struct MethodInfo {
    ClassInfo* holder = nullptr;
    std::string name;
    std::string sig;
    bool isStatic = false;
    bool isNative = false;
    std::vector<std::string> params;  // one type descriptor per parameter
    std::string ret;                  // return type descriptor
    MethodImpl impl;
    void* boundNative = nullptr;  // set by RegisterNatives
};

struct ClassInfo {
    std::string name;  // internal form: java/lang/String, [Ljava/lang/String;
    ClassInfo* super = nullptr;
    ClassInfo* component = nullptr;  // element class of an array class
    std::vector<std::unique_ptr<MethodInfo>> methods;
    Object* mirror = nullptr;  // its java.lang.Class object
    bool hidden = false;       // named in standin.absent: FindClass does not see it

    std::string dotted() const;
    bool isSubclassOf(const ClassInfo* other) const;
    bool isArray() const { return component != nullptr; }
};

struct Object {
    ClassInfo* cls = nullptr;
    int hash = 0;
    std::u16string chars;          // java.lang.String
    std::vector<Object*> elems;    // object arrays
    ClassInfo* mirrorOf = nullptr; // java.lang.Class
    bool hasMessage = false;       // java.lang.Throwable
    std::u16string message;
    std::vector<std::string> frames;  // "com.tarvo.runtime.WinLauncher.main(WinLauncher.java)"
};

// The layout a JNIEnv pointer points at: the function table first.
struct EnvImpl {
    const JNINativeInterface_* functions = nullptr;
    DWORD thread = 0;
    std::string threadName;
    bool daemon = false;
    bool live = true;
    Object* pending = nullptr;
};

struct Ref {
    Object* obj = nullptr;
    bool global = false;
    bool live = true;
    EnvImpl* owner = nullptr;  // the thread's environment a local reference belongs to
};

class Vm {
public:
    std::recursive_mutex lock;

    std::map<std::string, std::string> props;  // system properties from -D options
    bool created = false;
    bool destroyed = false;

    std::map<std::string, std::unique_ptr<ClassInfo>> classes;
    std::set<const MethodInfo*> methodIds;
    std::unordered_map<uintptr_t, Ref> refs;
    std::vector<std::unique_ptr<EnvImpl>> envs;
    std::unordered_map<const jchar*, Object*> lentChars;  // GetStringChars buffers not yet released
    int nextHash = 0x1b6d3586;
    // standin.outOfMemory: per function, the numbers of the calls that find the heap full,
    // and how many calls there were so far.
    std::map<std::string, std::set<long>> outOfMemoryAt;
    std::map<std::string, long> allocationCalls;
    // standin.throwIn: "com/x/Y.method" of static methods that throw instead of running,
    // with the message of their RuntimeException.
    std::map<std::string, std::u16string> throwIn;
    int nextThread = 0;

    // Threads DestroyJavaVM waits for.
    std::mutex threadLock;
    std::condition_variable threadsChanged;
    int liveNonDaemon = 0;

    ClassInfo* defineClass(const std::string& name, ClassInfo* super);
    MethodInfo* defineMethod(ClassInfo* cls, const std::string& name, const std::string& sig, bool isStatic,
                             MethodImpl impl, bool isNative = false);
    ClassInfo* lookupClass(const std::string& name);  // hidden classes included
    ClassInfo* arrayClassOf(ClassInfo* element);

    Object* newObject(ClassInfo* cls);
    Object* newString(std::u16string chars);
    Object* newThrowable(const std::string& className, const std::u16string* message,
                         std::vector<std::string> frames = {});

    jobject newRef(EnvImpl* owner, Object* obj, bool global);
    // Counts a call of an allocating JNI function; true when standin.outOfMemory lets it fail.
    bool heapExhausted(const std::string& fn);
    EnvImpl* envOfCurrentThread();
    bool isOurEnv(const EnvImpl* env) const;
};

Vm& vm();

// Records a line in the trace file.
void trace(std::string_view kind, const std::vector<Field>& fields);
// Records the violation, names the call on standard error and ends the process.
[[noreturn]] void violation(std::string_view fn, const std::string& what);

std::string utf8(const std::u16string& s);
std::u16string utf16(const std::wstring& s);
std::u16string fromOptionText(std::string_view ansi);
std::string describe(const Object* obj);  // for trace arguments
std::string throwableText(const Object* ex);  // what Throwable.toString gives

// Makes an exception pending on the thread, as the JVM's own code would.
void throwNew(EnvImpl& env, const std::string& className, const std::string& message,
              std::vector<std::string> frames = {});
// What HotSpot throws when an allocation does not fit into the Java heap.
void throwOutOfMemory(EnvImpl& env);
void setPending(EnvImpl& env, Object* ex, std::string_view thrownBy);
// Prints an uncaught exception like HotSpot: "Exception in thread "main" ..." and frames.
void printUncaught(const EnvImpl& env, const Object* ex);
std::string stackTraceText(const Object* ex);
// A stack frame of the Java side: "com.x.Y.method(Y.java)".
std::string javaFrame(const ClassInfo* cls, const std::string& method);

// Runs a Java method (dispatching virtually for instance methods) on the calling thread.
Value runJava(EnvImpl& env, MethodInfo* method, Object* self, const std::vector<Value>& args);

// The Java side: classes, the behaviour chosen by standin.* properties.
void defineJavaSide(Vm& v);
void applyAbsent(Vm& v);
// Reads standin.throwIn (and standin.firstRun=throw) into v.throwIn; returns what is
// wrong with it, or nothing. Needs the Java side defined, and runs before applyAbsent.
std::string applyThrowIn(Vm& v);
[[noreturn]] void systemExit(int code);

}  // namespace standin::jvm
