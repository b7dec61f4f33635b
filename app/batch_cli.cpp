#include "batch_cli.hpp"

#include "sitewave/process.hpp"

#include <CLI/CLI.hpp>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct usage_failure {
    std::string message;
};

[[noreturn]] void usage_error(const std::string& message) { throw usage_failure{message}; }

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
// line; paths relative to the list's folder; blank lines and lines starting with # skipped.
void read_list(const std::string& list, std::vector<sitewave::record_source>& out) {
    std::ifstream in(list);
    if (!in || fs::is_directory(list)) {
        usage_error("@" + list + ": cannot be read");
    }
    const fs::path base = fs::path(list).parent_path();
    const auto at = [&base](const std::string& p) {
        return fs::path(p).is_absolute() || base.empty() ? p : (base / p).string();
    };
    int lineno = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineno;
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

std::optional<sitewave::batch_options> parse(int argc, const char* const* argv, command_line& cl) {
    CLI::App app{"sitewave-batch: site response of every record on every soil profile, with tidy "
                 "result files per run and a summary.\n\nRECORD is a record file (time,H1,H2,V1), "
                 "or @LIST, a file of records (one record file, or three AT2 files separated by "
                 "commas, per line). Records given with --at2 come after the others.",
                 "sitewave-batch"};
    app.set_version_flag("--version", "sitewave-batch 0.9.0");
    sitewave::batch_options o;
    std::vector<std::string> positional, at2;
    std::string input = "profile", process = "none", band, impedance = "plain", damping, periods;
    std::optional<float> angle;
    o.jobs = sitewave::usable_cores();
    app.add_option("--soil", o.soils, "soil profile file (repeatable), as soil_dat.csv")
        ->required()
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    app.add_option("RECORD", positional, "record files, or @LIST");
    app.add_option("--at2", at2, "PEER NGA triple H1.AT2 H2.AT2 V.AT2 (repeatable)")
        ->expected(3)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    app.add_option("--input", input,
                   "incident: the wave arriving in the bedrock; outcrop: a rock-outcrop motion, "
                   "twice the incident wave; within: motion observed in the bedrock (default: "
                   "the profile's wave type)")
        ->check(CLI::IsMember({"incident", "outcrop", "within"}));
    app.add_option("--angle", angle, "angle of incidence in degrees (default: the profile's)");
    app.add_option("--process", process, "none, integrate or differentiate (default none)")
        ->check(CLI::IsMember({"none", "integrate", "differentiate"}));
    app.add_option("--band", band, "band-pass corners F1,F2,F3,F4 in Hz (default: no filter)");
    app.add_option("--impedance", impedance,
                   "plain: rho V, as the dialogue; oblique: rho V cos j (default plain)")
        ->check(CLI::IsMember({"plain", "oblique"}));
    app.add_option("--out", o.out, "output folder (default sitewave-out)");
    app.add_flag("--force", o.force, "write into a non-empty output folder");
    app.add_option("--jobs", o.jobs, "runs at once (default: the number of cores)");
    app.add_flag("--padded", o.padded, "surface.csv also over the zero padding");
    app.add_flag("--dialogue-files", o.dialogue_files,
                 "also Amp-Factors.csv, amp1.csv and wave1.csv as the dialogue writes them");
    app.add_flag("--spectra", o.spectra,
                 "response spectra: psa.csv and PSA columns in the summary");
    app.add_option("--damping", damping, "damping ratios Z[,Z...] (default 0.05)");
    app.add_option("--periods", periods, "MIN,MAX,N log-spaced periods in s (default 0.01,10,100)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
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
    o.angle = angle;
    o.nyes = process == "integrate" ? 1 : process == "differentiate" ? 2 : 0;
    o.oblique = impedance == "oblique";
    if (!band.empty()) {
        const auto v = numbers<float>(band);
        if (!v || v->size() != 4) {
            usage_error("--band: four frequencies in Hz separated by commas, e.g. 0.1,0.2,20,25");
        }
        o.band = std::array<float, 4>{(*v)[0], (*v)[1], (*v)[2], (*v)[3]};
    }
    if (!damping.empty()) {
        const auto v = numbers<double>(damping);
        if (!v) {
            usage_error("--damping: ratios separated by commas, e.g. 0.05 or 0.02,0.05");
        }
        o.damping = *v;
    }
    if (!periods.empty()) {
        const auto v = numbers<double>(periods);
        if (!v || v->size() != 3 || (*v)[2] != static_cast<double>(static_cast<int>((*v)[2]))) {
            usage_error("--periods: MIN,MAX,N, e.g. 0.01,10,100");
        }
        o.period_min = (*v)[0];
        o.period_max = (*v)[1];
        o.periods = static_cast<int>((*v)[2]);
    }
    if ((!damping.empty() || !periods.empty()) && !o.spectra) {
        usage_error("--damping and --periods go with --spectra");
    }
    for (const auto& p : positional) {
        if (!p.empty() && p[0] == '@') {
            read_list(p.substr(1), o.records);
        } else {
            o.records.push_back({p, {}});
        }
    }
    for (std::size_t k = 0; k + 2 < at2.size(); k += 3) {
        o.records.push_back({at2[k], {at2[k], at2[k + 1], at2[k + 2]}});
    }
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
