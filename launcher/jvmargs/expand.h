// Expansion of launcher variables (%TARVO_EXEDIR%, ${launcher:sys.jvmHome}, ...) and
// ${NAME} environment references, in place, in 8-bit and wide texts.
#pragma once
#include <cstddef>

#include "textbuf.h"

struct SelectedJvm {
    char home[textBufferSize];     // java executable's directory followed by "\.."
    char version[textBufferSize];  // version text of the selected JVM
};
extern SelectedJvm selectedJvm;

void recordSelectedJvm(const char* javaExecutable, const char* version);

// `size` is the capacity of `text`. A replacement that would not fit there (or in the
// scratch space) is refused and logged; the reference then stays in the text.
void expandString(char* text, size_t size);
void expandWString(wchar_t* text, size_t size, bool useAnsiPaths);
