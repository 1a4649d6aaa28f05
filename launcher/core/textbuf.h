// Bounded text helpers for the fixed-size buffers used throughout the launcher.
// Every function terminates its output; none writes past `size`. The result tells
// whether the whole text fitted, so callers can log or refuse a cut.
#pragma once
#include <cstddef>

constexpr size_t textBufferSize = 6000;

// Length of a zero-terminated text of either width.
template <typename C>
size_t textLength(const C* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

bool copyText(char* dst, size_t size, const char* src);
bool copyTextW(wchar_t* dst, size_t size, const wchar_t* src);
bool appendText(char* dst, size_t size, const char* src);
bool appendTextW(wchar_t* dst, size_t size, const wchar_t* src);
// printf into dst; %s in formatTextW takes a wide string and %S an 8-bit one.
bool formatText(char* dst, size_t size, const char* format, ...);
bool formatTextW(wchar_t* dst, size_t size, const wchar_t* format, ...);
// Each byte becomes the wide character of the same value.
bool widenBytes(wchar_t* dst, size_t size, const char* src);
