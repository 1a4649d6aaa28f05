#include "JavaVMLauncher.h"

#include <windows.h>

#include <cstring>

#include "config.h"
#include "entry.h"
#include "environment.h"
#include "expand.h"
#include "extract.h"
#include "firstrun.h"
#include "instance.h"
#include "jvmloader.h"
#include "jvmoptions.h"
#include "log.h"
#include "messages.h"
#include "paths.h"
#include "splash.h"

JavaVM* javaVm = nullptr;
JNIEnv* jniEnv = nullptr;

namespace {

std::string format(const char* pattern, const char* name, const char* value) {
    char buffer[textBufferSize];
    if (!formatText(buffer, sizeof buffer, pattern, name, value))
        logError(L"launcher property %S cut to %d bytes", name, static_cast<int>(textBufferSize - 1));
    return buffer;
}

bool startsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

std::wstring redirectFile(int enabledKey, int fileKey) {
    if (!getConfigFlag(enabledKey)) return L"";
    wchar_t text[textBufferSize];
    getConfigStringW(fileKey, text, textBufferSize);
    expandWString(text, textBufferSize, false);
    // An empty name stays empty: made absolute it would name the executable's directory.
    if (text[0] == L'$' || text[0] == 0) return text;
    wchar_t full[textBufferSize];
    getFullPathW(full, text, false, true);
    return full;
}

}  // namespace

std::string launcherClassName() {
    std::string name = flavor == 'z' ? "com/zandorium/runtime/launcher/WinLauncher" : "com/tarvo/runtime/WinLauncher";
    for (char& c : name)
        if (c == '.') c = '/';
    return name;
}

std::vector<std::string> buildLauncherProperties() {
    std::vector<std::string> properties;
    if (semaphoreName[0]) properties.push_back(format("-D%s=%s", "tarvo.semaphoreName", semaphoreName));
    if (flavor == 'z') properties.push_back("-Dtarvo.isZandorium=true");
    if (isService) properties.push_back("-Dtarvo.isService=true");
    properties.push_back(format("-D%s=%s", "tarvo.moduleName", getExePath()));
    properties.push_back(format("-D%s=%s", "sun.java.command", getExePath()));
    properties.push_back(format("-D%s=%s", "tarvo.tempDir", workDir));
    properties.push_back("-Dtarvo.unextractedPosition=" + std::to_string(getUnextractedPosition()));
    // PATH is taken whole: the JVM looks up native libraries in it, and a cut value
    // would lose exactly the directories the run added at its end.
    std::string path;
    readEnvironmentVariable("PATH", path);
    properties.push_back("-Djava.library.path=" + path);
    if (GetEnvironmentVariableA("MANPATH", nullptr, 0) == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        properties.push_back("-Dtarvo.consoleCodepage=cp" + std::to_string(GetConsoleOutputCP()));
    return properties;
}

bool createJvm(const std::vector<std::string>& launcherProperties, const ArgumentVector& arguments) {
    std::vector<const char*> properties;
    for (const std::string& property : launcherProperties) properties.push_back(property.c_str());
    properties.push_back(nullptr);
    JavaVMInitArgs initArgs = buildJvmInitArgs(properties.data(), arguments);
    logMessage(L"Creating JVM");
    CreateJavaVMFunction create = createJavaVMFunction();
    if (!create) return false;
    return create(&javaVm, reinterpret_cast<void**>(&jniEnv), &initArgs) == JNI_OK;
}

ArgumentVector buildLauncherArguments() {
    ArgumentVector items;
    items.push_back(getConfigInt(LauncherType) == 1 ? L"true" : L"false");
    wchar_t mainClass[textBufferSize];
    getConfigStringW(MainClass, mainClass, textBufferSize);
    items.push_back(mainClass);
    items.push_back(redirectFile(RedirectFile1Enabled, RedirectFile1));
    items.push_back(redirectFile(RedirectFile2Enabled, RedirectFile2));
    items.push_back(getConfigFlag(RedirectFlag) ? L"true" : L"false");
    return items;
}

ArgumentVector buildMainArguments(const ArgumentVector& arguments) {
    ArgumentVector items = buildLauncherArguments();
    if (!arguments.empty()) items.push_back(arguments[0]);
    wchar_t configured[2000];
    getConfigStringW(Arguments, configured, 2000);
    expandWString(configured, 2000, false);
    splitCommandLine(configured, items);
    bool jvmArguments = getConfigFlag(AllowJvmArguments);
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (jvmArguments && startsWith(argument, L"-J")) continue;
        if (startsWith(argument, L"-Dsun.locale.formatasdefault=")) continue;
        items.push_back(argument);
    }
    return items;
}

void clearFailedLookup() {
    if (jniEnv->ExceptionCheck()) jniEnv->ExceptionClear();
}

bool checkJavaException(bool describe) {
    jthrowable exception = jniEnv->ExceptionOccurred();
    if (!exception) return true;
    logError(L"an exception occurred");
    // Only exception-safe calls are legal while it is pending: take it aside, read its
    // text, then raise it again for the JVM's own description.
    jniEnv->ExceptionClear();
    jclass type = jniEnv->GetObjectClass(exception);
    jmethodID toString = type ? jniEnv->GetMethodID(type, "toString", "()Ljava/lang/String;") : nullptr;
    jstring text = toString ? static_cast<jstring>(jniEnv->CallObjectMethod(exception, toString)) : nullptr;
    if (jniEnv->ExceptionCheck()) {
        jniEnv->ExceptionClear();
        text = nullptr;
    }
    if (text) {
        const jchar* chars = jniEnv->GetStringChars(text, nullptr);
        if (chars) {
            std::wstring message(reinterpret_cast<const wchar_t*>(chars), static_cast<size_t>(jniEnv->GetStringLength(text)));
            jniEnv->ReleaseStringChars(text, chars);
            logError(L"%s", message.c_str());
        }
        jniEnv->DeleteLocalRef(text);
    }
    if (type) jniEnv->DeleteLocalRef(type);
    if (describe) {
        jniEnv->Throw(exception);
        jniEnv->ExceptionDescribe();
    }
    jniEnv->ExceptionClear();
    jniEnv->DeleteLocalRef(exception);
    return false;
}

bool callLauncherMain(const ArgumentVector& arguments) {
    if (flavor == 'z' && !checkFirstRun()) {
        logMessage(L"checkFirstRun stopped further execution");
        return true;
    }
    std::string className = launcherClassName();
    logMessage(L"main class: %S", className.c_str());
    jclass launcher = jniEnv->FindClass(className.c_str());
    if (!launcher) {
        logError(L"could not find main class");
        clearFailedLookup();
        fatalMessageW(MessageMainClassMissing, nullptr);
    }
    jmethodID main = jniEnv->GetStaticMethodID(launcher, "main", "([Ljava/lang/String;)V");
    if (!main) {
        logError(L"could not find main method");
        clearFailedLookup();
        fatalMessageW(MessageMainMethodMissing, nullptr);
    }
    ArgumentVector items = buildMainArguments(arguments);
    logMessage(L"param count: %d", static_cast<int>(items.size()));
    jclass stringClass = jniEnv->FindClass("java/lang/String");
    jobjectArray array =
        stringClass ? jniEnv->NewObjectArray(static_cast<jsize>(items.size()), stringClass, nullptr) : nullptr;
    if (!array) {
        logError(L"could not create the argument array for main");
        checkJavaException(true);
        return false;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        logMessage(L"param %d: %s", static_cast<int>(i), items[i].c_str());
        jstring item = jniEnv->NewString(reinterpret_cast<const jchar*>(items[i].c_str()), static_cast<jsize>(items[i].size()));
        if (!item) {
            logError(L"could not create argument %d for main", static_cast<int>(i));
            checkJavaException(true);
            return false;
        }
        jniEnv->SetObjectArrayElement(array, static_cast<jsize>(i), item);
        jniEnv->DeleteLocalRef(item);
    }
    logMessage(L"calling main");
    jniEnv->CallStaticVoidMethod(launcher, main, array);
    logMessage(L"main returned");
    return checkJavaException(true);
}

bool launchJavaApplication(ArgumentVector& arguments, bool destroyAfterMain) {
    logMessage(L"launching program");
    std::vector<std::string> properties = buildLauncherProperties();
    if (!createJvm(properties, arguments)) {
        logError(L"could not initialize JVM");
        return false;
    }
    logMessage(L"JVM created");
    if (getConfigFlag(SplashEnabled) && getConfigFlag(SplashTextEnabled)) passSplashConfig();
    if (flavor == 'z') loadHelperLibrary();
    if (!callLauncherMain(arguments)) {
        logError(L"could not call main");
        return false;
    }
    if (destroyAfterMain) {
        logMessage(L"dest JVM");
        javaVm->DestroyJavaVM();
    }
    logMessage(L"launch done");
    return true;
}
