#include "batch_cli.hpp"

#include "sitewave/process.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct usage_failure {
    std::string message;
};

[[noreturn]] void usage_error(const std::string& message) { throw usage_failure{message}; }

// The ranges of the options that size the work or enter the arithmetic: the periods of the
// response spectra stay where their log-spacing is finite and the oscillators are computable,
// their count bounds the memory a run takes.
constexpr double shortest_period = 1e-4; // s
constexpr double longest_period = 1e4;   // s
constexpr double most_periods = 10000;
constexpr long long most_jobs = 1024;

// What the options checked here take, for their usage errors.
constexpr std::pair<std::string_view, std::string_view> wanted[] = {
    {"--angle", "a finite angle in degrees, e.g. 30"},
    {"--jobs", "a whole number of runs at once from 1 to 1024"},
    {"--band", "four finite frequencies in Hz separated by commas, e.g. 0.1,0.2,20,25"},
    {"--damping", "ratios in [0, 1) separated by commas, e.g. 0.05 or 0.02,0.05"},
    {"--periods", "MIN,MAX,N with 0.0001 <= MIN <= MAX <= 10000 (s) and N a whole number of "
                  "periods from 1 to 10000, e.g. 0.01,10,100; or list:T1,T2,... or @FILE, at "
                  "most 10000 periods each from 0.0001 to 10000 s"},
    {"--pad", "auto, none, or a time in seconds from 0 to 1000000, e.g. 60"},
    {"--smooth", "ko, or ko:B with the bandwidth B from 1 to 10000, e.g. ko:40"},
    {"--strain-ratio", "a ratio in (0, 1], e.g. 0.65"},
    {"--strain-magnitude", "a magnitude from 2 to 11, e.g. 7.5 (ratio (M - 1)/10)"},
    {"--tolerance", "a percentage from 0 to 100, e.g. 1"},
    {"--max-iterations", "a whole number of passes from 1 to 1000, e.g. 15"},
    {"--sublayer-frequency", "a frequency in Hz from 0 (no sublayers) to 1000, e.g. 20"},
    {"--depths", "depths in m from 0 to 100000 separated by commas, e.g. 0,5,22"},
    {"--shard", "K/N, shard K (from 0) of N shards, N from 1 to 100000, e.g. 0/4"},
    {"--realization", "a whole number from 0, e.g. 17"},
};

// The usage error of an option checked here: its value (none when empty) and what it takes.
[[noreturn]] void bad_value(std::string_view option, const std::string& value) {
    std::string message(option);
    message += value.empty() ? ": no value" : ": \"" + value + "\" is not valid";
    for (const auto& [name, wants] : wanted) {
        if (name == option) {
            message.append("; ").append(wants);
        }
    }
    usage_error(message);
}

// "a,b,c" as numbers; none when a part is not a number.
template <class T> std::optional<std::vector<T>> numbers(const std::string& text) {
    std::vector<T> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string part =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        T v{};
        const char* b = part.data() + (!part.empty() && part[0] == '+' ? 1 : 0);
        const auto r = std::from_chars(b, part.data() + part.size(), v);
        if (part.empty() || r.ec != std::errc() || r.ptr != part.data() + part.size()) {
            return std::nullopt;
        }
        out.push_back(v);
        if (comma == std::string::npos) {
            return out;
        }
        start = comma + 1;
    }
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    return b == std::string::npos ? std::string()
                                  : s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// The records of an @LIST file: one record file, or three AT2 files separated by commas, per
// line; paths relative to the list's folder; blank lines skipped, and comment lines: # as the
// first character after leading blanks (a # further on is part of a file name). A UTF-8 byte
// order mark at the start of the file is skipped.
void read_list(const std::string& list, std::vector<sitewave::record_source>& out) {
    // A regular file or a pipe (@<(...)); a folder or a device is no list.
    if (sitewave::not_an_input_file(list)) {
        usage_error("@" + list + ": not a regular file or a pipe");
    }
    std::ifstream in(list);
    if (!in) {
        usage_error("@" + list + ": cannot be read");
    }
    const fs::path base = fs::path(list).parent_path();
    const auto at = [&base](const std::string& p) {
        return fs::path(p).is_absolute() || base.empty() ? p : (base / p).string();
    };
    int lineno = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineno;
        if (lineno == 1 && line.starts_with("\xEF\xBB\xBF")) {
            line.erase(0, 3);
        }
        line = trim(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> parts;
        std::size_t start = 0;
        for (std::size_t c; (c = line.find(',', start)) != std::string::npos; start = c + 1) {
            parts.push_back(trim(line.substr(start, c - start)));
        }
        parts.push_back(trim(line.substr(start)));
        sitewave::record_source rs;
        if (parts.size() == 1) {
            rs.file = at(parts[0]);
        } else if (parts.size() == 3 && !parts[0].empty() && !parts[1].empty() &&
                   !parts[2].empty()) {
            rs.at2 = {at(parts[0]), at(parts[1]), at(parts[2])};
            rs.file = rs.at2[0];
        } else {
            usage_error("@" + list + ": line " + std::to_string(lineno) +
                        ": one record file or three AT2 files separated by commas");
        }
        out.push_back(rs);
    }
}

// The periods of --periods list:T1,T2,... or @FILE (one a line; blank lines and lines whose
// first character after blanks is # skipped); each from 0.0001 to 10000 s, at most 10 000.
std::vector<double> period_list(const std::string& value) {
    std::vector<double> out;
    const auto take = [&out](const std::string& text, const std::string& where) {
        const auto v = numbers<double>(text);
        if (!v || v->size() != 1 || !((*v)[0] >= shortest_period && (*v)[0] <= longest_period)) {
            usage_error("--periods: " + where + "\"" + text +
                        "\" is not a period from 0.0001 to 10000 s");
        }
        if (out.size() == static_cast<std::size_t>(most_periods)) {
            usage_error("--periods: more than 10000 periods");
        }
        out.push_back((*v)[0]);
    };
    if (value.starts_with("list:")) {
        const std::string list = value.substr(5);
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = list.find(',', start);
            take(trim(list.substr(start, comma == std::string::npos ? comma : comma - start)), "");
            if (comma == std::string::npos) {
                break;
            }
            start = comma + 1;
        }
        return out;
    }
    const std::string file = value.substr(1);
    if (sitewave::not_an_input_file(file)) {
        usage_error("--periods: " + value + ": not a regular file or a pipe");
    }
    std::ifstream in(file);
    if (!in) {
        usage_error("--periods: " + value + ": cannot be read");
    }
    int lineno = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineno;
        line = trim(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        take(line, value + ": line " + std::to_string(lineno) + ": ");
    }
    if (out.empty()) {
        usage_error("--periods: " + value + ": no period");
    }
    return out;
}

// An --at2 without its three files.
[[noreturn]] void at2_short(const std::vector<std::string>& files) {
    std::string given;
    for (const auto& f : files) {
        given += " " + f;
    }
    usage_error("--at2: three files H1 H2 V after each --at2, " +
                (files.empty() ? std::string("none") : std::to_string(files.size())) + " given" +
                (files.empty() ? "" : ":" + given));
}

// The inputs of random vibration theory, taken out of the command line before the rest is
// parsed: each --fas FILE, --target FILE or --source starts an input, and the --duration,
// --magnitude, --distance, --region, --stress-drop, --kappa and --target-damping that follow it
// (before the next) are its own. What is left of the command line is returned.
constexpr std::string_view rvt_starts[] = {"--fas", "--target", "--source"};
constexpr std::string_view rvt_settings[] = {"--duration",      "--magnitude",   "--distance",
                                             "--region",        "--stress-drop", "--kappa",
                                             "--target-damping"};

std::vector<std::string> take_rvt_inputs(int argc, const char* const* argv,
                                         std::vector<sitewave::record_source>& out) {
    std::vector<std::string> rest;
    sitewave::rvt_input current;
    bool open = false; // an input has started
    std::vector<std::string_view> seen;
    const auto finish = [&] {
        if (open) {
            out.push_back({current.name(), {}, current});
            current = {};
            open = false;
        }
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            rest.insert(rest.end(), argv + i, argv + argc);
            break;
        }
        const auto eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const auto is = [&](const auto& list) {
            return std::find(std::begin(list), std::end(list), name) != std::end(list);
        };
        if (!is(rvt_starts) && !is(rvt_settings)) {
            rest.push_back(arg);
            continue;
        }
        std::string value;
        if (name == "--source") {
            if (eq != std::string::npos) {
                usage_error("--source takes no value; give --magnitude, --distance and --region");
            }
        } else if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            bad_value(name, "");
        }
        if (is(rvt_starts)) {
            finish();
            open = true;
            seen.clear();
            current.what = name == "--fas"      ? sitewave::rvt_input::kind::fas
                           : name == "--target" ? sitewave::rvt_input::kind::target
                                                : sitewave::rvt_input::kind::source;
            if (name != "--source") {
                if (value.empty()) {
                    bad_value(name, value);
                }
                current.file = value;
            }
            continue;
        }
        if (!open) {
            usage_error(name + " goes after --fas, --target or --source");
        }
        const auto where = std::find(std::begin(rvt_settings), std::end(rvt_settings), name);
        if (std::find(seen.begin(), seen.end(), *where) != seen.end()) {
            usage_error(name + " is given twice for one input");
        }
        seen.push_back(*where);
        if (name == "--region") {
            if (value != "wna" && value != "cena") {
                bad_value(name, value);
            }
            current.region =
                value == "cena" ? sitewave::rvt::region::cena : sitewave::rvt::region::wna;
            continue;
        }
        const auto v = numbers<double>(value);
        if (!v || v->size() != 1) {
            bad_value(name, value);
        }
        const double x = (*v)[0];
        if (name == "--duration") {
            current.duration = x;
        } else if (name == "--magnitude") {
            current.magnitude = x;
        } else if (name == "--distance") {
            current.distance = x;
        } else if (name == "--stress-drop") {
            current.stress_drop = x;
        } else if (name == "--kappa") {
            current.kappa = x;
        } else {
            current.damping = x;
        }
    }
    finish();
    return rest;
}

std::optional<sitewave::batch_options> parse(int argc, const char* const* argv, command_line& cl) {
    CLI::App app{"sitewave-batch: site response of every record on every soil profile, with tidy "
                 "result files per run and a summary.\n\nRECORD is a record file (time,H1,H2,V1), "
                 "or @LIST, a file of records (one record file, or three AT2 files separated by "
                 "commas, per line; paths relative to the list; blank lines are skipped, and so "
                 "are comments: lines whose first character after leading blanks is #, a # "
                 "further on being part of a file name). Records given with --at2 come after "
                 "the others.",
                 "sitewave-batch"};
    app.set_version_flag("--version", "sitewave-batch 0.9.0");
    sitewave::batch_options o;
    std::vector<std::string> positional, at2;
    std::string input = "profile", process = "none", band, impedance = "plain", damping, periods;
    std::string angle, jobs, units = "g", pad = "auto";
    o.jobs = sitewave::usable_cores();
    app.add_option("--soil", o.soils, "soil profile file (repeatable), as soil_dat.csv")
        ->required()
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    app.add_option("RECORD", positional, "record files, or @LIST");
    // Each --at2 takes the three files that follow it, up to the next option: fewer is a usage
    // error, not a triple made up with the files of the next --at2.
    app.add_option(
           "--at2",
           [&at2](const CLI::results_t& files) {
               if (files.size() != 3) {
                   at2_short(files);
               }
               at2.insert(at2.end(), files.begin(), files.end());
               return true;
           },
           "PEER NGA triple H1.AT2 H2.AT2 V.AT2, three files after each --at2 (repeatable)")
        ->type_name("TEXT")
        ->expected(3)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->trigger_on_parse()
        ->allow_extra_args(false);
    app.add_option("--input", input,
                   "incident: the wave arriving in the bedrock; outcrop: a rock-outcrop motion, "
                   "twice the incident wave; within: motion observed in the bedrock (default: "
                   "the profile's wave type)")
        ->check(CLI::IsMember({"incident", "outcrop", "within"}));
    app.add_option("--angle", angle, "angle of incidence in degrees (default: the profile's)")
        ->type_name("FLOAT");
    app.add_option("--process", process, "none, integrate or differentiate (default none)")
        ->check(CLI::IsMember({"none", "integrate", "differentiate"}));
    app.add_option("--band", band, "band-pass corners F1,F2,F3,F4 in Hz (default: no filter)");
    app.add_option("--impedance", impedance,
                   "plain: rho V, as the dialogue; oblique: rho V cos j (default plain)")
        ->check(CLI::IsMember({"plain", "oblique"}));
    app.add_option("--out", o.out, "output folder (default sitewave-out)");
    app.add_flag("--force", o.force, "write into a non-empty output folder");
    app.add_option("--jobs", jobs, "runs at once, 1 to 1024 (default: the number of cores)")
        ->type_name("INT");
    app.add_flag("--padded", o.padded, "surface.csv also over the zero padding");
    app.add_flag("--dialogue-files", o.dialogue_files,
                 "also Amp-Factors.csv, amp1.csv and wave1.csv as the dialogue writes them");
    app.add_flag("--spectra", o.spectra,
                 "response spectra: psa.csv and PSA columns in the summary");
    app.add_option("--damping", damping, "damping ratios Z[,Z...], each in [0, 1) (default 0.05)");
    app.add_option("--periods", periods,
                   "MIN,MAX,N: N log-spaced periods from MIN to MAX s, 0.0001 <= MIN <= MAX <= "
                   "10000, at most 10 000 periods (default 0.01,10,100); or list:T1,T2,... or "
                   "@FILE, one period a line");
    // Response spectra of the rotated horizontals, units of the record, padding.
    app.add_flag("--rotd", o.rotd, "RotD50 and RotD100 of the horizontals in psa.csv");
    app.add_option("--units", units, "unit of the records: g, m/s2, cm/s2 or ft/s2 (default g)")
        ->check(CLI::IsMember({"g", "m/s2", "cm/s2", "ft/s2"}));
    app.add_option("--pad", pad,
                   "zero padding after the record: auto (until the site's response has died "
                   "away), none (the dialogue's), or SECONDS (default auto)");
    // Smoothed spectra: Konno-Ohmachi, bandwidth 40 unless given.
    std::string smooth;
    app.add_option("--smooth", smooth,
                   "ko or ko:B: spectra.csv and transfer.csv also smoothed (Konno-Ohmachi, "
                   "bandwidth B from 1 to 10000, default 40)")
        ->type_name("ko[:B]");
    // The equivalent-linear run.
    std::string method = "linear", strain_ratio, magnitude, tolerance, iterations, modulus,
                sublayer, depths, vertical;
    app.add_option("--method", method,
                   "linear, or eql: the equivalent-linear run of H1 and H2 (every --soil a .toml "
                   "site file; default linear)")
        ->check(CLI::IsMember({"linear", "eql"}));
    app.add_option("--strain-ratio", strain_ratio,
                   "eql: effective strain / peak strain (default 0.65)");
    app.add_option("--strain-magnitude", magnitude, "eql: strain ratio (M - 1)/10 of magnitude M");
    app.add_option("--tolerance", tolerance, "eql: largest change of G and D, % (default 1)");
    app.add_option("--max-iterations", iterations, "eql: passes at most (default 15)");
    app.add_option("--complex-modulus", modulus,
                   "eql: kramer, unit-modulus or simple (default kramer)")
        ->check(CLI::IsMember({"kramer", "unit-modulus", "simple"}));
    app.add_option("--sublayer-frequency", sublayer,
                   "eql: layers thicker than 0.2 Vs/F split; 0 keeps them whole (default 20 Hz)");
    app.add_option("--depths", depths,
                   "eql: Z1,Z2,...: depth.csv with the motions within and at outcrops there (m)");
    app.add_option("--vertical", vertical,
                   "eql: linear (the vertical on the site's layers), poisson (Vs and Vp scaled by "
                   "the horizontals' final sqrt(G/Gmax)) or constrained (Vs scaled, Vp kept); "
                   "default linear")
        ->check(CLI::IsMember({"linear", "poisson", "constrained"}));
    app.add_flag("--strict", o.eql_strict, "eql: a run that has not converged fails");
    // Suites with realizations ([variation] in a site file), shards of a suite.
    std::string keep, shard, realization;
    app.add_option("--keep", keep,
                   "all (every run's folder), summary (summary rows, no folders) or statistics "
                   "(statistics.csv and profile-statistics.csv only; the default with a "
                   "[variation] table)")
        ->check(CLI::IsMember({"all", "summary", "statistics"}));
    app.add_option("--realization", realization,
                   "K: only realization K of each varied site (to reproduce one run)");
    app.add_option("--shard", shard,
                   "K/N: the records k with k % N == K, partial results into DIR/shards/K/ "
                   "(then: sitewave-batch merge DIR)");
    // Random vibration theory: taken out before parsing (take_rvt_inputs); here for --help.
    std::string unused, peak_factor;
    app.add_option("--fas", unused,
                   "rvt: a Fourier amplitude spectrum, CSV of frequency (Hz), FAS (g*s) after a "
                   "title line; with --duration S (repeatable, each input with the options "
                   "after it)");
    bool source_flag = false;
    app.add_flag("--source", source_flag,
                 "rvt: a point source: --magnitude M --distance R --region wna|cena after it "
                 "(--stress-drop BAR, --kappa S, --duration S override the region's model)");
    app.add_option("--target", unused,
                   "rvt: a target response spectrum, CSV of period (s), PSA (g) after a title "
                   "line, at --target-damping Z (default 0.05); with --duration S");
    for (const char* name : {"--duration", "--magnitude", "--distance", "--region", "--stress-drop",
                             "--kappa", "--target-damping"}) {
        app.add_option(name, unused, "rvt: of the --fas, --target or --source before it");
    }
    app.add_option("--peak-factor", peak_factor,
                   "rvt: clh, vanmarcke, bj84, bt12 or bt15 (default bt15 when the input's "
                   "magnitude and distance are known, vanmarcke otherwise)")
        ->check(CLI::IsMember({"clh", "vanmarcke", "bj84", "bt12", "bt15"}));
    std::vector<sitewave::record_source> rvt_inputs;
    auto rest = take_rvt_inputs(argc, argv, rvt_inputs);
    std::reverse(rest.begin(), rest.end()); // as CLI11 takes them
    try {
        app.parse(rest);
    } catch (const CLI::ParseError& e) {
        // An option checked here without its value: --at2 last or right before another option,
        // --jobs= and the like.
        if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
            const std::string_view what(e.what());
            const std::string_view option = what.substr(0, what.find(':'));
            if (option == "--at2") {
                at2_short({});
            }
            for (const auto& w : wanted) {
                if (w.first == option) {
                    bad_value(option, "");
                }
            }
        }
        std::ostringstream out, err;
        const int code = app.exit(e, out, err);
        cl.out = out.str();
        cl.err = err.str();
        cl.status = code == 0 ? sitewave::exit_ok : sitewave::exit_fatal;
        return std::nullopt;
    }

    if (input != "profile") {
        o.input = input == "incident"  ? sitewave::input_motion::incident
                  : input == "outcrop" ? sitewave::input_motion::outcrop
                                       : sitewave::input_motion::within;
    }
    const auto given = [&app](const char* name) { return app.count(name) > 0; };
    if (given("--angle")) {
        const auto v = numbers<float>(angle);
        if (!v || v->size() != 1 || !std::isfinite((*v)[0])) {
            bad_value("--angle", angle);
        }
        o.angle = (*v)[0];
    }
    if (given("--jobs")) {
        const auto v = numbers<long long>(jobs);
        if (!v || v->size() != 1 || (*v)[0] < 1 || (*v)[0] > most_jobs) {
            bad_value("--jobs", jobs);
        }
        o.jobs = static_cast<int>((*v)[0]);
    }
    o.nyes = process == "integrate" ? 1 : process == "differentiate" ? 2 : 0;
    o.oblique = impedance == "oblique";
    if (given("--band")) {
        const auto v = numbers<float>(band);
        if (!v || v->size() != 4 ||
            !std::all_of(v->begin(), v->end(), [](float f) { return std::isfinite(f); })) {
            bad_value("--band", band);
        }
        o.band = std::array<float, 4>{(*v)[0], (*v)[1], (*v)[2], (*v)[3]};
    }
    if (given("--damping")) {
        const auto v = numbers<double>(damping);
        if (!v || !std::all_of(v->begin(), v->end(), [](double z) { return z >= 0 && z < 1; })) {
            bad_value("--damping", damping);
        }
        o.damping = *v;
    }
    if (given("--periods") && (periods.starts_with("list:") || periods.starts_with("@"))) {
        o.period_list = period_list(periods);
    } else if (given("--periods")) {
        // Checked as doubles, before the count is made an int.
        const auto v = numbers<double>(periods);
        if (!v || v->size() != 3) {
            bad_value("--periods", periods);
        }
        const double tmin = (*v)[0], tmax = (*v)[1], n = (*v)[2];
        if (!(tmin >= shortest_period && tmin <= tmax && tmax <= longest_period) ||
            !(n >= 1 && n <= most_periods && n == std::floor(n))) {
            bad_value("--periods", periods);
        }
        o.period_min = tmin;
        o.period_max = tmax;
        o.periods = static_cast<int>(n);
    }
    if ((given("--damping") || given("--periods")) && !o.spectra) {
        usage_error("--damping and --periods go with --spectra");
    }
    o.units = units == "m/s2"    ? sitewave::record_unit::m_s2
              : units == "cm/s2" ? sitewave::record_unit::cm_s2
              : units == "ft/s2" ? sitewave::record_unit::ft_s2
                                 : sitewave::record_unit::g;
    if (given("--pad")) {
        if (pad == "none") {
            o.pad = sitewave::padding::none;
        } else if (pad != "auto") {
            const auto v = numbers<double>(pad);
            if (!v || v->size() != 1 || !((*v)[0] >= 0 && (*v)[0] <= 1e6)) {
                bad_value("--pad", pad);
            }
            o.pad = sitewave::padding::fixed;
            o.pad_seconds = (*v)[0];
        }
        if (o.dialogue_files && o.pad != sitewave::padding::none) {
            usage_error("--pad: --dialogue-files keeps the dialogue's grid, --pad none");
        }
    }
    if (o.rotd && !o.spectra) {
        usage_error("--rotd goes with --spectra");
    }
    if (given("--smooth")) {
        const auto b = smooth == "ko"              ? std::optional(std::vector<double>{40.0})
                       : smooth.starts_with("ko:") ? numbers<double>(smooth.substr(3))
                                                   : std::nullopt;
        if (!b || b->size() != 1 || !((*b)[0] >= sitewave::min_smooth_ko) ||
            !((*b)[0] <= sitewave::max_smooth_ko)) {
            bad_value("--smooth", smooth);
        }
        o.smooth_ko = (*b)[0];
    }
    const auto one_number = [](const char* option, const std::string& text, double lo, double hi) {
        const auto v = numbers<double>(text);
        if (!v || v->size() != 1 || !((*v)[0] >= lo && (*v)[0] <= hi)) {
            bad_value(option, text);
        }
        return (*v)[0];
    };
    o.analysis = method == "eql" ? sitewave::batch_options::method::eql
                                 : sitewave::batch_options::method::linear;
    if (given("--strain-ratio") && given("--strain-magnitude")) {
        usage_error("--strain-ratio and --strain-magnitude: one or the other");
    }
    if (given("--strain-ratio")) {
        o.eql.strain_ratio = one_number("--strain-ratio", strain_ratio, 1e-9, 1.0);
    }
    if (given("--strain-magnitude")) {
        o.eql.strain_ratio = sitewave::eql::strain_ratio_of_magnitude(
            one_number("--strain-magnitude", magnitude, 2.0, 11.0));
    }
    if (given("--tolerance")) {
        o.eql.tolerance = one_number("--tolerance", tolerance, 0.0, 100.0);
    }
    if (given("--max-iterations")) {
        const double n = one_number("--max-iterations", iterations, 1.0, 1000.0);
        if (n != std::floor(n)) {
            bad_value("--max-iterations", iterations);
        }
        o.eql.max_iterations = static_cast<int>(n);
    }
    if (given("--complex-modulus")) {
        o.eql.convention = modulus == "unit-modulus"
                               ? sitewave::propagation::convention::unit_modulus
                           : modulus == "simple" ? sitewave::propagation::convention::simple
                                                 : sitewave::propagation::convention::kramer;
    }
    if (given("--sublayer-frequency")) {
        o.eql.sublayer_fmax = one_number("--sublayer-frequency", sublayer, 0.0, 1000.0);
    }
    if (given("--depths")) {
        const auto v = numbers<double>(depths);
        if (!v || v->empty() ||
            !std::all_of(v->begin(), v->end(), [](double z) { return z >= 0 && z <= 1e5; })) {
            bad_value("--depths", depths);
        }
        o.eql_depths = *v;
    }
    if (given("--vertical")) {
        using mode = sitewave::batch_options::vertical_mode;
        o.eql_vertical = vertical == "poisson"       ? mode::poisson
                         : vertical == "constrained" ? mode::constrained
                                                     : mode::linear;
    }
    const bool eql_option = given("--strain-ratio") || given("--strain-magnitude") ||
                            given("--tolerance") || given("--max-iterations") ||
                            given("--complex-modulus") || given("--sublayer-frequency") ||
                            given("--depths") || given("--strict") || given("--vertical");
    if (eql_option && method != "eql") {
        usage_error("the equivalent-linear options go with --method eql");
    }
    if (given("--peak-factor")) {
        using m = sitewave::rvt::peak_method;
        o.peak_factor = peak_factor == "clh"         ? m::clh
                        : peak_factor == "vanmarcke" ? m::vanmarcke
                        : peak_factor == "bj84"      ? m::bj84
                        : peak_factor == "bt12"      ? m::bt12
                                                     : m::bt15;
        if (rvt_inputs.empty()) {
            usage_error("--peak-factor goes with --fas, --source or --target");
        }
    }
    if (given("--keep")) {
        using keep_mode = sitewave::batch_options::keep_mode;
        o.keep = keep == "all"       ? keep_mode::all
                 : keep == "summary" ? keep_mode::summary
                                     : keep_mode::statistics;
    }
    if (given("--realization")) {
        const auto v = numbers<double>(realization);
        if (!v || v->size() != 1 || !((*v)[0] >= 0 && (*v)[0] <= 1e7) ||
            (*v)[0] != std::floor((*v)[0])) {
            bad_value("--realization", realization);
        }
        o.realization = static_cast<long>((*v)[0]);
    }
    if (given("--shard")) {
        const auto slash = shard.find('/');
        const auto k = numbers<double>(shard.substr(0, slash));
        const auto n =
            slash == std::string::npos ? std::nullopt : numbers<double>(shard.substr(slash + 1));
        if (!k || !n || k->size() != 1 || n->size() != 1 || !((*n)[0] >= 1 && (*n)[0] <= 1e5) ||
            !((*k)[0] >= 0 && (*k)[0] < (*n)[0]) || (*k)[0] != std::floor((*k)[0]) ||
            (*n)[0] != std::floor((*n)[0])) {
            bad_value("--shard", shard);
        }
        o.shard = static_cast<int>((*k)[0]);
        o.shards = static_cast<int>((*n)[0]);
    }
    o.command_line.assign(argv, argv + argc);
    for (const auto& p : positional) {
        if (!p.empty() && p[0] == '@') {
            o.lists.push_back(p.substr(1));
            read_list(p.substr(1), o.records);
        } else {
            o.records.push_back({p, {}});
        }
    }
    for (std::size_t k = 0; k + 2 < at2.size(); k += 3) {
        o.records.push_back({at2[k], {at2[k], at2[k + 1], at2[k + 2]}});
    }
    o.records.insert(o.records.end(), rvt_inputs.begin(), rvt_inputs.end());
    return o;
}

} // namespace

command_line parse_command_line(int argc, const char* const* argv) {
    command_line cl;
    try {
        cl.options = parse(argc, argv, cl);
    } catch (const usage_failure& u) {
        cl.options.reset();
        cl.status = sitewave::exit_fatal;
        cl.err = "sitewave-batch: " + u.message + "\n";
    }
    return cl;
}
