// The complete JVM option list and the JavaVMInitArgs record handed to JNI_CreateJavaVM.
// Order: launcher properties, key 123, the first matching version-specific entry,
// "-J" arguments (key 125), locale options, the default VM options file, the class
// path, "-Xrs" for a service, "-Dzandorium.noRedir=true" for the /run family.
#pragma once
#include <jni.h>

#include "cmdline.h"
#include "vmoptions.h"

// Builds the list once per run. `launcherProperties` ends with a null entry;
// `arguments` are the run's arguments (program path, command word and restart marker
// removed). The record points into process-wide storage that stays valid for the rest
// of the process, also after JNI_CreateJavaVM has returned.
JavaVMInitArgs buildJvmInitArgs(const char* const* launcherProperties, const ArgumentVector& arguments);
// The list that the last buildJvmInitArgs produced.
const JvmOptionList& jvmOptions();

// Key 123, the version-specific options, "-J" arguments and the locale options.
void addConfiguredOptions(const ArgumentVector& arguments, JvmOptionList& options, ClassPathOverrides& overrides);
