// The invocation interface: the three exports of jvm.dll and the JavaVM functions.
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "jnienv.h"

namespace standin::jvm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

struct VmStruct {
    const JNIInvokeInterface_* functions;
};
VmStruct javaVm;

std::string hexVersion(jint version) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(version));
    return text;
}

bool supportedVersion(jint version) {
    switch (version) {
    case JNI_VERSION_1_2:
    case JNI_VERSION_1_4:
    case JNI_VERSION_1_6:
    case JNI_VERSION_1_8:
    case JNI_VERSION_9:
    case JNI_VERSION_10: return true;
    default: return false;
    }
}

void checkVm(JavaVM* p, const char* fn) {
    if (reinterpret_cast<VmStruct*>(p) != &javaVm || !vm().created)
        violation(fn, "the JavaVM pointer was not handed out by this JVM");
    if (vm().destroyed) violation(fn, "the JavaVM is used after DestroyJavaVM");
}

EnvImpl* newEnv(const std::string& name, bool daemon) {
    auto env = std::make_unique<EnvImpl>();
    env->functions = envTable();
    env->thread = GetCurrentThreadId();
    env->threadName = name;
    env->daemon = daemon;
    EnvImpl* raw = env.get();
    vm().envs.push_back(std::move(env));
    return raw;
}

// Ends an environment: its local references die with it.
void retire(EnvImpl* env) {
    env->live = false;
    for (auto& [handle, ref] : vm().refs)
        if (!ref.global && ref.owner == env) ref.live = false;
}

// A native thread attached without the daemon flag keeps DestroyJavaVM waiting.
bool countsForDestroy(const EnvImpl* env) { return !env->daemon && env->threadName != "main"; }

void threadGone() {
    Vm& v = vm();
    std::lock_guard<std::mutex> hold(v.threadLock);
    --v.liveNonDaemon;
    v.threadsChanged.notify_all();
}

jint JNICALL DestroyJavaVM(JavaVM* p) {
    EnvImpl* env = nullptr;
    {
        Lock hold(vm().lock);
        checkVm(p, "DestroyJavaVM");
        env = vm().envOfCurrentThread();
        if (!env) env = newEnv("DestroyJavaVM", false);
        else if (countsForDestroy(env)) threadGone();
        if (env->pending) {
            // The destroying thread ends like any Java thread: its exception is uncaught.
            Object* ex = env->pending;
            env->pending = nullptr;
            printUncaught(*env, ex);
        }
        int waiting;
        {
            std::lock_guard<std::mutex> threads(vm().threadLock);
            waiting = vm().liveNonDaemon;
        }
        trace("destroy", {{"phase", "begin"}, {"thread", env->threadName}, {"waitingFor", std::to_string(waiting)}});
    }
    {
        std::unique_lock<std::mutex> threads(vm().threadLock);
        vm().threadsChanged.wait(threads, [] { return vm().liveNonDaemon <= 0; });
    }
    Lock hold(vm().lock);
    for (auto& e : vm().envs) retire(e.get());
    vm().destroyed = true;
    trace("destroy", {{"phase", "end"}, {"result", "0"}});
    return JNI_OK;
}

jint attach(JavaVM* p, void** penv, void* args, bool daemon, const char* fn) {
    Lock hold(vm().lock);
    checkVm(p, fn);
    if (!penv) violation(fn, "the JNIEnv result pointer is null");
    if (EnvImpl* existing = vm().envOfCurrentThread()) {
        *penv = existing;
        trace("call", {{"fn", fn}, {"result", "0"}, {"thread", existing->threadName}, {"already", "true"}});
        return JNI_OK;
    }
    std::string name = "Thread-" + std::to_string(vm().nextThread++);
    if (args) {
        auto* a = static_cast<JavaVMAttachArgs*>(args);
        if (!supportedVersion(a->version)) {
            trace("call", {{"fn", fn}, {"version", hexVersion(a->version)}, {"result", "-3"}});
            return JNI_EVERSION;
        }
        if (a->name) name = a->name;
    }
    EnvImpl* env = newEnv(name, daemon);
    if (countsForDestroy(env)) {
        std::lock_guard<std::mutex> threads(vm().threadLock);
        ++vm().liveNonDaemon;
    }
    *penv = env;
    trace("call", {{"fn", fn}, {"result", "0"}, {"thread", name}, {"daemon", daemon ? "true" : "false"}});
    return JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM* p, void** penv, void* args) {
    return attach(p, penv, args, false, "AttachCurrentThread");
}

jint JNICALL AttachCurrentThreadAsDaemon(JavaVM* p, void** penv, void* args) {
    return attach(p, penv, args, true, "AttachCurrentThreadAsDaemon");
}

jint JNICALL DetachCurrentThread(JavaVM* p) {
    Lock hold(vm().lock);
    checkVm(p, "DetachCurrentThread");
    EnvImpl* env = vm().envOfCurrentThread();
    if (!env) {
        trace("call", {{"fn", "DetachCurrentThread"}, {"result", "0"}, {"attached", "false"}});
        return JNI_OK;
    }
    if (env->pending) {
        Object* ex = env->pending;
        env->pending = nullptr;
        printUncaught(*env, ex);
    }
    retire(env);
    if (countsForDestroy(env)) threadGone();
    trace("call", {{"fn", "DetachCurrentThread"}, {"result", "0"}, {"thread", env->threadName}});
    return JNI_OK;
}

jint JNICALL GetEnv(JavaVM* p, void** penv, jint version) {
    Lock hold(vm().lock);
    checkVm(p, "GetEnv");
    if (!penv) violation("GetEnv", "the JNIEnv result pointer is null");
    jint result = JNI_OK;
    EnvImpl* env = vm().envOfCurrentThread();
    if (!supportedVersion(version) && version != JNI_VERSION_1_1) {
        result = JNI_EVERSION;
        env = nullptr;
    } else if (!env) {
        result = JNI_EDETACHED;
    }
    *penv = env;
    trace("call", {{"fn", "GetEnv"}, {"version", hexVersion(version)}, {"result", std::to_string(result)}});
    return result;
}

const JNIInvokeInterface_ invokeTable = {
    nullptr, nullptr, nullptr, DestroyJavaVM, AttachCurrentThread, DetachCurrentThread, GetEnv, AttachCurrentThreadAsDaemon,
};

// --- options ---------------------------------------------------------------------------

bool isSize(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == 0) return false;
    if (i == text.size()) return true;
    return i + 1 == text.size() && std::string_view("kKmMgGtT").find(text[i]) != std::string_view::npos;
}

bool startsWith(const std::string& text, std::string_view prefix) { return text.rfind(prefix, 0) == 0; }

struct OptionVerdict {
    jint code = JNI_OK;  // JNI_OK: accepted or ignored
    bool ignored = false;
    std::string message;  // what HotSpot prints on a refusal
};

OptionVerdict judgeOption(const std::string& opt, bool ignoreUnrecognized) {
    static const char* const exact[] = {
        "-Xrs", "-Xint", "-Xmixed", "-Xcomp", "-Xbatch", "-Xcheck:jni", "-Xdebug", "-Xnoclassgc", "-Xnoagent",
        "-Xincgc", "-Xfuture", "-Xprof", "-Xconcurrentio", "-Xinternalversion", "-verbose", "-ea", "-da", "-esa",
        "-dsa", "-enableassertions", "-disableassertions", "-enablesystemassertions", "-disablesystemassertions",
        "--enable-preview", "vfprintf", "exit", "abort",
    };
    static const char* const prefixes[] = {
        "-D", "-verbose:", "-ea:", "-da:", "-enableassertions:", "-disableassertions:", "-javaagent:", "-agentlib:",
        "-agentpath:", "-Xrun", "-Xbootclasspath:", "-Xbootclasspath/a:", "-Xbootclasspath/p:", "-Xloggc:", "-Xlog",
        "-Xshare:", "-Xverify:", "--add-opens=", "--add-exports=", "--add-reads=", "--add-modules=",
        "--limit-modules=", "--patch-module=", "--illegal-access=", "--enable-native-access=",
    };
    for (const char* e : exact)
        if (opt == e) return {};
    for (const char* p : prefixes)
        if (startsWith(opt, p)) return {};
    static const std::pair<const char*, const char*> sized[] = {
        {"-Xmx", "Invalid maximum heap size: "},
        {"-Xms", "Invalid initial heap size: "},
        {"-Xmn", "Invalid maximum new generation size: "},
        {"-Xss", "Invalid thread stack size: "},
    };
    for (auto [prefix, complaint] : sized)
        if (startsWith(opt, prefix)) {
            if (isSize(opt.substr(4))) return {};
            return {JNI_EINVAL, false, complaint + opt};
        }
    if (startsWith(opt, "-XX:")) {
        std::string flag = opt.substr(4);
        if ((flag.size() > 1 && (flag[0] == '+' || flag[0] == '-')) || flag.find('=') != std::string::npos) return {};
        return {JNI_EINVAL, false, "Unrecognized VM option '" + flag + "'"};
    }
    if (ignoreUnrecognized && (startsWith(opt, "-X") || startsWith(opt, "_"))) return {JNI_OK, true, {}};
    return {JNI_ERR, false, "Unrecognized option: " + opt};
}

// Reads standin.outOfMemory ("NewString:3,NewObjectArray:1"); returns what is wrong with
// it, or nothing.
std::string parseOutOfMemory(const std::string& value, std::map<std::string, std::set<long>>& out) {
    size_t start = 0;
    while (start <= value.size()) {
        size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        std::string item = value.substr(start, comma - start);
        start = comma + 1;
        if (item.empty()) continue;
        size_t colon = item.find(':');
        std::string fn = item.substr(0, colon);
        std::string number = colon == std::string::npos ? std::string() : item.substr(colon + 1);
        if (fn != "NewString" && fn != "NewObjectArray")
            return "standin.outOfMemory: unknown function '" + fn + "' in '" + item +
                   "' (only NewString and NewObjectArray can run out of memory)";
        bool digits = !number.empty() && number.size() <= 9;
        for (char c : number) digits = digits && std::isdigit(static_cast<unsigned char>(c));
        long n = digits ? std::atol(number.c_str()) : 0;
        if (n < 1) return "standin.outOfMemory: '" + item + "' is not <Function>:<n> with n counting calls from 1";
        out[fn].insert(n);
    }
    return {};
}

jint refuse(jint code, const std::string& reason, const std::string& stderrText) {
    if (!stderrText.empty()) writeStd(STD_ERROR_HANDLE, stderrText);
    trace("create", {{"result", std::to_string(code)}, {"reason", reason}});
    return code;
}

}  // namespace

JavaVM* theJavaVM() { return reinterpret_cast<JavaVM*>(&javaVm); }

}  // namespace standin::jvm

using namespace standin;
using namespace standin::jvm;

extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
    if (!args) violation("JNI_GetDefaultJavaVMInitArgs", "the argument pointer is null");
    jint version = static_cast<JavaVMInitArgs*>(args)->version;
    jint result = supportedVersion(version) ? JNI_OK : JNI_EVERSION;
    trace("call", {{"fn", "JNI_GetDefaultJavaVMInitArgs"}, {"version", hexVersion(version)}, {"result", std::to_string(result)}});
    return result;
}

extern "C" JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** buffer, jsize length, jsize* count) {
    Lock hold(vm().lock);
    bool alive = vm().created && !vm().destroyed;
    if (count) *count = alive ? 1 : 0;
    if (alive && buffer && length > 0) buffer[0] = theJavaVM();
    trace("call", {{"fn", "JNI_GetCreatedJavaVMs"}, {"result", alive ? "1" : "0"}});
    return JNI_OK;
}

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* vmArgs) {
    const char* fn = "JNI_CreateJavaVM";
    Lock hold(vm().lock);
    if (!pvm || !penv) violation(fn, "the JavaVM or JNIEnv result pointer is null");
    if (!vmArgs) violation(fn, "the JavaVMInitArgs pointer is null");
    auto* args = static_cast<JavaVMInitArgs*>(vmArgs);
    *pvm = nullptr;
    *penv = nullptr;
    std::string ignore = args->ignoreUnrecognized == JNI_TRUE    ? "true"
                         : args->ignoreUnrecognized == JNI_FALSE ? "false"
                                                                 : std::to_string(args->ignoreUnrecognized);
    trace("init", {{"version", hexVersion(args->version)},
                   {"nOptions", std::to_string(args->nOptions)},
                   {"ignoreUnrecognized", ignore}});
    if (!supportedVersion(args->version))
        return refuse(JNI_EVERSION, "unsupported JNI version " + hexVersion(args->version), {});
    if (args->nOptions < 0) violation(fn, "nOptions is negative (" + std::to_string(args->nOptions) + ")");
    if (args->nOptions > 0 && !args->options) violation(fn, "options is null with nOptions " + std::to_string(args->nOptions));
    for (jint i = 0; i < args->nOptions; ++i) {
        const JavaVMOption& o = args->options[i];
        if (!o.optionString) violation(fn, "option " + std::to_string(i) + " has a null optionString");
        std::vector<Field> fields{{"i", std::to_string(i)}, {"text", toUtf8(fromAnsi(o.optionString))}};
        if (o.extraInfo) {
            char text[32];
            std::snprintf(text, sizeof text, "%p", o.extraInfo);
            fields.push_back({"extraInfo", text});
        }
        trace("option", fields);
    }

    Vm& v = vm();
    if (v.destroyed) return refuse(JNI_ERR, "the JVM was destroyed and cannot be created again", {});
    if (v.created) return refuse(JNI_EEXIST, "a JVM exists already", {});

    std::map<std::string, std::string> props;
    for (jint i = 0; i < args->nOptions; ++i) {
        std::string opt = args->options[i].optionString;
        OptionVerdict verdict = judgeOption(opt, args->ignoreUnrecognized != JNI_FALSE);
        if (verdict.code != JNI_OK)
            return refuse(verdict.code, verdict.message,
                          verdict.message + "\r\nError: Could not create the Java Virtual Machine.\r\n"
                                            "Error: A fatal exception has occurred. Program will exit.\r\n");
        if (verdict.ignored) trace("option-ignored", {{"i", std::to_string(i)}, {"text", toUtf8(fromAnsi(opt))}});
        if (startsWith(opt, "-D")) {
            size_t eq = opt.find('=');
            if (eq == std::string::npos) props[opt.substr(2)] = "";
            else props[opt.substr(2, eq - 2)] = opt.substr(eq + 1);
        }
    }
    auto fails = props.find("standin.createFails");
    if (fails != props.end() && fails->second != "false") {
        jint code = JNI_ERR;
        if (fails->second != "true" && !fails->second.empty()) code = std::atoi(fails->second.c_str());
        return refuse(code, "standin.createFails",
                      "Error occurred during initialization of VM\r\nCould not reserve enough space for object heap\r\n");
    }

    std::map<std::string, std::set<long>> outOfMemoryAt;
    auto oom = props.find("standin.outOfMemory");
    if (oom != props.end()) {
        std::string wrong = parseOutOfMemory(oom->second, outOfMemoryAt);
        if (!wrong.empty())
            return refuse(JNI_ERR, wrong,
                          wrong + "\r\nError: Could not create the Java Virtual Machine.\r\n"
                                  "Error: A fatal exception has occurred. Program will exit.\r\n");
    }

    v.outOfMemoryAt = std::move(outOfMemoryAt);
    v.props = std::move(props);
    defineJavaSide(v);
    std::string wrongThrowIn = applyThrowIn(v);
    if (!wrongThrowIn.empty()) {
        // Back to nothing defined, as before this attempt.
        v.throwIn.clear();
        v.methodIds.clear();
        v.classes.clear();
        v.props.clear();
        return refuse(JNI_ERR, wrongThrowIn,
                      wrongThrowIn + "\r\nError: Could not create the Java Virtual Machine.\r\n"
                                     "Error: A fatal exception has occurred. Program will exit.\r\n");
    }
    applyAbsent(v);
    javaVm.functions = &invokeTable;
    v.created = true;
    EnvImpl* env = newEnv("main", false);
    *pvm = theJavaVM();
    *penv = env;
    trace("create", {{"result", "0"}, {"thread", "main"}});
    return JNI_OK;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) trace("load", {{"path", toUtf8(modulePath(module))}});
    return TRUE;
}
