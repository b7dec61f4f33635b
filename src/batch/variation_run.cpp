#include "batch/variation_run.hpp"

#include "batch/eql_run.hpp"
#include "batch/padding.hpp"
#include "batch/run.hpp"
#include "batch/rvt_run.hpp"
#include "batch/tidy.hpp"
#include "steps/steps.hpp"
#include "textio/fatal.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace sitewave::batch {

namespace {

constexpr float deg_to_rad = 0.017453292f;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// |factor| on the grid's rows (row i at first_hz + i·step_hz), linearly interpolated at `f` Hz;
// none before the first row or beyond the last.
double at_frequency(const std::vector<double>& factor, double first_hz, double step_hz, double f) {
    const double x = (f - first_hz) / step_hz;
    if (!(x >= 0.0)) {
        return nan;
    }
    const auto i = static_cast<std::size_t>(std::floor(x));
    if (i + 1 >= factor.size()) {
        return nan;
    }
    const double w = x - static_cast<double>(i);
    return factor[i] + w * (factor[i + 1] - factor[i]);
}

// A component's response spectrum at one damping (`surface` or the input's), or none.
using spectrum_part =
    std::function<const std::vector<double>*(bool surface, int component, std::size_t damping)>;

// The PSA cells of the observations: each key at each period, the surface's PSA in g (`unit`
// from the spectra's unit) or its ratio to the input's (0 where the input is 0); NaN where a
// component has no spectrum.
void observe_spectra(const batch_options& o, const observation_layout& layout,
                     const output_unit& unit, const spectrum_part& part, std::vector<double>& obs) {
    const auto in_g = [&unit](double v) { return unit.scaled ? v * unit.factor : v; };
    const auto ratio = [](double a, double b) { return b > 0.0 ? a / b : 0.0; };
    const std::size_t np = layout.periods.size();
    // The damping ratios in the order of o.damping: the key's damping is the text of one.
    for (std::size_t key = 0; key < layout.keys.size(); ++key) {
        const auto& kk = layout.keys[key];
        const std::size_t d = key % o.damping.size();
        const std::vector<double>* sv = part(true, kk.component, d);
        const std::vector<double>* iv = part(false, kk.component, d);
        if (sv == nullptr || iv == nullptr) {
            continue;
        }
        for (std::size_t i = 0; i < np; ++i) {
            obs[key * np + i] = kk.quantity == 0 ? in_g((*sv)[i]) : ratio((*sv)[i], (*iv)[i]);
        }
    }
}

// The observations past the PSA cells: |factor| of H1 (row i at first_hz + i·step_hz) at the
// layout's frequencies; the layer table's Vs at each depth; with `h1`, an equivalent-linear run's
// peak strain and acceleration (g) of the sublayer holding the depth.
void observe_site(const observation_layout& layout, const std::vector<double>& factor,
                  double first_hz, double step_hz, const profile& prof, const eql::run_result* h1,
                  std::vector<double>& obs) {
    for (std::size_t i = 0; i < layout.frequencies.size(); ++i) {
        obs[layout.transfer_at(i)] = at_frequency(factor, first_hz, step_hz, layout.frequencies[i]);
    }
    for (std::size_t i = 0; i < layout.depths.size(); ++i) {
        const double z = layout.depths[i];
        double top = 0.0;
        double vs = static_cast<double>(prof.layers.vs.back());
        for (std::size_t j = 0; j + 1 < prof.layers.vs.size(); ++j) {
            const double bottom = top + static_cast<double>(prof.layers.thk[j]);
            if (z < bottom) {
                vs = static_cast<double>(prof.layers.vs[j]);
                break;
            }
            top = bottom;
        }
        obs[layout.profile_at(0, i)] = vs;
        if (h1 != nullptr) {
            for (const auto& sl : h1->layers) {
                if (z >= sl.top && z < sl.bottom) {
                    obs[layout.profile_at(1, i)] = sl.strain_max;
                    obs[layout.profile_at(2, i)] = sl.accel_top / site::gravity;
                    break;
                }
            }
        }
    }
}

} // namespace

run_values compute_values(const batch_options& o, const profile& prof,
                          const std::optional<site::site_model>& site, shared_work& work,
                          std::size_t k, const observation_layout& layout) {
    run_values out;
    const record_source& rs = o.records[k];
    const loaded_record& l = work.record_of(k);
    out.note = l.note;
    if (l.err) {
        throw textio::failure(*l.err);
    }
    const record& rec = l.rec;
    const std::string label = "record " + rs.file;
    const record_work& w = work.work_of(k);
    const float angle = o.angle ? *o.angle : prof.angle;
    const float theta = o.angle ? *o.angle * deg_to_rad : prof.theta;
    input_motion input = o.input;
    if (input == input_motion::from_profile) {
        input = prof.nin == 2 ? input_motion::within : input_motion::incident;
    }
    decay_time decay;
    if (o.pad == padding::automatic && !o.dialogue_files) {
        decay = response_decay(prof.layers, theta, input == input_motion::within ? 2 : 1, rec.dt,
                               o.oblique, 1);
    }
    std::string cut;
    const int nf = padded_length(o, rec.nt, rec.dt, decay, cut);
    if (!cut.empty()) {
        out.note = out.note.empty() ? cut : out.note + "; " + cut;
    }
    const record_grid& rg = work.grid_of(k, nf);
    const grid& g = rg.g;
    spectra s = rg.s;
    const auto nom = static_cast<std::size_t>(g.nom);
    const profile_work pw =
        make_profile_work(prof.layers, theta, input, g, o.oblique, 1, std::nullopt, false);
    steps::check_tables_finite(pw.t, g, label);
    const int nin = pw.nin;
    const tables* use = &pw.use();
    steps::apply_tables(s, *use, nin, g, label);
    std::optional<eql_outcome> eq;
    if (o.analysis == batch_options::method::eql && site) {
        eq = run_eql(o, *site, rg.s, s, g, rec, input, angle, false);
        if (o.eql_vertical != batch_options::vertical_mode::linear) {
            const profile_work vertical =
                make_profile_work(vertical_layers(o.eql_vertical, *site, *eq), theta, input, g,
                                  o.oblique, 1, std::nullopt, false);
            spectra v = rg.s;
            steps::apply_tables(v, vertical.use(), vertical.nin, g, label);
            s.fz1 = std::move(v.fz1);
        }
        if (!eq->note.empty()) {
            out.note = out.note.empty() ? eq->note : out.note + "; " + eq->note;
        }
    }
    pass_band band;
    if (o.band) {
        const auto& b = *o.band;
        band = steps::corner_band(b[0], b[1], b[2], b[3], "--band");
    }
    steps::process_or_refuse(s, g, band, o.nyes, label);

    const output_unit out_unit = history_unit(o, false);
    const auto& fh = use->samp.col[static_cast<std::size_t>(nin - 1)];
    std::vector<double> factor(nom);
    for (std::size_t i = 0; i < nom; ++i) {
        factor[i] = eq ? static_cast<double>(eq->factor_h1[i]) : static_cast<double>(cabs(fh[i]));
    }
    std::size_t best = pw.best;
    float best_factor = cabs(fh[best]);
    if (eq) {
        best = 1;
        for (std::size_t i = 1; i < nom; ++i) {
            if (eq->factor_h1[i] > eq->factor_h1[best]) {
                best = i;
            }
        }
        best_factor = eq->factor_h1[best];
    }
    const histories h = steps::inverse_transform(std::move(s), g, label, 1, &*rg.inverse_factors);
    const std::size_t nt = rec.time.size();
    for (const auto* x : {&h.xr1, &h.yr1, &h.zr1}) {
        for (std::size_t i = 0; i < std::min(nt, x->size()); ++i) {
            if (!std::isfinite(scaled((*x)[i], out_unit))) {
                textio::refuse(label + ": the surface motion is not finite");
            }
        }
    }
    out.values = record_cells(o, input, angle, rec, nf, h, g, best, best_factor);
    out.obs.assign(layout.size(), nan);
    if (o.spectra) {
        const auto surface = response_spectra(within_record(h.xr1, nt), within_record(h.yr1, nt),
                                              within_record(h.zr1, nt), rec.dt, o);
        const auto& in = w.input_psa;
        const auto part = [&](bool at_surface, int c, std::size_t d) {
            const response_set& r = at_surface ? surface[d] : in[d];
            return c == 0 ? &r.h1 : c == 1 ? &r.h2 : c == 2 ? &r.v : &r.rotd50;
        };
        const output_unit gu = history_unit(o, true);
        observe_spectra(o, layout, gu, part, out.obs);
        const auto in_g = [&gu](double v) { return gu.scaled ? v * gu.factor : v; };
        const auto ratio = [](double a, double b) { return b > 0.0 ? a / b : 0.0; };
        const std::size_t np = layout.periods.size();
        const response_set& a = in[0];
        const response_set& b = surface[0];
        for (const std::size_t i : {np, np + 1}) {
            out.values.push_back(num(in_g(b.h1[i])));
            out.values.push_back(num(in_g(b.h2[i])));
        }
        for (const std::size_t i : {np, np + 1}) {
            out.values.push_back(num(ratio(b.h1[i], a.h1[i])));
            out.values.push_back(num(ratio(b.h2[i], a.h2[i])));
        }
    }
    const double dom_hz = static_cast<double>(g.dom) / static_cast<double>(two_pi);
    observe_site(layout, factor, 0.0, dom_hz, prof, eq ? &eq->runs[0] : nullptr, out.obs);
    if (eq) {
        out.values.insert(out.values.end(), eq->values.begin(), eq->values.end());
    } else if (method_columns(o)) {
        const auto cells = linear_method_cells();
        out.values.insert(out.values.end(), cells.begin(), cells.end());
    }
    return out;
}

run_values compute_rvt_values(const batch_options& o, const profile& prof,
                              const std::optional<site::site_model>& site, const rvt_input& in,
                              const observation_layout& layout) {
    const rvt_data d = compute_rvt_data(o, prof, site, in);
    run_values out;
    out.note = d.note;
    out.values = rvt_values(o, d);
    out.obs.assign(layout.size(), nan);
    if (o.spectra) {
        // H1 only: rvt_data's spectra are at psa_periods(o), in g, the layout's periods first.
        const auto part = [&d](bool at_surface, int c, std::size_t z) {
            const auto& [input, surface] = d.psa[z];
            return c != 0 ? nullptr : at_surface ? &surface : &input;
        };
        observe_spectra(o, layout, output_unit{}, part, out.obs);
    }
    // The factor's rows are at k·df, k from 1.
    const double df = d.fas.freq[0];
    observe_site(layout, d.factor, df, df, prof, d.eq ? &d.eq->runs[0] : nullptr, out.obs);
    return out;
}

} // namespace sitewave::batch
