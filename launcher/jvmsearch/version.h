// Java version texts as comparable numbers: splitting, the configured minimum and
// maximum (lenient and strict), the pre-release test and the newer-of-two ordering.
#pragma once
#include <cstdint>
#include <vector>

// Components of a version text in order; may be empty.
using VersionNumber = std::vector<int32_t>;

// Keys 126 and 127 parsed once per search; an empty bound places no limit.
struct VersionRange {
    VersionNumber minimum;
    VersionNumber maximum;
};

// Fields at ".", "_", "-" and "+", empty fields dropped, each read like strtol in base
// 10 and saturated to 32 bits. Null or empty text gives the empty list. Keeps no state,
// so it can run inside a caller's own tokenising loop.
VersionNumber splitVersion(const char* text);
VersionRange makeVersionRange(const char* minimum, const char* maximum);

// Compares only as many components as the bound has. A candidate that runs out first
// passes in lenient mode and fails in strict mode.
bool matchesBound(const VersionNumber& bound, const VersionNumber& candidate, bool isMaximum, bool lenient);
// Lenient: for partial versions (registry key names, CurrentVersion values).
bool isVersionInRange(const char* text, const VersionRange& range);
// Strict, after refusing "beta", "ea" and "rc" builds unless the caller or key 130 allows them.
bool checkVersion(const char* text, const VersionRange& range, bool allowPreRelease);
// True when a is strictly newer than b; equal versions are not newer.
bool isNewerVersion(const char* a, const char* b);
