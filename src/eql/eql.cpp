// The equivalent-linear loop: solve the column on every row of the input's grid, take each
// sublayer's strain history at mid-depth back to time, read the curves at the effective strain,
// and repeat until G/Gmax and damping stop changing.
#include "sitewave/eql.hpp"

#include "eql/fourier.hpp"
#include "eql/sweep.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>
#include <numbers>
#include <optional>
#include <span>
#include <stdexcept>

namespace sitewave::eql {

namespace {

error argument(const std::string& function, const std::string& what) {
    return argument_error("eql::" + function, what);
}

bool power_of_two(std::size_t n) { return n >= 2 && (n & (n - 1)) == 0; }

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

// Peaks over the record's own samples of histories given as spectra per unit of the input, two
// at a time through one transform.
// The input as the peaks need it.
struct input_view {
    const std::vector<complex>& spectrum;
    double dom, dt;
    std::size_t nt;
    const std::optional<rvt::peak_setting>& rvt;
};

// A thread's working arrays, kept between its runs: a run that finds them of its size touches no
// fresh memory, whose page faults would cost it about as much as a pass of the loop. They are
// dropped after a run that left them larger than kept_bytes.
struct workspace {
    detail::sweep column;
    std::optional<detail::inverse_pairs> transform;
    detail::split_complex factor;
};
constexpr std::size_t kept_bytes = std::size_t{32} << 20;

workspace& thread_workspace() {
    thread_local workspace w;
    return w;
}

// Drops the thread's arrays when the run leaves, however it leaves, if they are too large to keep.
struct workspace_limit {
    std::size_t sublayers = 0, nom = 0;
    ~workspace_limit() {
        // The column's strains, tops and three more rows of amplitudes; the transform's work and
        // window; the factor.
        const std::size_t doubles = (2 * sublayers + 4) * 2 * nom + 3 * 2 * nom + 2 * nom;
        if (doubles * sizeof(double) > kept_bytes) {
            thread_workspace() = workspace{};
        }
    }
};

class histories {
  public:
    histories(workspace& w, std::size_t nom, const input_view& in)
        : in_(in), transform_(w.transform), factor_(w.factor) {
        if (!transform_ || transform_->size() != 2 * (nom - 1)) {
            transform_.emplace(2 * (nom - 1));
        }
        factor_.assign(nom);
    }

    // The peak |x(t)| over the record's samples of each spectrum times `inverse`, the input and
    // factor(ω).
    template <class Factor>
    std::vector<double> peaks(std::span<const detail::split_complex> spectra,
                              const detail::split_complex& inverse, Factor factor) {
        // The products written out: std::complex's would call the library for the care of
        // infinities, which these finite factors never need (the same bits otherwise).
        const auto times = [](complex a, double br, double bi) {
            return complex(a.real() * br - a.imag() * bi, a.real() * bi + a.imag() * br);
        };
        for (std::size_t k = 0; k < factor_.size(); ++k) {
            const complex a = factor(static_cast<double>(k) * in_.dom);
            const complex f = times(times(a, in_.spectrum[k].real(), in_.spectrum[k].imag()),
                                    inverse.re[k], inverse.im[k]);
            factor_.re[k] = f.real();
            factor_.im[k] = f.imag();
        }
        std::vector<double> out(spectra.size(), 0.0);
        if (in_.rvt) {
            return rvt_peaks(spectra);
        }
        for (std::size_t i = 0; i < spectra.size(); i += 2) {
            const bool pair = i + 1 < spectra.size();
            transform_->run_times(spectra[i], pair ? &spectra[i + 1] : nullptr, &factor_);
            const auto [p1, p2] = transform_->peaks(in_.nt, in_.dt);
            out[i] = p1;
            if (pair) {
                out[i + 1] = p2;
            }
        }
        return out;
    }

  private:
    // The peaks by random vibration theory: of |spectrum·factor| on the rows from 1 on.
    std::vector<double> rvt_peaks(std::span<const detail::split_complex> spectra) const {
        std::vector<double> out(spectra.size(), 0.0);
        rvt::spectrum s;
        const std::size_t nom = factor_.size();
        for (std::size_t k = 1; k < nom; ++k) {
            s.freq.push_back(static_cast<double>(k) * in_.dom / (2.0 * std::numbers::pi));
        }
        s.amp.resize(s.freq.size());
        for (std::size_t i = 0; i < spectra.size(); ++i) {
            for (std::size_t k = 1; k < nom; ++k) {
                s.amp[k - 1] =
                    std::hypot(spectra[i].re[k] * factor_.re[k] - spectra[i].im[k] * factor_.im[k],
                               spectra[i].re[k] * factor_.im[k] + spectra[i].im[k] * factor_.re[k]);
            }
            const auto p = rvt::peak(s, *in_.rvt);
            if (!p) {
                throw std::invalid_argument(p.err().message);
            }
            out[i] = *p;
        }
        return out;
    }

    const input_view& in_;
    std::optional<detail::inverse_pairs>& transform_;
    detail::split_complex& factor_;
};

} // namespace

double strain_ratio_of_magnitude(double m) { return (m - 1.0) / 10.0; }

std::vector<double> to_time(const std::vector<complex>& spectrum, double dt) {
    if (spectrum.size() < 2 || !power_of_two(2 * (spectrum.size() - 1)) || !(dt > 0.0)) {
        return {};
    }
    detail::split_complex s;
    s.assign(spectrum.size());
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
        s.re[k] = spectrum[k].real();
        s.im[k] = spectrum[k].imag();
    }
    detail::inverse_pairs transform(2 * (spectrum.size() - 1));
    transform.run(s, nullptr);
    std::vector<double> x, unused;
    transform.histories(dt, x, unused);
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
        if (!std::isfinite(o.angle) ||
            std::fabs(std::cos(o.angle * std::numbers::pi / 180.0)) < 1e-9) {
            return argument("run", "angle " + number_text(o.angle) +
                                       " is not finite or grazes the layers (90 degrees)");
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
        const double sine = std::sin(o.angle * std::numbers::pi / 180.0);
        r.slowness2 = sine * sine / (site.rock.vs * site.rock.vs);
        r.oblique = o.oblique;
        detail::sweep_setup setup;
        setup.convention = o.convention;
        setup.slowness2 = r.slowness2;
        setup.oblique = o.oblique;
        setup.dom = in.dom;
        setup.nom = nom;
        setup.input = input_wave(kind);
        workspace& ws = thread_workspace();
        const workspace_limit limit{n, nom};
        detail::sweep& column = ws.column;
        const input_view view{in.spectrum, in.dom, in.dt, in.nt, o.rvt};
        histories h(ws, nom, view);
        for (int pass = 1; pass <= o.max_iterations; ++pass) {
            r.media = media_of(r.layers, site);
            if (auto solved = column.solve(r.media, setup); !solved) {
                return solved.err();
            }
            // γ(ω) = strain·iω·U(ω), U = −A/ω² the input's displacement: strain·(−iA/ω).
            const std::vector<double> peaks =
                h.peaks(column.strain, column.inverse, [](double omega) {
                    return omega > 0.0 ? complex(0.0, -1.0 / omega) : complex(0.0);
                });
            pass_error pe;
            pe.pass = pass;
            std::vector<curves::reading> next(n);
            for (std::size_t i = 0; i < n; ++i) {
                auto& l = r.layers[i];
                const double peak = peaks[i];
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
        // The last solve's motions: the surface's transfer function, each top's acceleration,
        // and its displacement relative to the half-space's top (−A/ω² per unit of A).
        r.transfer.resize(nom);
        for (std::size_t k = 0; k < nom; ++k) {
            r.transfer[k] = complex(column.top[0].re[k], column.top[0].im[k]) *
                            complex(column.inverse.re[k], column.inverse.im[k]);
        }
        const std::span<const detail::split_complex> tops(column.top.data(), n);
        const std::vector<double> accel =
            h.peaks(tops, column.inverse, [](double) { return complex(1.0); });
        // The tops' motions less the half-space's, in place: they are not needed any more.
        for (std::size_t i = 0; i < n; ++i) {
            auto& x = column.top[i];
            for (std::size_t k = 0; k < nom; ++k) {
                x.re[k] -= column.top[n].re[k];
                x.im[k] -= column.top[n].im[k];
            }
        }
        const std::vector<double> displacement = h.peaks(tops, column.inverse, [](double omega) {
            return omega > 0.0 ? complex(-1.0 / (omega * omega)) : complex(0.0);
        });
        for (std::size_t i = 0; i < n; ++i) {
            r.layers[i].accel_top = accel[i];
            r.layers[i].displacement = displacement[i];
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
            auto col = propagation::column::solve(r.media, static_cast<double>(k) * dom,
                                                  r.convention, r.slowness2, r.oblique);
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
