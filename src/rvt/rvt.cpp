#include "sitewave/rvt.hpp"

#include "rvt/quadrature.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>
#include <numbers>
#include <sstream>

namespace sitewave::rvt {

std::string_view bt_table_text(region r, peak_method m); // the shipped tables (generated)

namespace {

constexpr double pi = std::numbers::pi;
// Integrands below this share of their value at the origin are the tail, left out.
constexpr double tail = 1e-20;
constexpr double quadrature_tolerance = 1e-8;

error argument(const std::string& function, const std::string& what) {
    return argument_error("rvt::" + function, what);
}

bool positive(double x) { return std::isfinite(x) && x > 0.0; }

error failure_of(const std::string& function) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        error e;
        e.what = error::kind::system;
        e.message = "rvt::" + function + ": out of memory";
        return e;
    } catch (const std::exception& e) {
        return argument(function, e.what());
    } catch (...) {
        return argument(function, "unexpected failure");
    }
}

std::optional<error> check_spectrum(const spectrum& s, const std::string& function) {
    if (s.freq.size() < 2 || s.freq.size() != s.amp.size()) {
        return argument(function,
                        "a spectrum needs two or more frequencies, each with an amplitude");
    }
    for (std::size_t i = 0; i < s.freq.size(); ++i) {
        if (!positive(s.freq[i]) || (i > 0 && !(s.freq[i] > s.freq[i - 1]))) {
            return argument(function, "frequency " + number_text(s.freq[i]) +
                                          " is not positive and above the one before");
        }
        if (!std::isfinite(s.amp[i]) || s.amp[i] < 0.0) {
            return argument(function, "amplitude " + number_text(s.amp[i]) + " at " +
                                          number_text(s.freq[i]) + " Hz is not finite and ≥ 0");
        }
    }
    return std::nullopt;
}

moments moments_of(const std::vector<double>& f, const std::vector<double>& a) {
    // 2∫ g df = 2∫ g f d(ln f), trapezoid in ln f.
    moments m;
    for (std::size_t i = 0; i + 1 < f.size(); ++i) {
        const double d = std::log(f[i + 1] / f[i]);
        const auto term = [&](std::size_t j, int k) {
            const double w = 2.0 * pi * f[j];
            return std::pow(w, k) * a[j] * a[j] * f[j];
        };
        m.m0 += d * (term(i, 0) + term(i + 1, 0));
        m.m1 += d * (term(i, 1) + term(i + 1, 1));
        m.m2 += d * (term(i, 2) + term(i + 1, 2));
        m.m4 += d * (term(i, 4) + term(i + 1, 4));
    }
    return m; // the trapezoid's 1/2 and the moments' 2 cancel
}

bool moments_usable(const moments& m) {
    return positive(m.m0) && positive(m.m2) && positive(m.m4) && std::isfinite(m.m1);
}

std::vector<double> log_spaced(double lo, double hi, std::size_t n) {
    std::vector<double> f(n);
    const double step = std::log(hi / lo) / static_cast<double>(n - 1);
    for (std::size_t i = 0; i < n; ++i) {
        f[i] = lo * std::exp(step * static_cast<double>(i));
    }
    f.back() = hi;
    return f;
}

// The integration band of a spectrum: the standard band, or the part the input covers.
std::pair<double, double> band_of(const spectrum& s) {
    const double lo = std::max(band_min, s.freq.front());
    const double hi = std::min(band_max, s.freq.back());
    return lo < hi ? std::pair{lo, hi} : std::pair{s.freq.front(), s.freq.back()};
}

const char* method_name(peak_method m) {
    switch (m) {
    case peak_method::clh:
        return "clh";
    case peak_method::vanmarcke:
        return "vanmarcke";
    case peak_method::bj84:
        return "bj84";
    case peak_method::bt12:
        return "bt12";
    case peak_method::bt15:
        return "bt15";
    }
    return "?";
}

bool uses_clh(peak_method m) {
    return m == peak_method::clh || m == peak_method::bj84 || m == peak_method::bt12;
}

std::optional<error> check_setting(const peak_setting& p, const std::string& function) {
    if (!positive(p.t_gm)) {
        return argument(function, "duration " + number_text(p.t_gm) + " s is not positive");
    }
    if ((p.method == peak_method::bt12 || p.method == peak_method::bt15) &&
        !(p.magnitude && p.distance && std::isfinite(*p.magnitude) && positive(*p.distance))) {
        return argument(function, std::string(method_name(p.method)) +
                                      " needs the magnitude and the distance");
    }
    return std::nullopt;
}

// The peak factor of moments under a setting, with the rms duration for an oscillator of
// frequency f_osc and damping ζ (f_osc 0: the ground motion itself).
result<double> peak_of(const moments& m, const peak_setting& p, double f_osc, double damping) {
    double t_rms = p.t_gm;
    if (f_osc > 0.0) {
        switch (p.method) {
        case peak_method::bj84:
            t_rms = trms_bj84(p.t_gm, f_osc, damping);
            break;
        case peak_method::bt12:
        case peak_method::bt15:
            t_rms = p.t_gm * bt_table::builtin(p.where, p.method)
                                 .ratio(*p.magnitude, *p.distance, p.t_gm, f_osc, damping);
            break;
        default:
            break;
        }
    }
    auto pf = uses_clh(p.method) ? peak_factor_clh(m, p.t_gm) : peak_factor_vanmarcke(m, p.t_gm);
    if (!pf) {
        return pf;
    }
    return *pf * std::sqrt(m.m0 / t_rms);
}

// Reads whitespace-separated numbers of a line.
std::vector<double> numbers_of(const std::string& line) {
    std::istringstream in(line);
    std::vector<double> v;
    double x = 0;
    while (in >> x) {
        v.push_back(x);
    }
    return v;
}

} // namespace

double loglog(const std::vector<double>& x, const std::vector<double>& y, double t,
              bool zero_outside) {
    if (t < x.front() || t > x.back()) {
        return zero_outside ? 0.0 : t < x.front() ? y.front() : y.back();
    }
    const auto it = std::lower_bound(x.begin(), x.end(), t);
    const auto j = static_cast<std::size_t>(it - x.begin());
    if (x[j] == t) {
        return y[j];
    }
    const double y0 = y[j - 1], y1 = y[j];
    if (y0 <= 0.0 || y1 <= 0.0) {
        return 0.0;
    }
    const double u = std::log(t / x[j - 1]) / std::log(x[j] / x[j - 1]);
    return std::exp(std::log(y0) + u * std::log(y1 / y0));
}

result<moments> spectral_moments(const spectrum& s) {
    if (auto e = check_spectrum(s, "spectral_moments")) {
        return *e;
    }
    return moments_of(s.freq, s.amp);
}

result<spectrum> resample(const spectrum& s, double fmin, double fmax, std::size_t n) {
    try {
        if (auto e = check_spectrum(s, "resample")) {
            return *e;
        }
        if (!positive(fmin) || !positive(fmax) || !(fmin < fmax) || n < 2 || n > 10'000'000) {
            return argument("resample", "band " + number_text(fmin) + " to " + number_text(fmax) +
                                            " Hz on " + std::to_string(n) + " points");
        }
        spectrum out;
        out.freq = log_spaced(fmin, fmax, n);
        out.amp.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            out.amp[i] = loglog(s.freq, s.amp, out.freq[i]);
        }
        return out;
    } catch (...) {
        return failure_of("resample");
    }
}

result<double> clh_integral(double ne, double xi) {
    if (!(ne >= 1.0) || !std::isfinite(ne) || !(xi > 0.0 && xi <= 1.0)) {
        return argument("clh_integral",
                        "Ne " + number_text(ne) + " or ξ " + number_text(xi) + " out of range");
    }
    const auto f = [&](double z) { return -std::expm1(ne * std::log1p(-xi * std::exp(-z * z))); };
    const double top = std::sqrt(std::log(ne * xi / tail));
    const auto q = detail::gauss_kronrod(f, 0.0, top, quadrature_tolerance);
    return std::sqrt(2.0) * q.value;
}

result<double> vanmarcke_integral(double nz, double delta_e) {
    if (!(nz > 0.0) || !std::isfinite(nz) || !(delta_e >= 0.0 && delta_e <= 1.0)) {
        return argument("vanmarcke_integral", "Nz " + number_text(nz) + " or δe " +
                                                  number_text(delta_e) + " out of range");
    }
    const double root = std::sqrt(pi / 2.0) * delta_e;
    const auto f = [&](double x) {
        const double a = -std::expm1(-x * x / 2.0);
        if (a <= 0.0) {
            return 1.0;
        }
        const double e = std::exp(-x * x / 2.0);
        return 1.0 - a * std::exp(-nz * e * (-std::expm1(-root * x)) / a);
    };
    const double top = std::sqrt(2.0 * std::log((1.0 + nz) / tail));
    const auto q = detail::gauss_kronrod(f, 0.0, top, quadrature_tolerance);
    return q.value;
}

result<double> peak_factor_clh(const moments& m, double t_gm) {
    if (!moments_usable(m) || !positive(t_gm)) {
        return argument("peak_factor_clh", "moments or duration not positive");
    }
    const double xi = std::min(1.0, m.m2 / std::sqrt(m.m0 * m.m4));
    const double ne = std::max(2.0, std::sqrt(m.m4 / m.m2) * t_gm / pi);
    return clh_integral(ne, xi);
}

result<double> peak_factor_vanmarcke(const moments& m, double t_gm) {
    if (!moments_usable(m) || !positive(t_gm)) {
        return argument("peak_factor_vanmarcke", "moments or duration not positive");
    }
    const double spread = std::max(0.0, 1.0 - m.m1 * m.m1 / (m.m0 * m.m2));
    const double delta_e = std::min(1.0, std::pow(spread, 0.6));
    const double nz = std::max(1.33, t_gm * std::sqrt(m.m2 / m.m0) / pi);
    return vanmarcke_integral(nz, delta_e);
}

double trms_bj84(double t_gm, double f_osc, double damping) {
    const double t_o = 1.0 / (2.0 * pi * damping * f_osc);
    const double g3 = std::pow(t_gm * f_osc, 3.0);
    return t_gm + t_o * g3 / (g3 + 1.0 / 3.0);
}

result<bt_table> bt_table::parse(std::string_view text, const std::string& name) {
    const auto refuse = [&](int line, const std::string& what) {
        error e;
        e.what = error::kind::refused;
        e.message = name + ":" + std::to_string(line) + ": " + what;
        return e;
    };
    try {
        std::istringstream in{std::string(text)};
        std::string line;
        int n = 0;
        std::vector<std::string> lines;
        while (std::getline(in, line)) {
            lines.push_back(line);
        }
        if (lines.size() < 4) {
            return refuse(static_cast<int>(lines.size()), "a table needs four header lines");
        }
        const auto counts = numbers_of(lines[2]);
        if (counts.size() < 2 || counts[0] < 2 || counts[1] < 2 || counts[0] > 1000 ||
            counts[1] > 1000 || counts[0] != std::floor(counts[0]) ||
            counts[1] != std::floor(counts[1])) {
            return refuse(3, "the counts of magnitudes and distances are not whole numbers ≥ 2");
        }
        const auto nm = static_cast<std::size_t>(counts[0]);
        const auto nr = static_cast<std::size_t>(counts[1]);
        bt_table t;
        t.c_.resize(nm * nr);
        for (std::size_t k = 0; k < nm * nr; ++k) {
            n = static_cast<int>(k) + 5;
            if (k + 4 >= lines.size()) {
                return refuse(n, "the table ends before its " + std::to_string(nm * nr) + " rows");
            }
            const auto v = numbers_of(lines[k + 4]);
            if (v.size() < 9 ||
                !std::all_of(v.begin(), v.begin() + 9, [](double x) { return std::isfinite(x); })) {
                return refuse(n, "a row needs M, R and c1 to c7");
            }
            const std::size_t im = k % nm, ir = k / nm;
            if (ir == 0) {
                t.m_.push_back(v[0]);
            } else if (v[0] != t.m_[im]) {
                return refuse(n, "magnitude " + number_text(v[0]) + " is not the column's");
            }
            if (im == 0) {
                if (!(v[1] > 0.0)) {
                    return refuse(n, "distance " + number_text(v[1]) + " is not positive");
                }
                t.r_.push_back(std::log(v[1]));
            } else if (std::log(v[1]) != t.r_[ir]) {
                return refuse(n, "distance " + number_text(v[1]) + " is not the row's");
            }
            t.c_[k].assign(v.begin() + 2, v.begin() + 9);
        }
        for (std::size_t i = 1; i < nm; ++i) {
            if (!(t.m_[i] > t.m_[i - 1])) {
                return refuse(5, "magnitudes are not increasing");
            }
        }
        for (std::size_t i = 1; i < nr; ++i) {
            if (!(t.r_[i] > t.r_[i - 1])) {
                return refuse(5, "distances are not increasing");
            }
        }
        return t;
    } catch (const std::bad_alloc&) {
        return refuse(0, "out of memory");
    }
}

const bt_table& bt_table::builtin(region r, peak_method m) {
    const auto make = [](region where, peak_method method) {
        auto t = parse(bt_table_text(where, method), "built-in table");
        return t ? *t : bt_table{};
    };
    static const bt_table tables[4] = {
        make(region::wna, peak_method::bt12), make(region::wna, peak_method::bt15),
        make(region::cena, peak_method::bt12), make(region::cena, peak_method::bt15)};
    return tables[(r == region::cena ? 2 : 0) + (m == peak_method::bt15 ? 1 : 0)];
}

std::vector<double> bt_table::coefficients(double magnitude, double distance) const {
    if (m_.size() < 2 || r_.size() < 2) {
        return std::vector<double>(7, 0.0);
    }
    const auto place = [](const std::vector<double>& axis, double x) {
        x = std::clamp(x, axis.front(), axis.back());
        std::size_t j =
            static_cast<std::size_t>(std::upper_bound(axis.begin(), axis.end(), x) - axis.begin());
        j = std::clamp<std::size_t>(j, 1, axis.size() - 1);
        return std::pair{j - 1, (x - axis[j - 1]) / (axis[j] - axis[j - 1])};
    };
    const auto [im, u] = place(m_, magnitude);
    const auto [ir, v] = place(r_, std::log(std::max(distance, 1e-300)));
    const std::size_t nm = m_.size();
    std::vector<double> c(7);
    for (std::size_t k = 0; k < 7; ++k) {
        const double c00 = c_[im + nm * ir][k], c10 = c_[im + 1 + nm * ir][k];
        const double c01 = c_[im + nm * (ir + 1)][k], c11 = c_[im + 1 + nm * (ir + 1)][k];
        c[k] = (1 - u) * (1 - v) * c00 + u * (1 - v) * c10 + (1 - u) * v * c01 + u * v * c11;
    }
    return c;
}

double bt_table::ratio(double magnitude, double distance, double t_gm, double f_osc,
                       double damping) const {
    const auto c = coefficients(magnitude, distance);
    const double eta = 1.0 / (f_osc * t_gm);
    const double e3 = std::pow(eta, c[2]);
    const double first = c[0] + c[1] * (1.0 - e3) / (1.0 + e3);
    const double second = 1.0 + c[3] / (2.0 * pi * damping) *
                                    std::pow(eta / (1.0 + c[4] * std::pow(eta, c[5])), c[6]);
    return first * second;
}

source default_source(region r, double magnitude, double distance) {
    source s;
    s.magnitude = magnitude;
    s.distance = distance;
    s.where = r;
    if (r == region::cena) {
        s.stress_drop = 150;
        s.q0 = 680;
        s.q_eta = 0.36;
        s.kappa = 0.006;
    }
    return s;
}

double seismic_moment(double magnitude) { return std::pow(10.0, 1.5 * (magnitude + 10.7)); }

double corner_frequency(const source& s) {
    return 4.906e6 * s.beta * std::cbrt(s.stress_drop / seismic_moment(s.magnitude));
}

double duration(const source& s) {
    const double r = s.distance;
    double path = 0.05 * r;
    if (s.where == region::cena) {
        if (r <= 10) {
            path = 0;
        } else if (r <= 70) {
            path = 0.16 * (r - 10);
        } else if (r <= 130) {
            path = 0.16 * 60 - 0.03 * (r - 70);
        } else {
            path = 0.16 * 60 - 0.03 * 60 + 0.04 * (r - 130);
        }
    }
    return 1.0 / corner_frequency(s) + path;
}

double source_fas(const source& s, double f) {
    const double r0 = 1.0;
    const double c = 0.55 * (1.0 / std::sqrt(2.0)) * 2.0 /
                     (4.0 * pi * s.density * s.beta * s.beta * s.beta * r0) * 1e-20;
    const double fc = corner_frequency(s);
    const double w = 2.0 * pi * f;
    const double src = c * seismic_moment(s.magnitude) * w * w / (1.0 + (f / fc) * (f / fc));
    const double r = s.distance;
    const double spread = r <= 40.0 ? 1.0 / r : (1.0 / 40.0) * std::sqrt(40.0 / r);
    const double q = s.q0 * std::pow(f, s.q_eta);
    const double path = std::exp(-pi * f * r / (q * s.beta));
    const double site = std::exp(-pi * s.kappa * f);
    const double amp = s.amp_freq.size() >= 2 ? loglog(s.amp_freq, s.amp_factor, f) : 1.0;
    return src * spread * path * site * amp / 981.0;
}

result<spectrum> source_spectrum(const source& s) {
    try {
        if (!(s.magnitude >= 2.0 && s.magnitude <= 9.5) ||
            !(s.distance > 0.0 && s.distance <= 2000.0)) {
            return argument("source_spectrum", "magnitude " + number_text(s.magnitude) +
                                                   " or distance " + number_text(s.distance) +
                                                   " km out of range");
        }
        for (const double x : {s.stress_drop, s.q0, s.beta, s.density}) {
            if (!positive(x)) {
                return argument("source_spectrum",
                                "a parameter is not positive: " + number_text(x));
            }
        }
        if (!std::isfinite(s.q_eta) || !(s.kappa >= 0.0) || !std::isfinite(s.kappa)) {
            return argument("source_spectrum", "Q's exponent or κ0 is not usable");
        }
        if (s.amp_freq.size() != s.amp_factor.size()) {
            return argument("source_spectrum", "the amplification has unequal columns");
        }
        spectrum out;
        out.freq = log_spaced(band_min, band_max, band_points);
        out.amp.resize(out.freq.size());
        for (std::size_t i = 0; i < out.freq.size(); ++i) {
            out.amp[i] = source_fas(s, out.freq[i]);
        }
        return out;
    } catch (...) {
        return failure_of("source_spectrum");
    }
}

result<double> peak(const spectrum& s, const peak_setting& p) {
    try {
        if (auto e = check_spectrum(s, "peak")) {
            return *e;
        }
        if (auto e = check_setting(p, "peak")) {
            return *e;
        }
        const auto [lo, hi] = band_of(s);
        const auto r = resample(s, lo, hi, band_points);
        if (!r) {
            return r.err();
        }
        return peak_of(moments_of(r->freq, r->amp), p, 0.0, 0.0);
    } catch (...) {
        return failure_of("peak");
    }
}

result<std::vector<double>> psa(const spectrum& s, const std::vector<double>& periods,
                                double damping, const peak_setting& p) {
    try {
        if (auto e = check_spectrum(s, "psa")) {
            return *e;
        }
        if (auto e = check_setting(p, "psa")) {
            return *e;
        }
        if (!(damping > 0.0 && damping < 1.0)) {
            return argument("psa", "damping " + number_text(damping) + " is not in (0, 1)");
        }
        for (const double t : periods) {
            if (!positive(t)) {
                return argument("psa", "period " + number_text(t) + " s is not positive");
            }
        }
        const auto [lo, hi] = band_of(s);
        const auto r = resample(s, lo, hi, band_points);
        if (!r) {
            return r.err();
        }
        std::vector<double> out;
        out.reserve(periods.size());
        std::vector<double> a(r->freq.size());
        for (const double t : periods) {
            const double fn = 1.0 / t;
            for (std::size_t i = 0; i < a.size(); ++i) {
                const double f = r->freq[i];
                const double re = fn * fn - f * f, im = 2.0 * damping * fn * f;
                a[i] = r->amp[i] * fn * fn / std::sqrt(re * re + im * im);
            }
            auto v = peak_of(moments_of(r->freq, a), p, fn, damping);
            if (!v) {
                return v.err();
            }
            out.push_back(*v);
        }
        return out;
    } catch (...) {
        return failure_of("psa");
    }
}

result<inversion> invert(const std::vector<double>& periods, const std::vector<double>& target,
                         double damping, const peak_setting& p) {
    try {
        if (periods.size() < 2 || periods.size() != target.size()) {
            return argument("invert", "two or more periods, each with a PSA");
        }
        for (std::size_t i = 0; i < periods.size(); ++i) {
            if (!positive(periods[i]) || !positive(target[i])) {
                return argument("invert", "period " + number_text(periods[i]) + " s or PSA " +
                                              number_text(target[i]) + " is not positive");
            }
        }
        if (auto e = check_setting(p, "invert")) {
            return *e;
        }
        // The nodes, by increasing frequency.
        std::vector<std::size_t> order(periods.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return periods[a] > periods[b]; });
        inversion out;
        std::vector<double> sorted_periods, sorted_target;
        for (const std::size_t i : order) {
            const double f = 1.0 / periods[i];
            if (!out.fas.freq.empty() && !(f > out.fas.freq.back())) {
                return argument("invert", "period " + number_text(periods[i]) + " s is repeated");
            }
            sorted_periods.push_back(periods[i]);
            sorted_target.push_back(target[i]);
            out.fas.freq.push_back(f);
            out.fas.amp.push_back(target[i] / 2.5 * std::sqrt(2.0 * damping * p.t_gm / (pi * f)));
        }
        // The spectrum given to the forward model spans the integration band.
        const auto extended = [&](const spectrum& nodes) {
            spectrum s;
            if (nodes.freq.front() > band_min) {
                s.freq.push_back(band_min);
                s.amp.push_back(nodes.amp.front());
            }
            s.freq.insert(s.freq.end(), nodes.freq.begin(), nodes.freq.end());
            s.amp.insert(s.amp.end(), nodes.amp.begin(), nodes.amp.end());
            if (nodes.freq.back() < band_max) {
                s.freq.push_back(band_max);
                s.amp.push_back(nodes.amp.back());
            }
            return s;
        };
        for (int pass = 1; pass <= 30; ++pass) {
            auto sa = psa(extended(out.fas), sorted_periods, damping, p);
            if (!sa) {
                return sa.err();
            }
            double sum = 0.0;
            for (std::size_t i = 0; i < sa->size(); ++i) {
                const double e = (*sa)[i] / sorted_target[i] - 1.0;
                sum += e * e;
            }
            out.misfit = 100.0 * std::sqrt(sum / static_cast<double>(sa->size()));
            out.passes = pass;
            if (out.misfit < 0.5 || pass == 30) {
                break;
            }
            for (std::size_t i = 0; i < sa->size(); ++i) {
                out.fas.amp[i] *= sorted_target[i] / (*sa)[i];
            }
        }
        out.fas = extended(out.fas);
        return out;
    } catch (...) {
        return failure_of("invert");
    }
}

} // namespace sitewave::rvt
