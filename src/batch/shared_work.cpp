#include "batch/shared_work.hpp"

#include "response/psa.hpp"
#include "sitewave/process.hpp"
#include "spectral/smooth.hpp"
#include "steps/record.hpp"
#include "steps/steps.hpp"
#include "textio/fatal.hpp"

#include <bit>
#include <cmath>
#include <filesystem>

namespace sitewave::batch {

namespace {

namespace fs = std::filesystem;

// Why `path` is not a file the batch reads, or nothing (a missing file is left to the reader,
// whose report names it). A record is no pipe: it may be read more than once.
std::optional<std::string> not_regular(const std::string& path) {
    if (const auto what = not_an_input_file(path, false)) {
        return path + ": " + *what + ", not a regular file";
    }
    return std::nullopt;
}

} // namespace

loaded_record load(const record_source& rs) {
    loaded_record l;
    const auto refuse = [&l](const std::string& message) {
        sitewave::error e;
        e.what = sitewave::error::kind::refused;
        e.message = message;
        l.err = e;
    };
    if (rs.rvt) {
        refuse(rs.file + ": an input of random vibration theory, not a record");
        return l;
    }
    for (const auto& f : rs.is_at2() ? std::vector<std::string>(rs.at2.begin(), rs.at2.end())
                                     : std::vector<std::string>{rs.file}) {
        if (const auto why = not_regular(f)) {
            refuse("record " + *why);
            return l;
        }
    }
    if (rs.is_at2()) {
        auto r = read_at2(rs.at2, l.note);
        if (r) {
            l.rec = std::move(*r);
        } else {
            l.err = r.err();
        }
        return l;
    }
    textio::io_state state;
    steps::written_times written;
    auto r = textio::capture(
        [&] { return steps::read_record(rs.file, state, {}, 1 << max_if1, &written); }, &state);
    if (!r) {
        l.err = r.err();
        return l;
    }
    l.rec = std::move(*r);
    // A constant time step, on the times as written: |t_k - t_1 - (k - 1) dt| <= 0.001 dt.
    const auto& t = written.time;
    if (t.size() >= 2) {
        const double dt = t[1] - t[0];
        for (std::size_t k = 2; k < t.size(); ++k) {
            if (!(std::fabs(t[k] - t[0] - static_cast<double>(k) * dt) <= 0.001 * dt)) {
                refuse("record file " + rs.file + ": line " + std::to_string(written.line[k]) +
                       ": time " + num(t[k]) + " is off the constant time step " + num(dt));
                break;
            }
        }
    }
    return l;
}

std::vector<double> psa_periods(const batch_options& o) {
    std::vector<double> periods{0.0};
    const auto given = o.period_list.empty()
                           ? response::log_periods(o.period_min, o.period_max, o.periods)
                           : o.period_list;
    periods.insert(periods.end(), given.begin(), given.end());
    periods.push_back(0.2);
    periods.push_back(1.0);
    return periods;
}

std::vector<response_set> response_spectra(std::span<const float> h1, std::span<const float> h2,
                                           std::span<const float> v, float dt,
                                           const batch_options& o) {
    const auto periods = psa_periods(o);
    const double step = static_cast<double>(dt);
    std::vector<response_set> out;
    for (const double z : o.damping) {
        auto h = response::horizontal(h1, h2, step, periods, z, o.rotd);
        out.push_back({std::move(h.h1), std::move(h.h2), response::psa(v, step, periods, z),
                       std::move(h.rotd50), std::move(h.rotd100)});
    }
    return out;
}

output_unit history_unit(const batch_options& o, bool input) {
    output_unit u;
    const double si = metres_per_s2(o.units);
    if (input || o.nyes == 0) {
        u.name = "g";
        u.factor = si / standard_gravity;
        u.scaled = o.units != record_unit::g;
    } else {
        u.name = o.nyes == 1 ? "m/s" : "m/s3";
        u.factor = si;
        u.scaled = o.units != record_unit::m_s2;
    }
    return u;
}

record_work prepare(const record& rec, const record_source& rs, const batch_options& o) {
    const std::string label = "record " + rs.file;
    if (rec.nt > (1 << max_if1)) {
        textio::refuse(label + ": " + std::to_string(rec.nt) + " samples, more than " +
                       std::to_string(1 << max_if1));
    }
    record_work w;
    const output_unit unit = history_unit(o, true);
    const std::string in = " (" + unit.name + ")";
    w.input_csv.add(join({"time (s)", "input H1" + in, "input H2" + in, "input V" + in}));
    for (std::size_t i = 0; i < rec.time.size(); ++i) {
        w.times.numbers({rec.time[i]});
        w.input_csv.add(w.times.line(i), {scaled(rec.xr1[i], unit), scaled(rec.yr1[i], unit),
                                          scaled(rec.zr1[i], unit)});
    }
    if (o.spectra) {
        w.input_psa = response_spectra(rec.xr1, rec.yr1, rec.zr1, rec.dt, o);
    }
    return w;
}

std::array<std::vector<float>, 3> smoothed(const std::array<std::vector<float>, 3>& moduli,
                                           double b) {
    const std::span<const float> in[3] = {moduli[0], moduli[1], moduli[2]};
    const auto out = spectral::konno_ohmachi(in, b);
    std::array<std::vector<float>, 3> r;
    for (std::size_t c = 0; c < 3; ++c) {
        r[c].assign(out[c].size(), 0.0f);
        for (std::size_t i = 0; i < out[c].size(); ++i) {
            r[c][i] = static_cast<float>(out[c][i]);
        }
    }
    return r;
}

record_grid prepare_grid(const record& rec, const record_source& rs, int nf,
                         const batch_options& o) {
    const std::string label = "record " + rs.file;
    record_grid w;
    w.nf = nf;
    w.g = steps::checked_grid(rec, w.nf, label);
    const fft::twiddles factors(static_cast<std::size_t>(w.nf), -1);
    w.s = steps::forward_transform(rec, w.nf, label, 1, &factors);
    w.inverse_factors = factors.opposite();
    const output_unit unit = history_unit(o, true);
    for (std::size_t i = 0; i < static_cast<std::size_t>(w.g.nom); ++i) {
        const float freq = static_cast<float>(i) * w.g.dom / two_pi;
        w.spectra_head.numbers({freq, scaled(cabs(w.s.fx1[i]), unit),
                                scaled(cabs(w.s.fy1[i]), unit), scaled(cabs(w.s.fz1[i]), unit)});
    }
    if (o.smooth_ko) {
        std::array<std::vector<float>, 3> m;
        for (std::size_t i = 0; i < static_cast<std::size_t>(w.g.nom); ++i) {
            m[0].push_back(scaled(cabs(w.s.fx1[i]), unit));
            m[1].push_back(scaled(cabs(w.s.fy1[i]), unit));
            m[2].push_back(scaled(cabs(w.s.fz1[i]), unit));
        }
        w.smoothed_input = smoothed(m, *o.smooth_ko);
    }
    return w;
}

profile_work make_profile_work(const layer_table& layers, float theta, input_motion input,
                               const grid& g, bool oblique, int row_threads,
                               std::optional<double> smooth_ko, bool transfer_file) {
    profile_work w;
    w.t = steps::compute_tables_unchecked(layers, theta, g, oblique, row_threads);
    // The factor applied: column 1, column 1 halved for an outcrop motion, or column 2.
    w.nin = input == input_motion::within ? 2 : 1;
    w.outcrop = input == input_motion::outcrop;
    if (w.outcrop) {
        w.applied = w.t;
        for (auto* col : {&w.applied.samp.col[0], &w.applied.pamp.col[0]}) {
            for (auto& v : *col) {
                v = v * 0.5f;
            }
        }
    }
    const auto nom = static_cast<std::size_t>(g.nom);
    const auto& t = w.t;
    const auto& fh = w.use().samp.col[static_cast<std::size_t>(w.nin - 1)];
    const auto& fv = w.use().pamp.col[static_cast<std::size_t>(w.nin - 1)];
    // With --smooth, the applied factors smoothed too (the third modulus is unused).
    std::array<std::vector<float>, 3> sm;
    if (smooth_ko && transfer_file) {
        std::array<std::vector<float>, 3> m;
        for (std::size_t i = 0; i < nom; ++i) {
            m[0].push_back(cabs(fh[i]));
            m[1].push_back(cabs(fv[i]));
        }
        m[2].assign(nom, 0.0f);
        sm = smoothed(m, *smooth_ko);
    }
    if (transfer_file) {
        w.transfer_csv.add(std::string("frequency (Hz),Samp1,Samp2,Pamp1,Pamp2,factor H,factor V") +
                           (smooth_ko ? ",smoothed factor H,smoothed factor V" : ""));
    }
    for (std::size_t i = 0; i < nom && transfer_file; ++i) {
        const float freq = static_cast<float>(i) * g.dom / two_pi;
        const float row[] = {freq,
                             cabs(t.samp.col[0][i]),
                             cabs(t.samp.col[1][i]),
                             cabs(t.pamp.col[0][i]),
                             cabs(t.pamp.col[1][i]),
                             cabs(fh[i]),
                             cabs(fv[i]),
                             smooth_ko ? sm[0][i] : 0.0f,
                             smooth_ko ? sm[1][i] : 0.0f};
        w.transfer_csv.numbers(std::span<const float>(row, smooth_ko ? 9 : 7));
    }
    for (std::size_t i = 1; i < nom; ++i) {
        if (w.best < nom && cabs(fh[i]) > cabs(fh[w.best])) {
            w.best = i;
        }
    }
    return w;
}

shared_work::shared_work(const batch_options& o, const std::vector<profile>& profiles,
                         int row_threads, const std::vector<record>* given)
    : o_(o), profiles_(profiles), row_threads_(row_threads), records_(o.records.size()),
      work_(o.records.size()), runs_left_(o.records.size()) {
    for (std::size_t k = 0; k < o.records.size(); ++k) {
        if (given != nullptr) {
            records_[k] = std::async(std::launch::deferred, [given, k] {
                              return loaded_record{(*given)[k], {}, {}};
                          }).share();
        } else {
            records_[k] = std::async(std::launch::deferred, [this, k] {
                              return load(o_.records[k]);
                          }).share();
        }
        work_[k] = std::async(std::launch::deferred, [this, k] {
                       return prepare(records_[k].get().rec, o_.records[k], o_);
                   }).share();
        runs_left_[k] = profiles.size();
    }
}

const loaded_record& shared_work::record_of(std::size_t k) { return records_[k].get(); }

const record_work& shared_work::work_of(std::size_t k) { return work_[k].get(); }

const record_grid& shared_work::grid_of(std::size_t k, int nf) {
    std::shared_future<record_grid> f;
    {
        const std::lock_guard lock(mutex_);
        auto it = grids_.find({k, nf});
        if (it == grids_.end()) {
            it = grids_
                     .emplace(std::make_pair(k, nf),
                              std::async(std::launch::deferred,
                                         [this, k, nf] {
                                             return prepare_grid(records_[k].get().rec,
                                                                 o_.records[k], nf, o_);
                                         })
                                  .share())
                     .first;
        }
        f = it->second;
    }
    return f.get();
}

void shared_work::run_done(std::size_t k) {
    if (--runs_left_[k] == 0) {
        {
            const std::lock_guard lock(mutex_);
            for (auto it = grids_.lower_bound({k, 0});
                 it != grids_.end() && it->first.first == k;) {
                it = grids_.erase(it);
            }
        }
        work_[k] = {};
        records_[k] = {};
    }
}

decay_time shared_work::decay_of(std::size_t p, float theta, input_motion input, float dt) {
    const auto key = std::make_pair(p, std::bit_cast<std::uint32_t>(dt));
    std::shared_future<decay_time> f;
    {
        const std::lock_guard lock(mutex_);
        auto it = decays_.find(key);
        if (it == decays_.end()) {
            const layer_table* layers = &profiles_[p].layers;
            const bool oblique = o_.oblique;
            const int rows = row_threads_;
            const int nin = input == input_motion::within ? 2 : 1;
            it = decays_
                     .emplace(key, std::async(std::launch::deferred,
                                              [layers, theta, nin, dt, oblique, rows] {
                                                  return response_decay(*layers, theta, nin, dt,
                                                                        oblique, rows);
                                              })
                                       .share())
                     .first;
        }
        f = it->second;
    }
    return f.get();
}

const profile_work& shared_work::profile_of(std::size_t p, float theta, input_motion input, int nf,
                                            float dt) {
    const auto key = std::make_tuple(p, nf, std::bit_cast<std::uint32_t>(dt));
    std::shared_future<profile_work> f;
    {
        const std::lock_guard lock(mutex_);
        auto it = cache_.find(key);
        if (it == cache_.end()) {
            const grid g = steps::make_grid_unchecked(nf, dt);
            const layer_table* layers = &profiles_[p].layers;
            const bool oblique = o_.oblique;
            const int rows = row_threads_;
            const auto smooth = o_.smooth_ko;
            const bool file = o_.analysis != batch_options::method::eql;
            it = cache_
                     .emplace(key,
                              std::async(std::launch::deferred,
                                         [layers, theta, input, g, oblique, rows, smooth, file] {
                                             return make_profile_work(*layers, theta, input, g,
                                                                      oblique, rows, smooth, file);
                                         })
                                  .share())
                     .first;
        }
        f = it->second;
    }
    return f.get();
}

} // namespace sitewave::batch
