// Runs in memory: the batch's shared work and runs, their results taken from the computed run
// instead of its files.
#include "batch/run.hpp"
#include "batch/rvt_run.hpp"
#include "response/psa.hpp"
#include "sitewave/run.hpp"
#include "textio/fatal.hpp"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <thread>

namespace sitewave {

namespace {

using batch::usage;

// The profile a run takes from `g` (named `name`): a site's layer table, or a soil file's profile
// checked as the batch checks it; a usage error for what the options cannot run on it.
profile profile_to_run(const batch_options& o, const std::string& name, const memory_profile& g) {
    if (g.site) {
        if (o.input == input_motion::from_profile) {
            usage("input: a site needs incident, outcrop or within");
        }
        return batch::profile_of_site(name, *g.site);
    }
    if (o.analysis == batch_options::method::eql) {
        usage("method eql: " + name + " is not a site");
    }
    if (auto c = check_profile(g.prof, name); !c) {
        usage(batch::reason(c.err()));
    }
    return g.prof;
}

sitewave::error argument(const std::string& message) {
    sitewave::error e;
    e.what = sitewave::error::kind::argument;
    e.message = message;
    return e;
}

std::vector<std::complex<double>> widened(const std::vector<cplx>& x, std::size_t nom) {
    std::vector<std::complex<double>> out(nom);
    for (std::size_t i = 0; i < nom; ++i) {
        out[i] = {static_cast<double>(x[i].re), static_cast<double>(x[i].im)};
    }
    return out;
}

// The columns of depth.csv, the batch's own.
std::vector<memory_run::depth_motion> depth_motions(const batch_options& o,
                                                    const batch::eql_outcome& eq, const grid& g,
                                                    const record& rec) {
    std::vector<memory_run::depth_motion> out;
    for (auto& h : batch::depth_histories(o, eq, g, rec)) {
        memory_run::depth_motion m;
        m.depth = h.depth;
        m.component = static_cast<int>(h.component);
        m.outcrop = h.wave == propagation::wave::outcrop;
        m.values = std::move(h.values);
        out.push_back(std::move(m));
    }
    return out;
}

// The columns the batch writes, from the computed run (the conversions of write_run's).
memory_run results_of(const batch_options& o, const batch::run_data& d, const record& rec,
                      std::string note) {
    using batch::scaled;
    memory_run m;
    m.input = d.input;
    m.angle = d.angle;
    m.nt = rec.nt;
    m.dt = rec.dt;
    m.nf = d.nf;
    m.note = std::move(note);
    const batch::output_unit in_unit = batch::history_unit(o, true);
    const batch::output_unit out_unit = batch::history_unit(o, false);
    m.input_unit = in_unit.name;
    m.surface_unit = out_unit.name;
    const grid& g = d.rg->g;
    const auto nom = static_cast<std::size_t>(g.nom);
    const tables& use = d.pw->use();
    const auto nin = static_cast<std::size_t>(d.pw->nin - 1);
    m.frequency.resize(nom);
    for (std::size_t i = 0; i < nom; ++i) {
        m.frequency[i] = static_cast<float>(i) * g.dom / two_pi;
    }
    // The vertical's factor: its own tables when an eql run made them from the final profile.
    const auto& fv = d.vertical ? d.vertical->use().pamp.col[nin] : use.pamp.col[nin];
    m.transfer[2] = widened(fv, nom);
    m.factor[2].resize(nom);
    for (std::size_t i = 0; i < nom; ++i) {
        m.factor[2][i] = cabs(fv[i]);
    }
    if (d.eq) {
        for (std::size_t c = 0; c < 2; ++c) {
            m.transfer[c] = d.eq->runs[c].transfer;
            m.transfer[c].resize(nom);
        }
        m.factor[0] = d.eq->factor_h1;
        m.factor[1] = d.eq->factor_h2;
        m.eql = true;
        m.eql_runs = d.eq->runs;
        m.depths = depth_motions(o, *d.eq, g, rec);
    } else {
        m.transfer[0] = widened(use.samp.col[nin], nom);
        m.transfer[1] = m.transfer[0];
        m.factor[0].resize(nom);
        for (std::size_t i = 0; i < nom; ++i) {
            m.factor[0][i] = cabs(use.samp.col[nin][i]);
        }
        m.factor[1] = m.factor[0];
    }
    const std::vector<cplx>* in[] = {&d.rg->s.fx1, &d.rg->s.fy1, &d.rg->s.fz1};
    const std::vector<cplx>* out[] = {&d.s.fx1, &d.s.fy1, &d.s.fz1};
    const std::vector<float>* hist[] = {&d.h.xr1, &d.h.yr1, &d.h.zr1};
    const std::size_t nt = rec.time.size();
    const std::size_t n = o.padded ? static_cast<std::size_t>(d.nf) : nt;
    for (std::size_t c = 0; c < 3; ++c) {
        m.fourier_input[c].resize(nom);
        m.fourier_surface[c].resize(nom);
        for (std::size_t i = 0; i < nom; ++i) {
            m.fourier_input[c][i] = scaled(cabs((*in[c])[i]), in_unit);
            m.fourier_surface[c][i] = scaled(cabs((*out[c])[i]), out_unit);
        }
        m.surface[c].resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            m.surface[c][i] = scaled((*hist[c])[i], out_unit);
        }
    }
    m.peak_frequency = static_cast<float>(d.best) * g.dom / two_pi;
    m.peak_factor = d.best_factor;
    if (o.spectra) {
        const auto periods = batch::psa_periods(o);
        const std::size_t rows = periods.size() - 2; // the last two are the summary's
        m.periods.assign(periods.begin(), periods.begin() + static_cast<std::ptrdiff_t>(rows));
        const auto in_g = [&in_unit, rows](const std::vector<double>& v) {
            std::vector<double> r(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(rows));
            if (in_unit.scaled) {
                for (auto& x : r) {
                    x *= in_unit.factor;
                }
            }
            return r;
        };
        for (std::size_t k = 0; k < o.damping.size(); ++k) {
            memory_spectra sp;
            sp.damping = o.damping[k];
            const auto& a = d.w->input_psa[k];
            const auto& b = d.surface_psa[k];
            sp.input = {in_g(a.h1), in_g(a.h2), in_g(a.v)};
            sp.surface = {in_g(b.h1), in_g(b.h2), in_g(b.v)};
            if (o.rotd) {
                sp.input_rotd = {in_g(a.rotd50), in_g(a.rotd100)};
                sp.surface_rotd = {in_g(b.rotd50), in_g(b.rotd100)};
            }
            m.spectra.push_back(std::move(sp));
        }
    }
    return m;
}

class memory_suite {
  public:
    memory_suite(const batch_options& o, const std::vector<memory_profile>& profiles,
                 const std::vector<memory_record>& records)
        : o_(o), given_(profiles), records_in_(records) {}

    std::vector<result<memory_run>> run(const std::function<void(int, int)>& done) {
        if (given_.empty()) {
            usage("at least one profile is needed");
        }
        if (records_in_.empty()) {
            usage("at least one record is needed");
        }
        // The options as the batch tool checks them, with the names standing for the files.
        o_.soils.clear();
        o_.records.clear();
        o_.dialogue_files = false;
        for (const auto& p : given_) {
            o_.soils.push_back(p.name.empty() ? std::string("(profile)") : p.name);
        }
        for (const auto& r : records_in_) {
            record_source rs;
            rs.file = r.name.empty() ? std::string("(record)") : r.name;
            o_.records.push_back(rs);
        }
        batch::check_run_options(o_);
        for (std::size_t p = 0; p < given_.size(); ++p) {
            const auto& g = given_[p];
            profiles_.push_back(profile_to_run(o_, o_.soils[p], g));
            sites_.push_back(g.site);
        }
        for (const auto& r : records_in_) {
            const record& rec = r.rec;
            const auto nt = static_cast<std::size_t>(std::max(rec.nt, 0));
            if (rec.nt < 0 || rec.time.size() != nt || rec.xr1.size() != nt ||
                rec.yr1.size() != nt || rec.zr1.size() != nt) {
                usage("record " + r.name + ": the times and the three components are not of " +
                      std::to_string(rec.nt) + " samples each");
            }
            recs_.push_back(rec);
        }
        const std::size_t np = profiles_.size();
        const std::size_t nr = recs_.size();
        const std::size_t total = np * nr;
        const int runs = static_cast<int>(std::min<std::size_t>(total, max_jobs));
        const int row_threads = std::max(1, o_.jobs / runs);
        batch::shared_work work(o_, profiles_, row_threads, &recs_);
        std::vector<std::optional<result<memory_run>>> out(total);
        // Record by record, every profile in turn, as the batch goes.
        batch::share_out(
            o_.jobs, total, o_.stop,
            [&](std::size_t k) {
                const std::size_t p = k % np;
                const std::size_t r = k / np;
                out[p * nr + r] = one(work, p, r);
                work.run_done(r);
            },
            done);
        std::vector<result<memory_run>> results;
        results.reserve(total);
        for (auto& r : out) {
            if (r) {
                results.push_back(std::move(*r));
            } else {
                sitewave::error e;
                e.what = sitewave::error::kind::refused;
                e.message = "interrupted";
                results.emplace_back(std::move(e));
            }
        }
        return results;
    }

  private:
    result<memory_run> one(batch::shared_work& work, std::size_t p, std::size_t r) {
        std::string note;
        textio::io_state state;
        auto m = textio::capture(
            [&] {
                const record& rec = work.record_of(r).rec;
                const batch::run_data d =
                    batch::compute_run(o_, profiles_[p], sites_[p], work, rec,
                                       "record " + o_.records[r].file, r, p, note);
                return results_of(o_, d, rec, note);
            },
            &state);
        if (!m) {
            sitewave::error e = m.err();
            e.message = batch::reason(e);
            return e;
        }
        return m;
    }

    batch_options o_;
    const std::vector<memory_profile>& given_;
    const std::vector<memory_record>& records_in_;
    std::vector<profile> profiles_;
    std::vector<std::optional<site::site_model>> sites_;
    std::vector<record> recs_;
};

} // namespace

result<std::vector<result<memory_run>>> run_in_memory(const batch_options& o,
                                                      const std::vector<memory_profile>& profiles,
                                                      const std::vector<memory_record>& records,
                                                      const std::function<void(int, int)>& done) {
    memory_suite s(o, profiles, records);
    return textio::capture([&] { return s.run(done); });
}

result<memory_rvt_run> rvt_run_in_memory(const batch_options& options, const memory_profile& p,
                                         const rvt_input& in) {
    batch_options o = options;
    o.soils = {p.name.empty() ? std::string("(profile)") : p.name};
    o.records = {record_source{in.name(), {}, in}};
    o.dialogue_files = false;
    auto setup = textio::capture([&] {
        batch::check_run_options(o);
        return profile_to_run(o, o.soils[0], p);
    });
    if (!setup) {
        return setup.err();
    }
    textio::io_state state;
    auto d =
        textio::capture([&] { return batch::compute_rvt_data(o, *setup, p.site, in); }, &state);
    if (!d) {
        sitewave::error e = d.err();
        e.message = batch::reason(e);
        return e;
    }
    memory_rvt_run m;
    m.input = d->input;
    m.angle = d->angle;
    m.duration = d->t_gm;
    m.method = d->setting.method;
    m.note = d->note;
    m.frequency = d->fas.freq;
    m.fourier_input = d->fas.amp;
    m.fourier_surface = d->surface;
    m.factor = d->factor;
    m.peak_input = d->peak_input;
    m.peak_surface = d->peak_surface;
    m.periods = d->periods;
    m.periods.resize(m.periods.size() - 2); // the summary's two at the end
    for (std::size_t z = 0; z < o.damping.size(); ++z) {
        memory_rvt_spectra x;
        x.damping = o.damping[z];
        x.input = d->psa[z].first;
        x.surface = d->psa[z].second;
        x.input.resize(m.periods.size());
        x.surface.resize(m.periods.size());
        m.spectra.push_back(std::move(x));
    }
    if (d->eq) {
        m.eql = true;
        m.eql_run = d->eq->runs[0];
    }
    return m;
}

result<record> read_batch_record(const std::string& path) {
    return textio::capture([&] {
        record_source rs;
        rs.file = path;
        batch::loaded_record l = batch::load(rs);
        if (l.err) {
            throw textio::failure(*l.err);
        }
        return std::move(l.rec);
    });
}

result<psa_result> response_spectrum(const std::vector<float>& h1, const std::vector<float>& h2,
                                     double dt, const std::vector<double>& periods, double damping,
                                     bool rotd) {
    if (!(std::isfinite(dt) && dt > 0.0)) {
        return argument("response_spectrum: dt is not positive and finite");
    }
    if (!(damping >= 0.0 && damping < 1.0)) {
        return argument("response_spectrum: the damping ratio is not in [0, 1)");
    }
    for (const double t : periods) {
        if (!std::isfinite(t)) {
            return argument("response_spectrum: a period is not finite");
        }
    }
    if ((rotd || !h2.empty()) && h2.size() != h1.size()) {
        return argument("response_spectrum: the two components are not of one length");
    }
    return textio::capture([&] {
        psa_result r;
        if (h2.empty()) {
            r.h1 = response::psa(h1, dt, periods, damping);
            return r;
        }
        auto h = response::horizontal(h1, h2, dt, periods, damping, rotd);
        r.h1 = std::move(h.h1);
        r.h2 = std::move(h.h2);
        r.rotd50 = std::move(h.rotd50);
        r.rotd100 = std::move(h.rotd100);
        return r;
    });
}

result<std::vector<double>> log_periods(double tmin, double tmax, int n) {
    if (!(std::isfinite(tmin) && std::isfinite(tmax) && tmin > 0.0 && tmax >= tmin && n >= 1)) {
        return argument("log_periods: not 0 < tmin <= tmax (finite) and n >= 1");
    }
    return textio::capture([&] { return response::log_periods(tmin, tmax, n); });
}

} // namespace sitewave
