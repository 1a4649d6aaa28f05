// The JNIEnv function table. Every slot of the JDK's table is filled: the functions a
// launcher needs behave as HotSpot's do, every other slot is a violation. Each entry
// checks its caller the way -Xcheck:jni would, and fatally.
#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <utility>

#include "jnienv.h"

namespace standin::jvm {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

EnvImpl* enter(JNIEnv* jenv, const char* fn, bool exceptionSafe) {
    Vm& v = vm();
    EnvImpl* env = reinterpret_cast<EnvImpl*>(jenv);
    if (!v.isOurEnv(env)) violation(fn, "the JNIEnv pointer was not handed out by this JVM");
    if (!env->live)
        violation(fn, std::string("the JNIEnv is used after ") + (v.destroyed ? "DestroyJavaVM" : "DetachCurrentThread"));
    if (env->thread != GetCurrentThreadId())
        violation(fn, "the JNIEnv of thread \"" + env->threadName + "\" (id " + std::to_string(env->thread) +
                          ") is used on another thread (id " + std::to_string(GetCurrentThreadId()) + ")");
    if (!exceptionSafe && env->pending)
        violation(fn, "called while an exception is pending (" + throwableText(env->pending) + ")");
    return env;
}

#define ENTER(fn) \
    Lock hold(vm().lock); \
    EnvImpl* e = enter(env, fn, false)
#define ENTER_SAFE(fn) \
    Lock hold(vm().lock); \
    EnvImpl* e = enter(env, fn, true)

std::string hex(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

Object* deref(EnvImpl* env, const char* fn, jobject handle, const std::string& what, bool allowNull) {
    if (!handle) {
        if (allowNull) return nullptr;
        violation(fn, what + " is null");
    }
    Vm& v = vm();
    auto it = v.refs.find(reinterpret_cast<uintptr_t>(handle));
    if (it == v.refs.end()) violation(fn, what + " (" + hex(handle) + ") is not a reference this JVM handed out");
    Ref& ref = it->second;
    if (!ref.live) violation(fn, what + " (" + hex(handle) + ") is a deleted " + (ref.global ? "global" : "local") + " reference");
    if (!ref.global && ref.owner != env)
        violation(fn, what + " (" + hex(handle) + ") is a local reference of thread \"" + ref.owner->threadName + "\"");
    return ref.obj;
}

ClassInfo* derefClass(EnvImpl* env, const char* fn, jclass handle, const std::string& what) {
    Object* o = deref(env, fn, handle, what, false);
    if (!o->mirrorOf) violation(fn, what + " is not a class but a " + o->cls->dotted());
    return o->mirrorOf;
}

Object* derefString(EnvImpl* env, const char* fn, jstring handle, const std::string& what) {
    Object* o = deref(env, fn, handle, what, false);
    if (o->cls->name != "java/lang/String") violation(fn, what + " is not a java.lang.String but a " + o->cls->dotted());
    return o;
}

Object* derefArray(EnvImpl* env, const char* fn, jobjectArray handle) {
    Object* o = deref(env, fn, handle, "argument array", false);
    if (!o->cls->isArray()) violation(fn, "argument array is not an array but a " + o->cls->dotted());
    return o;
}

MethodInfo* checkMethodId(const char* fn, jmethodID id) {
    if (!id) violation(fn, "the method ID is null");
    auto* m = reinterpret_cast<MethodInfo*>(id);
    if (!vm().methodIds.count(m)) violation(fn, "the method ID (" + hex(id) + ") was not handed out by this JVM");
    return m;
}

jobject local(EnvImpl* env, Object* obj) { return vm().newRef(env, obj, false); }

// True when an object of class cls may be passed where the descriptor type is expected.
bool assignable(const ClassInfo* cls, const std::string& descriptor) {
    if (descriptor[0] == '[') return cls->name == descriptor;
    if (descriptor[0] != 'L') return false;
    std::string name = descriptor.substr(1, descriptor.size() - 2);
    if (name == "java/lang/Object") return true;
    ClassInfo* target = vm().lookupClass(name);
    return target && cls->isSubclassOf(target);
}

std::string javaTypeName(const std::string& descriptor) {
    switch (descriptor[0]) {
    case 'Z': return "boolean";
    case 'B': return "byte";
    case 'C': return "char";
    case 'S': return "short";
    case 'I': return "int";
    case 'J': return "long";
    case 'F': return "float";
    case 'D': return "double";
    case 'V': return "void";
    case '[': return javaTypeName(descriptor.substr(1)) + "[]";
    default: {
        std::string name = descriptor.substr(1, descriptor.size() - 2);
        for (char& c : name)
            if (c == '/') c = '.';
        return name;
    }
    }
}

std::string valueText(const Value& v) {
    switch (v.type) {
    case 'Z': return v.prim.z ? "true" : "false";
    case 'B': return std::to_string(v.prim.b);
    case 'C': return std::to_string(v.prim.c);
    case 'S': return std::to_string(v.prim.s);
    case 'I': return std::to_string(v.prim.i);
    case 'J': return std::to_string(v.prim.j);
    case 'F': return std::to_string(v.prim.f);
    case 'D': return std::to_string(v.prim.d);
    case 'L': return describe(v.obj);
    default: return "void";
    }
}

// The arguments of a Call<Type>Method, from a va_list or a jvalue array.
struct ArgSource {
    va_list* ap = nullptr;
    const jvalue* array = nullptr;
    size_t index = 0;

    jvalue next(char type) {
        if (array) return array[index++];
        jvalue out{};
        switch (type) {
        case 'Z': out.z = static_cast<jboolean>(va_arg(*ap, int)); break;
        case 'B': out.b = static_cast<jbyte>(va_arg(*ap, int)); break;
        case 'C': out.c = static_cast<jchar>(va_arg(*ap, int)); break;
        case 'S': out.s = static_cast<jshort>(va_arg(*ap, int)); break;
        case 'I': out.i = va_arg(*ap, jint); break;
        case 'J': out.j = va_arg(*ap, jlong); break;
        case 'F': out.f = static_cast<jfloat>(va_arg(*ap, double)); break;
        case 'D': out.d = va_arg(*ap, double); break;
        default: out.l = va_arg(*ap, jobject); break;
        }
        return out;
    }
};

// fn is the family name (CallStaticVoidMethod); form tells the V and A variants apart.
Value invoke(EnvImpl* env, const char* fn, const char* form, char want, bool isStatic, jobject target, jmethodID id,
             ArgSource src) {
    MethodInfo* m = checkMethodId(fn, id);
    std::string what = m->holder->name + "." + m->name + m->sig;
    if (m->isStatic != isStatic)
        violation(fn, "the method ID is of " + std::string(m->isStatic ? "the static method " : "the instance method ") + what);
    char ret = m->ret[0] == '[' ? 'L' : m->ret[0];
    if (ret != want) violation(fn, "the method returns " + javaTypeName(m->ret) + ": " + what);

    Object* self = nullptr;
    ClassInfo* addressed = nullptr;
    if (isStatic) {
        addressed = derefClass(env, fn, static_cast<jclass>(target), "argument clazz");
    } else {
        self = deref(env, fn, target, "argument obj", false);
        addressed = self->cls;
    }
    if (!addressed->isSubclassOf(m->holder))
        violation(fn, "the method ID belongs to " + m->holder->name + ", not to " + addressed->name);

    if (src.array == nullptr && src.ap == nullptr && !m->params.empty()) violation(fn, "the argument array is null");
    std::vector<Value> args;
    std::vector<Field> fields{{"fn", fn}, {"class", addressed->name}, {"name", m->name}, {"sig", m->sig}};
    if (*form) fields.push_back({"form", form});
    for (size_t i = 0; i < m->params.size(); ++i) {
        const std::string& p = m->params[i];
        Value v;
        v.type = p[0] == '[' ? 'L' : p[0];
        v.prim = src.next(v.type);
        if (v.type == 'L') {
            std::string argName = "argument " + std::to_string(i + 1);
            v.obj = deref(env, fn, v.prim.l, argName, true);
            if (v.obj && !assignable(v.obj->cls, p))
                violation(fn, argName + " is a " + javaTypeName("L" + v.obj->cls->name + ";") + " where " + what +
                                  " takes " + javaTypeName(p));
        }
        fields.push_back({"arg", valueText(v)});
        args.push_back(v);
    }
    trace("call", fields);

    Value result = runJava(*env, m, self, args);
    if (env->pending) result = Value{};
    result.type = ret;
    std::vector<Field> done{{"fn", fn}, {"result", valueText(result)}};
    if (env->pending) done.push_back({"exception", throwableText(env->pending)});
    trace("return", done);
    return result;
}

jobject invokeObject(JNIEnv* env, const char* fn, const char* form, bool isStatic, jobject target, jmethodID id,
                     ArgSource src) {
    ENTER(fn);
    Value r = invoke(e, fn, form, 'L', isStatic, target, id, src);
    return local(e, r.obj);
}

jboolean invokeBoolean(JNIEnv* env, const char* fn, const char* form, bool isStatic, jobject target, jmethodID id,
                       ArgSource src) {
    ENTER(fn);
    return invoke(e, fn, form, 'Z', isStatic, target, id, src).prim.z;
}

// Returns a dummy so that the Call<Type>Method wrappers can share one shape.
int invokeVoid(JNIEnv* env, const char* fn, const char* form, bool isStatic, jobject target, jmethodID id,
               ArgSource src) {
    ENTER(fn);
    invoke(e, fn, form, 'V', isStatic, target, id, src);
    return 0;
}

// --- class and method lookup -------------------------------------------------------

jint JNICALL GetVersion(JNIEnv* env) {
    ENTER("GetVersion");
    (void)e;
    trace("call", {{"fn", "GetVersion"}, {"result", "0x00010008"}});
    return JNI_VERSION_1_8;
}

ClassInfo* classForName(const std::string& name) {
    Vm& v = vm();
    if (name.empty() || name.find('.') != std::string::npos || (name.back() == ';' && name[0] != '[')) return nullptr;
    if (name[0] == '[') {
        if (name.size() < 4 || name[1] != 'L' || name.back() != ';') return nullptr;
        ClassInfo* element = classForName(name.substr(2, name.size() - 3));
        return element ? v.arrayClassOf(element) : nullptr;
    }
    ClassInfo* cls = v.lookupClass(name);
    return cls && !cls->hidden ? cls : nullptr;
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    ENTER("FindClass");
    if (!name) violation("FindClass", "the class name is null");
    ClassInfo* cls = classForName(name);
    if (!cls) throwNew(*e, "java/lang/NoClassDefFoundError", name);
    std::vector<Field> fields{{"fn", "FindClass"}, {"class", name}, {"result", cls ? "ok" : "null"}};
    if (e->pending) fields.push_back({"exception", throwableText(e->pending)});
    trace("call", fields);
    return cls ? static_cast<jclass>(local(e, cls->mirror)) : nullptr;
}

jclass JNICALL GetObjectClass(JNIEnv* env, jobject obj) {
    ENTER("GetObjectClass");
    Object* o = deref(e, "GetObjectClass", obj, "argument obj", false);
    trace("call", {{"fn", "GetObjectClass"}, {"class", o->cls->name}, {"result", "ok"}});
    return static_cast<jclass>(local(e, o->cls->mirror));
}

jmethodID lookupMethod(JNIEnv* env, const char* fn, jclass clazz, const char* name, const char* sig, bool isStatic) {
    ENTER(fn);
    ClassInfo* cls = derefClass(e, fn, clazz, "argument clazz");
    if (!name) violation(fn, "the method name is null");
    if (!sig) violation(fn, "the method signature is null");
    MethodInfo* found = nullptr;
    for (ClassInfo* c = cls; c && !found; c = c->super) {
        for (auto& m : c->methods)
            if (m->name == name && m->sig == sig && m->isStatic == isStatic) found = m.get();
        if (std::string_view(name) == "<init>") break;  // constructors are not inherited
    }
    if (!found)
        throwNew(*e, "java/lang/NoSuchMethodError",
                 std::string(isStatic ? "static " : "") + "L" + cls->name + ";." + name + sig);
    std::vector<Field> fields{{"fn", fn}, {"class", cls->name}, {"name", name}, {"sig", sig}, {"result", found ? "ok" : "null"}};
    if (e->pending) fields.push_back({"exception", throwableText(e->pending)});
    trace("call", fields);
    return reinterpret_cast<jmethodID>(found);
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
    return lookupMethod(env, "GetMethodID", clazz, name, sig, false);
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
    return lookupMethod(env, "GetStaticMethodID", clazz, name, sig, true);
}

// --- calls -----------------------------------------------------------------------------

#define CALLS(Type, ret, helper)                                                                       \
    ret JNICALL Call##Type##Method(JNIEnv* env, jobject obj, jmethodID id, ...) {                        \
        va_list ap;                                                                                      \
        va_start(ap, id);                                                                                \
        auto r = helper(env, "Call" #Type "Method", "", false, obj, id, ArgSource{&ap});                     \
        va_end(ap);                                                                                      \
        return static_cast<ret>(r);                                                                      \
    }                                                                                                    \
    ret JNICALL Call##Type##MethodV(JNIEnv* env, jobject obj, jmethodID id, va_list args) {              \
        va_list ap;                                                                                      \
        va_copy(ap, args);                                                                               \
        auto r = helper(env, "Call" #Type "Method", "V", false, obj, id, ArgSource{&ap});                    \
        va_end(ap);                                                                                      \
        return static_cast<ret>(r);                                                                      \
    }                                                                                                    \
    ret JNICALL Call##Type##MethodA(JNIEnv* env, jobject obj, jmethodID id, const jvalue* args) {        \
        return static_cast<ret>(helper(env, "Call" #Type "Method", "A", false, obj, id, ArgSource{nullptr, args})); \
    }                                                                                                    \
    ret JNICALL CallStatic##Type##Method(JNIEnv* env, jclass cls, jmethodID id, ...) {                   \
        va_list ap;                                                                                      \
        va_start(ap, id);                                                                                \
        auto r = helper(env, "CallStatic" #Type "Method", "", true, cls, id, ArgSource{&ap});                \
        va_end(ap);                                                                                      \
        return static_cast<ret>(r);                                                                      \
    }                                                                                                    \
    ret JNICALL CallStatic##Type##MethodV(JNIEnv* env, jclass cls, jmethodID id, va_list args) {         \
        va_list ap;                                                                                      \
        va_copy(ap, args);                                                                               \
        auto r = helper(env, "CallStatic" #Type "Method", "V", true, cls, id, ArgSource{&ap});               \
        va_end(ap);                                                                                      \
        return static_cast<ret>(r);                                                                      \
    }                                                                                                    \
    ret JNICALL CallStatic##Type##MethodA(JNIEnv* env, jclass cls, jmethodID id, const jvalue* args) {   \
        return static_cast<ret>(helper(env, "CallStatic" #Type "Method", "A", true, cls, id, ArgSource{nullptr, args})); \
    }

CALLS(Object, jobject, invokeObject)
CALLS(Boolean, jboolean, invokeBoolean)
CALLS(Void, void, invokeVoid)

// --- exceptions ------------------------------------------------------------------------

jint JNICALL Throw(JNIEnv* env, jthrowable obj) {
    ENTER("Throw");
    Object* ex = deref(e, "Throw", obj, "argument obj", false);
    bool isThrowable = false;
    for (const ClassInfo* c = ex->cls; c; c = c->super)
        if (c->name == "java/lang/Throwable") isThrowable = true;
    if (!isThrowable) violation("Throw", "argument obj is not a Throwable but a " + ex->cls->dotted());
    trace("call", {{"fn", "Throw"}, {"arg", throwableText(ex)}, {"result", "0"}});
    setPending(*e, ex, "Throw");
    return JNI_OK;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
    ENTER_SAFE("ExceptionOccurred");
    trace("call", {{"fn", "ExceptionOccurred"}, {"result", e->pending ? throwableText(e->pending) : "null"}});
    return static_cast<jthrowable>(local(e, e->pending));
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
    ENTER_SAFE("ExceptionCheck");
    trace("call", {{"fn", "ExceptionCheck"}, {"result", e->pending ? "true" : "false"}});
    return e->pending ? JNI_TRUE : JNI_FALSE;
}

void JNICALL ExceptionDescribe(JNIEnv* env) {
    ENTER_SAFE("ExceptionDescribe");
    trace("call", {{"fn", "ExceptionDescribe"}, {"result", e->pending ? throwableText(e->pending) : "none"}});
    if (!e->pending) return;
    Object* ex = e->pending;
    e->pending = nullptr;  // describing clears, as JNI specifies
    printUncaught(*e, ex);
}

void JNICALL ExceptionClear(JNIEnv* env) {
    ENTER_SAFE("ExceptionClear");
    trace("call", {{"fn", "ExceptionClear"}, {"result", e->pending ? throwableText(e->pending) : "none"}});
    e->pending = nullptr;
}

// --- references ------------------------------------------------------------------------

void JNICALL DeleteLocalRef(JNIEnv* env, jobject obj) {
    ENTER_SAFE("DeleteLocalRef");
    if (!obj) {
        trace("call", {{"fn", "DeleteLocalRef"}, {"arg", "null"}});
        return;
    }
    Object* o = deref(e, "DeleteLocalRef", obj, "argument obj", false);
    Ref& ref = vm().refs[reinterpret_cast<uintptr_t>(obj)];
    if (ref.global) violation("DeleteLocalRef", "argument obj (" + hex(obj) + ") is a global reference");
    ref.live = false;
    trace("call", {{"fn", "DeleteLocalRef"}, {"arg", describe(o)}});
}

jobject JNICALL NewLocalRef(JNIEnv* env, jobject obj) {
    ENTER("NewLocalRef");
    Object* o = deref(e, "NewLocalRef", obj, "argument ref", true);
    trace("call", {{"fn", "NewLocalRef"}, {"arg", describe(o)}});
    return local(e, o);
}

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject obj) {
    ENTER("NewGlobalRef");
    Object* o = deref(e, "NewGlobalRef", obj, "argument lobj", true);
    trace("call", {{"fn", "NewGlobalRef"}, {"arg", describe(o)}});
    return vm().newRef(e, o, true);
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject obj) {
    ENTER_SAFE("DeleteGlobalRef");
    if (!obj) return;
    Object* o = deref(e, "DeleteGlobalRef", obj, "argument gref", false);
    Ref& ref = vm().refs[reinterpret_cast<uintptr_t>(obj)];
    if (!ref.global) violation("DeleteGlobalRef", "argument gref (" + hex(obj) + ") is a local reference");
    ref.live = false;
    trace("call", {{"fn", "DeleteGlobalRef"}, {"arg", describe(o)}});
}

jboolean JNICALL IsSameObject(JNIEnv* env, jobject a, jobject b) {
    ENTER("IsSameObject");
    Object* x = deref(e, "IsSameObject", a, "argument obj1", true);
    Object* y = deref(e, "IsSameObject", b, "argument obj2", true);
    trace("call", {{"fn", "IsSameObject"}, {"result", x == y ? "true" : "false"}});
    return x == y ? JNI_TRUE : JNI_FALSE;
}

jboolean JNICALL IsInstanceOf(JNIEnv* env, jobject obj, jclass clazz) {
    ENTER("IsInstanceOf");
    Object* o = deref(e, "IsInstanceOf", obj, "argument obj", true);
    ClassInfo* cls = derefClass(e, "IsInstanceOf", clazz, "argument clazz");
    bool yes = !o || assignable(o->cls, cls->isArray() ? cls->name : "L" + cls->name + ";");
    trace("call", {{"fn", "IsInstanceOf"}, {"class", cls->name}, {"result", yes ? "true" : "false"}});
    return yes ? JNI_TRUE : JNI_FALSE;
}

// --- strings ---------------------------------------------------------------------------

jstring JNICALL NewString(JNIEnv* env, const jchar* chars, jsize len) {
    ENTER("NewString");
    if (len < 0) violation("NewString", "the length " + std::to_string(len) + " is negative");
    if (!chars && len > 0) violation("NewString", "the character pointer is null");
    std::u16string text(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(len));
    std::vector<Field> fields{{"fn", "NewString"}, {"arg", utf8(text)}, {"len", std::to_string(len)}};
    if (vm().heapExhausted("NewString")) {
        throwOutOfMemory(*e);
        fields.push_back({"result", "null"});
        fields.push_back({"exception", throwableText(e->pending)});
        trace("call", fields);
        return nullptr;
    }
    Object* s = vm().newString(std::move(text));
    trace("call", fields);
    return static_cast<jstring>(local(e, s));
}

// Modified UTF-8 as JNI defines it; a byte that does not fit becomes U+FFFD.
std::u16string decodeModifiedUtf8(const char* bytes, bool& valid) {
    std::u16string out;
    valid = true;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    while (*p) {
        unsigned c = *p;
        auto cont = [&](int k) { return (p[k] & 0xC0) == 0x80; };
        if (c < 0x80) {
            out += static_cast<char16_t>(c);
            p += 1;
        } else if ((c & 0xE0) == 0xC0 && cont(1)) {
            out += static_cast<char16_t>(((c & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
        } else if ((c & 0xF0) == 0xE0 && cont(1) && cont(2)) {
            out += static_cast<char16_t>(((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
            p += 3;
        } else {
            out += u'\uFFFD';
            valid = false;
            p += 1;
        }
    }
    return out;
}

std::string encodeModifiedUtf8(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        if (c != 0 && c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* bytes) {
    ENTER("NewStringUTF");
    if (!bytes) {
        trace("call", {{"fn", "NewStringUTF"}, {"arg", "null"}, {"result", "null"}});
        return nullptr;
    }
    bool valid = true;
    Object* s = vm().newString(decodeModifiedUtf8(bytes, valid));
    std::vector<Field> fields{{"fn", "NewStringUTF"}, {"arg", utf8(s->chars)}};
    if (!valid) fields.push_back({"invalidUtf8", "true"});
    trace("call", fields);
    return static_cast<jstring>(local(e, s));
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring str) {
    ENTER("GetStringLength");
    Object* s = derefString(e, "GetStringLength", str, "argument str");
    trace("call", {{"fn", "GetStringLength"}, {"arg", utf8(s->chars)}, {"result", std::to_string(s->chars.size())}});
    return static_cast<jsize>(s->chars.size());
}

// What follows the characters lent out by GetStringChars: JNI promises no terminating
// zero, so a caller that reads on finds this text in its output instead of a clean end.
constexpr char16_t kNoTerminator[] = u"~GetStringChars gives no terminating zero~";

const jchar* JNICALL GetStringChars(JNIEnv* env, jstring str, jboolean* isCopy) {
    ENTER("GetStringChars");
    Object* s = derefString(e, "GetStringChars", str, "argument str");
    size_t n = s->chars.size();
    size_t tail = sizeof kNoTerminator / sizeof kNoTerminator[0];  // includes a final zero
    auto* buffer = new jchar[n + tail];
    std::copy(s->chars.begin(), s->chars.end(), buffer);
    std::copy(kNoTerminator, kNoTerminator + tail, buffer + n);
    vm().lentChars[buffer] = s;
    if (isCopy) *isCopy = JNI_TRUE;
    trace("call", {{"fn", "GetStringChars"}, {"arg", utf8(s->chars)}, {"result", std::to_string(n) + " chars"}});
    return buffer;
}

void JNICALL ReleaseStringChars(JNIEnv* env, jstring str, const jchar* chars) {
    ENTER_SAFE("ReleaseStringChars");
    Object* s = derefString(e, "ReleaseStringChars", str, "argument str");
    auto it = vm().lentChars.find(chars);
    if (it == vm().lentChars.end())
        violation("ReleaseStringChars", "the characters (" + hex(chars) + ") were not lent out by GetStringChars");
    if (it->second != s) violation("ReleaseStringChars", "the characters were lent out for another string");
    vm().lentChars.erase(it);
    delete[] chars;
    trace("call", {{"fn", "ReleaseStringChars"}, {"arg", utf8(s->chars)}});
}

jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring str) {
    ENTER("GetStringUTFLength");
    Object* s = derefString(e, "GetStringUTFLength", str, "argument str");
    size_t n = encodeModifiedUtf8(s->chars).size();
    trace("call", {{"fn", "GetStringUTFLength"}, {"arg", utf8(s->chars)}, {"result", std::to_string(n)}});
    return static_cast<jsize>(n);
}

std::set<const char*>& lentUtf() {
    static std::set<const char*> lent;
    return lent;
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring str, jboolean* isCopy) {
    ENTER("GetStringUTFChars");
    Object* s = derefString(e, "GetStringUTFChars", str, "argument str");
    std::string bytes = encodeModifiedUtf8(s->chars);
    auto* buffer = new char[bytes.size() + 1];
    std::copy(bytes.begin(), bytes.end(), buffer);
    buffer[bytes.size()] = '\0';
    lentUtf().insert(buffer);
    if (isCopy) *isCopy = JNI_TRUE;
    trace("call", {{"fn", "GetStringUTFChars"}, {"arg", utf8(s->chars)}});
    return buffer;
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring str, const char* chars) {
    ENTER_SAFE("ReleaseStringUTFChars");
    Object* s = derefString(e, "ReleaseStringUTFChars", str, "argument str");
    if (!lentUtf().erase(chars))
        violation("ReleaseStringUTFChars", "the characters (" + hex(chars) + ") were not lent out by GetStringUTFChars");
    delete[] chars;
    trace("call", {{"fn", "ReleaseStringUTFChars"}, {"arg", utf8(s->chars)}});
}

// --- arrays ----------------------------------------------------------------------------

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
    ENTER("GetArrayLength");
    Object* a = derefArray(e, "GetArrayLength", static_cast<jobjectArray>(array));
    trace("call", {{"fn", "GetArrayLength"}, {"arg", describe(a)}, {"result", std::to_string(a->elems.size())}});
    return static_cast<jsize>(a->elems.size());
}

jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize len, jclass elementClass, jobject init) {
    ENTER("NewObjectArray");
    ClassInfo* element = derefClass(e, "NewObjectArray", elementClass, "argument elementClass");
    Object* first = deref(e, "NewObjectArray", init, "argument initialElement", true);
    std::vector<Field> fields{{"fn", "NewObjectArray"}, {"class", element->name}, {"arg", std::to_string(len)}, {"arg", describe(first)}};
    Object* array = nullptr;
    bool exhausted = vm().heapExhausted("NewObjectArray");
    if (len < 0) {
        throwNew(*e, "java/lang/NegativeArraySizeException", std::to_string(len));
    } else if (first && !assignable(first->cls, element->isArray() ? element->name : "L" + element->name + ";")) {
        throwNew(*e, "java/lang/ArrayStoreException", first->cls->dotted());
    } else if (exhausted) {
        throwOutOfMemory(*e);
    } else {
        array = vm().newObject(vm().arrayClassOf(element));
        array->elems.assign(static_cast<size_t>(len), first);
    }
    fields.push_back({"result", array ? "ok" : "null"});
    if (e->pending) fields.push_back({"exception", throwableText(e->pending)});
    trace("call", fields);
    return static_cast<jobjectArray>(local(e, array));
}

jobject JNICALL GetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
    ENTER("GetObjectArrayElement");
    Object* a = derefArray(e, "GetObjectArrayElement", array);
    Object* value = nullptr;
    if (index < 0 || static_cast<size_t>(index) >= a->elems.size())
        throwNew(*e, "java/lang/ArrayIndexOutOfBoundsException",
                 "Index " + std::to_string(index) + " out of bounds for length " + std::to_string(a->elems.size()));
    else
        value = a->elems[static_cast<size_t>(index)];
    std::vector<Field> fields{{"fn", "GetObjectArrayElement"}, {"arg", std::to_string(index)}, {"result", describe(value)}};
    if (e->pending) fields.push_back({"exception", throwableText(e->pending)});
    trace("call", fields);
    return local(e, value);
}

void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
    ENTER("SetObjectArrayElement");
    Object* a = derefArray(e, "SetObjectArrayElement", array);
    Object* v = deref(e, "SetObjectArrayElement", value, "argument val", true);
    ClassInfo* element = a->cls->component;
    if (index < 0 || static_cast<size_t>(index) >= a->elems.size())
        throwNew(*e, "java/lang/ArrayIndexOutOfBoundsException",
                 "Index " + std::to_string(index) + " out of bounds for length " + std::to_string(a->elems.size()));
    else if (v && !assignable(v->cls, element->isArray() ? element->name : "L" + element->name + ";"))
        throwNew(*e, "java/lang/ArrayStoreException", v->cls->dotted());
    else
        a->elems[static_cast<size_t>(index)] = v;
    std::vector<Field> fields{{"fn", "SetObjectArrayElement"}, {"arg", std::to_string(index)}, {"arg", describe(v)}};
    if (e->pending) fields.push_back({"exception", throwableText(e->pending)});
    trace("call", fields);
}

// --- natives and the VM ----------------------------------------------------------------

jint JNICALL RegisterNatives(JNIEnv* env, jclass clazz, const JNINativeMethod* methods, jint count) {
    ENTER("RegisterNatives");
    ClassInfo* cls = derefClass(e, "RegisterNatives", clazz, "argument clazz");
    if (count < 0) violation("RegisterNatives", "the method count " + std::to_string(count) + " is negative");
    if (!methods && count > 0) violation("RegisterNatives", "the method array is null");
    std::vector<Field> fields{{"fn", "RegisterNatives"}, {"class", cls->name}};
    jint result = JNI_OK;
    for (jint i = 0; i < count && result == JNI_OK; ++i) {
        const JNINativeMethod& nm = methods[i];
        if (!nm.name || !nm.signature || !nm.fnPtr)
            violation("RegisterNatives", "entry " + std::to_string(i) + " has a null name, signature or function");
        fields.push_back({"arg", std::string(nm.name) + nm.signature});
        MethodInfo* target = nullptr;
        for (auto& m : cls->methods)
            if (m->name == nm.name && m->sig == nm.signature && m->isNative) target = m.get();
        if (!target) {
            throwNew(*e, "java/lang/NoSuchMethodError",
                     "Method '" + std::string(nm.name) + nm.signature + "' name or signature does not match");
            result = JNI_ERR;
        } else {
            target->boundNative = nm.fnPtr;
        }
    }
    fields.push_back({"result", std::to_string(result)});
    if (e->pending) fields.push_back({"exception", throwableText(e->pending)});
    trace("call", fields);
    return result;
}

jint JNICALL GetJavaVM(JNIEnv* env, JavaVM** out) {
    ENTER("GetJavaVM");
    (void)e;
    if (!out) violation("GetJavaVM", "the result pointer is null");
    *out = theJavaVM();
    trace("call", {{"fn", "GetJavaVM"}, {"result", "0"}});
    return JNI_OK;
}

// --- the table -------------------------------------------------------------------------

struct SlotName {
    size_t index;
    const char* name;
};

constexpr SlotName kSlotNames[] = {
#define SLOT(n) {offsetof(JNINativeInterface_, n) / sizeof(void*), #n},
#include "jnislots.inc"
#undef SLOT
};
constexpr size_t kSlotCount = sizeof(JNINativeInterface_) / sizeof(void*);
static_assert(std::size(kSlotNames) + 4 == kSlotCount, "every slot after the reserved ones has a name");

const char* slotName(size_t index) {
    for (const SlotName& s : kSlotNames)
        if (s.index == index) return s.name;
    return "reserved";
}

// Call<Type>MethodV and ...A are reported under the family name, as the C++ JNIEnv
// wrappers reach the V form when a caller writes Call<Type>Method.
template <size_t I>
void JNICALL unimplemented(JNIEnv*) {
    std::string slot = slotName(I);
    std::string fn = slot;
    if (slot.rfind("Call", 0) == 0 && (slot.size() > 7) &&
        (slot.compare(slot.size() - 7, 7, "MethodV") == 0 || slot.compare(slot.size() - 7, 7, "MethodA") == 0))
        fn.pop_back();
    violation(fn, "the stand-in JVM does not implement this function (JNIEnv slot " + std::to_string(I) + ", " + slot + ")");
}

template <size_t... I>
std::array<void*, sizeof...(I)> makeStubs(std::index_sequence<I...>) {
    return {reinterpret_cast<void*>(&unimplemented<I>)...};
}

JNINativeInterface_ buildTable() {
    JNINativeInterface_ t{};
    auto stubs = makeStubs(std::make_index_sequence<kSlotCount>());
    void** slots = reinterpret_cast<void**>(&t);
    for (size_t i = 4; i < kSlotCount; ++i) slots[i] = stubs[i];

    t.GetVersion = GetVersion;
    t.FindClass = FindClass;
    t.GetObjectClass = GetObjectClass;
    t.GetMethodID = GetMethodID;
    t.GetStaticMethodID = GetStaticMethodID;
    t.CallObjectMethod = CallObjectMethod;
    t.CallObjectMethodV = CallObjectMethodV;
    t.CallObjectMethodA = CallObjectMethodA;
    t.CallBooleanMethod = CallBooleanMethod;
    t.CallBooleanMethodV = CallBooleanMethodV;
    t.CallBooleanMethodA = CallBooleanMethodA;
    t.CallVoidMethod = CallVoidMethod;
    t.CallVoidMethodV = CallVoidMethodV;
    t.CallVoidMethodA = CallVoidMethodA;
    t.CallStaticObjectMethod = CallStaticObjectMethod;
    t.CallStaticObjectMethodV = CallStaticObjectMethodV;
    t.CallStaticObjectMethodA = CallStaticObjectMethodA;
    t.CallStaticBooleanMethod = CallStaticBooleanMethod;
    t.CallStaticBooleanMethodV = CallStaticBooleanMethodV;
    t.CallStaticBooleanMethodA = CallStaticBooleanMethodA;
    t.CallStaticVoidMethod = CallStaticVoidMethod;
    t.CallStaticVoidMethodV = CallStaticVoidMethodV;
    t.CallStaticVoidMethodA = CallStaticVoidMethodA;
    t.Throw = Throw;
    t.ExceptionOccurred = ExceptionOccurred;
    t.ExceptionCheck = ExceptionCheck;
    t.ExceptionDescribe = ExceptionDescribe;
    t.ExceptionClear = ExceptionClear;
    t.DeleteLocalRef = DeleteLocalRef;
    t.NewLocalRef = NewLocalRef;
    t.NewGlobalRef = NewGlobalRef;
    t.DeleteGlobalRef = DeleteGlobalRef;
    t.IsSameObject = IsSameObject;
    t.IsInstanceOf = IsInstanceOf;
    t.NewString = NewString;
    t.NewStringUTF = NewStringUTF;
    t.GetStringLength = GetStringLength;
    t.GetStringChars = GetStringChars;
    t.ReleaseStringChars = ReleaseStringChars;
    t.GetStringUTFLength = GetStringUTFLength;
    t.GetStringUTFChars = GetStringUTFChars;
    t.ReleaseStringUTFChars = ReleaseStringUTFChars;
    t.GetArrayLength = GetArrayLength;
    t.NewObjectArray = NewObjectArray;
    t.GetObjectArrayElement = GetObjectArrayElement;
    t.SetObjectArrayElement = SetObjectArrayElement;
    t.RegisterNatives = RegisterNatives;
    t.GetJavaVM = GetJavaVM;
    return t;
}

}  // namespace

const JNINativeInterface_* envTable() {
    static const JNINativeInterface_ table = buildTable();
    return &table;
}

}  // namespace standin::jvm
