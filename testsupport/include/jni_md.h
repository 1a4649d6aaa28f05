// Machine-dependent JNI types for 64-bit Windows, as a Windows JDK defines them.
// jni.h itself comes from the build machine's JDK.
#ifndef STANDIN_JNI_MD_H
#define STANDIN_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

// long is 32 bits on Windows even in 64-bit code.
typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif
