// Loading the JVM library (jvm.dll) of the selected Java runtime and resolving
// JNI_CreateJavaVM; the messages a user sees when no JVM can be loaded.
#pragma once
#include <windows.h>

#include <jni.h>

using CreateJavaVMFunction = jint(JNICALL*)(JavaVM** vm, void** env, void* args);

bool LoadDLL();
HMODULE loadJvmLibrary(const char* javaExecutable);
HMODULE loadJvmFromBinDir(const char* javaExecutable);
HMODULE tryJvmDll(const char* directory, const char* subdirectory);
bool resolveCreateJavaVM(HMODULE library);
// JNI_CreateJavaVM of the loaded library, once LoadDLL has succeeded.
CreateJavaVMFunction createJavaVMFunction();
