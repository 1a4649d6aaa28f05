#include "splash.h"

#include "JavaVMLauncher.h"
#include "config.h"
#include "log.h"

namespace {

jstring splashText(int key) {
    char text[2000];
    getConfigString(key, text, sizeof text);
    return jniEnv->NewStringUTF(text);
}

}  // namespace

void passSplashConfig() {
    jclass runtime = jniEnv->FindClass("com/tarvo/runtime/WinLauncher");
    if (!runtime) {
        logError(L"could not find main class for splash properties");
        clearFailedLookup();
        return;
    }
    jmethodID method = jniEnv->GetStaticMethodID(
        runtime, "initAwtSplashConfig",
        "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V");
    if (!method) {
        logError(L"could not find method for splash properties");
        clearFailedLookup();
        jniEnv->DeleteLocalRef(runtime);
        return;
    }
    jstring line1 = splashText(10111), colour1 = splashText(10114);
    jstring line2 = splashText(10118), colour2 = splashText(10121);
    jniEnv->CallStaticVoidMethod(runtime, method, JNI_TRUE, getConfigFlag(SplashOption) ? JNI_TRUE : JNI_FALSE, line1,
                                 getConfigInt(10109), getConfigInt(10110), colour1, getConfigInt(10113),
                                 getConfigInt(10115), line2, getConfigInt(10116), getConfigInt(10117), colour2,
                                 getConfigInt(10120), getConfigInt(10122));
    // The launch goes on whatever the splash code did; an exception it left must not
    // stay pending into the next JNI call.
    checkJavaException(false);
    for (jstring s : {line1, colour1, line2, colour2})
        if (s) jniEnv->DeleteLocalRef(s);
    jniEnv->DeleteLocalRef(runtime);
}
