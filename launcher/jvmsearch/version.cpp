#include "version.h"

#include <cstring>

#include "config.h"
#include "log.h"

namespace {

bool isSeparator(char c) { return c == '.' || c == '_' || c == '-' || c == '+'; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// strtol(field, nullptr, 10) on the field [begin, end), saturated to 32 bits. A sign
// can never appear here because "-" and "+" are separators, but it is read as strtol would.
int32_t readField(const char* begin, const char* end) {
    const char* p = begin;
    while (p < end && isBlank(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    int64_t value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > limit) {
            value = limit;
            // Saturated: the remaining digits cannot change the result.
            break;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace

VersionNumber splitVersion(const char* text) {
    VersionNumber parts;
    if (!text) return parts;
    const char* p = text;
    while (*p) {
        while (*p && isSeparator(*p)) ++p;
        const char* begin = p;
        while (*p && !isSeparator(*p)) ++p;
        if (p > begin) parts.push_back(readField(begin, p));
    }
    return parts;
}

VersionRange makeVersionRange(const char* minimum, const char* maximum) {
    return VersionRange{splitVersion(minimum), splitVersion(maximum)};
}

bool matchesBound(const VersionNumber& bound, const VersionNumber& candidate, bool isMaximum, bool lenient) {
    for (size_t i = 0; i < bound.size(); ++i) {
        if (i >= candidate.size()) return lenient;
        if (candidate[i] == bound[i]) continue;
        return isMaximum ? candidate[i] < bound[i] : candidate[i] > bound[i];
    }
    return true;
}

bool isVersionInRange(const char* text, const VersionRange& range) {
    VersionNumber v = splitVersion(text);
    return matchesBound(range.minimum, v, false, true) && matchesBound(range.maximum, v, true, true);
}

bool checkVersion(const char* text, const VersionRange& range, bool allowPreRelease) {
    if (!text) text = "";
    if (!allowPreRelease && getConfigInt(AllowPrerelease) == 0) {
        for (const char* marker : {"beta", "ea", "rc"}) {
            if (std::strstr(text, marker)) {
                logMessage(L"beta vm not allowed");
                return false;
            }
        }
    }
    VersionNumber v = splitVersion(text);
    return matchesBound(range.minimum, v, false, false) && matchesBound(range.maximum, v, true, false);
}

bool isNewerVersion(const char* a, const char* b) {
    VersionNumber va = splitVersion(a);
    VersionNumber vb = splitVersion(b);
    for (size_t i = 0; i < va.size(); ++i) {
        if (i >= vb.size()) return true;
        if (va[i] != vb[i]) return va[i] > vb[i];
    }
    return false;
}
