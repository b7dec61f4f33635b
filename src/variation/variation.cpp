// Realizations of a site: the random numbers, Toro's velocities and layering, Darendeli's curve
// deviates and the depth to rock, each realization from its own stream.
#include "sitewave/variation.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace sitewave::variation {

namespace {

constexpr double two_pow_minus_53 = 1.0 / 9007199254740992.0;

sitewave::error argument(const std::string& what) {
    sitewave::error e;
    e.what = sitewave::error::kind::argument;
    e.message = "variation::realize: " + what;
    return e;
}

// The shortest text that reads back as the same double.
std::string shortest(double x) {
    char buffer[32];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, x);
    return std::string(buffer, r.ptr);
}

// A CSV cell (RFC 4180): quoted, its quotes doubled, when it holds a comma, quote or line end.
std::string cell(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) {
        return s;
    }
    std::string q = "\"";
    for (const char c : s) {
        q += c;
        if (c == '"') {
            q += '"';
        }
    }
    return q + "\"";
}

double clamp(double x, double lo, double hi) { return std::min(std::max(x, lo), hi); }

double depth_of(const site::site_model& s) {
    double d = 0.0;
    for (const auto& l : s.layers) {
        d += l.thickness;
    }
    return d;
}

double draw_depth(const site::depth_law& law, double own, stream& r) {
    switch (law.law) {
    case site::depth_law::kind::fixed:
        break;
    case site::depth_law::kind::uniform:
        return law.a + (law.b - law.a) * r.uniform();
    case site::depth_law::kind::normal:
        for (int tries = 0; tries < 1000; ++tries) {
            const double d = law.a + law.b * r.normal();
            if (d > 0.01 * law.a) {
                return d;
            }
        }
        return law.a;
    case site::depth_law::kind::lognormal: {
        const double s2 = std::log1p((law.b * law.b) / (law.a * law.a));
        return std::exp(std::log(law.a) - s2 / 2.0 + std::sqrt(s2) * r.normal());
    }
    }
    return own;
}

// The base layer at depth z: the one holding it, or the deepest.
std::size_t base_layer_at(const site::site_model& base, double z) {
    double bottom = 0.0;
    for (std::size_t i = 0; i < base.layers.size(); ++i) {
        bottom += base.layers[i].thickness;
        if (z < bottom) {
            return i;
        }
    }
    return base.layers.size() - 1;
}

} // namespace

namespace {
result<realization> realize_unchecked(const site::site_model& base, long k);
} // namespace

std::uint64_t splitmix64(std::uint64_t& state) {
    state += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

stream::stream(std::uint64_t seed, std::uint64_t k) {
    std::uint64_t s = seed;
    std::uint64_t mixed = splitmix64(s) ^ k;
    engine_.seed(splitmix64(mixed));
}

double stream::uniform() { return (static_cast<double>(engine_() >> 11) + 0.5) * two_pow_minus_53; }

double stream::normal() {
    if (spare_) {
        const double z = *spare_;
        spare_.reset();
        return z;
    }
    for (;;) {
        const double u = 2.0 * uniform() - 1.0;
        const double v = 2.0 * uniform() - 1.0;
        const double s = u * u + v * v;
        if (s > 0.0 && s < 1.0) {
            const double f = std::sqrt(-2.0 * std::log(s) / s);
            spare_ = v * f;
            return u * f;
        }
    }
}

double stream::exponential() { return -std::log(uniform()); }

double correlation(const site::toro_parameters& p, double t, double d) {
    const double rho_t = p.rho0 * std::exp(-t / p.delta);
    const double rho_d =
        d <= 200.0 ? p.rho200 * std::pow((d + p.d0) / (200.0 + p.d0), p.b) : p.rho200;
    return (1.0 - rho_d) * rho_t + rho_d;
}

double boundary_rate(double z) { return 1.98 * std::pow(z + 10.86, -0.89); }

double expected_boundaries(double z) {
    return (1.98 / 0.11) * (std::pow(z + 10.86, 0.11) - std::pow(10.86, 0.11));
}

double boundary_depth(double s) {
    return std::pow(0.11 * s / 1.98 + std::pow(10.86, 0.11), 1.0 / 0.11) - 10.86;
}

std::vector<double> boundaries(stream& r, double depth) {
    constexpr double thinnest = 1e-3; // m
    std::vector<double> out;
    double s = 0.0;
    double above = 0.0;
    for (;;) {
        s += r.exponential();
        const double z = boundary_depth(s);
        if (!(z < depth - thinnest)) {
            return out;
        }
        if (z > above + thinnest) {
            out.push_back(z);
            above = z;
        }
    }
}

result<curves::curve_set> varied_curves(const curves::curve_set& c, double eps_modulus,
                                        double eps_damping) {
    if (c.kind == curves::model::linear) {
        return c;
    }
    constexpr int points = 49;
    std::vector<double> strain(points), modulus(points), damping(points);
    for (int i = 0; i < points; ++i) {
        strain[static_cast<std::size_t>(i)] = std::pow(10.0, -5.0 + i / 8.0);
    }
    for (std::size_t i = 0; i < strain.size(); ++i) {
        const auto at = c.at(strain[i]);
        const double g = at.modulus;
        const double d = 100.0 * at.damping;
        modulus[i] =
            clamp(g + eps_modulus * curves::darendeli_sigma_modulus(g), std::min(0.05, g), 1.0);
        damping[i] = clamp(d + eps_damping * curves::darendeli_sigma_damping_percent(d), 0.1,
                           std::max(15.0, d));
    }
    auto t = curves::table(strain, modulus, damping);
    if (t) {
        t->name = c.name + " (varied)";
    }
    return t;
}

namespace {

result<realization> realize_unchecked(const site::site_model& base, long k) {
    if (!base.variation) {
        return argument("the site has no [variation] table");
    }
    const auto& v = *base.variation;
    if (k < 0 || k >= v.realizations) {
        return argument("realization " + std::to_string(k) + " is not from 0 to " +
                        std::to_string(v.realizations - 1));
    }
    if (base.layers.empty()) {
        return argument("the site has no layers");
    }
    stream r(v.seed, static_cast<std::uint64_t>(k));
    realization out;
    out.index = k;
    out.site = base;
    out.site.variation.reset();
    auto& layers = out.site.layers;

    // 1. The depth to rock.
    const double own = depth_of(base);
    const double depth = draw_depth(v.bedrock_depth, own, r);
    if (!(depth <= max_depth)) {
        return argument("realization " + std::to_string(k) + ": depth to rock " + shortest(depth) +
                        " m is beyond " + shortest(max_depth) + " m");
    }
    out.bedrock_depth = depth;

    // 2. The layers, each from a base layer (source).
    std::vector<std::size_t> source;
    layers.clear();
    if (v.layering) {
        std::vector<double> tops{0.0};
        for (const double z : boundaries(r, depth)) {
            tops.push_back(z);
        }
        for (std::size_t i = 0; i < tops.size(); ++i) {
            const double bottom = i + 1 < tops.size() ? tops[i + 1] : depth;
            const std::size_t b = base_layer_at(base, (tops[i] + bottom) / 2.0);
            site::layer l = base.layers[b];
            l.thickness = bottom - tops[i];
            layers.push_back(std::move(l));
            source.push_back(b);
        }
    } else {
        double top = 0.0;
        for (std::size_t i = 0; i < base.layers.size() && top < depth; ++i) {
            site::layer l = base.layers[i];
            const bool last = i + 1 == base.layers.size();
            l.thickness = last ? depth - top : std::min(l.thickness, depth - top);
            top += l.thickness;
            layers.push_back(std::move(l));
            source.push_back(i);
        }
    }

    // 3. The velocities.
    if (v.velocity) {
        double z_prev = 0.0;
        double mid_prev = 0.0;
        double top = 0.0;
        for (std::size_t i = 0; i < layers.size(); ++i) {
            auto& l = layers[i];
            const double mid = top + l.thickness / 2.0;
            const double eps = r.normal();
            double z = eps;
            if (i > 0) {
                const double rho = correlation(v.toro, mid - mid_prev, mid);
                z = rho * z_prev + std::sqrt(std::max(0.0, 1.0 - rho * rho)) * eps;
            }
            const double used = v.truncate ? clamp(z, -*v.truncate, *v.truncate) : z;
            const auto& b = base.layers[source[i]];
            l.vs = clamp(b.vs * std::exp(v.toro.sigma_ln * used), v.vs_min, v.vs_max);
            l.vp = b.vp * (l.vs / b.vs);
            z_prev = z;
            mid_prev = mid;
            top += l.thickness;
        }
    }

    // 4. The curves at the layers' stresses, and their deviates.
    if (auto s = site::restack(out.site); !s) {
        return s.err();
    }
    out.curve_deviates.assign(out.site.soils.size(), {0.0, 0.0});
    if (v.curves) {
        const double rc = v.curve_correlation;
        for (auto& d : out.curve_deviates) {
            const double e1 = r.normal();
            const double e2 = r.normal();
            d = {e1, rc * e1 + std::sqrt(std::max(0.0, 1.0 - rc * rc)) * e2};
        }
        for (auto& l : layers) {
            const auto it =
                std::find_if(out.site.soils.begin(), out.site.soils.end(),
                             [&](const site::soil_type& s) { return s.name == l.soil; });
            const auto& d =
                out.curve_deviates[static_cast<std::size_t>(it - out.site.soils.begin())];
            auto c = varied_curves(l.curves, d[0], d[1]);
            if (!c) {
                return c.err();
            }
            l.curves = std::move(*c);
        }
    }

    // The half-space under the last layer, at least as fast.
    auto& rock = out.site.rock;
    if (layers.back().vs > rock.vs) {
        rock.vp *= layers.back().vs / rock.vs;
        rock.vs = layers.back().vs;
    }
    return out;
}

} // namespace

result<realization> realize(const site::site_model& base, long k) {
    try {
        return realize_unchecked(base, k);
    } catch (const std::exception& e) {
        sitewave::error err;
        err.what = sitewave::error::kind::system;
        err.message = "variation::realize: " + std::string(e.what());
        return err;
    }
}

std::string realizations_header() {
    return "realization,layer,depth (m),thickness (m),vs (m/s),soil,modulus deviate,"
           "damping deviate\n";
}

std::string realization_rows(const realization& r) {
    std::string out;
    const auto& s = r.site;
    const auto deviates = [&](const std::string& soil) {
        for (std::size_t i = 0; i < s.soils.size() && i < r.curve_deviates.size(); ++i) {
            if (s.soils[i].name == soil) {
                return r.curve_deviates[i];
            }
        }
        return std::array<double, 2>{0.0, 0.0};
    };
    const std::string k = std::to_string(r.index);
    for (std::size_t i = 0; i < s.layers.size(); ++i) {
        const auto& l = s.layers[i];
        const auto d = deviates(l.soil);
        out += k + "," + std::to_string(i + 1) + "," + shortest(l.top) + "," +
               shortest(l.thickness) + "," + shortest(l.vs) + "," + cell(l.soil) + "," +
               shortest(d[0]) + "," + shortest(d[1]) + "\n";
    }
    out += k + "," + std::to_string(s.layers.size() + 1) + "," + shortest(r.bedrock_depth) + ",," +
           shortest(s.rock.vs) + ",bedrock,,\n";
    return out;
}

} // namespace sitewave::variation
