// Machine-dependent JNI definitions for 64-bit Windows, matching the ABI of the
// JVM libraries the launcher loads. jni.h itself comes from the build machine's JDK.
#ifndef TARVO_JNI_MD_H
#define TARVO_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif
