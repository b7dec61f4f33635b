#include "batch/run_record.hpp"

#include "batch/run.hpp"
#include "batch/sha256.hpp"
#include "batch/tidy.hpp"
#include "textio/fatal.hpp"

#include <map>
#include <nlohmann/json.hpp>

#ifndef SITEWAVE_VERSION
#define SITEWAVE_VERSION "unknown"
#endif

namespace sitewave::batch {

namespace {

using json = nlohmann::ordered_json;

// A name as JSON: the string when it is UTF-8; otherwise {"text": the name with U+FFFD for each
// byte that is no UTF-8 character's, "bytes": the exact bytes in hexadecimal}.
json name(const std::string& s) {
    if (is_utf8(s)) {
        return s;
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string hexed;
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        hexed += digits[b >> 4];
        hexed += digits[b & 15];
    }
    return json{{"text", utf8_replaced(s)}, {"bytes", hexed}};
}

json names(const std::vector<std::string>& v) {
    json a = json::array();
    for (const auto& s : v) {
        a.push_back(name(s));
    }
    return a;
}

// A float option as the shortest decimal that reads back to it.
double decimal(float v) { return std::stod(num(v)); }

json rvt_json(const rvt_input& in) {
    const auto optional = [](const std::optional<double>& v) {
        return v ? json(*v) : json(nullptr);
    };
    json j{{"kind", in.what == rvt_input::kind::fas      ? "fas"
                    : in.what == rvt_input::kind::source ? "source"
                                                         : "target"},
           {"duration (s)", optional(in.duration)},
           {"magnitude", optional(in.magnitude)},
           {"distance (km)", optional(in.distance)},
           {"region",
            in.region ? json(*in.region == rvt::region::cena ? "cena" : "wna") : json(nullptr)}};
    if (in.what == rvt_input::kind::source) {
        j["stress drop (bar)"] = optional(in.stress_drop);
        j["kappa (s)"] = optional(in.kappa);
    } else {
        j["file"] = name(in.file);
    }
    if (in.what == rvt_input::kind::target) {
        j["damping"] = in.damping;
    }
    return j;
}

json options_json(const batch_options& o) {
    json records = json::array();
    for (const auto& rs : o.records) {
        if (rs.rvt) {
            records.push_back({{"rvt", rvt_json(*rs.rvt)}});
            continue;
        }
        records.push_back(rs.is_at2() ? json{{"at2", names({rs.at2[0], rs.at2[1], rs.at2[2]})}}
                                      : json{{"file", name(rs.file)}});
    }
    json j;
    j["soil"] = names(o.soils);
    j["records"] = records;
    j["lists"] = names(o.lists);
    j["input"] = input_name(o.input);
    j["angle"] = o.angle ? json(decimal(*o.angle)) : json(nullptr);
    j["process"] = processing_name(o);
    if (o.band) {
        json b = json::array();
        for (const float f : *o.band) {
            b.push_back(decimal(f));
        }
        j["band"] = b;
    } else {
        j["band"] = nullptr;
    }
    j["impedance"] = o.oblique ? "oblique" : "plain";
    j["out"] = name(o.out);
    j["force"] = o.force;
    j["jobs"] = o.jobs;
    j["padded"] = o.padded;
    j["dialogue files"] = o.dialogue_files;
    j["spectra"] = o.spectra;
    j["damping"] = o.damping;
    if (o.period_list.empty()) {
        j["periods"] = {{"min", o.period_min}, {"max", o.period_max}, {"n", o.periods}};
    } else {
        j["periods"] = {{"list", o.period_list}};
    }
    j["rotd"] = o.rotd;
    j["units"] = o.units == record_unit::m_s2    ? "m/s2"
                 : o.units == record_unit::cm_s2 ? "cm/s2"
                 : o.units == record_unit::ft_s2 ? "ft/s2"
                                                 : "g";
    j["pad"] = o.pad == padding::none    ? json("none")
               : o.pad == padding::fixed ? json{{"seconds", o.pad_seconds}}
                                         : json("auto");
    if (o.peak_factor) {
        const char* names_of[] = {"clh", "vanmarcke", "bj84", "bt12", "bt15"};
        j["peak factor"] = names_of[static_cast<int>(*o.peak_factor)];
    }
    j["smooth"] = o.smooth_ko ? json{{"method", "konno-ohmachi"}, {"bandwidth", *o.smooth_ko}}
                              : json(nullptr);
    if (o.analysis == batch_options::method::eql) {
        const auto& e = o.eql;
        const char* modulus = e.convention == propagation::convention::unit_modulus ? "unit-modulus"
                              : e.convention == propagation::convention::simple     ? "simple"
                                                                                    : "kramer";
        j["method"] =
            json{{"name", "eql"},
                 {"strain ratio", e.strain_ratio},
                 {"tolerance (%)", e.tolerance},
                 {"max iterations", e.max_iterations},
                 {"complex modulus", modulus},
                 {"sublayer frequency (Hz)", e.sublayer_fmax},
                 {"vertical", o.eql_vertical == batch_options::vertical_mode::poisson ? "poisson"
                              : o.eql_vertical == batch_options::vertical_mode::constrained
                                  ? "constrained"
                                  : "linear"},
                 {"depths (m)", o.eql_depths},
                 {"strict", o.eql_strict}};
    }
    // A suite with realizations: what is kept, one realization alone (only when given).
    using keep = batch_options::keep_mode;
    if (o.keep != keep::automatic || o.realization) {
        j["keep"] = o.keep == keep::all          ? "all"
                    : o.keep == keep::summary    ? "summary"
                    : o.keep == keep::statistics ? "statistics"
                                                 : "automatic";
        j["realization"] = o.realization ? json(*o.realization) : json(nullptr);
    }
    return j;
}

// An input file: its role, path, size and digest; a pipe (consumed by the batch) or a file that
// cannot be read is said so, without a digest.
json input_json(const std::string& role, const std::string& path,
                std::map<std::string, json>& seen) {
    auto it = seen.find(path);
    if (it == seen.end()) {
        json d;
        std::error_code ec;
        const auto st = fs::status(path, ec);
        if (fs::is_regular_file(st)) {
            if (const auto f = digest_file(path)) {
                d["size"] = f->size;
                d["sha256"] = f->sha256;
            } else {
                d["error"] = "cannot be read";
            }
        } else {
            d["error"] = !fs::exists(st)   ? "missing"
                         : fs::is_fifo(st) ? "a pipe, not read again"
                                           : "not a regular file";
        }
        it = seen.emplace(path, d).first;
    }
    json j{{"role", role}, {"path", name(path)}};
    j.update(it->second);
    return j;
}

} // namespace

struct run_record::state {
    json doc;
    std::vector<std::string> folders;
};

run_record::run_record(const batch_options& o, const std::vector<plan_entry>& plan)
    : s_(std::make_unique<state>()) {
    json& d = s_->doc;
    d["program"] = "sitewave-batch";
    d["version"] = SITEWAVE_VERSION;
    d["command line"] = names(o.command_line);
    d["options"] = options_json(o);
    std::map<std::string, json> seen;
    json inputs = json::array();
    for (const auto& s : o.soils) {
        inputs.push_back(input_json("profile", s, seen));
    }
    for (const auto& rs : o.records) {
        if (rs.is_at2()) {
            for (std::size_t k = 0; k < 3; ++k) {
                inputs.push_back(input_json(k == 0   ? "AT2 H1"
                                            : k == 1 ? "AT2 H2"
                                                     : "AT2 V",
                                            rs.at2[k], seen));
            }
        } else if (rs.rvt) {
            if (rs.rvt->what != rvt_input::kind::source) {
                inputs.push_back(
                    input_json(rs.rvt->what == rvt_input::kind::fas ? "FAS" : "target spectrum",
                               rs.file, seen));
            }
        } else {
            inputs.push_back(input_json("record", rs.file, seen));
        }
    }
    for (const auto& l : o.lists) {
        inputs.push_back(input_json("list", l, seen));
    }
    d["inputs"] = inputs;
    d["status"] = "running";
    json runs = json::array();
    for (const auto& e : plan) {
        runs.push_back({{"folder", name(e.folder())},
                        {"profile", name(o.soils[e.profile])},
                        {"record", name(record_paths(o.records[e.record]))}});
    }
    d["runs"] = runs;
}

run_record::~run_record() = default;

void run_record::finish(const batch_result& r) {
    json& d = s_->doc;
    int ok = 0, failed = 0, interrupted = 0;
    for (std::size_t i = 0; i < r.rows.size() && i < d["runs"].size(); ++i) {
        const auto& row = r.rows[i];
        auto& run = d["runs"][i];
        run["status"] = row.ok ? "ok" : row.interrupted ? "interrupted" : "failed";
        run["note"] = name(row.note);
        ++(row.ok ? ok : row.interrupted ? interrupted : failed);
    }
    d["status"] = interrupted > 0 ? "interrupted" : "complete";
    d["counts"] = {
        {"runs", r.rows.size()}, {"ok", ok}, {"failed", failed}, {"interrupted", interrupted}};
    const auto error_of = [](const std::optional<sitewave::error>& e) {
        return e ? name(reason(*e)) : json(nullptr);
    };
    d["errors"] = {{"summary.csv", error_of(r.summary_error)},
                   {"statistics.csv", error_of(r.statistics_error)}};
}

std::string run_record::text() const {
    return s_->doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

result<void> run_record::write(const batch_options& o) const {
    textio::io_state st;
    return textio::capture(
        [&] {
            const std::string t = text();
            table_file f((fs::path(o.out) / "run.json").string(), st);
            for (std::size_t b = 0, e; (e = t.find('\n', b)) != std::string::npos; b = e + 1) {
                f.line(t.substr(b, e - b));
            }
            f.close();
        },
        &st);
}

} // namespace sitewave::batch
