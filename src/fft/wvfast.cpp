// In-place radix-2 decimation-in-time transform: a bit-reversal reordering, then log2(n) passes of
// butterflies whose span doubles from pass to pass.
#include "fft/wvfast.hpp"

#include <cassert>
#include <cstddef>
#include <utility>

namespace sitewave::fft {

void wvfast(std::span<cplx> a, int ind) {
    const std::size_t n = a.size();
    assert(n == 0 || is_pow2(n));
    assert(ind == -1 || ind == 1);
    if (n <= 1) {
        return;
    }

    // Reordering: element i trades places with element r(i), i with its log2(n) bits reversed;
    // each pair is exchanged once (when i < j). j runs through r(0), r(1), ... by adding 1 to the
    // reversed number: clear its leading ones from the top bit down, then set the first zero bit.
    // The clearing stops once m has come down to 1; it would only matter after the last element.
    std::size_t j = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i < j) {
            std::swap(a[i], a[j]);
        }
        std::size_t m = n / 2;
        while (j >= m) {
            j -= m;
            m /= 2;
            if (m <= 1) {
                break;
            }
        }
        j += m;
    }

    // pai is 3.1415925f, one unit in the last place below the float nearest to pi (3.1415927f).
    // The twiddle angles, and so every result bit, depend on it.
    constexpr float pai = 3.1415925f;

    // Butterflies: kmax is the half-span of the current pass, k the position inside a group (outer
    // loop, so the twiddle factor is evaluated once per k), i the start of the group (inner loop).
    for (std::size_t kmax = 1; kmax < n;) {
        const std::size_t istep = 2 * kmax;
        for (std::size_t k = 0; k < kmax; ++k) {
            // (k*ind) in integers, then times pai, then over kmax: each a float operation.
            const float angle =
                static_cast<float>(static_cast<int>(k) * ind) * pai / static_cast<float>(kmax);
            const cplx w{cos_d(angle), sin_d(angle)};
            for (std::size_t i = k; i < n; i += istep) {
                const std::size_t jj = i + kmax;
                const cplx temp = a[jj] * w;
                a[jj] = a[i] - temp; // both from the old a[i]
                a[i] = a[i] + temp;
            }
        }
        kmax = istep;
    }
}

} // namespace sitewave::fft
