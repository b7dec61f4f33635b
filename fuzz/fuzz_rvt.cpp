// Random vibration theory's readers and entry points: a Boore-Thompson table (part 1), a two-column
// spectrum file (part 2) taken as a Fourier amplitude spectrum and as a target response spectrum,
// with a duration, peak factor and damping from part 3. Everything is a value or a refusal.
#include "batch/rvt_run.hpp"
#include "sitewave/rvt.hpp"
#include "support.hpp"
#include "textio/fatal.hpp"

#include <algorithm>
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace rvt = sitewave::rvt;
    const auto p = parts(data, size, 3);
    if (const auto t = rvt::bt_table::parse(p[0], "fuzz.pars"); t) {
        const double r = t->ratio(6.0, 20.0, 10.0, 1.0, 0.05);
        (void)r;
    }
    mem_file file(p[1]);
    const auto pairs =
        sitewave::textio::capture([&] { return sitewave::batch::read_pairs(file.path(), false); });
    if (!pairs) {
        return 0;
    }
    const auto& [x, y] = *pairs;
    FUZZ_CHECK(x.size() >= 2 && x.size() == y.size());
    const unsigned char knob = p[2].empty() ? 0 : static_cast<unsigned char>(p[2][0]);
    rvt::peak_setting s;
    s.method = knob % 2 ? rvt::peak_method::clh : rvt::peak_method::vanmarcke;
    s.t_gm = 0.5 + knob % 40;
    const rvt::spectrum fas{x, y};
    if (const auto v = rvt::peak(fas, s); v) {
        FUZZ_CHECK(std::isfinite(*v) && *v >= 0.0);
    }
    (void)rvt::psa(fas, {0.05, 0.3, 2.0}, 0.05, s);
    // The inversion is slow (passes of spectra): a few points, one input in sixteen.
    if (knob % 16 == 0 && x.size() <= 6 &&
        std::all_of(y.begin(), y.end(), [](double v) { return v > 0; })) {
        (void)rvt::invert(x, y, 0.05, s);
    }
    return 0;
}
