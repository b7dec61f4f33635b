#include "batch/rvt_run.hpp"

#include "batch/eql_run.hpp"
#include "batch/run.hpp"
#include "batch/shared_work.hpp"
#include "batch/tidy.hpp"
#include "sitewave/eql.hpp"
#include "sitewave/process.hpp"
#include "sitewave/propagation.hpp"
#include "textio/fatal.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <sstream>

namespace sitewave::batch {

std::string fixed(double x) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", x);
    return b;
}

const char* region_name(rvt::region r) { return r == rvt::region::cena ? "cena" : "wna"; }

namespace {

constexpr double top_frequency = 100.0; // Hz
constexpr double df = top_frequency / static_cast<double>(rvt_rows);
constexpr double pi = std::numbers::pi;

// One number of a cell, blanks around it allowed.
std::optional<double> number(std::string_view cell) {
    while (!cell.empty() && (cell.front() == ' ' || cell.front() == '\t')) {
        cell.remove_prefix(1);
    }
    while (!cell.empty() && (cell.back() == ' ' || cell.back() == '\t' || cell.back() == '\r')) {
        cell.remove_suffix(1);
    }
    double x = 0;
    const auto [end, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), x);
    if (ec != std::errc() || end != cell.data() + cell.size() || !std::isfinite(x)) {
        return std::nullopt;
    }
    return x;
}

template <class T> T checked(result<T> r, const std::string& what) {
    if (!r) {
        textio::refuse(what + ": " + r.err().message);
    }
    return std::move(*r);
}

// The input's spectrum (g·s), its duration and what the note should say.
struct input_spectrum {
    rvt::spectrum fas;
    double t_gm = 0;
    std::string note;
};

input_spectrum input_of(const batch_options& o, const rvt_input& in) {
    input_spectrum out;
    switch (in.what) {
    case rvt_input::kind::fas: {
        auto [f, a] = in.x.empty() ? read_pairs(in.file, false) : checked_pairs(in, false);
        out.fas = {std::move(f), std::move(a)};
        out.t_gm = *in.duration;
        break;
    }
    case rvt_input::kind::source: {
        auto s =
            rvt::default_source(in.region.value_or(rvt::region::wna), *in.magnitude, *in.distance);
        if (in.stress_drop) {
            s.stress_drop = *in.stress_drop;
        }
        if (in.kappa) {
            s.kappa = *in.kappa;
        }
        out.fas = checked(rvt::source_spectrum(s), in.name());
        out.t_gm = in.duration.value_or(rvt::duration(s));
        break;
    }
    case rvt_input::kind::target: {
        const auto [t, sa] = in.x.empty() ? read_pairs(in.file, true) : checked_pairs(in, true);
        out.t_gm = *in.duration;
        const auto inv =
            checked(rvt::invert(t, sa, in.damping, rvt_setting(o, in, out.t_gm)), in.file);
        out.fas = inv.fas;
        out.note = "target misfit " + fixed(inv.misfit) + " % after " + std::to_string(inv.passes) +
                   " passes";
        break;
    }
    }
    return out;
}

propagation::wave wave_of(input_motion m) {
    switch (m) {
    case input_motion::incident:
        return propagation::wave::incident;
    case input_motion::within:
        return propagation::wave::within;
    default:
        break;
    }
    return propagation::wave::outcrop;
}

// The linear transfer function (surface over input) of a profile's layer table at f > 0: each
// layer's damping 1/(2Q) with Q = q·f^e, as the linear run has it.
std::vector<double> linear_transfer(const layer_table& t, const std::vector<double>& freq,
                                    double angle, bool oblique, propagation::wave w) {
    const auto n = static_cast<std::size_t>(t.nl());
    const double sine = std::sin(angle * pi / 180.0);
    const double vs_rock = static_cast<double>(t.vs[n - 1]);
    const double p2 = sine * sine / (vs_rock * vs_rock);
    std::vector<double> out(freq.size());
    std::vector<propagation::medium> media(n);
    for (std::size_t k = 0; k < freq.size(); ++k) {
        const double f = freq[k];
        for (std::size_t i = 0; i < n; ++i) {
            const double q =
                static_cast<double>(t.qs[i]) * std::pow(f, static_cast<double>(t.fs[i]));
            const double d = 1.0 / (2.0 * q);
            if (!(d < 1.0) || !std::isfinite(d)) {
                textio::refuse("layer " + std::to_string(i + 1) + ": Qs " + fixed(q) + " at " +
                               fixed(f) + " Hz is below 0.5");
            }
            media[i] = {static_cast<double>(t.thk[i]), static_cast<double>(t.vs[i]),
                        static_cast<double>(t.dns[i]), d};
        }
        const auto col =
            checked(propagation::column::solve(media, 2.0 * pi * f, propagation::convention::kramer,
                                               p2, oblique),
                    "profile");
        out[k] = std::abs(col.transfer(col.top(n - 1), w, 0.0, propagation::wave::within));
    }
    return out;
}

void write_spectra(const rvt::spectrum& in, const std::vector<double>& surface,
                   const std::vector<double>& factor, const std::filesystem::path& dir,
                   textio::io_state& state) {
    {
        table_file f((dir / "spectra.csv").string(), state);
        f.line("frequency (Hz),input H1 (g\u00b7s),surface H1 (g\u00b7s)");
        for (std::size_t k = 0; k < in.freq.size(); ++k) {
            const double row[] = {in.freq[k], in.amp[k], surface[k]};
            f.numbers(std::span<const double>(row));
        }
        f.close();
    }
    table_file f((dir / "transfer.csv").string(), state);
    f.line("frequency (Hz),factor H1");
    for (std::size_t k = 0; k < in.freq.size(); ++k) {
        const double row[] = {in.freq[k], factor[k]};
        f.numbers(std::span<const double>(row));
    }
    f.close();
}

// The response spectrum at the periods, the peak of the motion itself at period 0.
std::vector<double> spectrum_of(const rvt::spectrum& s, const std::vector<double>& periods,
                                double damping, const rvt::peak_setting& p,
                                const std::string& what) {
    std::vector<double> positive;
    for (const double t : periods) {
        if (t > 0.0) {
            positive.push_back(t);
        }
    }
    const auto sa = checked(rvt::psa(s, positive, damping, p), what);
    const double pga = checked(rvt::peak(s, p), what);
    std::vector<double> out;
    std::size_t k = 0;
    for (const double t : periods) {
        out.push_back(t > 0.0 ? sa[k++] : pga);
    }
    return out;
}

// psa.csv with the record runs' columns, H1 filled and the others empty.
void write_psa(const batch_options& o, const rvt_data& d, const std::filesystem::path& dir,
               textio::io_state& state) {
    const auto& periods = d.periods;
    const std::size_t rows = periods.size() - 2; // the last two are the summary's
    std::vector<std::string> head{"period (s)"};
    std::vector<std::vector<std::string>> cols;
    for (std::size_t z = 0; z < o.damping.size(); ++z) {
        char pct[32];
        std::snprintf(pct, sizeof pct, " %g%%", o.damping[z] * 100.0);
        const auto& [a, b] = d.psa[z];
        const auto column = [&](const std::string& title, const std::vector<double>* v,
                                const std::vector<double>* over) {
            head.push_back(title + pct);
            std::vector<std::string> c(rows);
            for (std::size_t i = 0; v != nullptr && i < rows; ++i) {
                const double x = over == nullptr    ? (*v)[i]
                                 : (*over)[i] > 0.0 ? (*v)[i] / (*over)[i]
                                                    : 0.0;
                c[i] = num(x);
            }
            cols.push_back(std::move(c));
        };
        for (const char* side : {"input ", "surface "}) {
            const auto* v = side[0] == 'i' ? &a : &b;
            column(std::string(side) + "H1", v, nullptr);
            column(std::string(side) + "H2", nullptr, nullptr);
            column(std::string(side) + "V", nullptr, nullptr);
        }
        column("ratio H1", &b, &a);
        column("ratio H2", nullptr, nullptr);
        column("ratio V", nullptr, nullptr);
        if (o.rotd) {
            for (const char* name : {"input RotD50", "input RotD100", "surface RotD50",
                                     "surface RotD100", "ratio RotD50", "ratio RotD100"}) {
                column(name, nullptr, nullptr);
            }
        }
    }
    table_file f((dir / "psa.csv").string(), state);
    f.line(join(head));
    for (std::size_t i = 0; i < rows; ++i) {
        std::vector<std::string> cells{num(periods[i])};
        for (const auto& c : cols) {
            cells.push_back(c[i]);
        }
        f.line(join(cells));
    }
    f.close();
}

} // namespace

rvt::peak_setting rvt_setting(const batch_options& o, const rvt_input& in, double t_gm) {
    rvt::peak_setting p;
    p.t_gm = t_gm;
    p.magnitude = in.magnitude;
    p.distance = in.distance;
    p.where = in.region.value_or(rvt::region::wna);
    p.method = o.peak_factor                 ? *o.peak_factor
               : in.magnitude && in.distance ? rvt::peak_method::bt15
                                             : rvt::peak_method::vanmarcke;
    return p;
}

std::optional<std::string> rvt_input_fault(const batch_options& o, const rvt_input& in) {
    const std::string name = in.what == rvt_input::kind::source ? "--source"
                             : in.what == rvt_input::kind::fas  ? "--fas " + in.file
                                                                : "--target " + in.file;
    if (in.what == rvt_input::kind::source) {
        if (!in.magnitude || !in.distance || !in.region) {
            return name + ": needs --magnitude, --distance and --region";
        }
        if (!(*in.magnitude >= 2.0 && *in.magnitude <= 9.5)) {
            return name + ": --magnitude " + fixed(*in.magnitude) + " is not from 2 to 9.5";
        }
        if (!(*in.distance > 0.0 && *in.distance <= 2000.0)) {
            return name + ": --distance " + fixed(*in.distance) + " is not in (0, 2000] km";
        }
    } else {
        if (!in.duration) {
            return name + ": needs --duration";
        }
        if (in.stress_drop || in.kappa) {
            return name + ": --stress-drop and --kappa go with --source";
        }
    }
    if (in.duration && !(*in.duration > 0.0 && *in.duration <= 1e4)) {
        return name + ": --duration " + fixed(*in.duration) + " is not in (0, 10000] s";
    }
    if (in.stress_drop && !(*in.stress_drop > 0.0 && *in.stress_drop <= 1e4)) {
        return name + ": --stress-drop " + fixed(*in.stress_drop) + " is not in (0, 10000] bar";
    }
    if (in.kappa && !(*in.kappa >= 0.0 && *in.kappa <= 1.0)) {
        return name + ": --kappa " + fixed(*in.kappa) + " is not from 0 to 1 s";
    }
    if (!(in.damping > 0.0 && in.damping < 1.0)) {
        return name + ": --target-damping " + fixed(in.damping) + " is not in (0, 1)";
    }
    const auto method = rvt_setting(o, in, 1.0).method;
    if ((method == rvt::peak_method::bt12 || method == rvt::peak_method::bt15) &&
        !(in.magnitude && in.distance && in.region)) {
        return name + ": --peak-factor " +
               std::string(method == rvt::peak_method::bt12 ? "bt12" : "bt15") +
               " needs --magnitude, --distance and --region";
    }
    if (in.magnitude && !(*in.magnitude >= 2.0 && *in.magnitude <= 9.5)) {
        return name + ": --magnitude " + fixed(*in.magnitude) + " is not from 2 to 9.5";
    }
    if (in.distance && !(*in.distance > 0.0 && *in.distance <= 2000.0)) {
        return name + ": --distance " + fixed(*in.distance) + " is not in (0, 2000] km";
    }
    return std::nullopt;
}

// Two or more rows, sorted by their first value, none repeated.
std::pair<std::vector<double>, std::vector<double>>
sorted_pairs(std::vector<std::pair<double, double>> rows, const std::string& name) {
    if (rows.size() < 2) {
        textio::refuse(name + ": two or more rows are needed");
    }
    std::sort(rows.begin(), rows.end());
    std::pair<std::vector<double>, std::vector<double>> out;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0 && rows[i].first == rows[i - 1].first) {
            textio::refuse(name + ": " + num(rows[i].first) + " is given twice");
        }
        out.first.push_back(rows[i].first);
        out.second.push_back(rows[i].second);
    }
    return out;
}

std::pair<std::vector<double>, std::vector<double>> checked_pairs(const rvt_input& in,
                                                                  bool positive) {
    const std::string name = in.file.empty() ? std::string("(values)") : in.file;
    if (in.x.size() != in.y.size()) {
        textio::refuse(name + ": " + std::to_string(in.x.size()) + " abscissae and " +
                       std::to_string(in.y.size()) + " values");
    }
    std::vector<std::pair<double, double>> rows;
    for (std::size_t i = 0; i < in.x.size(); ++i) {
        const double a = in.x[i], b = in.y[i];
        if (!(std::isfinite(a) && a > 0.0) || !std::isfinite(b) ||
            !(positive ? b > 0.0 : b >= 0.0)) {
            textio::refuse(name + ": row " + std::to_string(i + 1) + ": " + num(a) + "," + num(b) +
                           (positive ? ": both must be positive and finite"
                                     : ": the first must be positive, the second not negative"));
        }
        rows.emplace_back(a, b);
    }
    return sorted_pairs(std::move(rows), name);
}

std::pair<std::vector<double>, std::vector<double>> read_pairs(const std::string& path,
                                                               bool positive) {
    if (const auto what = not_an_input_file(path)) {
        textio::refuse(path + ": " + *what + ", not a regular file or a pipe");
    }
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        textio::refuse(path + ": cannot be read");
    }
    std::vector<std::pair<double, double>> rows;
    std::string line;
    int n = 0;
    while (std::getline(f, line)) {
        ++n;
        if (n == 1 || line.find_first_not_of(" \t\r") == std::string::npos) {
            continue; // the title, and blank lines
        }
        const auto comma = line.find(',');
        const auto a = comma == std::string::npos ? std::nullopt
                                                  : number(std::string_view(line).substr(0, comma));
        const auto b = comma == std::string::npos
                           ? std::nullopt
                           : number(std::string_view(line).substr(comma + 1));
        if (!a || !b) {
            textio::refuse(path + ":" + std::to_string(n) +
                           ": a row is two numbers, e.g. 1.5,0.02");
        }
        if (!(*a > 0.0) || !(positive ? *b > 0.0 : *b >= 0.0)) {
            textio::refuse(path + ":" + std::to_string(n) + ": " + num(*a) + "," + num(*b) +
                           (positive ? ": both must be positive"
                                     : ": the first must be positive, the second not negative"));
        }
        rows.emplace_back(*a, *b);
        if (rows.size() > 1'000'000) {
            textio::refuse(path + ": more than 1000000 rows");
        }
    }
    if (f.bad()) {
        textio::refuse(path + ": cannot be read");
    }
    return sorted_pairs(std::move(rows), path);
}

rvt_data compute_rvt_data(const batch_options& o, const profile& prof,
                          const std::optional<site::site_model>& site, const rvt_input& in) {
    if (const auto fault = rvt_input_fault(o, in)) {
        textio::refuse(*fault);
    }
    rvt_data d;
    const input_spectrum is = input_of(o, in);
    d.note = is.note;
    d.t_gm = is.t_gm;
    d.setting = rvt_setting(o, in, is.t_gm);
    d.input = o.input;
    if (d.input == input_motion::from_profile) {
        d.input = prof.nin == 2 ? input_motion::within : input_motion::incident;
    }
    d.angle = o.angle ? static_cast<double>(*o.angle) : static_cast<double>(prof.angle);
    // The input on the run's frequencies, 0 outside its own range.
    for (std::size_t k = 1; k <= rvt_rows; ++k) {
        d.fas.freq.push_back(static_cast<double>(k) * df);
        d.fas.amp.push_back(rvt::loglog(is.fas.freq, is.fas.amp, d.fas.freq.back(), true));
    }
    if (o.analysis == batch_options::method::eql && site) {
        eql::input ei;
        ei.spectrum.assign(rvt_rows + 1, eql::complex(0.0));
        for (std::size_t k = 1; k <= rvt_rows; ++k) {
            ei.spectrum[k] = d.fas.amp[k - 1] * standard_gravity;
        }
        ei.dom = 2.0 * pi * df;
        ei.dt = 1.0 / (2.0 * top_frequency);
        ei.nt = 1;
        eql::options eo = o.eql;
        eo.angle = d.angle;
        eo.oblique = o.oblique;
        eo.rvt = d.setting;
        d.eq.emplace();
        d.eq->runs[0] = checked(eql::run(*site, ei, eql_kind_of(d.input), eo), "H1");
        d.eq->input[0] = ei.spectrum;
        for (std::size_t i = 1; i <= rvt_rows; ++i) {
            d.factor.push_back(std::abs(d.eq->runs[0].transfer[i]));
        }
        if (!d.eq->runs[0].converged) {
            const std::string what =
                "H1 not converged after " + std::to_string(d.eq->runs[0].passes.size()) + " passes";
            if (o.eql_strict) {
                textio::refuse(what + " (--strict)");
            }
            d.note = d.note.empty() ? what : d.note + "; " + what;
        }
    } else {
        d.factor = linear_transfer(prof.layers, d.fas.freq, d.angle, o.oblique, wave_of(d.input));
    }
    d.surface = d.fas.amp;
    for (std::size_t k = 0; k < rvt_rows; ++k) {
        d.surface[k] *= d.factor[k];
    }
    const rvt::spectrum surface{d.fas.freq, d.surface};
    d.peak_input = checked(rvt::peak(d.fas, d.setting), "input");
    d.peak_surface = checked(rvt::peak(surface, d.setting), "surface");
    d.best = static_cast<std::size_t>(std::max_element(d.factor.begin(), d.factor.end()) -
                                      d.factor.begin());
    d.periods = psa_periods(o);
    for (const double z : o.damping) {
        d.psa.push_back({spectrum_of(d.fas, d.periods, z, d.setting, "input PSA"),
                         spectrum_of(surface, d.periods, z, d.setting, "surface PSA")});
    }
    return d;
}

std::vector<std::string> rvt_values(const batch_options& o, const rvt_data& d) {
    std::vector<std::string> values = {input_name(d.input),
                                       num(d.angle),
                                       "none",
                                       "",
                                       "",
                                       "",
                                       num(d.peak_input),
                                       "",
                                       "",
                                       num(d.peak_surface),
                                       "",
                                       "",
                                       num(d.fas.freq[d.best]),
                                       num(d.factor[d.best])};
    if (o.spectra) {
        // Surface H1 at 0.2 s and 1.0 s (the last two periods) and its ratios, first damping.
        const std::size_t rows = d.periods.size() - 2;
        const auto& [a0, b0] = d.psa[0];
        const auto ratio = [](double s, double i) { return i > 0.0 ? s / i : 0.0; };
        for (const std::size_t i : {rows, rows + 1}) {
            values.push_back(num(b0[i]));
            values.push_back("");
        }
        for (const std::size_t i : {rows, rows + 1}) {
            values.push_back(num(ratio(b0[i], a0[i])));
            values.push_back("");
        }
    }
    if (d.eq) {
        const auto& r = d.eq->runs[0];
        double peak = 0.0, depth = 0.0;
        for (const auto& l : r.layers) {
            if (l.strain_max > peak) {
                peak = l.strain_max;
                depth = 0.5 * (l.top + l.bottom);
            }
        }
        values.insert(values.end(),
                      {"eql", r.converged ? "yes" : "no", std::to_string(r.passes.size()),
                       num(peak), num(depth), "", "", "", ""});
    } else if (method_columns(o)) {
        const auto cells = linear_method_cells();
        values.insert(values.end(), cells.begin(), cells.end());
    }
    return values;
}

std::vector<std::string> compute_rvt(const batch_options& o, const profile& prof,
                                     const std::optional<site::site_model>& site,
                                     const rvt_input& in, const std::filesystem::path& dir,
                                     textio::io_state& state, std::string& note) {
    const rvt_data d = compute_rvt_data(o, prof, site, in);
    if (!d.note.empty()) {
        note = note.empty() ? d.note : note + "; " + d.note;
    }
    write_spectra(d.fas, d.surface, d.factor, dir, state);
    write_psa(o, d, dir, state);
    if (d.eq) {
        write_eql_files(o, *d.eq, {}, {}, dir, state);
    }
    return rvt_values(o, d);
}

} // namespace sitewave::batch

namespace sitewave {

std::string rvt_input::name() const {
    if (what != kind::source) {
        return file;
    }
    return "source-M" + batch::fixed(magnitude.value_or(0)) + "-R" +
           batch::fixed(distance.value_or(0)) + "-" +
           batch::region_name(region.value_or(rvt::region::wna));
}

} // namespace sitewave
