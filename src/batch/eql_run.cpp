#include "batch/eql_run.hpp"

#include "batch/tidy.hpp"
#include "textio/fatal.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <optional>
#include <system_error>
#include <thread>

namespace sitewave::batch {

eql::input_kind eql_kind_of(input_motion m) {
    switch (m) {
    case input_motion::incident:
        return eql::input_kind::incident;
    case input_motion::within:
        return eql::input_kind::within;
    default:
        break;
    }
    return eql::input_kind::outcrop;
}

namespace {

constexpr const char* component_names[] = {"H1", "H2"};

std::vector<eql::complex> to_double(const std::vector<cplx>& x, std::size_t nom, double factor) {
    std::vector<eql::complex> out(nom);
    for (std::size_t i = 0; i < nom && i < x.size(); ++i) {
        out[i] = eql::complex(static_cast<double>(x[i].re), static_cast<double>(x[i].im)) * factor;
    }
    return out;
}

void write_profile(const std::array<eql::run_result, 2>& runs, const std::filesystem::path& dir,
                   textio::io_state& state) {
    table_file f((dir / "profile.csv").string(), state);
    f.line(
        join({"component", "sublayer", "layer", "soil", "top (m)", "bottom (m)", "Vs initial (m/s)",
              "Vs final (m/s)", "G/Gmax", "damping (%)", "effective strain (%)", "max strain (%)",
              "max shear stress (kPa)", "vertical effective stress (kPa)", "stress ratio",
              "peak acceleration (g)", "max displacement relative to base (m)", "clamped"}));
    for (std::size_t c = 0; c < 2; ++c) {
        const auto& layers = runs[c].layers;
        for (std::size_t i = 0; i < layers.size(); ++i) {
            const auto& l = layers[i];
            f.line(join({component_names[c], std::to_string(i + 1), std::to_string(l.layer + 1),
                         l.soil, num(l.top), num(l.bottom), num(l.vs_initial), num(l.vs_final),
                         num(l.modulus_ratio), num(100.0 * l.damping), num(l.strain_eff),
                         num(l.strain_max), num(l.stress_max), num(l.sigma_v), num(l.stress_ratio),
                         num(l.accel_top / site::gravity), num(l.displacement),
                         l.clamped ? "yes" : "no"}));
        }
    }
    f.close();
}

void write_iterations(const std::array<eql::run_result, 2>& runs, const std::filesystem::path& dir,
                      textio::io_state& state) {
    table_file f((dir / "iterations.csv").string(), state);
    f.line(join({"pass", "component", "error G (%)", "error D (%)", "sublayer of max G",
                 "sublayer of max D"}));
    for (std::size_t c = 0; c < 2; ++c) {
        for (const auto& p : runs[c].passes) {
            f.line(join({std::to_string(p.pass), component_names[c], num(p.modulus), num(p.damping),
                         std::to_string(p.modulus_at + 1), std::to_string(p.damping_at + 1)}));
        }
    }
    f.close();
}

// depth.csv: time, then for each depth and component the motion within and at an outcrop, in
// the input's unit (accelerations without the mean, as surface.csv; no filter or integration).
void write_depths(const batch_options& o, const eql_outcome& eq, const grid& g, const record& rec,
                  const std::filesystem::path& dir, textio::io_state& state) {
    const output_unit unit = history_unit(o, true);
    const auto motions = depth_histories(o, eq, g, rec);
    std::vector<std::string> head{"time (s)"};
    for (const auto& m : motions) {
        head.push_back(std::string(m.wave == propagation::wave::within ? "within " : "outcrop ") +
                       component_names[m.component] + " " + num(m.depth) + " m (" + unit.name +
                       ")");
    }
    table_file f((dir / "depth.csv").string(), state);
    f.line(join(head));
    std::vector<float> row(1 + motions.size());
    for (std::size_t j = 0; j < rec.time.size(); ++j) {
        row[0] = rec.time[j];
        for (std::size_t k = 0; k < motions.size(); ++k) {
            row[k + 1] = motions[k].values[j];
        }
        f.numbers(std::span<const float>(row));
    }
    f.close();
}

} // namespace

std::vector<depth_history> depth_histories(const batch_options& o, const eql_outcome& eq,
                                           const grid& g, const record& rec) {
    const output_unit unit = history_unit(o, true);
    const double factor = unit.scaled ? unit.factor : 1.0;
    const std::size_t nom = static_cast<std::size_t>(g.nom);
    std::vector<depth_history> out;
    for (const double z : o.eql_depths) {
        for (std::size_t c = 0; c < 2; ++c) {
            for (const auto w : {propagation::wave::within, propagation::wave::outcrop}) {
                auto t = eql::transfer_at(eq.runs[c], z, w, static_cast<double>(g.dom), nom);
                if (!t) {
                    textio::refuse("--depths: " + t.err().message);
                }
                for (std::size_t i = 0; i < nom; ++i) {
                    (*t)[i] *= eq.input[c][i];
                }
                (*t)[0] = 0.0; // as the surface's steps leave the mean out
                const auto x = eql::to_time(*t, static_cast<double>(rec.dt));
                depth_history m;
                m.depth = z;
                m.component = c;
                m.wave = w;
                m.values.resize(rec.time.size());
                for (std::size_t j = 0; j < rec.time.size(); ++j) {
                    m.values[j] = j < x.size() ? static_cast<float>(x[j] * factor) : 0.0f;
                }
                out.push_back(std::move(m));
            }
        }
    }
    return out;
}

std::vector<std::string> linear_method_cells() {
    return {"linear", "", "", "", "", "", "", "", ""};
}

eql_outcome run_eql(const batch_options& o, const site::site_model& m, const spectra& input,
                    spectra& s, const grid& g, const record& rec, input_motion kind, float angle,
                    bool spare_core) {
    const std::size_t nom = static_cast<std::size_t>(g.nom);
    eql_outcome out;
    auto& runs = out.runs;
    auto& in_record = out.input;
    const std::vector<cplx>* sources[] = {&input.fx1, &input.fy1};
    std::vector<cplx>* targets[] = {&s.fx1, &s.fy1};
    eql::options eo = o.eql;
    eo.angle = static_cast<double>(angle);
    eo.oblique = o.oblique;
    // H1 and H2 iterate each on its own: H2 on a helper thread when a core would otherwise wait.
    std::array<std::optional<result<eql::run_result>>, 2> solved;
    const auto solve = [&](std::size_t c) {
        in_record[c] = to_double(*sources[c], nom, 1.0);
        eql::input in;
        in.spectrum = to_double(*sources[c], nom, metres_per_s2(o.units));
        in.dom = static_cast<double>(g.dom);
        in.dt = static_cast<double>(rec.dt);
        in.nt = static_cast<std::size_t>(rec.nt);
        solved[c] = eql::run(m, in, eql_kind_of(kind), eo);
    };
    std::thread helper;
    if (spare_core) {
        try {
            helper = std::thread([&] {
                try {
                    solve(1);
                } catch (...) {
                    solved[1].reset(); // solved again below, where a failure is reported
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: H2 follows H1 here.
        }
    }
    try {
        solve(0);
    } catch (...) {
        if (helper.joinable()) {
            helper.join();
        }
        throw;
    }
    if (helper.joinable()) {
        helper.join();
    }
    if (!solved[1]) {
        solve(1);
    }
    out.values.push_back("eql");
    for (std::size_t c = 0; c < 2; ++c) {
        auto& r = *solved[c];
        if (!r) {
            textio::refuse(std::string(component_names[c]) + ": " + r.err().message);
        }
        runs[c] = std::move(*r);
        auto& factor = c == 0 ? out.factor_h1 : out.factor_h2;
        factor.resize(nom);
        for (std::size_t i = 0; i < nom; ++i) {
            const eql::complex v = in_record[c][i] * runs[c].transfer[i];
            (*targets[c])[i] = cplx{static_cast<float>(v.real()), static_cast<float>(v.imag())};
            factor[i] = static_cast<float>(std::abs(runs[c].transfer[i]));
        }
        const auto& rc = runs[c];
        if (!rc.converged) {
            const std::string what = std::string(component_names[c]) + " not converged after " +
                                     std::to_string(rc.passes.size()) + " passes";
            if (o.eql_strict) {
                textio::refuse(what + " (--strict)");
            }
            out.note = out.note.empty() ? what : out.note + "; " + what;
        }
        std::string clamped;
        for (std::size_t i = 0; i < rc.layers.size(); ++i) {
            if (rc.layers[i].clamped) {
                if (!clamped.empty()) {
                    clamped.push_back(' ');
                }
                clamped.append(std::to_string(i + 1));
            }
        }
        if (!clamped.empty()) {
            const std::string what = std::string(component_names[c]) +
                                     " strain beyond the curve's table in sublayers " + clamped;
            out.note = out.note.empty() ? what : out.note + "; " + what;
        }
        double peak = 0.0, depth = 0.0;
        for (const auto& l : rc.layers) {
            if (l.strain_max > peak) {
                peak = l.strain_max;
                depth = 0.5 * (l.top + l.bottom);
            }
        }
        out.values.push_back(rc.converged ? "yes" : "no");
        out.values.push_back(std::to_string(rc.passes.size()));
        out.values.push_back(num(peak));
        out.values.push_back(num(depth));
    }
    return out;
}

layer_table vertical_layers(batch_options::vertical_mode mode, const site::site_model& m,
                            const eql_outcome& eq) {
    auto base = site::to_layer_table(m);
    if (!base) {
        throw textio::failure(base.err());
    }
    const auto& h1 = eq.runs[0].layers;
    const auto& h2 = eq.runs[1].layers;
    struct row {
        std::size_t layer = 0, first = 0, count = 0;
        float vs = 0, vp = 0, qs = 0, qp = 0;
        double thickness = 0;
    };
    std::vector<row> rows;
    for (std::size_t i = 0; i < h1.size() && i < h2.size(); ++i) {
        const std::size_t li = h1[i].layer;
        const auto& l = m.layers[li];
        const double ratio = 0.5 * (h1[i].modulus_ratio + h2[i].modulus_ratio);
        const double damping = 0.5 * (h1[i].damping + h2[i].damping);
        const double d0 = l.curves.small_strain_damping();
        const double q0 = d0 > 0.0 ? 1.0 / (2.0 * d0) : 0.0;
        const double q_scale = d0 > 0.0 && damping > 0.0 ? d0 / damping : 1.0;
        const double root = std::sqrt(ratio);
        row r;
        r.layer = li;
        r.first = i;
        r.count = 1;
        r.vs = static_cast<float>(l.vs * root);
        r.vp =
            static_cast<float>(mode == batch_options::vertical_mode::poisson ? l.vp * root : l.vp);
        r.qs = static_cast<float>(l.qs.value_or(q0) * q_scale);
        r.qp = static_cast<float>(l.qp.value_or(q0) * q_scale);
        r.thickness = h1[i].bottom - h1[i].top;
        if (!rows.empty()) {
            auto& p = rows.back();
            if (p.layer == li && p.vs == r.vs && p.vp == r.vp && p.qs == r.qs && p.qp == r.qp) {
                p.count += 1;
                p.thickness += r.thickness;
                continue;
            }
        }
        rows.push_back(r);
    }
    layer_table t;
    t.resize(static_cast<int>(rows.size()) + 1);
    const auto copy = [&](std::size_t to, std::size_t from) {
        for (auto column :
             {&layer_table::dns, &layer_table::vp, &layer_table::qp, &layer_table::fp,
              &layer_table::vs, &layer_table::qs, &layer_table::fs, &layer_table::thk}) {
            (t.*column)[to] = ((*base).*column)[from];
        }
    };
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const auto& r = rows[k];
        copy(k, r.layer);
        t.vp[k] = r.vp;
        t.qp[k] = r.qp;
        t.vs[k] = r.vs;
        t.qs[k] = r.qs;
        // A layer in one piece keeps its thickness as given.
        const auto in_layer = static_cast<std::size_t>(std::count_if(
            h1.begin(), h1.end(), [&](const eql::sublayer& x) { return x.layer == r.layer; }));
        if (r.count != in_layer) {
            t.thk[k] = static_cast<float>(r.thickness);
        }
    }
    copy(rows.size(), static_cast<std::size_t>(base->nl() - 1));
    return t;
}

void write_eql_files(const batch_options& o, const eql_outcome& eq, const grid& g,
                     const record& rec, const std::filesystem::path& dir, textio::io_state& state) {
    write_profile(eq.runs, dir, state);
    write_iterations(eq.runs, dir, state);
    if (!o.eql_depths.empty()) {
        write_depths(o, eq, g, rec, dir, state);
    }
}

} // namespace sitewave::batch
