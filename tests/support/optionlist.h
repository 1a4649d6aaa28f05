// Compares a finished JVM option list with the expected one as a whole, in order, so
// that a missing, extra, duplicated or misplaced option is a failure. Header-only: the
// unit tests, the end-to-end tests and a JVM trace reader can all use it.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <source_location>
#include <sstream>
#include <string>
#include <vector>

namespace tarvo::test {

using OptionList = std::vector<std::string>;

// Long options (class paths, 30000-byte lines) are shown by their ends and length.
inline std::string showOption(const std::string& option) {
    if (option.size() <= 160) return "<" + option + ">";
    return "<" + option.substr(0, 100) + "...(" + std::to_string(option.size()) + " bytes)..." +
           option.substr(option.size() - 40) + ">";
}

inline std::string showOptions(const OptionList& options) {
    std::ostringstream out;
    for (size_t i = 0; i < options.size(); ++i) out << "  " << i << ": " << showOption(options[i]) << "\n";
    return out.str();
}

inline ::testing::AssertionResult sameOptions(const OptionList& actual, const OptionList& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    size_t n = std::min(actual.size(), expected.size());
    size_t first = 0;
    while (first < n && actual[first] == expected[first]) ++first;
    auto result = ::testing::AssertionFailure();
    result << "option lists differ at index " << first << " (" << actual.size() << " options, expected "
           << expected.size() << ")\n";
    if (first < actual.size()) result << "  actual:   " << showOption(actual[first]) << "\n";
    if (first < expected.size()) result << "  expected: " << showOption(expected[first]) << "\n";
    result << "actual list:\n" << showOptions(actual) << "expected list:\n" << showOptions(expected);
    return result;
}

inline void expectOptions(const OptionList& actual, const OptionList& expected,
                          std::source_location where = std::source_location::current()) {
    if (auto result = sameOptions(actual, expected); !result)
        ADD_FAILURE_AT(where.file_name(), static_cast<int>(where.line())) << result.message();
}

}  // namespace tarvo::test
