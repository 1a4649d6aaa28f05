// Runs the Java application inside this process (run words and the service child).
#pragma once
#include "cmdline.h"

void runInProcess(ArgumentVector& arguments, bool isChild);
