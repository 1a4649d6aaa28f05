// Loads a jvm.dll the way a launcher does and runs one scenario against it: the correct
// launch sequence, a round of JNI semantics, or one kind of misuse. What it observes goes
// to standard output as "driver: ..." lines.
//
//   jni_driver <jvm.dll> <scenario> [--opt TEXT]... [--version HEX] [--strict]
//              [--class NAME] [--arg TEXT]... [--splash] [--firstrun] [--helper DLL] [--time]
//              [--no-settings]
#include <jni.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using CreateFn = jint(JNICALL*)(JavaVM**, void**, void*);
using RegisterNativesFn = unsigned char (*)(JNIEnv*, HMODULE, void (*)(const wchar_t*, ...));

template <class F>
F lookup(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void say(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::printf("driver: ");
    std::vprintf(format, ap);
    std::printf("\n");
    std::fflush(stdout);
    va_end(ap);
}

std::string utf8(const jchar* chars, jsize n) {
    if (n <= 0) return {};
    const auto* w = reinterpret_cast<const wchar_t*>(chars);
    int size = WideCharToMultiByte(CP_UTF8, 0, w, n, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, n, out.data(), size, nullptr, nullptr);
    return out;
}

std::string ansi(const std::wstring& w) {
    int size = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.pop_back();
    return out;
}

struct Settings {
    std::wstring jvmDll;
    std::string scenario;
    std::vector<std::string> options;
    jint version = JNI_VERSION_1_2;
    bool strict = false;
    std::string launcherClass = "com/tarvo/runtime/WinLauncher";
    std::vector<std::wstring> args;
    bool splash = false;
    bool firstRun = false;
    std::wstring helper;
    bool time = false;
    bool noSettings = false;  // leave out the five launcher settings
};

struct Driver {
    Settings s;
    HMODULE lib = nullptr;
    CreateFn create = nullptr;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;

    jint createJvm() {
        std::vector<JavaVMOption> options;
        for (auto& o : s.options) options.push_back({const_cast<char*>(o.c_str()), nullptr});
        JavaVMInitArgs args{};
        args.version = s.version;
        args.nOptions = static_cast<jint>(options.size());
        args.options = options.data();
        args.ignoreUnrecognized = s.strict ? JNI_FALSE : JNI_TRUE;
        return create(&vm, reinterpret_cast<void**>(&env), &args);
    }

    // The exception's text for the log, then the JVM's own report. Only exception-safe
    // calls are allowed while it is pending, so it is taken off, asked, and thrown again.
    bool checkJavaException() {
        jthrowable ex = env->ExceptionOccurred();
        if (!ex) return true;
        env->ExceptionClear();
        jclass cls = env->GetObjectClass(ex);
        jmethodID toString = env->GetMethodID(cls, "toString", "()Ljava/lang/String;");
        auto text = static_cast<jstring>(env->CallObjectMethod(ex, toString));
        if (text) {
            jsize n = env->GetStringLength(text);
            const jchar* chars = env->GetStringChars(text, nullptr);
            say("exception: %s", utf8(chars, n).c_str());
            env->ReleaseStringChars(text, chars);
            env->DeleteLocalRef(text);
        }
        env->DeleteLocalRef(cls);
        env->Throw(ex);
        env->ExceptionDescribe();
        env->ExceptionClear();
        env->DeleteLocalRef(ex);
        return false;
    }

    void passSplash() {
        jclass cls = env->FindClass("com/tarvo/runtime/WinLauncher");
        jmethodID m = env->GetStaticMethodID(
            cls, "initAwtSplashConfig", "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V");
        jstring t1 = env->NewStringUTF(""), c1 = env->NewStringUTF("0,0,0"), t2 = env->NewStringUTF("version 3.0"),
                c2 = env->NewStringUTF("0,0,0");
        env->CallStaticVoidMethod(cls, m, JNI_TRUE, JNI_FALSE, t1, 20, 20, c1, 8, 500, t2, 20, 40, c2, 8, 500);
        checkJavaException();
        for (jstring t : {t1, c1, t2, c2}) env->DeleteLocalRef(t);
        env->DeleteLocalRef(cls);
    }

    bool callInitFromLauncher(bool flag) {
        jclass cls = env->FindClass("com/zandorium/runtime/installer/platform/win32/Common");
        if (!cls) {
            env->ExceptionClear();
            return false;
        }
        jmethodID m = env->GetStaticMethodID(cls, "initFromLauncher", "(Z)V");
        if (m) {
            env->CallStaticVoidMethod(cls, m, flag ? JNI_TRUE : JNI_FALSE);
            checkJavaException();
        } else {
            env->ExceptionClear();
        }
        env->DeleteLocalRef(cls);
        return m != nullptr;
    }

    static void logError(const wchar_t* format, ...) {
        wchar_t text[1000];
        va_list ap;
        va_start(ap, format);
        _vsnwprintf(text, 999, format, ap);
        va_end(ap);
        text[999] = L'\0';
        say("error log: %s", ansi(text).c_str());
    }

    void loadHelper() {
        HMODULE helper = LoadLibraryW(s.helper.c_str());
        if (!helper) {
            say("helper did not load");
            return;
        }
        auto registerNatives = lookup<RegisterNativesFn>(helper, "registerNatives");
        if (!registerNatives) {
            say("no registerNatives");
            return;
        }
        if (!callInitFromLauncher(true)) return;
        unsigned char ok = registerNatives(env, helper, &logError);
        say("registerNatives returned %d", ok);
        if (!ok) callInitFromLauncher(false);
    }

    bool checkFirstRun() {
        jclass cls = env->FindClass("com/zandorium/runtime/launcher/FirstRun");
        jmethodID m = env->GetStaticMethodID(cls, "firstRun", "()Z");
        jboolean go = env->CallStaticBooleanMethod(cls, m);
        bool clean = checkJavaException();
        return clean && go;
    }

    jobjectArray argumentArray() {
        std::vector<std::wstring> all;
        if (!s.noSettings) all = {L"false", L"com.example.Main", L"", L"", L"false"};
        all.insert(all.end(), s.args.begin(), s.args.end());
        jclass string = env->FindClass("java/lang/String");
        jobjectArray array = env->NewObjectArray(static_cast<jsize>(all.size()), string, nullptr);
        for (size_t i = 0; i < all.size(); ++i) {
            jstring item = env->NewString(reinterpret_cast<const jchar*>(all[i].c_str()), static_cast<jsize>(all[i].size()));
            env->SetObjectArrayElement(array, static_cast<jsize>(i), item);
            env->DeleteLocalRef(item);
        }
        env->DeleteLocalRef(string);
        return array;
    }

    // Returns main's class and method, or exits when they are missing.
    std::pair<jclass, jmethodID> mainMethod() {
        jclass cls = env->FindClass(s.launcherClass.c_str());
        if (!cls) {
            env->ExceptionClear();
            say("main class not found");
            std::exit(1);
        }
        jmethodID main = env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
        if (!main) {
            env->ExceptionClear();
            say("main method not found");
            std::exit(1);
        }
        return {cls, main};
    }

    int launch() {
        jint rc = createJvm();
        if (rc != JNI_OK) {
            say("create returned %d", static_cast<int>(rc));
            return 1;
        }
        if (s.splash) passSplash();
        if (!s.helper.empty()) loadHelper();
        if (s.firstRun && !checkFirstRun()) {
            say("firstRun stopped the run");
        } else {
            auto [cls, main] = mainMethod();
            env->CallStaticVoidMethod(cls, main, argumentArray());
            if (!checkJavaException()) {
                say("main failed");
                return 1;
            }
            say("main returned");
        }
        DWORD start = GetTickCount();
        rc = vm->DestroyJavaVM();
        if (s.time) say("DestroyJavaVM took %lu ms", GetTickCount() - start);
        say("destroyed: %d", static_cast<int>(rc));
        return 0;
    }

    // Creates a JVM, or ends the run with exit code 2.
    void mustCreate() {
        jint rc = createJvm();
        if (rc != JNI_OK) {
            say("create returned %d", static_cast<int>(rc));
            std::exit(2);
        }
    }

    // One line per observation; pending exceptions are reported and cleared.
    void report(const std::string& what, bool ok) {
        jthrowable ex = env->ExceptionOccurred();
        if (!ex) {
            say("%s: %s", what.c_str(), ok ? "ok" : "null");
            return;
        }
        env->ExceptionClear();
        jclass cls = env->GetObjectClass(ex);
        jmethodID toString = env->GetMethodID(cls, "toString", "()Ljava/lang/String;");
        auto text = static_cast<jstring>(env->CallObjectMethod(ex, toString));
        jsize n = env->GetStringLength(text);
        const jchar* chars = env->GetStringChars(text, nullptr);
        say("%s: %s, pending %s", what.c_str(), ok ? "ok" : "null", utf8(chars, n).c_str());
        env->ReleaseStringChars(text, chars);
    }

    int semantics() {
        mustCreate();
        for (const char* name : {"com/tarvo/runtime/WinLauncher", "com/zandorium/runtime/launcher/WinLauncher",
                                 "com/zandorium/runtime/launcher/FirstRun",
                                 "com/zandorium/runtime/installer/platform/win32/Common", "java/lang/String",
                                 "java.lang.String", "com/foo/Absent"})
            report(std::string("FindClass ") + name, env->FindClass(name) != nullptr);

        jclass launcher = env->FindClass("com/tarvo/runtime/WinLauncher");
        report("GetStaticMethodID main", env->GetStaticMethodID(launcher, "main", "([Ljava/lang/String;)V") != nullptr);
        report("GetStaticMethodID main ()V", env->GetStaticMethodID(launcher, "main", "()V") != nullptr);
        report("GetStaticMethodID mian", env->GetStaticMethodID(launcher, "mian", "([Ljava/lang/String;)V") != nullptr);
        report("GetMethodID main", env->GetMethodID(launcher, "main", "([Ljava/lang/String;)V") != nullptr);
        jclass firstRun = env->FindClass("com/zandorium/runtime/launcher/FirstRun");
        report("GetStaticMethodID firstRun", env->GetStaticMethodID(firstRun, "firstRun", "()Z") != nullptr);
        jclass common = env->FindClass("com/zandorium/runtime/installer/platform/win32/Common");
        report("GetStaticMethodID initFromLauncher", env->GetStaticMethodID(common, "initFromLauncher", "(Z)V") != nullptr);
        report("GetStaticMethodID initAwtSplashConfig",
               env->GetStaticMethodID(launcher, "initAwtSplashConfig",
                                      "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V") != nullptr);

        jclass string = env->FindClass("java/lang/String");
        jobjectArray array = env->NewObjectArray(2, string, nullptr);
        jstring abc = env->NewStringUTF("abc");
        env->SetObjectArrayElement(array, 1, abc);
        report("SetObjectArrayElement 1", true);
        env->SetObjectArrayElement(array, 2, abc);
        report("SetObjectArrayElement 2", false);
        env->SetObjectArrayElement(array, -1, abc);
        report("SetObjectArrayElement -1", false);
        env->SetObjectArrayElement(array, 0, string);
        report("SetObjectArrayElement 0 with a Class", false);
        report("GetObjectArrayElement 1", env->GetObjectArrayElement(array, 1) != nullptr);
        report("NewObjectArray -1", env->NewObjectArray(-1, string, nullptr) != nullptr);

        jsize n = env->GetStringLength(abc);
        const jchar* chars = env->GetStringChars(abc, nullptr);
        say("GetStringChars: %s, then %s", utf8(chars, n).c_str(), chars[n] == 0 ? "a terminating zero" : "no zero");
        env->ReleaseStringChars(abc, chars);
        jstring umlaut = env->NewStringUTF("\xc3\xa4-\xe2\x82\xac");
        jsize un = env->GetStringLength(umlaut);
        const jchar* uchars = env->GetStringChars(umlaut, nullptr);
        say("NewStringUTF: %d chars, %s", static_cast<int>(un), utf8(uchars, un).c_str());
        env->ReleaseStringChars(umlaut, uchars);
        say("GetVersion: 0x%08lx", static_cast<unsigned long>(env->GetVersion()));
        JavaVM* found = nullptr;
        jsize count = 0;
        jint rc = lookup<jint(JNICALL*)(JavaVM**, jsize, jsize*)>(lib, "JNI_GetCreatedJavaVMs")(&found, 1, &count);
        say("JNI_GetCreatedJavaVMs: %d, %d VM, %s", static_cast<int>(rc), static_cast<int>(count), found == vm ? "the same" : "another");
        say("DestroyJavaVM: %d", static_cast<int>(vm->DestroyJavaVM()));
        rc = lookup<jint(JNICALL*)(JavaVM**, jsize, jsize*)>(lib, "JNI_GetCreatedJavaVMs")(&found, 1, &count);
        say("JNI_GetCreatedJavaVMs: %d, %d VM", static_cast<int>(rc), static_cast<int>(count));
        say("JNI_CreateJavaVM again: %d", static_cast<int>(createJvm()));
        return 0;
    }

    // Allocations in a fixed order, each one's outcome reported; a failure is described
    // and cleared the way a launcher does it.
    int outOfMemory() {
        mustCreate();
        jclass string = env->FindClass("java/lang/String");
        const jchar text[] = {'a', 'b', 'c'};
        struct Step {
            const char* what;
            bool array;
            jsize len;
        } steps[] = {{"NewObjectArray 1", true, 1}, {"NewString a", false, 1},   {"NewString ab", false, 2},
                     {"NewObjectArray 2", true, 2}, {"NewString abc", false, 3}, {"NewObjectArray 3", true, 3}};
        for (const Step& st : steps) {
            jobject made = st.array ? static_cast<jobject>(env->NewObjectArray(st.len, string, nullptr))
                                    : static_cast<jobject>(env->NewString(text, st.len));
            if (!made) {
                say("%s: null", st.what);
                checkJavaException();
                continue;
            }
            jsize n = st.array ? env->GetArrayLength(static_cast<jarray>(made)) : env->GetStringLength(static_cast<jstring>(made));
            say("%s: ok, length %d", st.what, static_cast<int>(n));
            env->DeleteLocalRef(made);
        }
        env->DeleteLocalRef(string);
        say("destroyed: %d", static_cast<int>(vm->DestroyJavaVM()));
        return 0;
    }

    int createOnly() {
        jint rc = createJvm();
        say("create returned %d", static_cast<int>(rc));
        if (rc == JNI_OK) say("destroyed: %d", static_cast<int>(vm->DestroyJavaVM()));
        return 0;
    }

    // --- misuse: each of these must end the process ---------------------------------

    int pendingException() {
        mustCreate();
        env->FindClass("com/foo/Absent");
        env->FindClass("java/lang/String");
        return 0;
    }

    int pendingAfterMain() {
        mustCreate();
        auto [cls, main] = mainMethod();
        env->CallStaticVoidMethod(cls, main, argumentArray());
        env->NewStringUTF("log text");
        return 0;
    }

    int wrongThread() {
        mustCreate();
        std::thread([this] { env->FindClass("java/lang/String"); }).join();
        return 0;
    }

    int deletedRef() {
        mustCreate();
        jclass cls = env->FindClass("com/tarvo/runtime/WinLauncher");
        env->DeleteLocalRef(cls);
        env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
        return 0;
    }

    int doubleDelete() {
        mustCreate();
        jstring s1 = env->NewStringUTF("x");
        env->DeleteLocalRef(s1);
        env->DeleteLocalRef(s1);
        return 0;
    }

    int foreignRef() {
        mustCreate();
        int onTheStack = 0;
        env->GetStaticMethodID(reinterpret_cast<jclass>(&onTheStack), "main", "([Ljava/lang/String;)V");
        return 0;
    }

    int otherThreadsRef() {
        mustCreate();
        jstring fromThread = nullptr;
        HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        // The thread stays attached, so its local reference stays alive: only its owner may use it.
        std::thread([&] {
            JNIEnv* second = nullptr;
            vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&second), nullptr);
            fromThread = second->NewStringUTF("mine");
            SetEvent(made);
            Sleep(INFINITE);
        }).detach();
        WaitForSingleObject(made, INFINITE);
        env->GetStringLength(fromThread);
        return 0;
    }

    int foreignMethodId() {
        mustCreate();
        jclass cls = env->FindClass("com/tarvo/runtime/WinLauncher");
        int bogus = 0;
        env->CallStaticVoidMethod(cls, reinterpret_cast<jmethodID>(&bogus), nullptr);
        return 0;
    }

    int wrongReturnType() {
        mustCreate();
        jclass cls = env->FindClass("com/zandorium/runtime/launcher/FirstRun");
        jmethodID m = env->GetStaticMethodID(cls, "firstRun", "()Z");
        env->CallStaticVoidMethod(cls, m);
        return 0;
    }

    int staticAsInstance() {
        mustCreate();
        auto [cls, main] = mainMethod();
        jstring s1 = env->NewStringUTF("x");
        env->CallObjectMethod(s1, main, nullptr);
        return 0;
    }

    int wrongArgumentType() {
        mustCreate();
        auto [cls, main] = mainMethod();
        env->CallStaticVoidMethod(cls, main, env->NewStringUTF("not an array"));
        return 0;
    }

    int releaseForeignChars() {
        mustCreate();
        jstring s1 = env->NewStringUTF("x");
        jchar mine[2] = {'x', 0};
        env->ReleaseStringChars(s1, mine);
        return 0;
    }

    int afterDestroy() {
        mustCreate();
        vm->DestroyJavaVM();
        env->FindClass("java/lang/String");
        return 0;
    }

    int nullOptions() {
        JavaVMInitArgs args{};
        args.version = JNI_VERSION_1_2;
        args.nOptions = 2;
        args.options = nullptr;
        args.ignoreUnrecognized = JNI_TRUE;
        create(&vm, reinterpret_cast<void**>(&env), &args);
        return 0;
    }

    int unimplemented(const std::string& fn) {
        mustCreate();
        jclass cls = env->FindClass("java/lang/String");
        jstring s1 = env->NewStringUTF("x");
        static const std::map<std::string, std::function<void(JNIEnv*, jclass, jstring)>> calls = {
            {"GetFieldID", [](JNIEnv* e, jclass c, jstring) { e->GetFieldID(c, "value", "[B"); }},
            {"ThrowNew", [](JNIEnv* e, jclass c, jstring) { e->ThrowNew(c, "x"); }},
            {"MonitorEnter", [](JNIEnv* e, jclass, jstring s) { e->MonitorEnter(s); }},
            {"CallStaticIntMethod", [](JNIEnv* e, jclass c, jstring) { e->CallStaticIntMethod(c, nullptr); }},
            {"GetModule", [](JNIEnv* e, jclass c, jstring) { e->GetModule(c); }},
        };
        auto it = calls.find(fn);
        if (it == calls.end()) return 3;
        it->second(env, cls, s1);
        return 0;
    }
};

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 3) {
        std::fprintf(stderr, "usage: jni_driver <jvm.dll> <scenario> [options]\n");
        return 3;
    }
    Driver d;
    d.s.jvmDll = argv[1];
    d.s.scenario = ansi(argv[2]);
    for (int i = 3; i < argc; ++i) {
        std::wstring a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == L"--opt" && hasValue) d.s.options.push_back(ansi(argv[++i]));
        else if (a == L"--version" && hasValue) d.s.version = static_cast<jint>(std::wcstol(argv[++i], nullptr, 16));
        else if (a == L"--strict") d.s.strict = true;
        else if (a == L"--class" && hasValue) d.s.launcherClass = ansi(argv[++i]);
        else if (a == L"--arg" && hasValue) d.s.args.push_back(argv[++i]);
        else if (a == L"--splash") d.s.splash = true;
        else if (a == L"--firstrun") d.s.firstRun = true;
        else if (a == L"--helper" && hasValue) d.s.helper = argv[++i];
        else if (a == L"--time") d.s.time = true;
        else if (a == L"--no-settings") d.s.noSettings = true;
        else {
            std::fprintf(stderr, "unknown option %ls\n", a.c_str());
            return 3;
        }
    }
    LocalFree(argv);

    d.lib = LoadLibraryW(d.s.jvmDll.c_str());
    if (!d.lib) {
        say("LoadLibrary failed with error %lu", GetLastError());
        return 3;
    }
    d.create = lookup<CreateFn>(d.lib, "JNI_CreateJavaVM");
    if (!d.create) {
        say("no JNI_CreateJavaVM");
        return 3;
    }

    const std::string& sc = d.s.scenario;
    if (sc == "launch") return d.launch();
    if (sc == "semantics") return d.semantics();
    if (sc == "create") return d.createOnly();
    if (sc == "out-of-memory") return d.outOfMemory();
    if (sc == "pending-exception") return d.pendingException();
    if (sc == "pending-after-main") return d.pendingAfterMain();
    if (sc == "wrong-thread") return d.wrongThread();
    if (sc == "deleted-ref") return d.deletedRef();
    if (sc == "double-delete") return d.doubleDelete();
    if (sc == "foreign-ref") return d.foreignRef();
    if (sc == "other-threads-ref") return d.otherThreadsRef();
    if (sc == "foreign-method-id") return d.foreignMethodId();
    if (sc == "wrong-return-type") return d.wrongReturnType();
    if (sc == "static-as-instance") return d.staticAsInstance();
    if (sc == "wrong-argument-type") return d.wrongArgumentType();
    if (sc == "release-foreign-chars") return d.releaseForeignChars();
    if (sc == "after-destroy") return d.afterDestroy();
    if (sc == "null-options") return d.nullOptions();
    if (sc.rfind("unimplemented:", 0) == 0) return d.unimplemented(sc.substr(14));
    std::fprintf(stderr, "unknown scenario %s\n", sc.c_str());
    return 3;
}
