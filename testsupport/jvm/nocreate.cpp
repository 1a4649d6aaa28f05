// A library that is named jvm.dll and loads, but offers no JNI_CreateJavaVM: what a
// damaged or foreign JVM library looks like to a launcher.
#define _JNI_IMPLEMENTATION_
#include <jni.h>
#include <windows.h>

#include "standin.h"

extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void*) { return JNI_ERR; }

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        standin::appendRecord(standin::kTraceVar, "load",
                              {{"path", standin::toUtf8(standin::modulePath(module))}, {"kind", "nocreate"}});
    return TRUE;
}
