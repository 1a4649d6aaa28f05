// Version texts as numbers: splitting, one bound, the two range tests, the newer-of-two
// ordering. No configuration block is read here, so key 130 reads as 0; the key itself
// is exercised end to end through the jvmsearch driver.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "version.h"

namespace {

struct SplitCase {
    const char* text;
    VersionNumber parts;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << "'" << c.text << "'"; }

class SplitVersionTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitVersionTable, GivesTheComponentsInOrder) {
    EXPECT_EQ(splitVersion(GetParam().text), GetParam().parts) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Table, SplitVersionTable,
                         ::testing::Values(SplitCase{"1.8.0_45", {1, 8, 0, 45}},
                                           SplitCase{"1.8.0_45-b14", {1, 8, 0, 45, 0}},
                                           SplitCase{"11.0.2+9", {11, 0, 2, 9}},
                                           SplitCase{"9-ea", {9, 0}},
                                           SplitCase{"1.8", {1, 8}},
                                           SplitCase{"..1", {1}},
                                           SplitCase{"", {}}));

INSTANTIATE_TEST_SUITE_P(
    Fields, SplitVersionTable,
    ::testing::Values(
        // Runs of separators and separators at both ends give no fields.
        SplitCase{"_-+1..+_8-", {1, 8}}, SplitCase{"._-+", {}},
        // A field is read like strtol: leading blanks, digits up to the first non-digit.
        SplitCase{" 7.\t8", {7, 8}}, SplitCase{"12abc.x3.4x", {12, 0, 4}}, SplitCase{"17.0.2 2022", {17, 0, 2}},
        // Beyond 32 bits the value saturates; the field after it still counts.
        SplitCase{"2147483647.2147483648", {INT_MAX, INT_MAX}}, SplitCase{"99999999999999999999999.1", {INT_MAX, 1}},
        SplitCase{"00000000000000000000042", {42}}));

TEST(SplitVersion, NullTextGivesNoComponents) { EXPECT_TRUE(splitVersion(nullptr).empty()); }

TEST(SplitVersion, LeavesTheCallersTextAndTokenisingAlone) {
    char list[] = "1.8.0_45;9-ea;11.0.2+9";
    std::vector<std::string> seen;
    for (char* token = std::strtok(list, ";"); token; token = std::strtok(nullptr, ";")) {
        seen.push_back(token);
        char text[] = "1.2_3-4+5";
        EXPECT_EQ(splitVersion(text).size(), 5u);
        EXPECT_STREQ(text, "1.2_3-4+5");
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1.8.0_45", "9-ea", "11.0.2+9"}));
}

struct NewerCase {
    const char* a;
    const char* b;
    bool newer;
};

void PrintTo(const NewerCase& c, std::ostream* os) { *os << "'" << c.a << "' vs '" << c.b << "'"; }

class IsNewerVersionTable : public ::testing::TestWithParam<NewerCase> {};

TEST_P(IsNewerVersionTable, OrdersAAgainstB) {
    EXPECT_EQ(isNewerVersion(GetParam().a, GetParam().b), GetParam().newer)
        << "'" << GetParam().a << "' newer than '" << GetParam().b << "'";
}

INSTANTIATE_TEST_SUITE_P(Table, IsNewerVersionTable,
                         ::testing::Values(NewerCase{"1.8.0_101", "1.8.0_45", true},
                                           NewerCase{"1.8.0_45", "1.8.0_101", false},
                                           NewerCase{"1.8.0", "1.8", true},
                                           NewerCase{"1.8", "1.8.0", false},
                                           NewerCase{"1.8", "1.8", false},
                                           NewerCase{"1.8", "", true},
                                           NewerCase{"", "1.8", false}));

INSTANTIATE_TEST_SUITE_P(More, IsNewerVersionTable,
                         ::testing::Values(NewerCase{"11.0.2", "1.8.0_292", true}, NewerCase{"9", "11", false},
                                           NewerCase{"", "", false}, NewerCase{"1.8.0_45-b14", "1.8.0_45", true},
                                           NewerCase{"99999999999", "2147483647", false},
                                           NewerCase{"1.10", "1.9.9", true}));

struct BoundCase {
    const char* bound;
    const char* candidate;
    bool isMaximum;
    bool lenient;
    bool matches;
};

void PrintTo(const BoundCase& c, std::ostream* os) {
    *os << (c.isMaximum ? "max '" : "min '") << c.bound << (c.lenient ? "' lenient '" : "' strict '") << c.candidate
        << "'";
}

class MatchesBoundTable : public ::testing::TestWithParam<BoundCase> {};

TEST_P(MatchesBoundTable, HoldsTheCandidateAgainstTheBound) {
    const BoundCase& c = GetParam();
    EXPECT_EQ(matchesBound(splitVersion(c.bound), splitVersion(c.candidate), c.isMaximum, c.lenient), c.matches)
        << (c.isMaximum ? "maximum " : "minimum ") << c.bound << (c.lenient ? " lenient " : " strict ")
        << c.candidate;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MatchesBoundTable,
    ::testing::Values(
        // An empty bound admits everything, the empty candidate too.
        BoundCase{"", "", false, false, true}, BoundCase{"", "1.2", true, false, true},
        // The maximum 1.8 admits every 1.8.x; only the bound's components count.
        BoundCase{"1.8", "1.8.0_05", true, false, true}, BoundCase{"1.8", "1.8.0_292", true, false, true},
        BoundCase{"1.8", "1.9", true, false, false}, BoundCase{"1.8", "1.7.0_80", true, false, true},
        BoundCase{"1.8", "1.8.0_05", false, false, true}, BoundCase{"1.8", "11", false, false, true},
        BoundCase{"1.8", "1.7.9", false, false, false},
        // A candidate that runs out: lenient passes, strict fails...
        BoundCase{"1.8.0_60", "1.8", false, true, true}, BoundCase{"1.8.0_60", "1.8", false, false, false},
        BoundCase{"1.8.0_60", "1.8", true, true, true}, BoundCase{"1.8.0_60", "1.8", true, false, false},
        // ...unless an earlier component already decided.
        BoundCase{"1.8.0_60", "1.9", false, false, true}, BoundCase{"1.8.0_60", "1.7", false, true, false},
        BoundCase{"1.8", "", false, true, true}, BoundCase{"1.8", "", false, false, false},
        // Equal in every component of the bound.
        BoundCase{"1.8.0_60", "1.8.0_60", false, false, true}, BoundCase{"1.8.0_60", "1.8.0_60", true, false, true},
        // Saturated components compare as the largest 32-bit value.
        BoundCase{"2147483647", "99999999999", false, false, true},
        BoundCase{"2147483647", "99999999999", true, false, true},
        BoundCase{"2147483646", "99999999999", true, false, false}));

struct RangeCase {
    const char* minimum;
    const char* maximum;
    const char* version;
    bool lenient;  // isVersionInRange
    bool strict;   // checkVersion with pre-release versions allowed
};

void PrintTo(const RangeCase& c, std::ostream* os) {
    *os << "'" << c.minimum << "' to '" << c.maximum << "': '" << c.version << "'";
}

class RangeTable : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RangeTable, LenientAndStrict) {
    const RangeCase& c = GetParam();
    VersionRange range = makeVersionRange(c.minimum, c.maximum);
    EXPECT_EQ(isVersionInRange(c.version, range), c.lenient)
        << "lenient [" << c.minimum << ", " << c.maximum << "] " << c.version;
    EXPECT_EQ(checkVersion(c.version, range, true), c.strict)
        << "strict [" << c.minimum << ", " << c.maximum << "] " << c.version;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RangeTable,
    ::testing::Values(RangeCase{"1.8", "1.8", "1.8.0_45", true, true},
                      RangeCase{"1.8", "1.8", "1.7.0_80", false, false},
                      RangeCase{"1.8", "1.8", "9.0.4", false, false},
                      RangeCase{"1.8.0_60", "", "1.8", true, false},
                      RangeCase{"1.8.0_60", "", "1.8.0_45", false, false},
                      RangeCase{"1.8.0_60", "", "1.8.0_60", true, true},
                      RangeCase{"1.8.0_60", "", "11.0.2", true, true},
                      // The maximum is tested only after the minimum passed.
                      RangeCase{"1.8", "1.8.0_100", "1.8.0_101", false, false},
                      RangeCase{"1.8", "1.8.0_100", "1.8", true, false},
                      RangeCase{"", "", "1.8.0_45", true, true}, RangeCase{"", "", "", true, true},
                      RangeCase{"", "", "not a version", true, true},
                      // A text without digits counts as 0 in every field.
                      RangeCase{"1", "", "abc", false, false}));

TEST(CheckVersion, PreReleaseBuildsNeedTheCallersPermission) {
    VersionRange any;
    VersionRange java8 = makeVersionRange("1.8", "1.8");
    struct Case {
        const char* version;
        bool refused;  // without permission
    };
    // A plain substring test, case-sensitive.
    for (Case c : {Case{"1.8.0_45-ea", true}, Case{"9-ea", true}, Case{"1.8.0-beta2", true}, Case{"11-rc1", true},
                   Case{"1.8.0_45-search", true}, Case{"1.8.0_45-EA", false}, Case{"1.8.0_45-RC", false},
                   Case{"1.8.0_45", false}, Case{"", false}}) {
        EXPECT_EQ(checkVersion(c.version, any, false), !c.refused) << c.version;
        EXPECT_TRUE(checkVersion(c.version, any, true)) << c.version;
    }
    // Allowed pre-release versions still meet the range.
    EXPECT_TRUE(checkVersion("1.8.0_45-ea", java8, true));
    EXPECT_FALSE(checkVersion("9-ea", java8, true));
    EXPECT_FALSE(checkVersion(nullptr, java8, false));
    EXPECT_TRUE(checkVersion(nullptr, any, false));
}

}  // namespace
