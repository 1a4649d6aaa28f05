// The two function tables the stand-in hands out.
#pragma once
#include "vm.h"

namespace standin::jvm {

const JNINativeInterface_* envTable();
JavaVM* theJavaVM();

}  // namespace standin::jvm
