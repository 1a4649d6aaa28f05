#include "textbuf.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

bool copyText(char* dst, size_t size, const char* src) {
    if (size == 0) return false;
    size_t n = std::strlen(src);
    bool fits = n < size;
    if (!fits) n = size - 1;
    std::memmove(dst, src, n);
    dst[n] = 0;
    return fits;
}

bool copyTextW(wchar_t* dst, size_t size, const wchar_t* src) {
    if (size == 0) return false;
    size_t n = std::wcslen(src);
    bool fits = n < size;
    if (!fits) n = size - 1;
    std::wmemmove(dst, src, n);
    dst[n] = 0;
    return fits;
}

bool appendText(char* dst, size_t size, const char* src) {
    size_t used = strnlen(dst, size);
    if (used >= size) return false;
    return copyText(dst + used, size - used, src);
}

bool appendTextW(wchar_t* dst, size_t size, const wchar_t* src) {
    size_t used = wcsnlen(dst, size);
    if (used >= size) return false;
    return copyTextW(dst + used, size - used, src);
}

bool formatText(char* dst, size_t size, const char* format, ...) {
    if (size == 0) return false;
    va_list args;
    va_start(args, format);
    int n = _vsnprintf(dst, size, format, args);
    va_end(args);
    dst[size - 1] = 0;
    return n >= 0 && static_cast<size_t>(n) < size;
}

bool formatTextW(wchar_t* dst, size_t size, const wchar_t* format, ...) {
    if (size == 0) return false;
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(dst, size, format, args);
    va_end(args);
    dst[size - 1] = 0;
    return n >= 0 && static_cast<size_t>(n) < size;
}

bool widenBytes(wchar_t* dst, size_t size, const char* src) {
    if (size == 0) return false;
    size_t i = 0;
    for (; src[i] != 0 && i + 1 < size; ++i) dst[i] = static_cast<unsigned char>(src[i]);
    dst[i] = 0;
    return src[i] == 0;
}
