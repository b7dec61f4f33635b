// In-place radix-2 decimation-in-time transform: a bit-reversal reordering, then log2(n) passes of
// butterflies whose span doubles from pass to pass.
#include "fft/wvfast.hpp"

#include "common/elementary.hpp"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <utility>

namespace sitewave::fft {

// pai is 3.1415925f, one unit in the last place below the float nearest to pi (3.1415927f).
// The twiddle angles, and so every result bit, depend on it.
constexpr float pai = 3.1415925f;

// Pass of half-span kmax, position k in a group: the angle is (k*ind) in integers, then times
// pai, then over kmax, each a float operation. Only the last pass's factors are kept (kmax =
// n/2): for kmax = (n/2)/s, s a power of two, the angle of (k, kmax) is that of (k*s, n/2) bit
// for bit, since scaling by a power of two is exact and commutes with each rounding.
twiddles::twiddles(std::size_t n, int ind) : n_(n), ind_(ind), w_(n > 1 ? n / 2 : 1) {
    assert(n == 0 || is_pow2(n));
    assert(ind == -1 || ind == 1);
    constexpr std::size_t chunk = 64;
    float angle[chunk], c[chunk], s[chunk];
    const std::size_t kmax = n / 2;
    for (std::size_t k0 = 0; k0 < kmax; k0 += chunk) {
        const std::size_t m = std::min(chunk, kmax - k0);
        for (std::size_t k = k0; k < k0 + m; ++k) {
            angle[k - k0] =
                static_cast<float>(static_cast<int>(k) * ind) * pai / static_cast<float>(kmax);
        }
        cos_sin_floats(angle, m, c, s);
        for (std::size_t j = 0; j < m; ++j) {
            w_[k0 + j] = cplx{c[j], s[j]};
        }
    }
}

void wvfast(std::span<cplx> a, int ind) { wvfast(a, ind, twiddles(a.size(), ind)); }

void wvfast(std::span<cplx> a, int ind, const twiddles& tw) {
    const std::size_t n = a.size();
    assert(n == 0 || is_pow2(n));
    assert(tw.size() == n && tw.direction() == ind);
    (void)ind;
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

    // Butterflies: kmax is the half-span of the current pass. The butterflies of a pass are
    // independent of each other, so they go group by group, k running inside the group.
    cplx* const data = a.data();
    for (std::size_t kmax = 1; kmax < n; kmax *= 2) {
        const cplx* const w = tw.last();
        const std::size_t stride = n / 2 / kmax;
        for (std::size_t i = 0; i < n; i += 2 * kmax) {
            cplx* const lo = data + i;
            cplx* const hi = lo + kmax;
            for (std::size_t k = 0; k < kmax; ++k) {
                const cplx temp = hi[k] * w[k * stride];
                hi[k] = lo[k] - temp; // both from the old lo[k]
                lo[k] = lo[k] + temp;
            }
        }
    }
}

} // namespace sitewave::fft
