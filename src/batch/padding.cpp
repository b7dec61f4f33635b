#include "batch/padding.hpp"

#include "batch/shared_work.hpp"
#include "fft/wvfast.hpp"
#include "steps/grid.hpp"
#include "steps/history.hpp"
#include "steps/steps.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>

namespace sitewave::batch {

namespace {

// How far the impulse response of `factor` (rows 0..nf/2), taken as circular, reaches above
// decay_fraction of its peak: after the impulse (the last such sample in the first half of the
// grid) and before it (the samples from the first such one in the second half to the end: the
// factors are not exactly causal). None when the response is not finite.
struct reach {
    long after = 0, before = 0;
};
std::optional<reach> reach_of(const std::vector<cplx>& factor, std::size_t nf,
                              const fft::twiddles& tw) {
    std::vector<cplx> a(nf);
    std::copy(factor.begin(), factor.begin() + static_cast<long>(nf / 2 + 1), a.begin());
    steps::complete_negative_frequencies(a);
    fft::wvfast(a, 1, tw);
    float peak = 0.0f;
    for (const cplx& c : a) {
        peak = std::max(peak, std::fabs(c.re));
    }
    if (!std::isfinite(peak)) {
        return std::nullopt;
    }
    const double level = decay_fraction * static_cast<double>(peak);
    const auto above = [&](std::size_t i) {
        return static_cast<double>(std::fabs(a[i].re)) > level;
    };
    reach r;
    for (std::size_t i = 0; i < nf / 2; ++i) {
        if (above(i)) {
            r.after = static_cast<long>(i);
        }
    }
    for (std::size_t i = nf / 2; i < nf; ++i) {
        if (above(i)) {
            r.before = static_cast<long>(nf - i);
            break;
        }
    }
    return r;
}

} // namespace

decay_time response_decay(const layer_table& layers, float theta, int nin, float dt, bool oblique,
                          int row_threads) {
    for (int if1 = 12; if1 <= max_if1; ++if1) {
        const int nf = 1 << if1;
        const grid g = steps::make_grid_unchecked(nf, dt);
        if (!std::isfinite(g.dur) || !std::isfinite(g.dom) || !(g.dom > 0.0f)) {
            break;
        }
        const tables t = steps::compute_tables_unchecked(layers, theta, g, oblique, row_threads);
        const fft::twiddles tw(static_cast<std::size_t>(nf), 1);
        long most = 0;
        bool quiet = true;
        for (const amp_table* a : {&t.samp, &t.pamp}) {
            const auto r = reach_of(a->col[static_cast<std::size_t>(nin - 1)],
                                    static_cast<std::size_t>(nf), tw);
            if (!r) {
                return {0, true}; // the run refuses the tables itself
            }
            // Died away well before the grid wraps it round, both ways.
            quiet = quiet && r->after < nf / 4 && r->before < nf / 4;
            most = std::max({most, r->after, r->before});
        }
        if (quiet) {
            return {static_cast<int>(most), true};
        }
    }
    return {1 << max_if1, false};
}

int padded_length(const batch_options& o, int nt, float dt, const decay_time& decay,
                  std::string& note) {
    const int most = 1 << max_if1;
    if (o.pad == padding::none || o.dialogue_files) {
        return choose_length(nt, max_if1)->nf;
    }
    double extra = 0.0;
    if (o.pad == padding::fixed) {
        extra = std::ceil(o.pad_seconds / static_cast<double>(dt));
    } else {
        extra = decay.samples;
        if (!decay.found) {
            note = "padded to 2^20 samples: the site's response lasts longer, wrap-around may "
                   "exceed 1e-3 of the peak";
            return most;
        }
    }
    const double need = static_cast<double>(nt) + extra;
    if (!(need <= most)) {
        note = "padded to 2^20 samples, fewer than the record and its padding (" +
               std::to_string(nt) + " + " + num(extra) + ")";
        return most;
    }
    return std::max(4, static_cast<int>(std::bit_ceil(static_cast<unsigned>(need))));
}

} // namespace sitewave::batch
