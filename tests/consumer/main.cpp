// Prints the peak of the SH amplification (column of the profile's wave type) of a soil file.
#include <cmath>
#include <cstdio>
#include <sitewave/sitewave.hpp>

int main(int argc, char** argv) {
    const auto p = sitewave::read_profile(argc > 1 ? argv[1] : "soil_dat.csv");
    if (!p) {
        std::fputs(p.err().report().c_str(), stderr);
        return p.err().status();
    }
    const auto g = sitewave::make_grid(4096, 0.01f); // 0 to 50 Hz
    const auto t = g ? sitewave::compute_tables(p->layers, p->theta, *g) : g.err();
    if (!t) {
        std::fputs(t.err().report().c_str(), stderr);
        return t.err().status();
    }
    const auto& col = t->samp.col[static_cast<std::size_t>(p->nin - 1)];
    std::size_t best = 0;
    for (std::size_t i = 0; i < col.size(); ++i) {
        if (std::hypot(col[i].re, col[i].im) > std::hypot(col[best].re, col[best].im)) {
            best = i;
        }
    }
    std::printf("peak SH amplification %.4g at %.4g Hz\n", std::hypot(col[best].re, col[best].im),
                static_cast<double>(best) * g->dom / (2 * 3.141592653589793));
}
