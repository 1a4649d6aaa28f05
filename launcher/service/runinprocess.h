// Runs the Java application inside this process (run words and the service child).
#pragma once
#include "cmdline.h"

// Returns when the application has ended and the JVM is destroyed; every failure ends
// the process with exit code 1.
void runInProcess(ArgumentVector& arguments, bool isChild);
// Puts the native library directories of key 10004 in front of PATH.
void setNativeLibraryPath();
