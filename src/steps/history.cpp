#include "steps/history.hpp"

namespace sitewave::steps {

void complete_negative_frequencies(std::span<cplx> a) {
    const std::size_t nf = a.size();
    for (std::size_t i = 1; i < nf / 2; ++i) {
        a[nf - i] = cplx{a[i].re, -a[i].im};
    }
}

} // namespace sitewave::steps

namespace sitewave {

extremes find_extremes(std::span<const float> x) {
    extremes e;
    for (const float v : x) {
        if (v > e.max) {
            e.max = v;
        }
        if (v < e.min) {
            e.min = v;
        }
    }
    return e;
}

} // namespace sitewave
