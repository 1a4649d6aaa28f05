// Creates the JVM in this process and calls the static main of the launcher class of
// the Java-side runtime with the application's settings and arguments.
#pragma once
#include <jni.h>

#include <string>
#include <vector>

#include "cmdline.h"

extern JavaVM* javaVm;
extern JNIEnv* jniEnv;

bool launchJavaApplication(ArgumentVector& arguments, bool destroyAfterMain);
std::vector<std::string> buildLauncherProperties();
bool createJvm(const std::vector<std::string>& launcherProperties, const ArgumentVector& arguments);
bool callLauncherMain(const ArgumentVector& arguments);
// Items 1 to 5 of main's argument array: the launcher settings.
ArgumentVector buildLauncherArguments();
// The whole argument array handed to main.
ArgumentVector buildMainArguments(const ArgumentVector& arguments);
std::string launcherClassName();
// True when no exception is pending; otherwise logs its text, prints it through the
// JVM when `describe` is set, and clears it.
bool checkJavaException(bool describe);
// Clears an exception a failed lookup left behind, so that later JNI calls stay legal.
void clearFailedLookup();
