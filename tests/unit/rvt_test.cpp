#include "response/psa.hpp"
#include "sitewave/eql.hpp"
#include "sitewave/rvt.hpp"
#include "sitewave/site.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <string>
#include <vector>

// Random vibration theory against closed forms (band-limited white noise), the peak factors'
// integrals by a dense Simpson rule, the inversion of a target spectrum put back through the
// forward model, and time histories of random phase with a point source's spectrum.
namespace {

namespace rvt = sitewave::rvt;
constexpr double pi = std::numbers::pi;

std::string sci(double x) {
    char b[32];
    std::snprintf(b, sizeof b, "%.3e", x);
    return b;
}

// In place, Σ_j a_j e^{sign·2πi jk/n}; n a power of two.
void fft(std::vector<std::complex<double>>& a, int sign) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(a[i], a[j]);
        }
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const auto w = std::polar(1.0, sign * 2 * pi / static_cast<double>(len));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> u(1.0);
            for (std::size_t k = 0; k < len / 2; ++k) {
                const auto v = a[i + k + len / 2] * u;
                a[i + k + len / 2] = a[i + k] - v;
                a[i + k] += v;
                u *= w;
            }
        }
    }
}

// A0 from f1 to f2 on n log-spaced points.
rvt::spectrum white(double a0, double f1, double f2, std::size_t n = 4096) {
    rvt::spectrum s;
    for (std::size_t i = 0; i < n; ++i) {
        s.freq.push_back(f1 *
                         std::pow(f2 / f1, static_cast<double>(i) / static_cast<double>(n - 1)));
        s.amp.push_back(a0);
    }
    return s;
}

// 2∫ (2πf)^k A0² df from f1 to f2.
double white_moment(double a0, double f1, double f2, int k) {
    return 2 * a0 * a0 * std::pow(2 * pi, k) * (std::pow(f2, k + 1) - std::pow(f1, k + 1)) /
           (k + 1);
}

// Composite Simpson on [0, b] with n (even) intervals.
template <class F> double simpson(F f, double b, int n) {
    const double h = b / n;
    double s = f(0.0) + f(b);
    for (int i = 1; i < n; ++i) {
        s += (i % 2 ? 4 : 2) * f(i * h);
    }
    return s * h / 3;
}

TEST(Rvt, WhiteNoiseMomentsAndPeaksAgainstClosedForms) {
    const double a0 = 0.02, f1 = 0.1, f2 = 25.0, t = 10.0;
    const auto s = white(a0, f1, f2);
    const auto m = rvt::spectral_moments(s);
    ASSERT_TRUE(m.ok());
    const rvt::moments exact{white_moment(a0, f1, f2, 0), white_moment(a0, f1, f2, 1),
                             white_moment(a0, f1, f2, 2), white_moment(a0, f1, f2, 4)};
    EXPECT_NEAR(m->m0 / exact.m0, 1, 1e-5);
    EXPECT_NEAR(m->m1 / exact.m1, 1, 1e-5);
    EXPECT_NEAR(m->m2 / exact.m2, 1, 1e-5);
    EXPECT_NEAR(m->m4 / exact.m4, 1, 1e-5);
    // The peak of the motion: the peak factor of the exact moments times √(m0/T).
    for (const auto method : {rvt::peak_method::clh, rvt::peak_method::vanmarcke}) {
        rvt::peak_setting p;
        p.method = method;
        p.t_gm = t;
        const auto got = rvt::peak(s, p);
        ASSERT_TRUE(got.ok()) << got.err().message;
        const auto pf = method == rvt::peak_method::clh ? rvt::peak_factor_clh(exact, t)
                                                        : rvt::peak_factor_vanmarcke(exact, t);
        ASSERT_TRUE(pf.ok());
        const double want = *pf * std::sqrt(exact.m0 / t);
        EXPECT_NEAR(*got / want, 1, 1e-4) << static_cast<int>(method);
    }
    // A lightly damped oscillator well inside the band: m0 = 2A0²·πf_n/(4ζ),
    // m2 = A0²(2πf_n)³/(4ζ) (the tails outside the band are below 0.5 %).
    const double fn = 2.0, zeta = 0.02;
    rvt::spectrum osc = white(a0, 0.001, 2000.0, 20000);
    for (std::size_t i = 0; i < osc.freq.size(); ++i) {
        const double f = osc.freq[i];
        osc.amp[i] *= fn * fn / std::abs(std::complex<double>(fn * fn - f * f, 2 * zeta * fn * f));
    }
    const auto mo = rvt::spectral_moments(osc);
    ASSERT_TRUE(mo.ok());
    EXPECT_NEAR(mo->m0 / (2 * a0 * a0 * pi * fn / (4 * zeta)), 1, 5e-3);
    EXPECT_NEAR(mo->m2 / (a0 * a0 * std::pow(2 * pi * fn, 3) / (4 * zeta)), 1, 5e-3);
}

TEST(Rvt, PeakFactorsAgainstDenseSimpson) {
    struct clh_row {
        double ne, xi;
    };
    for (const auto r : {clh_row{2, 0.5}, clh_row{10, 0.7}, clh_row{100, 0.9}, clh_row{3000, 0.99},
                         clh_row{50, 1.0}}) {
        const auto got = rvt::clh_integral(r.ne, r.xi);
        ASSERT_TRUE(got.ok());
        const double want =
            std::sqrt(2.0) *
            simpson([&](double z) { return 1 - std::pow(1 - r.xi * std::exp(-z * z), r.ne); }, 10.0,
                    400000);
        EXPECT_NEAR(*got / want, 1, 1e-6) << r.ne << " " << r.xi;
    }
    struct vm_row {
        double nz, delta;
    };
    for (const auto r :
         {vm_row{1.33, 0.3}, vm_row{5, 0.5}, vm_row{40, 0.2}, vm_row{500, 0.8}, vm_row{20, 1.0}}) {
        const auto got = rvt::vanmarcke_integral(r.nz, r.delta);
        ASSERT_TRUE(got.ok());
        const double want = simpson(
            [&](double x) {
                if (x == 0) {
                    return 1.0;
                }
                const double a = 1 - std::exp(-x * x / 2);
                return 1 - a * std::exp(-r.nz * std::exp(-x * x / 2) *
                                        (1 - std::exp(-std::sqrt(pi / 2) * r.delta * x)) / a);
            },
            12.0, 400000);
        EXPECT_NEAR(*got / want, 1, 1e-6) << r.nz << " " << r.delta;
    }
    // A long narrow-band motion: the factor grows like √(2 ln Ne).
    const auto big = rvt::clh_integral(1e6, 1.0);
    ASSERT_TRUE(big.ok());
    EXPECT_NEAR(*big, std::sqrt(2 * std::log(1e6)) + 0.5772 / std::sqrt(2 * std::log(1e6)), 0.01);
}

TEST(Rvt, SourceDurationAndTables) {
    // f_c of M 6.5, 100 bar, β 3.5 km/s: 4.906e6·3.5·(100/M0)^(1/3).
    const auto w = rvt::default_source(rvt::region::wna, 6.5, 20);
    const double m0 = std::pow(10.0, 1.5 * (6.5 + 10.7));
    EXPECT_NEAR(rvt::corner_frequency(w), 4.906e6 * 3.5 * std::cbrt(100 / m0), 1e-12);
    EXPECT_NEAR(rvt::duration(w), 1 / rvt::corner_frequency(w) + 1.0, 1e-12);
    const struct {
        double r, path;
    } cena[] = {{5, 0}, {10, 0}, {40, 4.8}, {70, 9.6}, {100, 8.7}, {130, 7.8}, {200, 10.6}};
    for (const auto c : cena) {
        const auto s = rvt::default_source(rvt::region::cena, 6.0, c.r);
        EXPECT_NEAR(rvt::duration(s) - 1 / rvt::corner_frequency(s), c.path, 1e-9) << c.r;
    }
    // The tables at their own nodes give their rows; between nodes they are bilinear.
    const auto& t = rvt::bt_table::builtin(rvt::region::wna, rvt::peak_method::bt15);
    const auto c = t.coefficients(2.0, 2.0);
    EXPECT_DOUBLE_EQ(c[0], 9.3821e-01);
    EXPECT_DOUBLE_EQ(c[6], 1.0732e+00);
    const auto mid = t.coefficients(2.25, 2.0);
    EXPECT_NEAR(mid[0], 0.5 * (9.3821e-01 + 9.0625e-01), 1e-12);
    EXPECT_EQ(t.coefficients(-3, 1e-3), t.coefficients(2.0, 2.0)); // clipped
    for (const auto r : {rvt::region::wna, rvt::region::cena}) {
        for (const auto m : {rvt::peak_method::bt12, rvt::peak_method::bt15}) {
            const double ratio = rvt::bt_table::builtin(r, m).ratio(6.5, 30, 8.0, 1.0, 0.05);
            EXPECT_TRUE(ratio > 0.5 && ratio < 3) << ratio;
        }
    }
    const struct {
        const char* text;
        const char* message;
    } bad[] = {
        {"t\nnm, nr:\n", "t.pars:2: a table needs four header lines"},
        {"t\nnm, nr:\n2 x\nh\n", "t.pars:3: the counts"},
        {"t\nnm, nr:\n2 2\nh\n1 1 1 1 1 1 1 1 1\n", "t.pars:6: the table ends"},
        {"t\nnm, nr:\n2 2\nh\n1 1 1 1 1 1 1 1 1\n2 1 1 1 1 1 1 1\n", "t.pars:6: a row needs"},
        {"t\nnm, nr:\n2 2\nh\n1 1 1 1 1 1 1 1 1\n2 1 1 1 1 1 1 1 1\n1 0 1 1 1 1 1 1 1\n"
         "2 0 1 1 1 1 1 1 1\n",
         "t.pars:7: distance 0 is not positive"},
    };
    for (const auto& b : bad) {
        const auto r = rvt::bt_table::parse(b.text, "t.pars");
        ASSERT_FALSE(r.ok()) << b.message;
        EXPECT_EQ(r.err().message.rfind(b.message, 0), 0u) << r.err().message;
    }
}

std::vector<double> periods(double t1, double t2, int n) {
    std::vector<double> p;
    for (int i = 0; i < n; ++i) {
        p.push_back(t1 * std::pow(t2 / t1, i / double(n - 1)));
    }
    return p;
}

TEST(Rvt, InversionReturnsTheTarget) {
    const auto src = rvt::default_source(rvt::region::wna, 6.5, 20);
    const auto fas = rvt::source_spectrum(src);
    ASSERT_TRUE(fas.ok());
    for (const auto method : {rvt::peak_method::vanmarcke, rvt::peak_method::bt15}) {
        rvt::peak_setting p;
        p.method = method;
        p.t_gm = rvt::duration(src);
        p.magnitude = 6.5;
        p.distance = 20;
        const auto t = periods(0.01, 10, 40);
        const auto target = rvt::psa(*fas, t, 0.05, p);
        ASSERT_TRUE(target.ok()) << target.err().message;
        const auto inv = rvt::invert(t, *target, 0.05, p);
        ASSERT_TRUE(inv.ok()) << inv.err().message;
        const auto back = rvt::psa(inv->fas, t, 0.05, p);
        ASSERT_TRUE(back.ok());
        double sum = 0;
        for (std::size_t i = 0; i < t.size(); ++i) {
            sum += std::pow((*back)[i] / (*target)[i] - 1, 2);
        }
        const double rms = 100 * std::sqrt(sum / double(t.size()));
        EXPECT_LT(rms, 2.0);
        EXPECT_NEAR(inv->misfit, rms, 1e-9);
        RecordProperty(std::string("rms_misfit_percent ") +
                           (method == rvt::peak_method::bt15 ? "bt15" : "vanmarcke"),
                       sci(rms));
        RecordProperty("passes", inv->passes);
    }
}

// 200 records of random phase whose Fourier amplitude is a point source's over its duration:
// the median of their response spectra against the RVT spectrum.
TEST(Rvt, RandomPhaseRecordsAgreeWithTheRvtSpectrum) {
    const auto src = rvt::default_source(rvt::region::wna, 6.5, 20);
    const double t_gm = rvt::duration(src);
    const double dt = 0.005;
    const auto n = static_cast<std::size_t>(std::round(t_gm / dt));
    const std::size_t nf = 16384; // the record, then quiet
    const auto t = periods(0.05, 2, 12);
    rvt::peak_setting p;
    p.method = rvt::peak_method::bt15;
    p.t_gm = t_gm;
    p.magnitude = 6.5;
    p.distance = 20;
    const auto fas = rvt::source_spectrum(src);
    ASSERT_TRUE(fas.ok());
    const auto want = rvt::psa(*fas, t, 0.05, p);
    ASSERT_TRUE(want.ok());
    std::mt19937_64 rng(20261209);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<std::vector<double>> all(t.size());
    // Gaussian noise over the duration, its transform shaped to the source's amplitude (its
    // expected squared modulus n·dt² divided out), back to time: the stochastic records against
    // which the Boore-Thompson durations were fitted.
    const double df = 1.0 / (static_cast<double>(nf) * dt);
    std::vector<std::complex<double>> shaped(nf);
    for (int r = 0; r < 200; ++r) {
        for (std::size_t j = 0; j < nf; ++j) {
            shaped[j] = j < n ? gauss(rng) : 0.0;
        }
        fft(shaped, -1);
        for (std::size_t k = 0; k <= nf / 2; ++k) {
            const double f = static_cast<double>(k) * df;
            const double a =
                k == 0 ? 0.0 : rvt::source_fas(src, f) / (std::sqrt(static_cast<double>(n)) * dt);
            shaped[k] *= a * dt;
            if (k > 0 && k < nf / 2) {
                shaped[nf - k] = std::conj(shaped[k]);
            }
        }
        fft(shaped, +1);
        std::vector<float> acc(nf);
        for (std::size_t j = 0; j < nf; ++j) {
            acc[j] = static_cast<float>(shaped[j].real() * df);
        }
        const auto sa = sitewave::response::psa(acc, dt, t, 0.05);
        for (std::size_t i = 0; i < t.size(); ++i) {
            all[i].push_back(sa[i]);
        }
    }
    double worst = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        std::sort(all[i].begin(), all[i].end());
        const double median = 0.5 * (all[i][99] + all[i][100]);
        const double e = std::fabs((*want)[i] / median - 1);
        worst = std::max(worst, e);
        EXPECT_LT(e, 0.10) << "T " << t[i] << " s: RVT " << (*want)[i] << " g, median " << median;
    }
    RecordProperty("worst_relative", sci(worst));
}

// The stochastic records of a point source: Gaussian noise over the duration, its transform
// shaped to the source's amplitude, as the one-sided spectrum of nf points at dt (the transform
// scaled by dt).
std::vector<std::complex<double>> stochastic_spectrum(const rvt::source& src, std::size_t n,
                                                      std::size_t nf, double dt,
                                                      std::mt19937_64& rng) {
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<std::complex<double>> a(nf);
    for (std::size_t j = 0; j < nf; ++j) {
        a[j] = j < n ? gauss(rng) : 0.0;
    }
    fft(a, -1);
    const double df = 1.0 / (static_cast<double>(nf) * dt);
    std::vector<std::complex<double>> out(nf / 2 + 1);
    for (std::size_t k = 1; k <= nf / 2; ++k) {
        out[k] = a[k] * rvt::source_fas(src, static_cast<double>(k) * df) /
                 std::sqrt(static_cast<double>(n));
    }
    return out;
}

// A soft clay over a stiffer one over rock: the peak strains of the equivalent-linear loop by
// random vibration theory against the median of 200 runs of the same loop on stochastic records.
TEST(Rvt, EquivalentLinearStrainsAgreeWithStochasticRecords) {
    namespace site = sitewave::site;
    site::site_model s;
    s.water_table = 1.0;
    const struct { double h, vs, pi; } layers[] = {{6, 120, 30}, {8, 180, 20}, {10, 260, 15}};
    double top = 0, total = 0;
    for (const auto& l : layers) {
        site::layer x;
        x.soil = "clay";
        x.top = top;
        x.thickness = l.h;
        x.vs = l.vs;
        x.vp = 4 * l.vs;
        x.unit_weight = 18;
        x.sigma_v = total + 18 * l.h / 2 - 9.81 * std::max(0.0, top + l.h / 2 - 1.0);
        x.sigma_m = x.sigma_v * (1 + 2 * 0.5) / 3 / site::atmosphere;
        x.curves = *sitewave::curves::darendeli(l.pi, 1.0, x.sigma_m);
        s.layers.push_back(x);
        top += l.h;
        total += 18 * l.h;
    }
    s.rock = {760, 1800, 22, 0.01};
    const auto src = rvt::default_source(rvt::region::wna, 6.5, 15);
    const double t_gm = rvt::duration(src);
    const double dt = 0.01;
    const std::size_t nf = 8192, n = static_cast<std::size_t>(std::round(t_gm / dt));
    sitewave::eql::options o;
    o.sublayer_fmax = 0; // three sublayers, three strains to compare
    sitewave::eql::input in;
    in.dt = dt;
    in.dom = 2 * pi / (static_cast<double>(nf) * dt);
    in.nt = nf;
    // By random vibration theory: the amplitude spectrum on the same grid (m/s²·s).
    in.spectrum.assign(nf / 2 + 1, 0.0);
    for (std::size_t k = 1; k <= nf / 2; ++k) {
        in.spectrum[k] = rvt::source_fas(src, static_cast<double>(k) * in.dom / (2 * pi)) * 9.80665;
    }
    auto ro = o;
    ro.rvt = rvt::peak_setting{rvt::peak_method::vanmarcke, t_gm, 6.5, 15.0, rvt::region::wna};
    const auto by_rvt = sitewave::eql::run(s, in, sitewave::eql::input_kind::outcrop, ro);
    ASSERT_TRUE(by_rvt.ok()) << by_rvt.err().message;
    ASSERT_EQ(by_rvt->layers.size(), 3u);
    std::mt19937_64 rng(7);
    std::vector<std::vector<double>> strains(3);
    for (int r = 0; r < 200; ++r) {
        auto spec = stochastic_spectrum(src, n, nf, dt, rng);
        for (auto& v : spec) {
            v *= 9.80665;
        }
        in.spectrum = spec;
        const auto run = sitewave::eql::run(s, in, sitewave::eql::input_kind::outcrop, o);
        ASSERT_TRUE(run.ok()) << run.err().message;
        for (std::size_t i = 0; i < 3; ++i) {
            strains[i].push_back(run->layers[i].strain_max);
        }
    }
    for (std::size_t i = 0; i < 3; ++i) {
        std::sort(strains[i].begin(), strains[i].end());
        const double median = 0.5 * (strains[i][99] + strains[i][100]);
        const double got = by_rvt->layers[i].strain_max;
        EXPECT_LT(std::fabs(got / median - 1), 0.25)
            << "layer " << i + 1 << ": rvt " << got << " %, median " << median << " %";
        RecordProperty("strain_ratio_layer_" + std::to_string(i + 1), sci(got / median));
    }
}

TEST(Rvt, Refusals) {
    rvt::peak_setting p;
    p.t_gm = 10;
    const auto s = white(0.01, 0.1, 10, 16);
    EXPECT_FALSE(rvt::peak(rvt::spectrum{{1}, {1}}, p).ok());
    EXPECT_FALSE(rvt::peak(rvt::spectrum{{1, 1}, {1, 1}}, p).ok());
    EXPECT_FALSE(rvt::peak(rvt::spectrum{{1, 2}, {1, -1}}, p).ok());
    EXPECT_FALSE(rvt::psa(s, {0.1}, 0.0, p).ok());
    EXPECT_FALSE(rvt::psa(s, {-1}, 0.05, p).ok());
    p.method = rvt::peak_method::bt15;
    const auto no_mr = rvt::peak(s, p);
    ASSERT_FALSE(no_mr.ok());
    EXPECT_NE(no_mr.err().message.find("bt15 needs the magnitude and the distance"),
              std::string::npos);
    p.method = rvt::peak_method::vanmarcke;
    p.t_gm = 0;
    EXPECT_FALSE(rvt::peak(s, p).ok());
    EXPECT_FALSE(rvt::source_spectrum(rvt::default_source(rvt::region::wna, 12, 10)).ok());
    EXPECT_FALSE(rvt::invert({1}, {0.1}, 0.05, {}).ok());
    EXPECT_FALSE(rvt::clh_integral(0.5, 0.5).ok());
    EXPECT_FALSE(rvt::vanmarcke_integral(10, 1.5).ok());
}

} // namespace
