// Suites of runs: every record on every profile, on several threads, each run into its own
// folder of tidy CSV files, and one summary. The plan names the folders, the shared work is
// made once per record and per profile, each run writes its folder, the summary closes.
#include "sitewave/batch.hpp"

#include "batch/plan.hpp"
#include "batch/run.hpp"
#include "batch/run_record.hpp"
#include "batch/rvt_run.hpp"
#include "batch/shared_work.hpp"
#include "batch/statistics.hpp"
#include "batch/summary.hpp"
#include "batch/variation_suite.hpp"
#include "sitewave/process.hpp"
#include "textio/fatal.hpp"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <thread>

namespace sitewave {

namespace {

using batch::num;

using batch::usage;

// A profile is read from a regular file or a pipe, once; a site file (.toml) also gives its model
// to `sites` (an empty entry for a soil file).
std::vector<profile> read_profiles(const batch_options& o,
                                   std::vector<std::optional<site::site_model>>* sites = nullptr) {
    std::vector<profile> out;
    for (const auto& s : o.soils) {
        if (not_an_input_file(s)) {
            usage("--soil " + s + ": not a regular file or a pipe");
        }
        if (is_site_file(s)) {
            auto m = site::read_site(s);
            if (!m) {
                usage("--soil " + batch::reason(m.err()));
            }
            out.push_back(batch::profile_of_site(s, *m));
            if (sites != nullptr) {
                sites->push_back(std::move(*m));
            }
            continue;
        }
        if (o.analysis == batch_options::method::eql) {
            usage("--method eql: " + s + " is not a site file (.toml)");
        }
        if (sites != nullptr) {
            sites->emplace_back();
        }
        auto p = read_profile(s);
        if (!p) {
            usage("--soil " + batch::reason(p.err()));
        }
        out.push_back(std::move(*p));
    }
    return out;
}

void check_options(const batch_options& o) {
    if (o.soils.empty()) {
        usage("--soil: at least one profile is needed");
    }
    if (o.records.empty()) {
        usage("no record given (RECORD, --at2 or @LIST)");
    }
    for (const auto& rs : o.records) {
        if (rs.file.empty() || (rs.is_at2() && (rs.at2[1].empty() || rs.at2[2].empty()))) {
            usage("a record's file name is empty");
        }
    }
    for (const auto& s : o.soils) {
        if (s.empty()) {
            usage("--soil: a profile's file name is empty");
        }
    }
    if (o.band) {
        const auto& b = *o.band;
        for (std::size_t k = 0; k < 4; ++k) {
            if (!std::isfinite(b[k]) || b[k] < 0.0f) {
                usage("--band: corner " + num(b[k]) + " is not a finite, non-negative frequency");
            }
            if (k > 0 && b[k] < b[k - 1]) {
                usage("--band: the corners are not in non-decreasing order");
            }
        }
    }
    if (o.angle && !std::isfinite(*o.angle)) {
        usage("--angle: not a finite angle");
    }
    if (o.jobs < 1 || o.jobs > max_jobs) {
        usage("--jobs: from 1 to " + std::to_string(max_jobs));
    }
    if (o.nyes < 0 || o.nyes > 2) {
        usage("--process: none, integrate or differentiate");
    }
    if (o.smooth_ko && !(*o.smooth_ko >= min_smooth_ko && *o.smooth_ko <= max_smooth_ko)) {
        usage("--smooth: the bandwidth " + num(*o.smooth_ko) + " is not from 1 to 10000");
    }
    if (o.spectra) {
        if (o.nyes != 0) {
            usage("--spectra needs --process none (response spectra are of accelerations)");
        }
        for (const double z : o.damping) {
            if (!(z >= 0.0 && z < 1.0)) {
                usage("--damping: " + num(z) + " is not a ratio in [0, 1)");
            }
        }
        if (o.damping.empty()) {
            usage("--damping: at least one ratio");
        }
        if (!(o.period_min >= min_period) || !(o.period_max >= o.period_min) ||
            !(o.period_max <= max_period) || o.periods < 1 || o.periods > max_periods) {
            usage("--periods: MIN,MAX,N with 0.0001 <= MIN <= MAX <= 10000 s and N from 1 to " +
                  std::to_string(max_periods));
        }
        if (o.period_list.size() > static_cast<std::size_t>(max_periods)) {
            usage("--periods: " + std::to_string(o.period_list.size()) + " periods, more than " +
                  std::to_string(max_periods));
        }
        for (const double t : o.period_list) {
            if (!(t >= min_period && t <= max_period)) {
                usage("--periods: " + num(t) + " is not a period from 0.0001 to 10000 s");
            }
        }
    }
    if (o.rotd && !o.spectra) {
        usage("--rotd goes with --spectra");
    }
    if (o.pad == padding::fixed && !(o.pad_seconds >= 0.0 && o.pad_seconds <= max_pad_seconds)) {
        usage("--pad: " + num(o.pad_seconds) + " is not a time from 0 to 1000000 s");
    }
    if (o.units != record_unit::g && o.units != record_unit::m_s2 &&
        o.units != record_unit::cm_s2 && o.units != record_unit::ft_s2) {
        usage("--units: g, m/s2, cm/s2 or ft/s2");
    }
    const bool sites = std::any_of(o.soils.begin(), o.soils.end(), is_site_file);
    if (sites && o.input == input_motion::from_profile) {
        usage("--input: a site file (.toml) needs incident, outcrop or within");
    }
    const auto& e = o.eql;
    if (!(e.strain_ratio > 0.0 && e.strain_ratio <= 1.0)) {
        usage("--strain-ratio: " + num(e.strain_ratio) + " is not in (0, 1]");
    }
    if (!(e.tolerance >= 0.0 && e.tolerance <= 100.0)) {
        usage("--tolerance: " + num(e.tolerance) + " is not a percentage from 0 to 100");
    }
    if (e.max_iterations < 1 || e.max_iterations > 1000) {
        usage("--max-iterations: " + std::to_string(e.max_iterations) + " is not from 1 to 1000");
    }
    if (!(e.sublayer_fmax >= 0.0 && e.sublayer_fmax <= 1000.0)) {
        usage("--sublayer-frequency: " + num(e.sublayer_fmax) + " is not from 0 to 1000 Hz");
    }
    for (const double z : o.eql_depths) {
        if (!(z >= 0.0 && z <= 1e5)) {
            usage("--depths: " + num(z) + " is not a depth from 0 to 100000 m");
        }
    }
    if (o.analysis == batch_options::method::eql && o.dialogue_files) {
        usage(
            "--dialogue-files: the dialogue's files hold the linear tables; not with --method eql");
    }
    for (const auto& rs : o.records) {
        if (rs.rvt) {
            if (const auto fault = batch::rvt_input_fault(o, *rs.rvt)) {
                usage(*fault);
            }
            if (!o.eql_depths.empty()) {
                usage("--depths: motions at depth are time histories; not with --fas, --source "
                      "or --target");
            }
            if (o.dialogue_files) {
                usage("--dialogue-files: not with --fas, --source or --target");
            }
        }
    }
    if (o.analysis != batch_options::method::eql && (!o.eql_depths.empty() || o.eql_strict)) {
        usage(std::string(o.eql_strict ? "--strict" : "--depths") + " goes with --method eql");
    }
}

} // namespace

namespace batch {
void check_run_options(const batch_options& o) { check_options(o); }
profile profile_of_site(const site::site_model& m) {
    auto t = site::to_layer_table(m);
    if (!t) {
        throw textio::failure(t.err());
    }
    profile p;
    p.layers = std::move(*t);
    p.nl = p.layers.nl();
    p.angle = static_cast<float>(m.angle);
    p.theta = p.angle * 0.017453292f;
    p.nin = 1;
    return p;
}
profile profile_of_site(const std::string& path, const site::site_model& m) {
    auto p = textio::capture([&] { return profile_of_site(m); });
    if (!p) {
        usage("--soil " + path + ": " + batch::reason(p.err()));
    }
    return std::move(*p);
}
} // namespace batch

namespace {

class suite {
  public:
    explicit suite(const batch_options& o) : o_(o) {}

    batch_result run(const std::function<void(int, int)>& done) {
        check_options(o_);
        profiles_ = read_profiles(o_, &sites_);
        if (batch::is_variation_suite(o_, sites_)) {
            return batch::run_variation_suite(o_, profiles_, sites_, done);
        }
        plan_ = batch::make_plan(o_);
        const batch::output_folder out = batch::open_output(o_, plan_);
        // The run record before any run, so that it is there even if the batch is killed.
        batch::run_record record(o_, plan_);
        if (auto w = record.write(o_); !w) {
            throw textio::failure(w.err());
        }
        // Cores left over when there are fewer runs than jobs go to the rows of the tables.
        const int row_threads =
            std::max(1, o_.jobs / std::max<int>(1, static_cast<int>(plan_.size())));
        batch::shared_work work(o_, profiles_, row_threads);
        const std::size_t np = profiles_.size();
        const std::size_t nr = o_.records.size();
        batch_result result;
        auto& rows = result.rows;
        rows.resize(plan_.size());
        std::vector<char> made(plan_.size(), 0);
        // Record by record, every profile in turn: what the runs of a record share is then
        // prepared once and released soon after. The rows stay in the plan's order.
        batch::share_out(
            o_.jobs, plan_.size(), o_.stop,
            [&](std::size_t k) {
                const std::size_t i = (k % np) * nr + k / np;
                rows[i] = batch::run_one(o_, profiles_, sites_, work, out.path(), plan_[i], i);
                made[i] = 1;
                work.run_done(plan_[i].record);
            },
            done);
        for (std::size_t i = 0; i < plan_.size(); ++i) {
            if (made[i] == 0) {
                auto& r = rows[i];
                const auto& e = plan_[i];
                r.profile = o_.soils[e.profile];
                r.record = batch::record_paths(o_.records[e.record]);
                r.rvt = o_.records[e.record].rvt.has_value();
                r.folder = e.folder();
                r.interrupted = true;
                r.note = "interrupted";
            }
        }
        if (auto w = batch::write_summary(o_, rows); !w) {
            result.summary_error = w.err();
        }
        if (o_.spectra) {
            if (auto w = batch::write_statistics(o_, plan_, rows); !w) {
                result.statistics_error = w.err();
            }
        }
        record.finish(result);
        if (auto w = record.write(o_); !w) {
            result.record_error = w.err();
        }
        return result;
    }

  private:
    const batch_options& o_;
    std::vector<profile> profiles_;
    std::vector<std::optional<site::site_model>> sites_;
    std::vector<batch::plan_entry> plan_;
};

} // namespace

bool is_site_file(const std::string& path) {
    return path.size() > 5 && path.compare(path.size() - 5, 5, ".toml") == 0;
}

double metres_per_s2(record_unit u) {
    switch (u) {
    case record_unit::g:
        return 9.80665;
    case record_unit::cm_s2:
        return 0.01;
    case record_unit::ft_s2:
        return 0.3048;
    case record_unit::m_s2:
        break;
    }
    return 1.0;
}

result<void> prepare_batch(const batch_options& o) {
    return textio::capture([&] {
        check_options(o);
        std::vector<std::optional<site::site_model>> sites;
        read_profiles(o, &sites);
        if (batch::is_variation_suite(o, sites)) {
            // A suite with realizations writes no run folder but with --keep all; a shard
            // writes into DIR/shards/K, beside the other shards.
            batch::check_suite(o, sites);
            batch_options shard = o;
            if (o.shards > 0) {
                shard.out =
                    (std::filesystem::path(o.out) / "shards" / std::to_string(o.shard)).string();
            }
            batch::check_output(shard, {});
            return;
        }
        batch::check_output(o, batch::make_plan(o));
    });
}

result<batch_result> run_batch(const batch_options& o, const std::function<void(int, int)>& done) {
    suite b(o);
    return textio::capture([&] { return b.run(done); });
}

result<void> merge_shards(const std::string& dir) {
    return textio::capture([&] { batch::merge(dir); });
}

std::string summary_csv(const batch_options& o, const std::vector<run_summary>& rows) {
    return batch::summary_csv(o, rows);
}

} // namespace sitewave
