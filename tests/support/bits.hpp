// Bit-for-bit comparison of complex values, with the bits shown on failure.
#pragma once

#include "sitewave/types.hpp"

#include <bit>
#include <cstdint>
#include <gtest/gtest.h>

inline bool bits_equal(sitewave::cplx a, sitewave::cplx b) {
    return std::bit_cast<std::uint32_t>(a.re) == std::bit_cast<std::uint32_t>(b.re) &&
           std::bit_cast<std::uint32_t>(a.im) == std::bit_cast<std::uint32_t>(b.im);
}

inline ::testing::AssertionResult same_bits(sitewave::cplx got, sitewave::cplx want) {
    if (bits_equal(got, want)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << std::hexfloat << "got (" << got.re << ", " << got.im
                                         << ") want (" << want.re << ", " << want.im << ")";
}
