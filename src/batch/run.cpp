#include "batch/run.hpp"

#include "response/psa.hpp"
#include "steps/steps.hpp"
#include "textio/fatal.hpp"
#include "textio/pending.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace sitewave::batch {

namespace {

constexpr float deg_to_rad = 0.017453292f;

float peak_abs(std::span<const float> x) {
    float m = 0.0f;
    for (const float v : x) {
        m = std::max(m, std::fabs(v));
    }
    return m;
}

[[noreturn]] void system_failure(const std::string& what, const fs::path& p,
                                 const std::error_code& ec) {
    sitewave::error e;
    e.what = sitewave::error::kind::system;
    e.message = p.string() + ": " + what + ": " + ec.message();
    throw textio::failure(std::move(e));
}

// psa.csv, and the summary's PSA cells: surface H1, H2 at 0.2 s and 1.0 s and their ratios to
// the input, first damping.
void write_psa(const batch_options& o, const record& rec,
               const std::array<std::vector<float>, 3>& surf, std::size_t nt, const fs::path& dir,
               textio::io_state& state, std::vector<std::string>& values) {
    std::vector<double> periods{0.0};
    const auto lp = response::log_periods(o.period_min, o.period_max, o.periods);
    periods.insert(periods.end(), lp.begin(), lp.end());
    const double dt = static_cast<double>(rec.dt);
    const std::span<const float> in[3] = {rec.xr1, rec.yr1, rec.zr1};
    std::span<const float> out[3];
    for (std::size_t k = 0; k < 3; ++k) {
        out[k] = std::span<const float>(surf[k].data(), std::min(nt, surf[k].size()));
    }
    std::vector<std::vector<double>> cols;
    std::vector<std::string> head{"period (s)"};
    for (const double z : o.damping) {
        char pct[32];
        std::snprintf(pct, sizeof pct, "%g%%", z * 100.0);
        const char* names[] = {"H1", "H2", "V"};
        for (int side = 0; side < 2; ++side) {
            for (std::size_t k = 0; k < 3; ++k) {
                head.push_back(std::string(side == 0 ? "input " : "surface ") + names[k] + " PSA " +
                               pct);
                cols.push_back(response::psa(side == 0 ? in[k] : out[k], dt, periods, z));
            }
        }
        for (std::size_t k = 0; k < 2; ++k) {
            head.push_back(std::string("ratio ") + names[k] + " " + pct);
            const auto& a = cols[cols.size() - 6 + k];
            const auto& b = cols[cols.size() - 3 + k];
            std::vector<double> ratio;
            for (std::size_t i = 0; i < periods.size(); ++i) {
                ratio.push_back(a[i] > 0.0 ? b[i] / a[i] : 0.0);
            }
            cols.push_back(ratio);
        }
    }
    table_file f((dir / "psa.csv").string(), state);
    f.line(join(head));
    std::vector<double> row(1 + cols.size());
    for (std::size_t i = 0; i < periods.size(); ++i) {
        row[0] = periods[i];
        for (std::size_t k = 0; k < cols.size(); ++k) {
            row[k + 1] = cols[k][i];
        }
        f.numbers(std::span<const double>(row));
    }
    f.close();
    const double z = o.damping[0];
    for (const double T : {0.2, 1.0}) {
        for (std::size_t k = 0; k < 2; ++k) {
            values.push_back(num(response::psa_at(out[k], dt, T, z)));
        }
    }
    for (const double T : {0.2, 1.0}) {
        for (std::size_t k = 0; k < 2; ++k) {
            const double a = response::psa_at(in[k], dt, T, z);
            const double b = response::psa_at(out[k], dt, T, z);
            values.push_back(num(a > 0.0 ? b / a : 0.0)); // as in psa.csv
        }
    }
}

// The files of a run into `dir`; the summary's value cells.
std::vector<std::string> compute(const batch_options& o, const profile& prof, shared_work& work,
                                 const record& rec, const record_source& rs, const plan_entry& e,
                                 const fs::path& dir, textio::io_state& state) {
    const std::string label = "record " + rs.file;
    const record_work& w = work.work_of(e.record);
    const int nf = w.nf;
    const grid& g = w.g;
    const float angle = o.angle ? *o.angle : prof.angle;
    const float theta = o.angle ? *o.angle * deg_to_rad : prof.theta;
    input_motion input = o.input;
    if (input == input_motion::from_profile) {
        input = prof.nin == 2 ? input_motion::within : input_motion::incident;
    }

    spectra s = w.s;
    const auto nom = static_cast<std::size_t>(g.nom);
    const profile_work& pw = work.profile_of(e.profile, theta, input, nf, rec.dt);
    const tables& t = pw.t;
    steps::check_tables_finite(t, g, o.soils[e.profile]);
    const int nin = pw.nin;
    const tables* use = &pw.use();
    steps::apply_tables(s, *use, nin, g, label);
    pass_band band;
    if (o.band) {
        const auto& b = *o.band;
        band = steps::corner_band(b[0], b[1], b[2], b[3], "--band");
    }
    steps::process_or_refuse(s, g, band, o.nyes, label);

    const auto names = heads(rec);
    const auto& fh = use->samp.col[static_cast<std::size_t>(nin - 1)];
    const std::size_t best = pw.best;
    {
        table_file f((dir / "transfer.csv").string(), state);
        f.lines(pw.transfer_csv);
        f.close();
    }
    {
        // With --smooth, the input's and the surface's spectra smoothed follow.
        std::vector<std::string> head{"frequency (Hz)"};
        const char* sides[] = {"input ", "surface ", "smoothed input ", "smoothed surface "};
        for (std::size_t j = 0; j < (o.smooth_ko ? 4u : 2u); ++j) {
            for (std::size_t k = 0; k < 3; ++k) {
                head.push_back(sides[j] + names[k]);
            }
        }
        std::array<std::vector<float>, 3> sm;
        if (o.smooth_ko) {
            for (std::size_t i = 0; i < nom; ++i) {
                sm[0].push_back(cabs(s.fx1[i]));
                sm[1].push_back(cabs(s.fy1[i]));
                sm[2].push_back(cabs(s.fz1[i]));
            }
            sm = smoothed(sm, *o.smooth_ko);
        }
        const auto& si = w.smoothed_input;
        table_file f((dir / "spectra.csv").string(), state);
        f.line(join(head));
        for (std::size_t i = 0; i < nom; ++i) {
            const float cells[] = {cabs(s.fx1[i]),
                                   cabs(s.fy1[i]),
                                   cabs(s.fz1[i]),
                                   o.smooth_ko ? si[0][i] : 0.0f,
                                   o.smooth_ko ? si[1][i] : 0.0f,
                                   o.smooth_ko ? si[2][i] : 0.0f,
                                   o.smooth_ko ? sm[0][i] : 0.0f,
                                   o.smooth_ko ? sm[1][i] : 0.0f,
                                   o.smooth_ko ? sm[2][i] : 0.0f};
            f.numbers_after(w.spectra_head.line(i),
                            std::span<const float>(cells, o.smooth_ko ? 9 : 3));
        }
        f.close();
    }
    {
        table_file f((dir / "input.csv").string(), state);
        f.lines(w.input_csv);
        f.close();
    }
    if (o.dialogue_files) {
        steps::write_factors_file("Amp-Factors.csv", (dir / "Amp-Factors.csv").string(), t, g,
                                  state)
            .commit();
        steps::write_spectra_file("amp1.csv", (dir / "amp1.csv").string(), s, g, rec, state)
            .commit();
    }
    const histories h = steps::inverse_transform(std::move(s), g, label, 1, &*w.inverse_factors);
    if (o.dialogue_files) {
        steps::write_history_file("wave1.csv", (dir / "wave1.csv").string(), h, rec, state)
            .commit();
    }
    // The surface series as the dialogue computes them: each less its first value.
    const std::size_t n = o.padded ? h.xr1.size() : rec.time.size();
    std::array<std::vector<float>, 3> surf;
    {
        const std::vector<float>* c[3] = {&h.xr1, &h.yr1, &h.zr1};
        for (std::size_t k = 0; k < 3; ++k) {
            for (std::size_t i = 0; i < n; ++i) {
                const float v = (*c[k])[i] - (*c[k])[0];
                if (!std::isfinite(v)) {
                    textio::refuse(label + ": the surface motion is not finite");
                }
                surf[k].push_back(v);
            }
        }
    }
    {
        table_file f((dir / "surface.csv").string(), state);
        f.line(join(
            {"time (s)", "surface " + names[0], "surface " + names[1], "surface " + names[2]}));
        for (std::size_t i = 0; i < n; ++i) {
            if (i < rec.time.size()) {
                f.numbers_after(w.times.line(i), {surf[0][i], surf[1][i], surf[2][i]});
            } else {
                f.numbers({static_cast<float>(i) * rec.dt, surf[0][i], surf[1][i], surf[2][i]});
            }
        }
        f.close();
    }
    const std::size_t nt = rec.time.size();
    const auto within_record = [nt](const std::vector<float>& x) {
        return std::span<const float>(x.data(), std::min(nt, x.size()));
    };

    std::vector<std::string> values = {
        input == input_motion::incident  ? "incident"
        : input == input_motion::outcrop ? "outcrop"
                                         : "within",
        num(angle),
        o.nyes == 1   ? "integrate"
        : o.nyes == 2 ? "differentiate"
                      : "none",
        std::to_string(rec.nt),
        num(rec.dt),
        std::to_string(nf),
        num(peak_abs(rec.xr1)),
        num(peak_abs(rec.yr1)),
        num(peak_abs(rec.zr1)),
        num(peak_abs(within_record(surf[0]))),
        num(peak_abs(within_record(surf[1]))),
        num(peak_abs(within_record(surf[2]))),
        num(static_cast<float>(best) * g.dom / two_pi),
        num(cabs(fh[best])),
    };
    if (o.spectra) {
        write_psa(o, rec, surf, nt, dir, state, values);
    }
    return values;
}

// A temporary run folder, registered for removal on a termination signal while it is written,
// and removed when the run fails.
class temporary_folder {
  public:
    explicit temporary_folder(fs::path p) : path_(std::move(p)), text_(path_.string()) {}
    ~temporary_folder() {
        if (registered_) {
            std::error_code ec;
            fs::remove_all(path_, ec);
            textio::release_pending_dir(text_.c_str());
        }
    }
    temporary_folder(const temporary_folder&) = delete;
    temporary_folder& operator=(const temporary_folder&) = delete;

    // Makes the folder with its marker file.
    void make() {
        std::error_code ec;
        fs::remove_all(path_, ec); // a leftover of an earlier process of the same number
        if (!fs::create_directory(path_, ec)) {
            system_failure("cannot make the run's folder", path_, ec);
        }
        registered_ = true;
        textio::register_pending_dir(text_.c_str());
        std::ofstream m(path_ / run_marker);
        m << "made by sitewave-batch: --force may replace this folder\n";
        if (!m.flush()) {
            system_failure("cannot write the marker", path_ / run_marker,
                           std::make_error_code(std::errc::io_error));
        }
    }
    const fs::path& path() const { return path_; }

    // Renames the folder into place, never over anything there; it is then no longer temporary.
    void rename_to(const fs::path& final_dir) {
        int rc =
            ::renameat2(AT_FDCWD, text_.c_str(), AT_FDCWD, final_dir.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && errno == EINVAL) { // a file system without the flag
            std::error_code ec;
            rc = fs::exists(fs::symlink_status(final_dir, ec))
                     ? (errno = EEXIST, -1)
                     : ::rename(text_.c_str(), final_dir.c_str());
        }
        if (rc != 0) {
            system_failure("cannot be put in place", final_dir,
                           std::error_code(errno, std::generic_category()));
        }
        textio::release_pending_dir(text_.c_str());
        registered_ = false;
    }

  private:
    fs::path path_;
    std::string text_;
    bool registered_ = false;
};

} // namespace

std::string reason(const sitewave::error& e) {
    std::string r = e.what == sitewave::error::kind::refused ? e.message : e.report();
    if (const auto nl = r.find('\n'); nl != std::string::npos) {
        r.resize(nl);
    }
    if (!e.name.empty() && r.find(e.name) == std::string::npos) {
        r = e.name + ": " + r;
    }
    return r;
}

std::string record_paths(const record_source& rs) {
    return rs.is_at2() ? rs.at2[0] + ";" + rs.at2[1] + ";" + rs.at2[2] : rs.file;
}

run_summary run_one(const batch_options& o, const std::vector<profile>& profiles, shared_work& work,
                    const fs::path& out, const plan_entry& e, std::size_t index) {
    run_summary s;
    const record_source& rs = o.records[e.record];
    s.profile = o.soils[e.profile];
    s.record = record_paths(rs);
    s.folder = e.folder();
    textio::io_state state;
    auto r = textio::capture(
        [&]() -> std::vector<std::string> {
            const loaded_record& l = work.record_of(e.record);
            s.note = l.note;
            if (l.err) {
                throw textio::failure(*l.err);
            }
            if (const auto fault = run_folder_fault(out, e)) {
                textio::refuse(*fault);
            }
            const fs::path final_dir = out / e.profile_dir / e.record_dir;
            temporary_folder temp(out / e.profile_dir /
                                  ("." + e.record_dir + ".tmp" + std::to_string(::getpid()) + "-" +
                                   std::to_string(index)));
            temp.make();
            auto values = compute(o, profiles[e.profile], work, l.rec, rs, e, temp.path(), state);
            temp.rename_to(final_dir);
            return values;
        },
        &state);
    if (r) {
        s.ok = true;
        s.values = std::move(*r);
    } else {
        s.note = reason(r.err());
    }
    return s;
}

} // namespace sitewave::batch
