// The fixed table from Windows language identifiers to locale codes.
#pragma once
#include <cstddef>

struct LocaleRow {
    unsigned short id;
    const char* code;
};

extern const LocaleRow localeTable[];
extern const size_t localeTableSize;
