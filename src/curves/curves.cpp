// The curve models, tables and the published sets.
#include "sitewave/curves.hpp"

#include "curves/check.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <new>
#include <numbers>
#include <string>
#include <utility>

namespace sitewave::curves {

namespace {

error argument(std::string_view function, const std::string& what) {
    error e;
    e.what = error::kind::argument;
    e.message = "curves::" + std::string(function) + ": " + what;
    return e;
}

error refusal(std::string what) {
    error e;
    e.what = error::kind::refused;
    e.message = std::move(what);
    return e;
}

error system_failure(std::string_view function, const std::exception& ex) {
    error e;
    e.what = error::kind::system;
    e.message = "curves::" + std::string(function) + ": " + ex.what();
    return e;
}

bool finite_positive(double x) { return std::isfinite(x) && x > 0.0; }

// 4 (1 + x)(x − ln(1 + x))/x² − 2, x = γ/γr: the bracket of the Masing damping. Below x = 0.01
// its series (the closed form loses its digits to cancellation there).
double masing_bracket(double x) {
    if (x < 0.01) {
        double sum = 0.0;
        double power = x;
        for (int k = 1; k <= 10; ++k) {
            const double term = power / ((k + 1.0) * (k + 2.0));
            sum += (k % 2 == 1) ? term : -term;
            power *= x;
        }
        return 4.0 * sum;
    }
    return 4.0 * (1.0 + x) * (x - std::log1p(x)) / (x * x) - 2.0;
}

// The Masing damping (%) of the hyperbolic curve with reference strain gr and curvature a.
double masing_damping(double strain, double gr, double a) {
    const double d1 = 100.0 / std::numbers::pi * masing_bracket(strain / gr);
    const double c1 = -1.1143 * a * a + 1.8618 * a + 0.2523;
    const double c2 = 0.0805 * a * a - 0.0710 * a - 0.0095;
    const double c3 = -0.0005 * a * a + 0.0002 * a + 0.0003;
    return c1 * d1 + c2 * d1 * d1 + c3 * d1 * d1 * d1;
}

double masing_scaling(double cycles) { return 0.6329 - 0.0057 * std::log(cycles); }

// Linear interpolation in ln γ, clamped at the ends.
double interpolate(const tabulated& t, double strain, bool& clamped) {
    const auto n = t.strain.size();
    if (n == 0) {
        return 0.0;
    }
    if (!(strain > t.strain.front())) {
        clamped = clamped || strain < t.strain.front();
        return t.value.front();
    }
    if (!(strain < t.strain.back())) {
        clamped = clamped || strain > t.strain.back();
        return t.value.back();
    }
    const auto hi = static_cast<std::size_t>(
        std::upper_bound(t.strain.begin(), t.strain.end(), strain) - t.strain.begin());
    const auto lo = hi - 1;
    const double w = (std::log(strain) - std::log(t.strain[lo])) /
                     (std::log(t.strain[hi]) - std::log(t.strain[lo]));
    return t.value[lo] + w * (t.value[hi] - t.value[lo]);
}

std::string entry_text(std::size_t i) { return "entry " + std::to_string(i + 1); }

// The published sets, read once from the embedded text.
struct published_sets {
    std::vector<std::string> names;
    std::map<std::string, tabulated> modulus;
    std::map<std::string, tabulated> damping; // ratio
};

// One CSV line: fields split on commas outside double quotes, quotes removed.
std::vector<std::string> csv_fields(std::string_view line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    return fields;
}

published_sets read_published() {
    published_sets sets;
    std::string_view text = published_csv();
    bool header = true;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (header || line.empty()) {
            header = false;
            continue;
        }
        const auto f = csv_fields(line);
        if (f.size() != 4) {
            continue;
        }
        if (std::find(sets.names.begin(), sets.names.end(), f[0]) == sets.names.end()) {
            sets.names.push_back(f[0]);
        }
        const double strain = std::stod(f[2]);
        const double value = std::stod(f[3]);
        if (f[1] == "modulus_ratio") {
            sets.modulus[f[0]].strain.push_back(strain);
            sets.modulus[f[0]].value.push_back(value);
        } else if (f[1] == "damping_percent") {
            sets.damping[f[0]].strain.push_back(strain);
            sets.damping[f[0]].value.push_back(value / 100.0);
        }
    }
    return sets;
}

const published_sets& sets() {
    static const published_sets s = read_published();
    return s;
}

std::size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string quoted_list(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) {
        out += (out.empty() ? "\"" : ", \"") + n + "\"";
    }
    return out;
}

} // namespace

std::string strain_problem(const std::vector<double>& strain) {
    if (strain.empty()) {
        return "no entry";
    }
    for (std::size_t i = 0; i < strain.size(); ++i) {
        if (!finite_positive(strain[i])) {
            return entry_text(i) + " (" + number_text(strain[i]) + ") is not a positive strain";
        }
        if (i > 0 && !(strain[i] > strain[i - 1])) {
            return "not increasing at " + entry_text(i) + " (" + number_text(strain[i]) + ")";
        }
    }
    return {};
}

std::string value_problem(const std::vector<double>& value, std::size_t strains, double low,
                          double high, bool open_low, bool open_high) {
    if (value.size() != strains) {
        return std::to_string(value.size()) + " entries for " + std::to_string(strains) +
               " strains";
    }
    for (std::size_t i = 0; i < value.size(); ++i) {
        const double v = value[i];
        const bool above_low = open_low ? v > low : v >= low;
        const bool below_high = open_high ? v < high : v <= high;
        if (!std::isfinite(v) || !above_low || !below_high) {
            return entry_text(i) + " (" + number_text(v) + ") is outside " +
                   (open_low ? "(" : "[") + number_text(low) + ", " + number_text(high) +
                   (open_high ? ")" : "]");
        }
    }
    return {};
}

reading curve_set::at(double strain_percent) const {
    reading r;
    switch (kind) {
    case model::darendeli:
    case model::menq: {
        if (strain_percent > 0.0 && std::isfinite(strain_percent)) {
            const double g = 1.0 / (1.0 + std::pow(strain_percent / gamma_r, a));
            r.modulus = g;
            r.damping = (b * std::pow(g, 0.1) * masing_damping(strain_percent, gamma_r, a) +
                         d_min_percent) /
                        100.0;
        } else {
            r.modulus = 1.0;
            r.damping = d_min_percent / 100.0;
        }
        break;
    }
    case model::table:
    case model::published:
        r.modulus = interpolate(modulus, strain_percent, r.clamped);
        r.damping = interpolate(damping, strain_percent, r.clamped);
        break;
    case model::linear:
        r.modulus = 1.0;
        r.damping = constant_damping;
        break;
    }
    r.damping = std::max(0.0, r.damping + damping_shift);
    return r;
}

double curve_set::small_strain_damping() const {
    double d = 0.0;
    switch (kind) {
    case model::darendeli:
    case model::menq:
        d = d_min_percent / 100.0;
        break;
    case model::table:
    case model::published:
        d = damping.value.empty() ? 0.0 : damping.value.front();
        break;
    case model::linear:
        d = constant_damping;
        break;
    }
    return std::max(0.0, d + damping_shift);
}

namespace {
result<curve_set> darendeli_unguarded(double pi, double ocr, double sigma_m_atm, double frequency,
                                      double cycles) {
    if (!std::isfinite(pi) || pi < 0.0) {
        return argument("darendeli", "plasticity index " + number_text(pi) + " is not >= 0");
    }
    if (!finite_positive(ocr)) {
        return argument("darendeli", "ocr " + number_text(ocr) + " is not positive");
    }
    if (!finite_positive(sigma_m_atm)) {
        return argument("darendeli",
                        "mean effective stress " + number_text(sigma_m_atm) + " is not positive");
    }
    if (!finite_positive(frequency)) {
        return argument("darendeli", "frequency " + number_text(frequency) + " is not positive");
    }
    if (!finite_positive(cycles)) {
        return argument("darendeli", "cycles " + number_text(cycles) + " is not positive");
    }
    curve_set c;
    c.kind = model::darendeli;
    c.name = "darendeli";
    c.gamma_r = (0.0352 + 0.0010 * pi * std::pow(ocr, 0.3246)) * std::pow(sigma_m_atm, 0.3483);
    c.a = 0.9190;
    c.b = masing_scaling(cycles);
    c.d_min_percent = (0.8005 + 0.0129 * pi * std::pow(ocr, -0.1069)) *
                      std::pow(sigma_m_atm, -0.2889) * (1.0 + 0.2919 * std::log(frequency));
    if (!(c.d_min_percent >= 0.0)) {
        return argument("darendeli", "frequency " + number_text(frequency) +
                                         " gives a negative small-strain damping");
    }
    return c;
}
} // namespace

result<curve_set> darendeli(double pi, double ocr, double sigma_m_atm, double frequency,
                            double cycles) {
    try {
        return darendeli_unguarded(pi, ocr, sigma_m_atm, frequency, cycles);
    } catch (const std::exception& e) {
        return system_failure("darendeli", e);
    }
}

namespace {
result<curve_set> menq_unguarded(double cu, double d50_mm, double sigma_m_atm, double cycles) {
    if (!finite_positive(cu)) {
        return argument("menq", "cu " + number_text(cu) + " is not positive");
    }
    if (!finite_positive(d50_mm)) {
        return argument("menq", "d50 " + number_text(d50_mm) + " is not positive");
    }
    if (!finite_positive(sigma_m_atm)) {
        return argument("menq",
                        "mean effective stress " + number_text(sigma_m_atm) + " is not positive");
    }
    if (!finite_positive(cycles)) {
        return argument("menq", "cycles " + number_text(cycles) + " is not positive");
    }
    curve_set c;
    c.kind = model::menq;
    c.name = "menq";
    c.gamma_r = 0.12 * std::pow(cu, -0.6) * std::pow(sigma_m_atm, 0.5 * std::pow(cu, -0.15));
    c.a = 0.86 + 0.1 * std::log10(sigma_m_atm);
    c.b = masing_scaling(cycles);
    c.d_min_percent =
        0.55 * std::pow(cu, 0.1) * std::pow(d50_mm, -0.3) * std::pow(sigma_m_atm, -0.08);
    if (!(c.a > 0.0)) {
        return argument("menq", "mean effective stress " + number_text(sigma_m_atm) +
                                    " gives a curvature at or below zero");
    }
    return c;
}
} // namespace

result<curve_set> menq(double cu, double d50_mm, double sigma_m_atm, double cycles) {
    try {
        return menq_unguarded(cu, d50_mm, sigma_m_atm, cycles);
    } catch (const std::exception& e) {
        return system_failure("menq", e);
    }
}

double darendeli_sigma_modulus(double modulus_ratio) {
    const double d = modulus_ratio - 0.5;
    return std::exp(-4.23) + std::sqrt(std::max(0.0, 0.25 - d * d) / std::exp(3.62));
}

double darendeli_sigma_damping_percent(double damping_percent) {
    return std::exp(-5.0) + std::exp(-0.25) * std::sqrt(std::max(0.0, damping_percent));
}

result<curve_set> table(const std::vector<double>& strain, const std::vector<double>& modulus,
                        const std::vector<double>& damping_percent,
                        const std::vector<double>& damping_strain) {
    try {
        const bool own = !damping_strain.empty();
        const auto& dstrain = own ? damping_strain : strain;
        if (auto p = strain_problem(strain); !p.empty()) {
            return argument("table", "strain: " + p);
        }
        if (auto p = value_problem(modulus, strain.size(), 0.0, 1.0, true, false); !p.empty()) {
            return argument("table", "modulus: " + p);
        }
        if (own) {
            if (auto p = strain_problem(damping_strain); !p.empty()) {
                return argument("table", "damping_strain: " + p);
            }
        }
        if (auto p = value_problem(damping_percent, dstrain.size(), 0.0, 100.0, false, true);
            !p.empty()) {
            return argument("table", "damping_percent: " + p);
        }
        curve_set c;
        c.kind = model::table;
        c.name = "table";
        c.modulus = {strain, modulus};
        c.damping.strain = dstrain;
        for (double d : damping_percent) {
            c.damping.value.push_back(d / 100.0);
        }
        return c;
    } catch (const std::exception& e) {
        return system_failure("table", e);
    }
}

namespace {
std::vector<std::string>
closest_unguarded(std::string_view name, const std::vector<std::string>& names, std::size_t count) {
    std::vector<std::pair<std::size_t, std::size_t>> order; // distance, index
    for (std::size_t i = 0; i < names.size(); ++i) {
        order.emplace_back(edit_distance(name, names[i]), i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<std::string> out;
    for (std::size_t i = 0; i < order.size() && i < count; ++i) {
        out.push_back(names[order[i].second]);
    }
    return out;
}
} // namespace

std::vector<std::string> closest_names(std::string_view name, const std::vector<std::string>& names,
                                       std::size_t count) {
    try {
        return closest_unguarded(name, names, count);
    } catch (const std::exception&) {
        return {};
    }
}

result<curve_set> published(const std::string& modulus_name, const std::string& damping_name) {
    try {
        const auto& s = sets();
        const auto find = [&](const std::map<std::string, tabulated>& m, const std::string& name,
                              std::string_view quantity) -> result<tabulated> {
            const auto it = m.find(name);
            if (it != m.end()) {
                return it->second;
            }
            std::vector<std::string> having;
            for (const auto& n : s.names) {
                if (m.count(n) != 0) {
                    having.push_back(n);
                }
            }
            const bool known = std::find(s.names.begin(), s.names.end(), name) != s.names.end();
            return refusal("published curves: " +
                           (known ? "\"" + name + "\" has no " + std::string(quantity) + " curve"
                                  : "no curve named \"" + name + "\"") +
                           "; the closest " + std::string(quantity) +
                           " curves: " + quoted_list(closest_names(name, having)));
        };
        auto g = find(s.modulus, modulus_name, "modulus");
        if (!g) {
            return g.err();
        }
        auto d = find(s.damping, damping_name, "damping");
        if (!d) {
            return d.err();
        }
        curve_set c;
        c.kind = model::published;
        c.name = modulus_name == damping_name ? modulus_name : modulus_name + " | " + damping_name;
        c.modulus = std::move(*g);
        c.damping = std::move(*d);
        return c;
    } catch (const std::exception& e) {
        return system_failure("published", e);
    }
}

result<curve_set> published(const std::string& name) { return published(name, name); }

std::vector<std::string> published_names() {
    try {
        return sets().names;
    } catch (const std::exception&) {
        return {};
    }
}

namespace {
result<curve_set> linear_unguarded(double damping) {
    if (!std::isfinite(damping) || damping < 0.0 || damping >= 1.0) {
        return argument("linear", "damping " + number_text(damping) + " is outside [0, 1)");
    }
    curve_set c;
    c.kind = model::linear;
    c.name = "linear";
    c.constant_damping = damping;
    return c;
}
} // namespace

result<curve_set> linear(double damping) {
    try {
        return linear_unguarded(damping);
    } catch (const std::exception& e) {
        return system_failure("linear", e);
    }
}

namespace {
result<curve_set> with_damping_min_unguarded(curve_set set, double damping_min) {
    if (!std::isfinite(damping_min) || damping_min < 0.0 || damping_min >= 1.0) {
        return argument("with_damping_min",
                        "damping_min " + number_text(damping_min) + " is outside [0, 1)");
    }
    set.damping_shift = 0.0;
    set.damping_shift = damping_min - set.small_strain_damping();
    return set;
}
} // namespace

result<curve_set> with_damping_min(curve_set set, double damping_min) {
    try {
        return with_damping_min_unguarded(std::move(set), damping_min);
    } catch (const std::exception& e) {
        return system_failure("with_damping_min", e);
    }
}

} // namespace sitewave::curves
