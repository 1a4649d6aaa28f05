// The helper library of the installer flavor, zdrinst.dll. registerNatives binds the
// natives of the runtime's Common class through the JNIEnv it is given, reports a
// configured failure through the launcher's error-log function, and notes its call in
// the trace.
//
// The result byte comes from the environment variable STANDIN_ZDRINST_RESULT, else
// from "result=" in zdrinst.cfg beside the library, else 1.
#define _JNI_IMPLEMENTATION_
#include <jni.h>
#include <windows.h>

#include <cstdio>

#include "standin.h"

using namespace standin;

using ErrorLogFn = void (*)(const wchar_t* format, ...);

namespace {

jboolean JNICALL isAdmin(JNIEnv*, jclass) { return JNI_FALSE; }
jint JNICALL getProcessId(JNIEnv*, jclass) { return static_cast<jint>(GetCurrentProcessId()); }

int configuredResult() {
    std::wstring fromEnv = envVar(L"STANDIN_ZDRINST_RESULT");
    if (!fromEnv.empty()) return _wtoi(fromEnv.c_str());
    Config config = Config::read(directoryOf(modulePath(thisModule())) + L"\\zdrinst.cfg");
    return config.getInt("result", 1);
}

std::string pointerText(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

}  // namespace

extern "C" __declspec(dllexport) unsigned char registerNatives(JNIEnv* env, HMODULE module, ErrorLogFn errorLog) {
    int wanted = configuredResult() & 0xff;
    std::vector<Field> fields{{"fn", "registerNatives"},
                              {"module", module == thisModule() ? "self" : pointerText(module)},
                              {"errorLog", errorLog ? "set" : "null"}};
    unsigned char result = static_cast<unsigned char>(wanted);
    if (wanted == 0) {
        if (errorLog) errorLog(L"zdrinst: %s (%d)", L"native registration refused", wanted);
    } else {
        jclass common = env->FindClass("com/zandorium/runtime/installer/platform/win32/Common");
        if (!common) {
            env->ExceptionClear();
            if (errorLog) errorLog(L"zdrinst: %s", L"class Common not found");
            result = 0;
        } else {
            JNINativeMethod methods[] = {
                {const_cast<char*>("isAdmin"), const_cast<char*>("()Z"), reinterpret_cast<void*>(&isAdmin)},
                {const_cast<char*>("getProcessId"), const_cast<char*>("()I"), reinterpret_cast<void*>(&getProcessId)},
            };
            if (env->RegisterNatives(common, methods, 2) != JNI_OK) {
                env->ExceptionClear();
                if (errorLog) errorLog(L"zdrinst: %s", L"RegisterNatives failed");
                result = 0;
            }
            env->DeleteLocalRef(common);
        }
    }
    fields.push_back({"result", std::to_string(result)});
    appendRecord(kTraceVar, "helper", fields);
    return result;
}
