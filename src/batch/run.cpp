#include "batch/run.hpp"

#include "batch/eql_run.hpp"
#include "batch/rvt_run.hpp"
#include "response/psa.hpp"
#include "steps/steps.hpp"
#include "textio/fatal.hpp"
#include "textio/pending.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
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

// The unit of a Fourier amplitude of a history in `history` units: that unit times s.
std::string amplitude_unit(const std::string& history) {
    return history == "g" ? "g\u00b7s" : history == "m/s" ? "m" : "m/s2";
}

// psa.csv, and the summary's PSA cells: surface H1, H2 at 0.2 s and 1.0 s and their ratios to
// the input, first damping. Ratios are surface / input (0 where the input is 0).
void write_psa(const batch_options& o, const std::vector<response_set>& in,
               const std::vector<response_set>& out, const fs::path& dir, textio::io_state& state,
               std::vector<std::string>& values) {
    const auto periods = psa_periods(o);
    const std::size_t rows = periods.size() - 2; // the last two are the summary's
    const output_unit g = history_unit(o, true);
    const auto in_g = [&g](double v) { return g.scaled ? v * g.factor : v; };
    const auto ratio = [](double surface, double input) {
        return input > 0.0 ? surface / input : 0.0;
    };
    std::vector<std::string> head{"period (s)"};
    std::vector<std::vector<double>> cols;
    for (std::size_t d = 0; d < o.damping.size(); ++d) {
        char pct[32];
        std::snprintf(pct, sizeof pct, " %g%%", o.damping[d] * 100.0);
        const response_set* sides[] = {&in[d], &out[d]};
        const char* side_names[] = {"input ", "surface "};
        const char* names[] = {"H1", "H2", "V"};
        const auto parts = [](const response_set& r) {
            return std::array<const std::vector<double>*, 3>{&r.h1, &r.h2, &r.v};
        };
        for (std::size_t side = 0; side < 2; ++side) {
            for (std::size_t k = 0; k < 3; ++k) {
                head.push_back(side_names[side] + std::string(names[k]) + pct);
                std::vector<double> c(rows);
                for (std::size_t i = 0; i < rows; ++i) {
                    c[i] = in_g((*parts(*sides[side])[k])[i]);
                }
                cols.push_back(std::move(c));
            }
        }
        for (std::size_t k = 0; k < 3; ++k) {
            head.push_back("ratio " + std::string(names[k]) + pct);
            std::vector<double> c(rows);
            for (std::size_t i = 0; i < rows; ++i) {
                c[i] = ratio((*parts(out[d])[k])[i], (*parts(in[d])[k])[i]);
            }
            cols.push_back(std::move(c));
        }
        if (o.rotd) {
            const char* rot[] = {"RotD50", "RotD100"};
            for (std::size_t side = 0; side < 2; ++side) {
                for (std::size_t k = 0; k < 2; ++k) {
                    head.push_back(side_names[side] + std::string(rot[k]) + pct);
                    const auto& v = k == 0 ? sides[side]->rotd50 : sides[side]->rotd100;
                    std::vector<double> c(rows);
                    for (std::size_t i = 0; i < rows; ++i) {
                        c[i] = in_g(v[i]);
                    }
                    cols.push_back(std::move(c));
                }
            }
            for (std::size_t k = 0; k < 2; ++k) {
                head.push_back("ratio " + std::string(rot[k]) + pct);
                const auto& a = k == 0 ? in[d].rotd50 : in[d].rotd100;
                const auto& b = k == 0 ? out[d].rotd50 : out[d].rotd100;
                std::vector<double> c(rows);
                for (std::size_t i = 0; i < rows; ++i) {
                    c[i] = ratio(b[i], a[i]);
                }
                cols.push_back(std::move(c));
            }
        }
    }
    table_file f((dir / "psa.csv").string(), state);
    f.line(join(head));
    std::vector<double> row(1 + cols.size());
    for (std::size_t i = 0; i < rows; ++i) {
        row[0] = periods[i];
        for (std::size_t k = 0; k < cols.size(); ++k) {
            row[k + 1] = cols[k][i];
        }
        f.numbers(std::span<const double>(row));
    }
    f.close();
    const response_set& a = in[0];
    const response_set& b = out[0];
    for (const std::size_t i : {rows, rows + 1}) {
        values.push_back(num(in_g(b.h1[i])));
        values.push_back(num(in_g(b.h2[i])));
    }
    for (const std::size_t i : {rows, rows + 1}) {
        values.push_back(num(ratio(b.h1[i], a.h1[i])));
        values.push_back(num(ratio(b.h2[i], a.h2[i])));
    }
}

// transfer.csv of an equivalent-linear run: the final factors of H1 and H2, the vertical table,
// the factors applied to H1 and V (and smoothed, with --smooth).
void write_eql_transfer(const batch_options& o, const eql_outcome& eq, const tables& t, int nin,
                        const grid& g, const fs::path& dir, textio::io_state& state) {
    const auto nom = static_cast<std::size_t>(g.nom);
    const auto& fv = t.pamp.col[static_cast<std::size_t>(nin - 1)];
    std::array<std::vector<float>, 3> sm;
    if (o.smooth_ko) {
        std::array<std::vector<float>, 3> m;
        m[0] = eq.factor_h1;
        for (std::size_t i = 0; i < nom; ++i) {
            m[1].push_back(cabs(fv[i]));
        }
        m[2] = m[1];
        sm = smoothed(m, *o.smooth_ko);
    }
    table_file f((dir / "transfer.csv").string(), state);
    f.line(std::string("frequency (Hz),factor H1,factor H2,Pamp1,Pamp2,factor H,factor V") +
           (o.smooth_ko ? ",smoothed factor H,smoothed factor V" : ""));
    for (std::size_t i = 0; i < nom; ++i) {
        const float row[] = {static_cast<float>(i) * g.dom / two_pi,
                             eq.factor_h1[i],
                             eq.factor_h2[i],
                             cabs(t.pamp.col[0][i]),
                             cabs(t.pamp.col[1][i]),
                             eq.factor_h1[i],
                             cabs(fv[i]),
                             o.smooth_ko ? sm[0][i] : 0.0f,
                             o.smooth_ko ? sm[1][i] : 0.0f};
        f.numbers(std::span<const float>(row, o.smooth_ko ? 9 : 7));
    }
    f.close();
}

} // namespace

run_data compute_run(const batch_options& o, const profile& prof,
                     const std::optional<site::site_model>& site, shared_work& work,
                     const record& rec, const std::string& label, std::size_t record_index,
                     std::size_t profile_index, std::string& note) {
    run_data d;
    d.w = &work.work_of(record_index);
    d.angle = o.angle ? *o.angle : prof.angle;
    const float theta = o.angle ? *o.angle * deg_to_rad : prof.theta;
    input_motion input = o.input;
    if (input == input_motion::from_profile) {
        input = prof.nin == 2 ? input_motion::within : input_motion::incident;
    }
    d.input = input;
    decay_time decay;
    if (o.pad == padding::automatic && !o.dialogue_files) {
        decay = work.decay_of(profile_index, theta, input, rec.dt);
    }
    std::string cut;
    d.nf = padded_length(o, rec.nt, rec.dt, decay, cut);
    if (!cut.empty()) {
        note = note.empty() ? cut : note + "; " + cut;
    }
    d.rg = &work.grid_of(record_index, d.nf);
    const grid& g = d.rg->g;

    spectra s = d.rg->s;
    const auto nom = static_cast<std::size_t>(g.nom);
    d.pw = &work.profile_of(profile_index, theta, input, d.nf, rec.dt);
    steps::check_tables_finite(d.pw->t, g, label);
    const int nin = d.pw->nin;
    const tables& use = d.pw->use();
    steps::apply_tables(s, use, nin, g, label);
    // The equivalent-linear run replaces the horizontals; the vertical stays linear.
    if (o.analysis == batch_options::method::eql && site) {
        const bool spare_core =
            static_cast<std::size_t>(o.jobs) > o.soils.size() * o.records.size();
        d.eq = run_eql(o, *site, d.rg->s, s, g, rec, input, d.angle, spare_core);
        if (o.eql_vertical != batch_options::vertical_mode::linear) {
            d.vertical = make_profile_work(vertical_layers(o.eql_vertical, *site, *d.eq), theta,
                                           input, g, o.oblique, 1, std::nullopt, false);
            spectra v = d.rg->s;
            steps::apply_tables(v, d.vertical->use(), d.vertical->nin, g, label);
            s.fz1 = std::move(v.fz1);
        }
        if (!d.eq->note.empty()) {
            note = note.empty() ? d.eq->note : note + "; " + d.eq->note;
        }
    }
    pass_band band;
    if (o.band) {
        const auto& b = *o.band;
        band = steps::corner_band(b[0], b[1], b[2], b[3], "--band");
    }
    steps::process_or_refuse(s, g, band, o.nyes, label);

    const auto& fh = use.samp.col[static_cast<std::size_t>(nin - 1)];
    d.best = d.pw->best;
    d.best_factor = cabs(fh[d.best]);
    if (d.eq) {
        d.best = 1;
        for (std::size_t i = 1; i < nom; ++i) {
            if (d.eq->factor_h1[i] > d.eq->factor_h1[d.best]) {
                d.best = i;
            }
        }
        d.best_factor = d.eq->factor_h1[d.best];
    }
    d.s = s;
    d.h = steps::inverse_transform(std::move(s), g, label, 1, &*d.rg->inverse_factors);
    const output_unit out_unit = history_unit(o, false);
    const std::size_t nt = rec.time.size();
    const std::size_t n = o.padded ? static_cast<std::size_t>(d.nf) : nt;
    for (std::size_t i = 0; i < n; ++i) {
        const float x = scaled(d.h.xr1[i], out_unit);
        const float y = scaled(d.h.yr1[i], out_unit);
        const float z = scaled(d.h.zr1[i], out_unit);
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
            textio::refuse(label + ": the surface motion is not finite");
        }
    }
    if (o.spectra) {
        d.surface_psa = response_spectra(within_record(d.h.xr1, nt), within_record(d.h.yr1, nt),
                                         within_record(d.h.zr1, nt), rec.dt, o);
    }
    return d;
}

std::vector<std::string> write_run(const batch_options& o, const run_data& d, const record& rec,
                                   const fs::path& dir, textio::io_state& state) {
    const grid& g = d.rg->g;
    const auto nom = static_cast<std::size_t>(g.nom);
    const tables& t = d.pw->t;
    const tables& use = d.pw->use();
    const int nin = d.pw->nin;
    const spectra& s = d.s;
    const histories& h = d.h;
    const record_work& w = *d.w;
    if (d.eq) {
        write_eql_files(o, *d.eq, g, rec, dir, state);
    }
    const output_unit in_unit = history_unit(o, true);
    const output_unit out_unit = history_unit(o, false);
    if (d.eq) {
        write_eql_transfer(o, *d.eq, d.vertical ? d.vertical->use() : use, nin, g, dir, state);
    } else {
        table_file f((dir / "transfer.csv").string(), state);
        f.lines(d.pw->transfer_csv);
        f.close();
    }
    {
        table_file f((dir / "spectra.csv").string(), state);
        const std::string a = " (" + amplitude_unit(in_unit.name) + ")";
        const std::string b = " (" + amplitude_unit(out_unit.name) + ")";
        std::vector<std::string> head{"frequency (Hz)", "input H1" + a,   "input H2" + a,
                                      "input V" + a,    "surface H1" + b, "surface H2" + b,
                                      "surface V" + b};
        // With --smooth, the input's and the surface's spectra smoothed follow.
        std::array<std::vector<float>, 3> sm;
        if (o.smooth_ko) {
            for (const char* c : {"H1", "H2", "V"}) {
                head.push_back(std::string("smoothed input ") + c + a);
            }
            for (const char* c : {"H1", "H2", "V"}) {
                head.push_back(std::string("smoothed surface ") + c + b);
            }
            for (std::size_t i = 0; i < nom; ++i) {
                sm[0].push_back(scaled(cabs(s.fx1[i]), out_unit));
                sm[1].push_back(scaled(cabs(s.fy1[i]), out_unit));
                sm[2].push_back(scaled(cabs(s.fz1[i]), out_unit));
            }
            sm = smoothed(sm, *o.smooth_ko);
        }
        const auto& si = d.rg->smoothed_input;
        f.line(join(head));
        for (std::size_t i = 0; i < nom; ++i) {
            const bool k = o.smooth_ko.has_value();
            const float cells[] = {scaled(cabs(s.fx1[i]), out_unit),
                                   scaled(cabs(s.fy1[i]), out_unit),
                                   scaled(cabs(s.fz1[i]), out_unit),
                                   k ? si[0][i] : 0.0f,
                                   k ? si[1][i] : 0.0f,
                                   k ? si[2][i] : 0.0f,
                                   k ? sm[0][i] : 0.0f,
                                   k ? sm[1][i] : 0.0f,
                                   k ? sm[2][i] : 0.0f};
            f.numbers_after(d.rg->spectra_head.line(i), std::span<const float>(cells, k ? 9 : 3));
        }
        f.close();
    }
    const std::size_t nt = rec.time.size();
    const std::size_t n = o.padded ? static_cast<std::size_t>(d.nf) : nt;
    {
        table_file f((dir / "input.csv").string(), state);
        f.lines(w.input_csv);
        for (std::size_t i = nt; i < n; ++i) {
            f.numbers({static_cast<float>(i) * rec.dt, 0.0f, 0.0f, 0.0f});
        }
        f.close();
    }
    if (o.dialogue_files) {
        steps::write_factors_file("Amp-Factors.csv", (dir / "Amp-Factors.csv").string(), t, g,
                                  state)
            .commit();
        steps::write_spectra_file("amp1.csv", (dir / "amp1.csv").string(), s, g, rec, state)
            .commit();
    }
    if (o.dialogue_files) {
        // wave1.csv, as the dialogue writes it, holds each history less its first value; the
        // tidy files hold the histories themselves.
        steps::write_history_file("wave1.csv", (dir / "wave1.csv").string(), h, rec, state)
            .commit();
    }
    const std::vector<float>* surf[3] = {&h.xr1, &h.yr1, &h.zr1};
    {
        table_file f((dir / "surface.csv").string(), state);
        const std::string u = " (" + out_unit.name + ")";
        f.line(join({"time (s)", "surface H1" + u, "surface H2" + u, "surface V" + u}));
        for (std::size_t i = 0; i < n; ++i) {
            const float x = scaled((*surf[0])[i], out_unit);
            const float y = scaled((*surf[1])[i], out_unit);
            const float z = scaled((*surf[2])[i], out_unit);
            if (i < nt) {
                f.numbers_after(w.times.line(i), {x, y, z});
            } else {
                f.numbers({static_cast<float>(i) * rec.dt, x, y, z});
            }
        }
        f.close();
    }
    std::vector<std::string> values =
        record_cells(o, d.input, d.angle, rec, d.nf, h, g, d.best, d.best_factor);
    if (o.spectra) {
        write_psa(o, w.input_psa, d.surface_psa, dir, state, values);
    }
    if (d.eq) {
        values.insert(values.end(), d.eq->values.begin(), d.eq->values.end());
    } else if (method_columns(o)) {
        const auto cells = linear_method_cells();
        values.insert(values.end(), cells.begin(), cells.end());
    }
    return values;
}

namespace {

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
        // The marker, with the system's own reason when it cannot be written (a full disk).
        const fs::path marker = path_ / run_marker;
        static constexpr std::string_view text =
            "made by sitewave-batch: --force may replace this folder\n";
        const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        const bool written =
            fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        const int err = errno;
        if (fd >= 0 && ::close(fd) != 0 && written) {
            system_failure("cannot write the marker", marker,
                           std::error_code(errno, std::generic_category()));
        }
        if (!written) {
            system_failure("cannot write the marker", marker,
                           std::error_code(err != 0 ? err : EIO, std::generic_category()));
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

std::span<const float> within_record(const std::vector<float>& x, std::size_t nt) {
    return std::span<const float>(x.data(), std::min(nt, x.size()));
}

const char* input_name(input_motion m) {
    switch (m) {
    case input_motion::from_profile:
        return "profile";
    case input_motion::incident:
        return "incident";
    case input_motion::outcrop:
        return "outcrop";
    case input_motion::within:
        break;
    }
    return "within";
}

const char* processing_name(const batch_options& o) {
    return o.nyes == 1 ? "integrate" : o.nyes == 2 ? "differentiate" : "none";
}

std::vector<std::string> record_cells(const batch_options& o, input_motion input, float angle,
                                      const record& rec, int nf, const histories& h, const grid& g,
                                      std::size_t best, float best_factor) {
    const output_unit in_unit = history_unit(o, true);
    const output_unit out_unit = history_unit(o, false);
    const std::size_t nt = rec.time.size();
    return {
        input_name(input),
        num(angle),
        processing_name(o),
        std::to_string(rec.nt),
        num(rec.dt),
        std::to_string(nf),
        num(scaled(peak_abs(rec.xr1), in_unit)),
        num(scaled(peak_abs(rec.yr1), in_unit)),
        num(scaled(peak_abs(rec.zr1), in_unit)),
        num(scaled(peak_abs(within_record(h.xr1, nt)), out_unit)),
        num(scaled(peak_abs(within_record(h.yr1, nt)), out_unit)),
        num(scaled(peak_abs(within_record(h.zr1, nt)), out_unit)),
        num(static_cast<float>(best) * g.dom / two_pi),
        num(best_factor),
    };
}

void on_threads(int n, const std::function<void()>& worker) {
    std::vector<std::thread> threads;
    for (int k = 1; k < n; ++k) {
        try {
            threads.emplace_back(worker);
        } catch (const std::system_error&) {
            break; // the work goes on the threads there are
        }
    }
    worker();
    for (auto& t : threads) {
        t.join();
    }
}

void share_out(int jobs, std::size_t items, const std::atomic<bool>* stop,
               const std::function<void(std::size_t)>& item,
               const std::function<void(int, int)>& done) {
    std::atomic<std::size_t> next{0};
    std::mutex done_mutex;
    int finished = 0;
    const auto worker = [&] {
        for (std::size_t k; (k = next++) < items;) {
            if (stop != nullptr && stop->load()) {
                break;
            }
            item(k);
            if (done) {
                const std::lock_guard lock(done_mutex);
                done(++finished, static_cast<int>(items));
            }
        }
    };
    on_threads(static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)),
                                                      std::max<std::size_t>(items, 1))),
               worker);
}

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
    if (rs.rvt) {
        return rs.rvt->name();
    }
    return rs.is_at2() ? rs.at2[0] + ";" + rs.at2[1] + ";" + rs.at2[2] : rs.file;
}

run_summary run_one(const batch_options& o, const std::vector<profile>& profiles,
                    const std::vector<std::optional<site::site_model>>& sites, shared_work& work,
                    const fs::path& out, const plan_entry& e, std::size_t index) {
    run_summary s;
    const record_source& rs = o.records[e.record];
    s.profile = o.soils[e.profile];
    s.record = record_paths(rs);
    s.rvt = rs.rvt.has_value();
    s.folder = e.folder();
    textio::io_state state;
    auto r = textio::capture(
        [&]() -> std::vector<std::string> {
            const loaded_record* l = nullptr;
            if (!rs.rvt) {
                l = &work.record_of(e.record);
                s.note = l->note;
                if (l->err) {
                    throw textio::failure(*l->err);
                }
            }
            if (const auto fault = run_folder_fault(out, e)) {
                textio::refuse(*fault);
            }
            const fs::path final_dir = out / e.profile_dir / e.record_dir;
            temporary_folder temp(out / e.profile_dir /
                                  ("." + e.record_dir + ".tmp" + std::to_string(::getpid()) + "-" +
                                   std::to_string(index)));
            temp.make();
            std::vector<std::string> values;
            if (rs.rvt) {
                values = compute_rvt(o, profiles[e.profile], sites[e.profile], *rs.rvt, temp.path(),
                                     state, s.note);
            } else {
                const run_data d =
                    compute_run(o, profiles[e.profile], sites[e.profile], work, l->rec,
                                "record " + rs.file, e.record, e.profile, s.note);
                values = write_run(o, d, l->rec, temp.path(), state);
            }
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
