// The Java side of the stand-in: java.lang essentials and the runtime classes the
// launcher calls. What the runtime classes do is chosen by standin.* properties.
#include <thread>

#include "vm.h"

namespace standin::jvm {

namespace {

std::string prop(const std::string& key, const std::string& fallback = {}) {
    auto it = vm().props.find(key);
    return it == vm().props.end() ? fallback : it->second;
}

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(sep, pos);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

int toInt(const std::string& text, int fallback) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() ? static_cast<int>(value) : fallback;
}

// Java's System.out and System.err: unbuffered, UTF-8, Windows line ends.
void println(DWORD stream, const std::string& utf8Text) { writeStd(stream, utf8Text + "\r\n"); }

std::string optionUtf8(const std::string& ansi) { return utf8(fromOptionText(ansi)); }

// A Java thread: counted for DestroyJavaVM unless it is a daemon.
void startThread(bool daemon, const std::string& what, std::function<void()> body) {
    Vm& v = vm();
    std::string name = "Thread-" + std::to_string(v.nextThread++);
    if (!daemon) {
        std::lock_guard<std::mutex> hold(v.threadLock);
        ++v.liveNonDaemon;
    }
    trace("thread", {{"name", name}, {"event", "start"}, {"daemon", daemon ? "true" : "false"}, {"what", what}});
    std::thread([name, daemon, body = std::move(body)] {
        body();
        trace("thread", {{"name", name}, {"event", "end"}});
        if (!daemon) {
            Vm& v = vm();
            std::lock_guard<std::mutex> hold(v.threadLock);
            --v.liveNonDaemon;
            v.threadsChanged.notify_all();
        }
    }).detach();
}

// Reads standard input line by line until a line "0" or the end of input; returns
// "zero" or "eof".
std::string readStdinUntilZero() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string line;
    for (;;) {
        char c;
        DWORD got = 0;
        bool ok = in && in != INVALID_HANDLE_VALUE && ReadFile(in, &c, 1, &got, nullptr) && got == 1;
        if (!ok || c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (ok || !line.empty()) {
                trace("stdin", {{"line", optionUtf8(line)}});
                if (line == "0") return "zero";
            }
            if (!ok) return "eof";
            line.clear();
            continue;
        }
        line += c;
    }
}

// Runs the steps of standin.main; false when a step threw (the exception is pending).
bool runMainSteps(EnvImpl& env, const ClassInfo* cls, const Object* args) {
    std::string steps = prop("standin.main");
    if (steps.empty()) return true;
    for (const std::string& step : split(steps, ';')) {
        if (step.empty()) continue;
        size_t colon = step.find(':');
        std::string name = step.substr(0, colon);
        std::string arg = colon == std::string::npos ? std::string() : step.substr(colon + 1);
        trace("step", {{"name", name}, {"arg", optionUtf8(arg)}});
        if (name == "print") {
            println(STD_OUTPUT_HANDLE, optionUtf8(arg));
        } else if (name == "eprint") {
            println(STD_ERROR_HANDLE, optionUtf8(arg));
        } else if (name == "args") {
            for (size_t i = 0; i < args->elems.size(); ++i)
                println(STD_OUTPUT_HANDLE, "arg[" + std::to_string(i) + "]=" + describe(args->elems[i]));
        } else if (name == "prop") {
            auto it = vm().props.find(arg);
            println(STD_OUTPUT_HANDLE,
                    optionUtf8(arg) + (it == vm().props.end() ? " is not set" : "=" + optionUtf8(it->second)));
        } else if (name == "env") {
            std::wstring value = envVar(fromAnsi(arg).c_str());
            println(STD_OUTPUT_HANDLE, optionUtf8(arg) + "=" + toUtf8(value));
        } else if (name == "cwd") {
            wchar_t dir[MAX_PATH * 4];
            DWORD n = GetCurrentDirectoryW(MAX_PATH * 4, dir);
            println(STD_OUTPUT_HANDLE, "cwd=" + toUtf8(std::wstring_view(dir, n < MAX_PATH * 4 ? n : 0)));
        } else if (name == "sleep") {
            Sleep(static_cast<DWORD>(toInt(arg, 0)));
        } else if (name == "thread" || name == "daemon") {
            int ms = toInt(arg, 0);
            startThread(name == "daemon", "sleep " + std::to_string(ms), [ms] { Sleep(static_cast<DWORD>(ms)); });
        } else if (name == "stdin") {
            trace("stdin", {{"end", readStdinUntilZero()}});
        } else if (name == "watchstdin") {
            int code = toInt(arg, 0);
            startThread(false, "watch stdin", [code] {
                trace("stdin", {{"end", readStdinUntilZero()}});
                systemExit(code);
            });
        } else if (name == "throw") {
            std::u16string message = fromOptionText(arg);
            Object* ex = vm().newThrowable("java/lang/RuntimeException", &message, {javaFrame(cls, "main")});
            setPending(env, ex, "java");
            return false;
        } else if (name == "exit") {
            systemExit(toInt(arg, 0));
        } else {
            std::u16string message = u"unknown standin.main step: " + fromOptionText(name);
            Object* ex = vm().newThrowable("java/lang/IllegalArgumentException", &message, {javaFrame(cls, "main")});
            setPending(env, ex, "java");
            return false;
        }
    }
    return true;
}

Value launcherMain(EnvImpl& env, const ClassInfo* cls, const std::vector<Value>& args) {
    const Object* array = args[0].obj;
    if (!array) {
        trace("main", {{"class", cls->name}, {"count", "null"}});
        setPending(env, vm().newThrowable("java/lang/NullPointerException", nullptr, {javaFrame(cls, "main")}), "java");
        return {};
    }
    trace("main", {{"class", cls->name}, {"count", std::to_string(array->elems.size())}});
    for (size_t i = 0; i < array->elems.size(); ++i) {
        const Object* element = array->elems[i];
        if (element)
            trace("main-arg", {{"i", std::to_string(i)}, {"text", utf8(element->chars)}});
        else
            trace("main-arg", {{"i", std::to_string(i)}, {"null", "true"}});
    }
    // The runtime reads its five launcher settings first.
    if (array->elems.size() < 5) {
        std::string n = std::to_string(array->elems.size());
        std::u16string message = utf16(fromUtf8("Index " + n + " out of bounds for length " + n));
        setPending(env, vm().newThrowable("java/lang/ArrayIndexOutOfBoundsException", &message, {javaFrame(cls, "main")}),
                   "java");
        return {};
    }
    runMainSteps(env, cls, array);
    return {};
}

}  // namespace

void defineJavaSide(Vm& v) {
    ClassInfo* object = v.defineClass("java/lang/Object", nullptr);
    ClassInfo* classClass = v.defineClass("java/lang/Class", object);
    for (ClassInfo* c : {object, classClass}) {
        c->mirror = v.newObject(classClass);
        c->mirror->mirrorOf = c;
    }
    ClassInfo* string = v.defineClass("java/lang/String", object);

    v.defineMethod(object, "<init>", "()V", false, [](EnvImpl&, Object*, const std::vector<Value>&) { return Value{}; });
    v.defineMethod(object, "toString", "()Ljava/lang/String;", false, [](EnvImpl&, Object* self, const std::vector<Value>&) {
        return objValue(vm().newString(utf16(fromUtf8(describe(self)))));
    });
    v.defineMethod(object, "hashCode", "()I", false, [](EnvImpl&, Object* self, const std::vector<Value>&) {
        Value r;
        r.type = 'I';
        r.prim.i = self->hash;
        return r;
    });
    v.defineMethod(object, "getClass", "()Ljava/lang/Class;", false,
                   [](EnvImpl&, Object* self, const std::vector<Value>&) { return objValue(self->cls->mirror); });
    v.defineMethod(classClass, "getName", "()Ljava/lang/String;", false, [](EnvImpl&, Object* self, const std::vector<Value>&) {
        return objValue(vm().newString(utf16(fromUtf8(self->mirrorOf->dotted()))));
    });
    v.defineMethod(string, "toString", "()Ljava/lang/String;", false,
                   [](EnvImpl&, Object* self, const std::vector<Value>&) { return objValue(self); });
    v.defineMethod(string, "length", "()I", false, [](EnvImpl&, Object* self, const std::vector<Value>&) {
        Value r;
        r.type = 'I';
        r.prim.i = static_cast<jint>(self->chars.size());
        return r;
    });

    ClassInfo* throwable = v.defineClass("java/lang/Throwable", object);
    v.defineMethod(throwable, "getMessage", "()Ljava/lang/String;", false, [](EnvImpl&, Object* self, const std::vector<Value>&) {
        return objValue(self->hasMessage ? vm().newString(self->message) : nullptr);
    });
    v.defineMethod(throwable, "toString", "()Ljava/lang/String;", false, [](EnvImpl&, Object* self, const std::vector<Value>&) {
        return objValue(vm().newString(utf16(fromUtf8(throwableText(self)))));
    });
    v.defineMethod(throwable, "printStackTrace", "()V", false, [](EnvImpl&, Object* self, const std::vector<Value>&) {
        writeStd(STD_ERROR_HANDLE, stackTraceText(self));
        return Value{};
    });
    ClassInfo* exception = v.defineClass("java/lang/Exception", throwable);
    ClassInfo* error = v.defineClass("java/lang/Error", throwable);
    ClassInfo* runtime = v.defineClass("java/lang/RuntimeException", exception);
    ClassInfo* linkage = v.defineClass("java/lang/LinkageError", error);
    v.defineClass("java/lang/OutOfMemoryError", v.defineClass("java/lang/VirtualMachineError", error));
    v.defineClass("java/lang/NoClassDefFoundError", linkage);
    v.defineClass("java/lang/UnsatisfiedLinkError", linkage);
    ClassInfo* incompatible = v.defineClass("java/lang/IncompatibleClassChangeError", linkage);
    v.defineClass("java/lang/NoSuchMethodError", incompatible);
    v.defineClass("java/lang/ClassNotFoundException", v.defineClass("java/lang/ReflectiveOperationException", exception));
    ClassInfo* bounds = v.defineClass("java/lang/IndexOutOfBoundsException", runtime);
    v.defineClass("java/lang/ArrayIndexOutOfBoundsException", bounds);
    v.defineClass("java/lang/ArrayStoreException", runtime);
    v.defineClass("java/lang/NegativeArraySizeException", runtime);
    v.defineClass("java/lang/NullPointerException", runtime);
    v.defineClass("java/lang/IllegalArgumentException", runtime);

    const char* mainSig = "([Ljava/lang/String;)V";
    ClassInfo* winLauncher = v.defineClass("com/tarvo/runtime/WinLauncher", object);
    v.defineMethod(winLauncher, "main", mainSig, true, [winLauncher](EnvImpl& env, Object*, const std::vector<Value>& a) {
        return launcherMain(env, winLauncher, a);
    });
    v.defineMethod(winLauncher, "initAwtSplashConfig",
                   "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V", true,
                   [](EnvImpl&, Object*, const std::vector<Value>&) { return Value{}; });

    ClassInfo* zLauncher = v.defineClass("com/zandorium/runtime/launcher/WinLauncher", object);
    v.defineMethod(zLauncher, "main", mainSig, true, [zLauncher](EnvImpl& env, Object*, const std::vector<Value>& a) {
        return launcherMain(env, zLauncher, a);
    });

    ClassInfo* firstRun = v.defineClass("com/zandorium/runtime/launcher/FirstRun", object);
    // standin.firstRun=throw reaches it through standin.throwIn (applyThrowIn).
    v.defineMethod(firstRun, "firstRun", "()Z", true, [](EnvImpl&, Object*, const std::vector<Value>&) {
        return boolValue(prop("standin.firstRun", "true") != "false");
    });

    ClassInfo* common = v.defineClass("com/zandorium/runtime/installer/platform/win32/Common", object);
    v.defineMethod(common, "initFromLauncher", "(Z)V", true,
                   [](EnvImpl&, Object*, const std::vector<Value>&) { return Value{}; });
    // The natives the helper library registers.
    v.defineMethod(common, "isAdmin", "()Z", true, nullptr, true);
    v.defineMethod(common, "getProcessId", "()I", true, nullptr, true);
}

void applyAbsent(Vm& v) {
    for (std::string entry : split(prop("standin.absent"), ',')) {
        if (entry.empty()) continue;
        size_t slash = entry.rfind('/');
        size_t dot = entry.find('.', slash == std::string::npos ? 0 : slash);
        if (slash != std::string::npos && dot != std::string::npos) {
            // com/foo/Bar.method: the class stays, the method goes.
            if (ClassInfo* cls = v.lookupClass(entry.substr(0, dot))) {
                std::string method = entry.substr(dot + 1);
                auto& ms = cls->methods;
                for (auto it = ms.begin(); it != ms.end();) {
                    if ((*it)->name == method) {
                        v.methodIds.erase(it->get());
                        it = ms.erase(it);
                    } else {
                        ++it;
                    }
                }
            }
            continue;
        }
        for (char& c : entry)
            if (c == '.') c = '/';
        if (ClassInfo* cls = v.lookupClass(entry)) cls->hidden = true;
    }
}

std::string applyThrowIn(Vm& v) {
    const std::string firstRunKey = "com/zandorium/runtime/launcher/FirstRun.firstRun";
    for (const std::string& item : split(prop("standin.throwIn"), ',')) {
        if (item.empty()) continue;
        size_t colon = item.find(':');
        std::string target = item.substr(0, colon);
        size_t dot = target.rfind('.');
        if (dot == std::string::npos || dot == 0 || dot + 1 == target.size())
            return "standin.throwIn: '" + item + "' is not <class>.<method>[:<message>]";
        std::string className = target.substr(0, dot);
        std::string method = target.substr(dot + 1);
        for (char& c : className)
            if (c == '.') c = '/';
        ClassInfo* cls = v.lookupClass(className);
        if (!cls || cls->isArray()) return "standin.throwIn: unknown class '" + className + "' in '" + item + "'";
        bool found = false;
        for (const auto& m : cls->methods) found = found || (m->name == method && m->isStatic && !m->isNative);
        if (!found)
            return "standin.throwIn: unknown method '" + method + "' in '" + item + "' (" + className +
                   " has no static method of that name with Java code)";
        v.throwIn[className + "." + method] =
            colon == std::string::npos ? fromOptionText(method + " failed") : fromOptionText(item.substr(colon + 1));
    }
    // The older way to make firstRun throw; a standin.throwIn item for it wins.
    std::string mode = prop("standin.firstRun");
    if ((mode == "throw" || mode.rfind("throw:", 0) == 0) && !v.throwIn.count(firstRunKey))
        v.throwIn[firstRunKey] = mode == "throw" ? u"firstRun failed" : fromOptionText(mode.substr(6));
    return {};
}

}  // namespace standin::jvm
