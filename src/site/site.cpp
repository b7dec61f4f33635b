// The site file: TOML read with toml++, checked key by key, each refusal naming the file, the line,
// the column and the key.
#include "sitewave/site.hpp"

#include "curves/check.hpp"
#include "textio/fatal.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>
#include <toml++/toml.h>

namespace sitewave::site {

namespace {

std::string number_text(double x) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", x);
    return buffer;
}

// A soil type as read: its model's parameters; the curves of a model that needs no stress.
struct soil_entry {
    std::string name;
    std::string path; // "soil[1]"
    toml::source_region where;
    double unit_weight = 0;
    std::string model;
    double k0 = 0.5;
    double pi = 0, ocr = 1, frequency = 1, cycles = 10, cu = 0, d50 = 0;
    std::optional<double> damping_min;
    curves::curve_set fixed; // table, published, linear
    bool used = false;
};

class reader {
  public:
    explicit reader(std::string file) : file_(std::move(file)) {}

    [[noreturn]] void fail(const toml::source_region& where, const std::string& key,
                           const std::string& what) const {
        error e;
        e.what = error::kind::refused;
        e.message = file_ + ":" + std::to_string(where.begin.line) + ":" +
                    std::to_string(where.begin.column) + ": " + key + ": " + what;
        throw textio::failure(std::move(e));
    }

    // Every key of `t` is one of `allowed`.
    void known_keys(const toml::table& t, const std::string& path,
                    std::initializer_list<std::string_view> allowed) const {
        for (auto&& [k, v] : t) {
            if (std::find(allowed.begin(), allowed.end(), k.str()) == allowed.end()) {
                std::string list;
                for (auto a : allowed) {
                    list += (list.empty() ? "" : ", ") + std::string(a);
                }
                fail(k.source(), join(path, k.str()), "unknown key (expected one of " + list + ")");
            }
        }
    }

    static std::string join(const std::string& path, std::string_view key) {
        return path.empty() ? std::string(key) : path + "." + std::string(key);
    }

    const toml::node* get(const toml::table& t, std::string_view key, const std::string& path,
                          bool required) const {
        const toml::node* n = t.get(key);
        if (n == nullptr && required) {
            fail(t.source(), join(path, key), "missing");
        }
        return n;
    }

    std::optional<double> number(const toml::table& t, std::string_view key,
                                 const std::string& path, bool required = true) const {
        const toml::node* n = get(t, key, path, required);
        if (n == nullptr) {
            return std::nullopt;
        }
        const auto v = n->is_number() ? n->value<double>() : std::nullopt;
        if (!v) {
            fail(n->source(), join(path, key), "not a number");
        }
        if (!std::isfinite(*v)) {
            fail(n->source(), join(path, key), "not finite");
        }
        return v;
    }

    std::optional<std::int64_t> integer(const toml::table& t, std::string_view key,
                                        const std::string& path, bool required = true) const {
        const toml::node* n = get(t, key, path, required);
        if (n == nullptr) {
            return std::nullopt;
        }
        const auto v = n->is_integer() ? n->value<std::int64_t>() : std::nullopt;
        if (!v) {
            fail(n->source(), join(path, key), "not an integer");
        }
        return v;
    }

    double number_or(const toml::table& t, std::string_view key, const std::string& path,
                     double fallback) const {
        return number(t, key, path, false).value_or(fallback);
    }

    // A number in a range: (low, inf) when `positive_only`, else checked by the caller.
    double positive(const toml::table& t, std::string_view key, const std::string& path) const {
        const double v = *number(t, key, path);
        if (!(v > 0.0)) {
            fail(t.get(key)->source(), join(path, key), number_text(v) + " is not positive");
        }
        return v;
    }

    std::optional<std::string> text(const toml::table& t, std::string_view key,
                                    const std::string& path, bool required = true) const {
        const toml::node* n = get(t, key, path, required);
        if (n == nullptr) {
            return std::nullopt;
        }
        const auto v = n->value<std::string>();
        if (!n->is_string() || !v) {
            fail(n->source(), join(path, key), "not a string");
        }
        return v;
    }

    std::vector<double> numbers(const toml::table& t, std::string_view key,
                                const std::string& path) const {
        const toml::node* n = get(t, key, path, true);
        const toml::array* a = n->as_array();
        if (a == nullptr) {
            fail(n->source(), join(path, key), "not a list of numbers");
        }
        std::vector<double> out;
        for (const auto& e : *a) {
            const auto v = e.is_number() ? e.value<double>() : std::nullopt;
            if (!v) {
                fail(e.source(), join(path, key),
                     "entry " + std::to_string(out.size() + 1) + " is not a number");
            }
            out.push_back(*v);
        }
        return out;
    }

    // A damping ratio in [0, 1).
    std::optional<double> ratio(const toml::table& t, std::string_view key, const std::string& path,
                                bool required) const {
        const auto v = number(t, key, path, required);
        if (v && !(*v >= 0.0 && *v < 1.0)) {
            fail(t.get(key)->source(), join(path, key),
                 number_text(*v) + " is outside [0, 1) (a ratio)");
        }
        return v;
    }

    const std::string& file() const { return file_; }

  private:
    std::string file_;
};

void table_curves(const reader& r, const toml::table& t, soil_entry& s) {
    const auto strain = r.numbers(t, "strain", s.path);
    if (auto p = curves::strain_problem(strain); !p.empty()) {
        r.fail(t.get("strain")->source(), s.path + ".strain", p);
    }
    const auto modulus = r.numbers(t, "modulus", s.path);
    if (auto p = curves::value_problem(modulus, strain.size(), 0.0, 1.0, true, false); !p.empty()) {
        r.fail(t.get("modulus")->source(), s.path + ".modulus", p);
    }
    std::vector<double> dstrain;
    if (t.get("damping_strain") != nullptr) {
        dstrain = r.numbers(t, "damping_strain", s.path);
        if (auto p = curves::strain_problem(dstrain); !p.empty()) {
            r.fail(t.get("damping_strain")->source(), s.path + ".damping_strain", p);
        }
    }
    const auto damping = r.numbers(t, "damping_percent", s.path);
    const auto dcount = dstrain.empty() ? strain.size() : dstrain.size();
    if (auto p = curves::value_problem(damping, dcount, 0.0, 100.0, false, true); !p.empty()) {
        r.fail(t.get("damping_percent")->source(), s.path + ".damping_percent", p);
    }
    auto c = curves::table(strain, modulus, damping, dstrain);
    if (!c) {
        r.fail(t.source(), s.path, c.err().message);
    }
    s.fixed = std::move(*c);
}

soil_entry read_soil(const reader& r, const toml::table& t, std::size_t index) {
    soil_entry s;
    s.path = "soil[" + std::to_string(index + 1) + "]";
    s.where = t.source();
    s.name = *r.text(t, "name", s.path);
    s.path = "soil \"" + s.name + "\"";
    s.model = *r.text(t, "model", s.path);
    const std::vector<std::string_view> common = {"name", "unit_weight", "model", "k0",
                                                  "damping_min"};
    std::vector<std::string_view> own;
    if (s.model == "darendeli") {
        own = {"pi", "ocr", "frequency", "cycles"};
    } else if (s.model == "menq") {
        own = {"cu", "d50", "cycles"};
    } else if (s.model == "table") {
        own = {"strain", "modulus", "damping_percent", "damping_strain"};
    } else if (s.model == "published") {
        own = {"modulus_curve", "damping_curve"};
    } else if (s.model == "linear") {
        own = {"damping"};
    } else {
        r.fail(t.get("model")->source(), s.path + ".model",
               "\"" + s.model + "\" is not one of darendeli, menq, table, published, linear");
    }
    for (auto&& [k, v] : t) {
        const auto key = k.str();
        if (std::find(common.begin(), common.end(), key) == common.end() &&
            std::find(own.begin(), own.end(), key) == own.end()) {
            std::string list;
            for (auto a : common) {
                list += (list.empty() ? "" : ", ") + std::string(a);
            }
            for (auto a : own) {
                list += ", " + std::string(a);
            }
            r.fail(k.source(), s.path + "." + std::string(key),
                   "unknown key for model " + s.model + " (expected one of " + list + ")");
        }
    }
    s.unit_weight = r.positive(t, "unit_weight", s.path);
    s.k0 = r.number_or(t, "k0", s.path, 0.5);
    if (!(s.k0 > 0.0)) {
        r.fail(t.get("k0")->source(), s.path + ".k0", number_text(s.k0) + " is not positive");
    }
    s.damping_min = r.ratio(t, "damping_min", s.path, false);
    if (s.model == "darendeli") {
        s.pi = *r.number(t, "pi", s.path);
        if (s.pi < 0.0) {
            r.fail(t.get("pi")->source(), s.path + ".pi", number_text(s.pi) + " is negative");
        }
        s.ocr = t.get("ocr") != nullptr ? r.positive(t, "ocr", s.path) : 1.0;
        s.frequency = t.get("frequency") != nullptr ? r.positive(t, "frequency", s.path) : 1.0;
        s.cycles = t.get("cycles") != nullptr ? r.positive(t, "cycles", s.path) : 10.0;
    } else if (s.model == "menq") {
        s.cu = r.positive(t, "cu", s.path);
        s.d50 = r.positive(t, "d50", s.path);
        s.cycles = t.get("cycles") != nullptr ? r.positive(t, "cycles", s.path) : 10.0;
    } else if (s.model == "table") {
        table_curves(r, t, s);
    } else if (s.model == "published") {
        const auto g = *r.text(t, "modulus_curve", s.path);
        const auto d = *r.text(t, "damping_curve", s.path);
        auto c = curves::published(g, d);
        if (!c) {
            // The modulus is looked up first: point at the key whose name failed.
            const auto& m = c.err().message;
            const bool modulus = m.find("modulus curve") != std::string::npos;
            const char* key = modulus ? "modulus_curve" : "damping_curve";
            r.fail(t.get(key)->source(), s.path + "." + key, c.err().message);
        }
        s.fixed = std::move(*c);
    } else {
        s.fixed = *curves::linear(*r.ratio(t, "damping", s.path, true));
    }
    return s;
}

void read_layer(const reader& r, const toml::table& t, std::size_t index,
                std::vector<soil_entry>& soils, site_model& site) {
    const std::string path = "layer[" + std::to_string(index + 1) + "]";
    r.known_keys(t, path, {"soil", "thickness", "vs", "vp", "poisson", "qs", "fs", "qp", "fp"});
    layer l;
    l.soil = *r.text(t, "soil", path);
    auto it = std::find_if(soils.begin(), soils.end(),
                           [&](const soil_entry& s) { return s.name == l.soil; });
    if (it == soils.end()) {
        std::vector<std::string> names;
        for (const auto& s : soils) {
            names.push_back(s.name);
        }
        std::string list;
        for (const auto& n : curves::closest_names(l.soil, names)) {
            list += (list.empty() ? "\"" : ", \"") + n + "\"";
        }
        r.fail(t.get("soil")->source(), path + ".soil",
               "no soil named \"" + l.soil + "\"" +
                   (list.empty() ? std::string(" (no [[soil]] given)") : "; the closest: " + list));
    }
    it->used = true;
    l.thickness = r.positive(t, "thickness", path);
    l.vs = r.positive(t, "vs", path);
    if (t.get("vp") != nullptr) {
        if (t.get("poisson") != nullptr) {
            r.fail(t.get("poisson")->source(), path + ".poisson", "given together with vp");
        }
        l.vp = *r.number(t, "vp", path);
    } else {
        const double nu = r.number_or(t, "poisson", path, 0.35);
        if (!(nu >= 0.0 && nu < 0.5)) {
            r.fail(t.get("poisson")->source(), path + ".poisson",
                   number_text(nu) + " is outside [0, 0.5)");
        }
        l.vp = l.vs * std::sqrt(2.0 * (1.0 - nu) / (1.0 - 2.0 * nu));
    }
    if (!(l.vp > l.vs)) {
        r.fail((t.get("vp") != nullptr ? t.get("vp") : &t)->source(), path + ".vp",
               number_text(l.vp) + " is not above vs (" + number_text(l.vs) + ")");
    }
    for (const char* key : {"qs", "qp"}) {
        if (t.get(key) != nullptr) {
            (key[1] == 's' ? l.qs : l.qp) = r.positive(t, key, path);
        }
    }
    l.fs = r.number(t, "fs", path, false);
    l.fp = r.number(t, "fp", path, false);
    l.unit_weight = it->unit_weight;

    // Stresses at mid-depth from the layers above.
    double top = 0.0;
    double total = 0.0; // kPa at the top
    for (const auto& above : site.layers) {
        top += above.thickness;
        total += above.unit_weight * above.thickness;
    }
    const double mid = top + l.thickness / 2.0;
    total += l.unit_weight * l.thickness / 2.0;
    const double pore =
        site.water_table ? unit_weight_water * std::max(0.0, mid - *site.water_table) : 0.0;
    l.top = top;
    l.sigma_v = total - pore;
    l.sigma_m = l.sigma_v * (1.0 + 2.0 * it->k0) / 3.0 / atmosphere;
    if (!(l.sigma_v > 0.0)) {
        r.fail(t.source(), path,
               "vertical effective stress at mid-depth " + number_text(l.sigma_v) +
                   " kPa is not positive");
    }
    result<curves::curve_set> c = it->fixed;
    if (it->model == "darendeli") {
        c = curves::darendeli(it->pi, it->ocr, l.sigma_m, it->frequency, it->cycles);
    } else if (it->model == "menq") {
        c = curves::menq(it->cu, it->d50, l.sigma_m, it->cycles);
    }
    if (c && it->damping_min) {
        c = curves::with_damping_min(*c, *it->damping_min);
    }
    if (!c) {
        r.fail(t.source(), path, c.err().message);
    }
    l.curves = std::move(*c);
    site.layers.push_back(std::move(l));
}

// Toro (1995), the velocity variation's parameters by site class.
struct toro_row {
    const char* name;
    toro_parameters p;
};
constexpr toro_row toro_rows[] = {
    {"GeoMatrix AB", {0.46, 0.96, 13.1, 0.96, 0.095, 0.0}},
    {"GeoMatrix CD", {0.38, 0.99, 8.0, 1.00, 0.160, 0.0}},
    {"USGS AB", {0.35, 0.95, 4.2, 1.00, 0.138, 0.0}},
    {"USGS CD", {0.36, 0.99, 3.9, 1.00, 0.293, 0.0}},
    {"USGS A", {0.36, 0.95, 3.4, 0.42, 0.063, 0.0}},
    {"USGS B", {0.27, 0.97, 3.8, 1.00, 0.293, 0.0}},
    {"USGS C", {0.31, 0.99, 3.9, 0.98, 0.344, 0.0}},
    {"USGS D", {0.37, 0.00, 5.0, 0.50, 0.744, 0.0}},
};

// One of `choices` for the text at `key`, with `fallback` when the key is absent.
std::string choice(const reader& r, const toml::table& t, std::string_view key,
                   std::initializer_list<std::string_view> choices, std::string_view fallback) {
    const auto v = r.text(t, key, "variation", false);
    if (!v) {
        return std::string(fallback);
    }
    if (std::find(choices.begin(), choices.end(), *v) == choices.end()) {
        std::string list;
        for (auto c : choices) {
            list += (list.empty() ? "" : " or ") + std::string(c);
        }
        r.fail(t.get(key)->source(), "variation." + std::string(key),
               "\"" + *v + "\" is not " + list);
    }
    return *v;
}

depth_law read_depth_law(const reader& r, const toml::node& n) {
    const std::string path = "variation.bedrock_depth";
    if (!n.is_table()) {
        r.fail(n.source(), path,
               "not a table (write { distribution = \"uniform\", min = ..., max = ... })");
    }
    const auto& t = *n.as_table();
    depth_law d;
    const auto kind = *r.text(t, "distribution", path);
    if (kind == "uniform") {
        r.known_keys(t, path, {"distribution", "min", "max"});
        d.law = depth_law::kind::uniform;
        d.a = r.positive(t, "min", path);
        d.b = r.positive(t, "max", path);
        if (!(d.a < d.b)) {
            r.fail(t.get("max")->source(), path + ".max",
                   number_text(d.b) + " is not above min (" + number_text(d.a) + ")");
        }
    } else if (kind == "normal" || kind == "lognormal") {
        r.known_keys(t, path, {"distribution", "mean", "sd"});
        d.law = kind == "normal" ? depth_law::kind::normal : depth_law::kind::lognormal;
        d.a = r.positive(t, "mean", path);
        d.b = r.positive(t, "sd", path);
    } else {
        r.fail(t.get("distribution")->source(), path + ".distribution",
               "\"" + kind + "\" is not uniform, normal or lognormal");
    }
    return d;
}

variation_table read_variation(const reader& r, const toml::table& t) {
    const std::string path = "variation";
    r.known_keys(t, path,
                 {"realizations", "seed", "velocity", "site_class", "sigma_ln", "rho0", "delta",
                  "rho200", "b", "d0", "truncate", "layering", "curves", "curve_correlation",
                  "bedrock_depth", "vs_min", "vs_max"});
    variation_table v;
    v.realizations = static_cast<long>(*r.integer(t, "realizations", path));
    if (v.realizations < 1 || v.realizations > max_realizations) {
        r.fail(t.get("realizations")->source(), "variation.realizations",
               std::to_string(v.realizations) + " is not from 1 to " +
                   std::to_string(max_realizations));
    }
    const auto seed = r.integer(t, "seed", path, false).value_or(0);
    if (seed < 0) {
        r.fail(t.get("seed")->source(), "variation.seed", std::to_string(seed) + " is negative");
    }
    v.seed = static_cast<std::uint64_t>(seed);
    v.velocity = choice(r, t, "velocity", {"toro", "none"}, "none") == "toro";
    v.layering = choice(r, t, "layering", {"toro", "none"}, "none") == "toro";
    v.curves = choice(r, t, "curves", {"darendeli", "none"}, "none") == "darendeli";
    static constexpr std::string_view explicit_keys[] = {"sigma_ln", "rho0", "delta",
                                                         "rho200",   "b",    "d0"};
    const toml::node* named = t.get("site_class");
    const toml::node* first_explicit = nullptr;
    for (auto k : explicit_keys) {
        if (first_explicit == nullptr) {
            first_explicit = t.get(k);
        }
    }
    if (named != nullptr) {
        v.site_class = *r.text(t, "site_class", path);
        if (first_explicit != nullptr) {
            r.fail(first_explicit->source(), path,
                   "site_class and explicit parameters (sigma_ln, rho0, delta, rho200, b, d0) "
                   "together");
        }
        const auto row = toro_class(v.site_class);
        if (!row) {
            std::string list;
            for (const auto& n : curves::closest_names(v.site_class, toro_class_names())) {
                list += (list.empty() ? "\"" : ", \"") + n + "\"";
            }
            r.fail(named->source(), "variation.site_class",
                   "\"" + v.site_class + "\" is not a row of the Toro table; the closest: " + list);
        }
        v.toro = *row;
    } else if (first_explicit != nullptr) {
        v.toro.sigma_ln = r.positive(t, "sigma_ln", path);
        for (const char* k : {"rho0", "rho200"}) {
            const double x = *r.number(t, k, path);
            if (!(x >= 0.0 && x <= 1.0)) {
                r.fail(t.get(k)->source(), path + "." + k, number_text(x) + " is outside [0, 1]");
            }
            (k[3] == '0' ? v.toro.rho0 : v.toro.rho200) = x;
        }
        v.toro.delta = r.positive(t, "delta", path);
        for (const char* k : {"b", "d0"}) {
            const double x = k[0] == 'b' ? *r.number(t, k, path) : r.number_or(t, k, path, 0.0);
            if (x < 0.0) {
                r.fail(t.get(k)->source(), path + "." + k, number_text(x) + " is negative");
            }
            (k[0] == 'b' ? v.toro.b : v.toro.d0) = x;
        }
    } else if (v.velocity) {
        r.fail(t.source(), "variation.site_class",
               "missing (velocity = \"toro\" needs site_class, or sigma_ln, rho0, delta, rho200, "
               "b)");
    }
    if (t.get("truncate") != nullptr) {
        v.truncate = r.positive(t, "truncate", path);
    }
    v.curve_correlation = r.number_or(t, "curve_correlation", path, -0.5);
    if (!(v.curve_correlation >= -1.0 && v.curve_correlation <= 1.0)) {
        r.fail(t.get("curve_correlation")->source(), "variation.curve_correlation",
               number_text(v.curve_correlation) + " is outside [-1, 1]");
    }
    if (const toml::node* n = t.get("bedrock_depth")) {
        v.bedrock_depth = read_depth_law(r, *n);
    }
    if (t.get("vs_min") != nullptr) {
        v.vs_min = r.positive(t, "vs_min", path);
    }
    if (t.get("vs_max") != nullptr) {
        v.vs_max = r.positive(t, "vs_max", path);
    }
    if (!(v.vs_min < v.vs_max)) {
        const toml::node* n = t.get("vs_max") != nullptr ? t.get("vs_max") : t.get("vs_min");
        r.fail(n->source(), "variation.vs_max",
               number_text(v.vs_max) + " is not above vs_min (" + number_text(v.vs_min) + ")");
    }
    return v;
}

site_model read(const reader& r, const toml::table& doc) {
    site_model site;
    r.known_keys(doc, "",
                 {"title", "angle", "water_table", "soil", "layer", "bedrock", "variation"});
    site.title = r.text(doc, "title", "", false).value_or("");
    site.angle = r.number_or(doc, "angle", "", 0.0);
    if (!(site.angle >= 0.0 && site.angle < 90.0)) {
        r.fail(doc.get("angle")->source(), "angle",
               number_text(site.angle) + " is outside [0, 90) degrees");
    }
    site.water_table = r.number(doc, "water_table", "", false);
    if (site.water_table && *site.water_table < 0.0) {
        r.fail(doc.get("water_table")->source(), "water_table",
               number_text(*site.water_table) + " is negative");
    }
    const auto tables = [&](std::string_view key) -> const toml::array& {
        const toml::node* n = r.get(doc, key, "", true);
        if (!n->is_array_of_tables() || n->as_array()->empty()) {
            r.fail(n->source(), std::string(key),
                   "not a list of tables (write [[" + std::string(key) + "]])");
        }
        return *n->as_array();
    };
    std::vector<soil_entry> soils;
    const auto& soil_list = tables("soil");
    for (std::size_t i = 0; i < soil_list.size(); ++i) {
        soils.push_back(read_soil(r, *soil_list[i].as_table(), i));
        for (std::size_t j = 0; j + 1 < soils.size(); ++j) {
            if (soils[j].name == soils.back().name) {
                r.fail(soil_list[i].as_table()->get("name")->source(),
                       "soil[" + std::to_string(i + 1) + "].name",
                       "\"" + soils.back().name + "\" is already a soil's name");
            }
        }
    }
    const auto& layer_list = tables("layer");
    for (std::size_t i = 0; i < layer_list.size(); ++i) {
        read_layer(r, *layer_list[i].as_table(), i, soils, site);
    }
    for (const auto& s : soils) {
        if (!s.used) {
            r.fail(s.where, s.path, "no layer uses this soil");
        }
    }
    const toml::node* rock = r.get(doc, "bedrock", "", true);
    if (!rock->is_table()) {
        r.fail(rock->source(), "bedrock", "not a table (write [bedrock])");
    }
    const auto& b = *rock->as_table();
    r.known_keys(b, "bedrock", {"vs", "vp", "poisson", "unit_weight", "damping"});
    site.rock.vs = r.positive(b, "vs", "bedrock");
    if (b.get("vp") != nullptr) {
        site.rock.vp = *r.number(b, "vp", "bedrock");
    } else {
        const double nu = r.number_or(b, "poisson", "bedrock", 0.35);
        if (!(nu >= 0.0 && nu < 0.5)) {
            r.fail(b.get("poisson")->source(), "bedrock.poisson",
                   number_text(nu) + " is outside [0, 0.5)");
        }
        site.rock.vp = site.rock.vs * std::sqrt(2.0 * (1.0 - nu) / (1.0 - 2.0 * nu));
    }
    if (!(site.rock.vp > site.rock.vs)) {
        r.fail((b.get("vp") != nullptr ? b.get("vp") : &b)->source(), "bedrock.vp",
               number_text(site.rock.vp) + " is not above vs (" + number_text(site.rock.vs) + ")");
    }
    site.rock.unit_weight = r.positive(b, "unit_weight", "bedrock");
    site.rock.damping = *r.ratio(b, "damping", "bedrock", true);
    for (const auto& e : soils) {
        soil_type t;
        t.name = e.name;
        t.unit_weight = e.unit_weight;
        t.model = e.model == "darendeli" ? curves::model::darendeli
                  : e.model == "menq"    ? curves::model::menq
                                         : e.fixed.kind;
        t.k0 = e.k0;
        t.pi = e.pi;
        t.ocr = e.ocr;
        t.frequency = e.frequency;
        t.cycles = e.cycles;
        t.cu = e.cu;
        t.d50 = e.d50;
        t.damping_min = e.damping_min;
        t.fixed = e.fixed;
        site.soils.push_back(std::move(t));
    }
    if (const toml::node* v = doc.get("variation")) {
        if (!v->is_table()) {
            r.fail(v->source(), "variation", "not a table (write [variation])");
        }
        site.variation = read_variation(r, *v->as_table());
    }
    return site;
}

site_model parse(std::string_view text, const std::string& name) {
    const reader r(name);
    try {
        const toml::table doc = toml::parse(text, name);
        return read(r, doc);
    } catch (const toml::parse_error& e) {
        r.fail(e.source(), "(syntax)", std::string(e.description()));
    }
}

} // namespace

result<site_model> parse_site(std::string_view text, const std::string& name) {
    return textio::capture([&] { return parse(text, name); });
}

result<site_model> read_site(const std::string& path) {
    return textio::capture([&] {
        std::error_code ec;
        const bool directory = std::filesystem::is_directory(path, ec);
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        if (in && !directory) {
            text << in.rdbuf();
        }
        if (directory || !in || in.bad()) {
            error e;
            e.what = error::kind::refused;
            e.message = path + ": cannot be read";
            throw textio::failure(std::move(e));
        }
        return parse(text.str(), path);
    });
}

std::optional<toro_parameters> toro_class(std::string_view name) {
    for (const auto& row : toro_rows) {
        if (name == row.name) {
            return row.p;
        }
    }
    return std::nullopt;
}

std::vector<std::string> toro_class_names() {
    std::vector<std::string> out;
    for (const auto& row : toro_rows) {
        out.emplace_back(row.name);
    }
    return out;
}

result<void> restack(site_model& site) {
    return textio::capture([&] {
        const auto fail = [](const std::string& what) {
            error e;
            e.what = error::kind::argument;
            e.message = "site::restack: " + what;
            throw textio::failure(std::move(e));
        };
        double top = 0.0;
        double total = 0.0; // kPa at the top of the layer
        for (std::size_t i = 0; i < site.layers.size(); ++i) {
            auto& l = site.layers[i];
            const auto it = std::find_if(site.soils.begin(), site.soils.end(),
                                         [&](const soil_type& s) { return s.name == l.soil; });
            if (it == site.soils.end()) {
                fail("layer " + std::to_string(i + 1) + ": no soil named \"" + l.soil + "\"");
            }
            l.unit_weight = it->unit_weight;
            const double mid = top + l.thickness / 2.0;
            const double pore =
                site.water_table ? unit_weight_water * std::max(0.0, mid - *site.water_table) : 0.0;
            l.top = top;
            l.sigma_v = total + l.unit_weight * l.thickness / 2.0 - pore;
            l.sigma_m = l.sigma_v * (1.0 + 2.0 * it->k0) / 3.0 / atmosphere;
            if (!(l.sigma_v > 0.0)) {
                fail("layer " + std::to_string(i + 1) + ": vertical effective stress " +
                     number_text(l.sigma_v) + " kPa is not positive");
            }
            result<curves::curve_set> c = it->fixed;
            if (it->model == curves::model::darendeli) {
                c = curves::darendeli(it->pi, it->ocr, l.sigma_m, it->frequency, it->cycles);
            } else if (it->model == curves::model::menq) {
                c = curves::menq(it->cu, it->d50, l.sigma_m, it->cycles);
            }
            if (c && it->damping_min) {
                c = curves::with_damping_min(*c, *it->damping_min);
            }
            if (!c) {
                fail("layer " + std::to_string(i + 1) + ": " + c.err().message);
            }
            l.curves = std::move(*c);
            top += l.thickness;
            total += l.unit_weight * l.thickness;
        }
    });
}

result<layer_table> to_layer_table(const site_model& site) {
    return textio::capture([&] {
        const auto fail = [](const std::string& what) {
            error e;
            e.what = error::kind::argument;
            e.message = "site::to_layer_table: " + what;
            throw textio::failure(std::move(e));
        };
        if (site.layers.empty()) {
            fail("a site without layers");
        }
        layer_table t;
        t.resize(static_cast<int>(site.layers.size()) + 1);
        for (std::size_t i = 0; i <= site.layers.size(); ++i) {
            const bool rock = i == site.layers.size();
            double q = 0.0;
            double unit_weight = 0.0;
            if (rock) {
                if (!(site.rock.damping > 0.0)) {
                    fail("the bedrock's damping is zero");
                }
                q = 1.0 / (2.0 * site.rock.damping);
                unit_weight = site.rock.unit_weight;
                t.vs[i] = static_cast<float>(site.rock.vs);
                t.vp[i] = static_cast<float>(site.rock.vp);
            } else {
                const auto& l = site.layers[i];
                const double d = l.curves.small_strain_damping();
                if (!(d > 0.0) && !(l.qs && l.qp)) {
                    fail("layer " + std::to_string(i + 1) + " has no damping at small strain");
                }
                q = d > 0.0 ? 1.0 / (2.0 * d) : 0.0;
                unit_weight = l.unit_weight;
                t.vs[i] = static_cast<float>(l.vs);
                t.vp[i] = static_cast<float>(l.vp);
                t.thk[i] = static_cast<float>(l.thickness);
                t.qs[i] = static_cast<float>(l.qs.value_or(q));
                t.qp[i] = static_cast<float>(l.qp.value_or(q));
                t.fs[i] = static_cast<float>(l.fs.value_or(0.0));
                t.fp[i] = static_cast<float>(l.fp.value_or(0.0));
            }
            t.dns[i] = static_cast<float>(unit_weight / gravity);
            if (rock) {
                t.qs[i] = t.qp[i] = static_cast<float>(q);
            }
        }
        return t;
    });
}

} // namespace sitewave::site
