// The equivalent-linear loop: solve the column on every row of the input's grid, take each
// sublayer's strain history at mid-depth back to time, read the curves at the effective strain,
// and repeat until G/Gmax and damping stop changing.
#include "sitewave/eql.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>
#include <numbers>

namespace sitewave::eql {

namespace {

error argument(const std::string& function, const std::string& what) {
    error e;
    e.what = error::kind::argument;
    e.message = "eql::" + function + ": " + what;
    return e;
}

std::string number_text(double x) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", x);
    return buffer;
}

bool power_of_two(std::size_t n) { return n >= 2 && (n & (n - 1)) == 0; }

// In place, sum_j a[j] e^{sign·2πi·jm/n}; n a power of two.
void fourier(std::vector<complex>& a, int sign) {
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
        const double angle = sign * 2.0 * std::numbers::pi / static_cast<double>(len);
        for (std::size_t k = 0; k < len / 2; ++k) {
            const complex w = std::polar(1.0, angle * static_cast<double>(k));
            for (std::size_t i = k; i < n; i += len) {
                const complex u = a[i];
                const complex v = a[i + len / 2] * w;
                a[i] = u + v;
                a[i + len / 2] = u - v;
            }
        }
    }
}

propagation::wave input_wave(input_kind k) {
    switch (k) {
    case input_kind::incident:
        return propagation::wave::incident;
    case input_kind::within:
        return propagation::wave::within;
    case input_kind::outcrop:
        break;
    }
    return propagation::wave::outcrop;
}

// The relative change (%) from `used` to `now`, 0 when both are 0.
double change(double now, double used) {
    if (now == 0.0) {
        return used == 0.0 ? 0.0 : 100.0;
    }
    return 100.0 * std::fabs(now - used) / std::fabs(now);
}

std::vector<propagation::medium> media_of(const std::vector<sublayer>& s,
                                          const site::site_model& site) {
    std::vector<propagation::medium> m;
    m.reserve(s.size() + 1);
    for (const auto& l : s) {
        m.push_back({l.bottom - l.top, l.vs_final, l.density, l.damping});
    }
    m.push_back({0.0, site.rock.vs, site.rock.unit_weight / site::gravity, site.rock.damping});
    return m;
}

error failure_of(const std::string& function) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return argument(function, "out of memory");
    } catch (const std::exception& e) {
        return argument(function, e.what());
    } catch (...) {
        return argument(function, "unexpected failure");
    }
}

result<std::vector<sublayer>> split_unchecked(const site::site_model& site, const options& o) {
    std::vector<sublayer> out;
    double total = 0.0; // total vertical stress at the top of the layer, kPa
    for (std::size_t li = 0; li < site.layers.size(); ++li) {
        const auto& l = site.layers[li];
        std::size_t n = 1;
        if (o.sublayer_fmax > 0.0) {
            const double limit = o.sublayer_fraction * l.vs / o.sublayer_fmax;
            if (l.thickness > limit) {
                const double parts = std::ceil(l.thickness / limit);
                n = parts > static_cast<double>(max_sublayers) ? max_sublayers + 1
                                                               : static_cast<std::size_t>(parts);
            }
        }
        if (n > max_sublayers || out.size() + n > max_sublayers) {
            return argument("split", "more than " + std::to_string(max_sublayers) +
                                         " sublayers (a lower sublayer frequency keeps fewer)");
        }
        const double h = l.thickness / static_cast<double>(n);
        const auto start = l.curves.at(1e-4);
        for (std::size_t k = 0; k < n; ++k) {
            sublayer s;
            s.layer = li;
            s.soil = l.soil;
            s.top = l.top + h * static_cast<double>(k);
            s.bottom = k + 1 == n ? l.top + l.thickness : s.top + h;
            const double mid = 0.5 * (s.top + s.bottom);
            const double pore =
                site.water_table ? site::unit_weight_water * std::max(0.0, mid - *site.water_table)
                                 : 0.0;
            s.sigma_v = total + l.unit_weight * (mid - l.top) - pore;
            s.vs_initial = l.vs;
            s.modulus_ratio = start.modulus;
            s.damping = start.damping;
            s.vs_final = l.vs * std::sqrt(start.modulus);
            s.clamped = start.clamped;
            s.unit_weight = l.unit_weight;
            s.density = l.unit_weight / site::gravity;
            out.push_back(std::move(s));
        }
        total += l.unit_weight * l.thickness;
    }
    return out;
}

} // namespace

double strain_ratio_of_magnitude(double m) { return (m - 1.0) / 10.0; }

std::vector<double> to_time(const std::vector<complex>& spectrum, double dt) {
    if (spectrum.size() < 2 || !power_of_two(2 * (spectrum.size() - 1)) || !(dt > 0.0)) {
        return {};
    }
    const std::size_t nf = 2 * (spectrum.size() - 1);
    std::vector<complex> a(nf);
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
        a[k] = spectrum[k];
    }
    a[nf / 2] = complex(spectrum.back().real(), 0.0);
    a[0] = complex(spectrum.front().real(), 0.0);
    for (std::size_t k = 1; k < nf / 2; ++k) {
        a[nf - k] = std::conj(spectrum[k]);
    }
    fourier(a, +1);
    std::vector<double> x(nf);
    const double scale = 1.0 / (static_cast<double>(nf) * dt);
    for (std::size_t j = 0; j < nf; ++j) {
        x[j] = a[j].real() * scale;
    }
    return x;
}

result<std::vector<sublayer>> split(const site::site_model& site, const options& o) {
    try {
        if (!(o.sublayer_fraction > 0.0) || !std::isfinite(o.sublayer_fraction) ||
            !(o.sublayer_fmax >= 0.0) || !std::isfinite(o.sublayer_fmax)) {
            return argument("split", "sublayer fraction " + number_text(o.sublayer_fraction) +
                                         " or frequency " + number_text(o.sublayer_fmax) +
                                         " out of range");
        }
        if (site.layers.empty()) {
            return argument("split", "the site has no layer");
        }
        return split_unchecked(site, o);
    } catch (...) {
        return failure_of("split");
    }
}

result<run_result> run(const site::site_model& site, const input& in, input_kind kind,
                       const options& o) {
    try {
        if (!(o.strain_ratio > 0.0 && o.strain_ratio <= 1.0)) {
            return argument("run",
                            "strain ratio " + number_text(o.strain_ratio) + " is not in (0, 1]");
        }
        if (!(o.tolerance >= 0.0) || !std::isfinite(o.tolerance)) {
            return argument("run",
                            "tolerance " + number_text(o.tolerance) + " is negative or not finite");
        }
        if (o.max_iterations < 1) {
            return argument("run",
                            "max iterations " + std::to_string(o.max_iterations) + " is below 1");
        }
        const std::size_t nom = in.spectrum.size();
        if (nom < 2 || !power_of_two(2 * (nom - 1))) {
            return argument("run", "the input has " + std::to_string(nom) + " rows, not 2^k + 1");
        }
        if (!(in.dom > 0.0) || !std::isfinite(in.dom) || !(in.dt > 0.0) || !std::isfinite(in.dt) ||
            in.nt == 0 || in.nt > 2 * (nom - 1)) {
            return argument("run", "the input's grid (dom, dt, nt) is not usable");
        }
        for (const auto& v : in.spectrum) {
            if (!std::isfinite(v.real()) || !std::isfinite(v.imag())) {
                return argument("run", "the input spectrum is not finite");
            }
        }
        auto layers = split(site, o);
        if (!layers) {
            return layers.err();
        }
        run_result r;
        r.kind = kind;
        r.convention = o.convention;
        r.layers = std::move(*layers);
        const std::size_t n = r.layers.size();
        const propagation::wave w = input_wave(kind);
        std::vector<std::vector<complex>> strain(n, std::vector<complex>(nom));
        r.transfer.assign(nom, complex(0.0));
        for (int pass = 1; pass <= o.max_iterations; ++pass) {
            r.media = media_of(r.layers, site);
            for (std::size_t k = 0; k < nom; ++k) {
                const double omega = static_cast<double>(k) * in.dom;
                auto col = propagation::column::solve(r.media, omega, o.convention);
                if (!col) {
                    return col.err();
                }
                const double rock = col->top(r.media.size() - 1);
                r.transfer[k] = col->transfer(rock, w, 0.0, propagation::wave::within);
                // The input's displacement spectrum: −A/ω² (none at ω = 0).
                const complex u = k == 0 ? complex(0.0) : -in.spectrum[k] / (omega * omega);
                for (std::size_t i = 0; i < n; ++i) {
                    strain[i][k] = k == 0 ? complex(0.0) : col->strain_transfer(i, rock, w) * u;
                }
            }
            pass_error pe;
            pe.pass = pass;
            std::vector<curves::reading> next(n);
            for (std::size_t i = 0; i < n; ++i) {
                auto& l = r.layers[i];
                const auto gamma = to_time(strain[i], in.dt);
                double peak = 0.0;
                for (std::size_t j = 0; j < in.nt && j < gamma.size(); ++j) {
                    peak = std::max(peak, std::fabs(gamma[j]));
                }
                l.strain_max = 100.0 * peak;
                l.strain_eff = o.strain_ratio * l.strain_max;
                const double g = l.density * l.vs_final * l.vs_final; // kPa
                l.stress_max = g * peak;
                l.stress_ratio = l.sigma_v > 0.0 ? l.stress_max / l.sigma_v : 0.0;
                next[i] = site.layers[l.layer].curves.at(l.strain_eff);
                const double eg = change(next[i].modulus, l.modulus_ratio);
                const double ed = change(next[i].damping, l.damping);
                if (eg > pe.modulus) {
                    pe.modulus = eg;
                    pe.modulus_at = i;
                }
                if (ed > pe.damping) {
                    pe.damping = ed;
                    pe.damping_at = i;
                }
            }
            r.passes.push_back(pe);
            if (std::max(pe.modulus, pe.damping) <= o.tolerance) {
                r.converged = true;
            }
            for (std::size_t i = 0; i < n; ++i) {
                r.layers[i].clamped = next[i].clamped;
            }
            if (r.converged || pass == o.max_iterations) {
                break; // the last solve's values stay with its response
            }
            for (std::size_t i = 0; i < n; ++i) {
                auto& l = r.layers[i];
                l.modulus_ratio = next[i].modulus;
                l.damping = next[i].damping;
                l.vs_final = l.vs_initial * std::sqrt(l.modulus_ratio);
            }
        }
        return r;
    } catch (...) {
        return failure_of("run");
    }
}

result<std::vector<complex>> transfer_at(const run_result& r, double depth, propagation::wave w,
                                         double dom, std::size_t nom) {
    try {
        if (!std::isfinite(depth) || depth < 0.0) {
            return argument("transfer_at",
                            "depth " + number_text(depth) + " is negative or not finite");
        }
        if (r.media.empty()) {
            return argument("transfer_at", "the run has no profile");
        }
        std::vector<complex> t(nom);
        for (std::size_t k = 0; k < nom; ++k) {
            auto col =
                propagation::column::solve(r.media, static_cast<double>(k) * dom, r.convention);
            if (!col) {
                return col.err();
            }
            t[k] = col->transfer(col->top(r.media.size() - 1), input_wave(r.kind), depth, w);
        }
        return t;
    } catch (...) {
        return failure_of("transfer_at");
    }
}

} // namespace sitewave::eql
