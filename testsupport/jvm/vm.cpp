#include "vm.h"

#include <cstdio>

namespace standin::jvm {

Vm& vm() {
    static Vm* instance = new Vm();  // never destroyed: threads may still run at process end
    return *instance;
}

void trace(std::string_view kind, const std::vector<Field>& fields) { appendRecord(kTraceVar, kind, fields); }

void violation(std::string_view fn, const std::string& what) {
    trace("violation", {{"fn", std::string(fn)}, {"what", what}});
    std::string text = "FATAL ERROR in native method: JNI violation in " + std::string(fn) + ": " + what + "\r\n";
    writeStd(STD_ERROR_HANDLE, text);
    TerminateProcess(GetCurrentProcess(), kViolationExitCode);
    for (;;) Sleep(INFINITE);
}

std::string utf8(const std::u16string& s) {
    // Lone surrogates become U+FFFD; the trace and the streams are UTF-8.
    return toUtf8(std::wstring_view(reinterpret_cast<const wchar_t*>(s.data()), s.size()));
}

std::u16string utf16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

std::u16string fromOptionText(std::string_view ansi) { return utf16(fromAnsi(ansi)); }

std::string ClassInfo::dotted() const {
    std::string out = name;
    for (char& c : out)
        if (c == '/') c = '.';
    return out;
}

bool ClassInfo::isSubclassOf(const ClassInfo* other) const {
    for (const ClassInfo* c = this; c; c = c->super)
        if (c == other) return true;
    return false;
}

ClassInfo* Vm::defineClass(const std::string& name, ClassInfo* super) {
    auto cls = std::make_unique<ClassInfo>();
    cls->name = name;
    cls->super = super;
    ClassInfo* raw = cls.get();
    classes[name] = std::move(cls);
    if (ClassInfo* classClass = lookupClass("java/lang/Class")) {
        raw->mirror = newObject(classClass);
        raw->mirror->mirrorOf = raw;
    }
    return raw;
}

static bool splitSignature(const std::string& sig, std::vector<std::string>& params, std::string& ret) {
    if (sig.empty() || sig[0] != '(') return false;
    size_t i = 1;
    auto one = [&](std::string& out) {
        size_t start = i;
        while (i < sig.size() && sig[i] == '[') ++i;
        if (i >= sig.size()) return false;
        if (sig[i] == 'L') {
            size_t semi = sig.find(';', i);
            if (semi == std::string::npos) return false;
            i = semi + 1;
        } else if (std::string_view("ZBCSIJFDV").find(sig[i]) != std::string_view::npos) {
            ++i;
        } else {
            return false;
        }
        out = sig.substr(start, i - start);
        return true;
    };
    while (i < sig.size() && sig[i] != ')') {
        std::string p;
        if (!one(p)) return false;
        params.push_back(p);
    }
    if (i >= sig.size()) return false;
    ++i;
    return one(ret) && i == sig.size();
}

MethodInfo* Vm::defineMethod(ClassInfo* cls, const std::string& name, const std::string& sig, bool isStatic,
                             MethodImpl impl, bool isNative) {
    auto m = std::make_unique<MethodInfo>();
    m->holder = cls;
    m->name = name;
    m->sig = sig;
    m->isStatic = isStatic;
    m->isNative = isNative;
    m->impl = std::move(impl);
    splitSignature(sig, m->params, m->ret);
    MethodInfo* raw = m.get();
    methodIds.insert(raw);
    cls->methods.push_back(std::move(m));
    return raw;
}

ClassInfo* Vm::lookupClass(const std::string& name) {
    auto it = classes.find(name);
    return it == classes.end() ? nullptr : it->second.get();
}

ClassInfo* Vm::arrayClassOf(ClassInfo* element) {
    std::string name = element->isArray() ? "[" + element->name : "[L" + element->name + ";";
    if (ClassInfo* known = lookupClass(name)) return known;
    ClassInfo* cls = defineClass(name, lookupClass("java/lang/Object"));
    cls->component = element;
    return cls;
}

Object* Vm::newObject(ClassInfo* cls) {
    Object* o = new Object();  // the heap is never collected
    o->cls = cls;
    o->hash = nextHash;
    nextHash = nextHash * 1103515245 + 12345;
    if (nextHash < 0) nextHash = -nextHash;
    return o;
}

Object* Vm::newString(std::u16string chars) {
    Object* o = newObject(lookupClass("java/lang/String"));
    o->chars = std::move(chars);
    return o;
}

Object* Vm::newThrowable(const std::string& className, const std::u16string* message, std::vector<std::string> frames) {
    ClassInfo* cls = lookupClass(className);
    if (!cls) cls = lookupClass("java/lang/RuntimeException");
    Object* o = newObject(cls);
    if (message) {
        o->hasMessage = true;
        o->message = *message;
    }
    o->frames = std::move(frames);
    return o;
}

jobject Vm::newRef(EnvImpl* owner, Object* obj, bool global) {
    if (!obj) return nullptr;
    // Handles are never reused, so a deleted one stays recognisable. They point into
    // the upper user address range, which nothing here maps.
    static uintptr_t next = 0x7e5a00000010;
    uintptr_t handle = next;
    next += 0x10;
    Ref ref;
    ref.obj = obj;
    ref.global = global;
    ref.owner = owner;
    refs[handle] = ref;
    return reinterpret_cast<jobject>(handle);
}

bool Vm::heapExhausted(const std::string& fn) {
    long n = ++allocationCalls[fn];
    auto it = outOfMemoryAt.find(fn);
    return it != outOfMemoryAt.end() && it->second.count(n) != 0;
}

EnvImpl* Vm::envOfCurrentThread() {
    DWORD me = GetCurrentThreadId();
    for (auto& e : envs)
        if (e->live && e->thread == me) return e.get();
    return nullptr;
}

bool Vm::isOurEnv(const EnvImpl* env) const {
    for (auto& e : envs)
        if (e.get() == env) return true;
    return false;
}

std::string throwableText(const Object* ex) {
    std::string text = ex->cls->dotted();
    if (ex->hasMessage) text += ": " + utf8(ex->message);
    return text;
}

std::string describe(const Object* obj) {
    if (!obj) return "null";
    const ClassInfo* cls = obj->cls;
    if (cls->name == "java/lang/String") return utf8(obj->chars);
    if (cls->isArray()) {
        std::string element = cls->component->name;
        size_t slash = element.rfind('/');
        if (slash != std::string::npos) element = element.substr(slash + 1);
        return element + "[" + std::to_string(obj->elems.size()) + "]";
    }
    if (obj->mirrorOf) return "class " + obj->mirrorOf->name;
    for (const ClassInfo* c = cls; c; c = c->super)
        if (c->name == "java/lang/Throwable") return throwableText(obj);
    char hash[16];
    std::snprintf(hash, sizeof hash, "%x", static_cast<unsigned>(obj->hash));
    return cls->dotted() + "@" + hash;
}

void setPending(EnvImpl& env, Object* ex, std::string_view thrownBy) {
    env.pending = ex;
    trace("exception", {{"class", ex->cls->dotted()},
                        {"message", ex->hasMessage ? utf8(ex->message) : std::string()},
                        {"text", throwableText(ex)},
                        {"thread", env.threadName},
                        {"by", std::string(thrownBy)}});
}

void throwNew(EnvImpl& env, const std::string& className, const std::string& message, std::vector<std::string> frames) {
    std::u16string text = utf16(fromUtf8(message));
    Object* ex = vm().newThrowable(className, &text, std::move(frames));
    setPending(env, ex, "jvm");
}

void throwOutOfMemory(EnvImpl& env) { throwNew(env, "java/lang/OutOfMemoryError", "Java heap space"); }

std::string stackTraceText(const Object* ex) {
    std::string text = throwableText(ex) + "\r\n";
    for (const std::string& frame : ex->frames) text += "\tat " + frame + "\r\n";
    return text;
}

std::string javaFrame(const ClassInfo* cls, const std::string& method) {
    std::string file = cls->name.substr(cls->name.rfind('/') + 1);
    return cls->dotted() + "." + method + "(" + file + ".java)";
}

void printUncaught(const EnvImpl& env, const Object* ex) {
    std::string text = "Exception in thread \"" + env.threadName + "\" " + stackTraceText(ex);
    trace("describe", {{"thread", env.threadName}, {"text", throwableText(ex)}});
    writeStd(STD_ERROR_HANDLE, text);
}

static MethodInfo* findOverride(ClassInfo* cls, const MethodInfo* method) {
    for (ClassInfo* c = cls; c; c = c->super)
        for (auto& m : c->methods)
            if (!m->isStatic && m->name == method->name && m->sig == method->sig) return m.get();
    return nullptr;
}

Value runJava(EnvImpl& env, MethodInfo* method, Object* self, const std::vector<Value>& args) {
    MethodInfo* target = method;
    if (!method->isStatic && self)
        if (MethodInfo* over = findOverride(self->cls, method)) target = over;
    if (target->isNative && !target->impl) {
        // A native that nothing implements: the JVM throws UnsatisfiedLinkError.
        throwNew(env, "java/lang/UnsatisfiedLinkError",
                 "'" + target->ret + " " + target->holder->dotted() + "." + target->name + target->sig + "'");
        return {};
    }
    if (target->isStatic) {
        auto listed = vm().throwIn.find(target->holder->name + "." + target->name);
        if (listed != vm().throwIn.end()) {
            // Thrown by the method's own code, so its frame is on the stack trace.
            Object* ex = vm().newThrowable("java/lang/RuntimeException", &listed->second,
                                           {javaFrame(target->holder, target->name)});
            setPending(env, ex, "java");
            return {};
        }
    }
    return target->impl(env, self, args);
}

[[noreturn]] void systemExit(int code) {
    trace("exit", {{"code", std::to_string(code)}});
    ExitProcess(static_cast<UINT>(code));
}

}  // namespace standin::jvm
