#include "steps/spectral.hpp"

namespace sitewave::steps {

std::optional<float> band_weight(const pass_band& band, float omega) {
    if (omega < band.oml1 || omega >= band.omh2) {
        return std::nullopt;
    }
    float aa = 1.0f;
    if (band.filter) {
        if (omega < band.oml2) {
            aa = (omega - band.oml1) / (band.oml2 - band.oml1);
        }
        if (omega > band.omh1) {
            aa = (band.omh2 - omega) / (band.omh2 - band.omh1);
        }
    }
    return aa;
}

void process_spectra(std::span<const std::span<cplx>> spectra, int nom, float dom,
                     const pass_band& band, int nyes) {
    for (auto s : spectra) {
        s[0] = cplx{0.0f, 0.0f}; // the mean of every component is removed
    }
    for (int i = 1; i < nom; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const float omega = static_cast<float>(i) * dom;
        const auto aa = band_weight(band, omega);
        for (auto s : spectra) {
            if (!aa) {
                s[k] = cplx{0.0f, 0.0f};
                continue;
            }
            cplx v{*aa * s[k].re, *aa * s[k].im};
            if (nyes == integrate) {
                v = v / cplx{0.0f, omega};
            } else if (nyes == differentiate) {
                v = (v * omega) * cplx{0.0f, 1.0f};
            }
            s[k] = v;
        }
    }
}

} // namespace sitewave::steps
