#include <gtest/gtest.h>

#include <set>
#include <string>

#include "localetable.h"
#include "messages.h"

namespace {

TEST(LocaleTable, HasEveryRowOnceInAscendingOrder) {
    ASSERT_EQ(localeTableSize, 215u);
    size_t primary = 0;
    for (size_t i = 0; i < localeTableSize; ++i) {
        if (localeTable[i].id < 0x400) ++primary;
        if (i > 0) {
            EXPECT_LT(localeTable[i - 1].id, localeTable[i].id) << i;
        }
    }
    EXPECT_EQ(primary, 71u);
}

TEST(LocaleTable, MapsIdentifiersIncludingIrregularRows) {
    const std::pair<unsigned short, const char*> cases[] = {
        {0x0407, "de_DE"}, {0x0C07, "de_AT"}, {0x0807, "de_CH"}, {0x0409, "en_US"},
        {0x0812, "ko_KR"}, {0x0814, "no_NO_NY"}, {0x2409, "en"},  {0x081A, "sr_CS"},
        {0x0C1A, "sr_CS"}, {0x041A, "hr_HR"},    {0x0431, "ts"},  {0x0434, "xh"},
        {0x0435, "zu"},    {0x043D, "yi"},       {0x0444, "tt"},  {0x040D, "iw_IL"},
        {0x0421, "in_ID"}, {0x500A, "es_PR"},    {0x0001, "ar"},  {0x0056, "gl"},
        // Not listed: the primary language decides.
        {0x4407, "de"},    {0x7C04, "zh"},       {0x0456, "gl_ES"},
        // Neither the identifier nor its primary language: English.
        {0x0028, "en"},    {0x0428, "en"},       {0x0000, "en"},  {0x007F, "en"},
    };
    for (const auto& [id, code] : cases) EXPECT_STREQ(localeCodeFor(id), code) << std::hex << id;
}

}  // namespace
