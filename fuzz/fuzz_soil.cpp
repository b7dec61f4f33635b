// The soil-file reader with the profile checks: a checked profile, a refusal or the fatal report.
#include "sitewave/profile.hpp"
#include "sitewave/steps.hpp"
#include "support.hpp"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    mem_file f(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto r = sitewave::read_profile(f.path());
    if (!r) {
        FUZZ_CHECK(r.err().what == sitewave::error::kind::fatal ||
                   r.err().what == sitewave::error::kind::refused);
        return 0;
    }
    const auto& p = *r;
    FUZZ_CHECK(p.nin == 1 || p.nin == 2);
    FUZZ_CHECK(p.nl >= 1 && p.layers.nl() == p.nl);
    for (int k = 0; k < p.nl; ++k) {
        const auto i = static_cast<std::size_t>(k);
        FUZZ_CHECK(p.layers.vs[i] > 0.0f && p.layers.vp[i] > p.layers.vs[i]);
    }
    // A sound profile gives tables whose moduli are finite or are refused, on a small grid.
    if (p.nl <= 64) {
        const sitewave::grid g = sitewave::make_grid(64, 0.01f).value();
        const auto t = sitewave::compute_tables(p.layers, p.theta, g);
        // A profile the reader passes is one the tables take (the angle unchecked, but finite).
        FUZZ_CHECK(t || !std::isfinite(p.theta));
        if (t) {
            const auto c = sitewave::check_tables(*t, g);
            FUZZ_CHECK(c || c.err().what == sitewave::error::kind::refused);
        }
    }
    return 0;
}
