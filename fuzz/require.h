// The fuzz targets' property check: a broken property is a finding, so it
// stops the run where libFuzzer records the input.
#ifndef MELNO2QUAZ_FUZZ_REQUIRE_H
#define MELNO2QUAZ_FUZZ_REQUIRE_H

#include <cstdlib>

inline void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

#endif
