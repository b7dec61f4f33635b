#include "steps/steps.hpp"

#include "fft/wvfast.hpp"
#include "layered/oblique.hpp"
#include "layered/transfer.hpp"
#include "soil/soilin.hpp"
#include "steps/grid.hpp"
#include "steps/history.hpp"
#include "steps/spectral.hpp"
#include "textio/fields.hpp"
#include "textio/format_write.hpp"
#include "textio/list_write.hpp"
#include "textio/unit.hpp"
#include "threads/helper_thread.hpp"

#include <array>
#include <cmath>
#include <optional>

namespace sitewave::steps {

namespace {

using textio::list_write;
using textio::output_unit;

const textio::format& spectrum_line() {
    static const textio::format f("(F8.4,6(',',E12.4))");
    return f;
}

const textio::format& history_line() {
    static const textio::format f("(F10.5,3(',',E12.4))");
    return f;
}

const char* const component[3] = {"H1", "H2", "V1"};

// A count of rows given as an int, none when it is not positive.
std::size_t rows_of(int n) { return n > 0 ? static_cast<std::size_t>(n) : 0; }

std::array<std::span<cplx>, 3> parts(spectra& s) { return {s.fx1, s.fy1, s.fz1}; }

std::string hz(int i, const grid& g) {
    return textio::shortest(static_cast<float>(i) * g.dom / two_pi) + " Hz";
}

// Index of the first entry among 0..n-1 that is not finite, or whose modulus is not finite when
// `modulus`; -1 when there is none. Parts of at most 2^126 have a modulus below 2^127: only
// larger ones need it formed.
int first_nonfinite(std::span<const cplx> a, int n, bool modulus) {
    for (int i = 0; i < n; ++i) {
        const cplx v = a[static_cast<std::size_t>(i)];
        const bool small = std::fabs(v.re) <= 0x1p126f && std::fabs(v.im) <= 0x1p126f;
        if (!is_finite(v) || (modulus && !small && !is_finite(cabs(v)))) {
            return i;
        }
    }
    return -1;
}

// Refuses when a spectrum holds a value that is not finite (or, with `modulus`, a horizontal one
// whose modulus is not) among its first n entries: "<input>: the <what> of H1 is not finite at
// <f> Hz".
void refuse_nonfinite(spectra& s, int n, bool modulus, const grid& g, const std::string& input,
                      const std::string& what) {
    const auto all = parts(s);
    for (std::size_t c = 0; c < all.size(); ++c) {
        if (const int i = first_nonfinite(all[c], n, modulus && c < 2); i >= 0) {
            textio::refuse(input + ": the " + what + " of " + component[c] + " is not finite at " +
                           hz(i, g));
        }
    }
}

// f(c) for the three components c = 0, 1, 2; with threads > 1 the last one on a helper thread.
template <typename F> void each_component(int threads, F&& f) {
    helper_thread helper;
    const bool shared = threads > 1 && helper.start([&f] { f(2); });
    f(0);
    f(1);
    if (shared) {
        helper.join();
    } else {
        f(2);
    }
}

// The factors given, or those of n points in direction ind evaluated into `own`.
const fft::twiddles& factors_or_own(const fft::twiddles* given, std::optional<fft::twiddles>& own,
                                    std::size_t n, int ind) {
    return given != nullptr ? *given : own.emplace(n, ind);
}

std::vector<cplx> load(const std::vector<float>& samples, int nf) {
    std::vector<cplx> a(static_cast<std::size_t>(nf));
    for (std::size_t i = 0; i < samples.size() && i < a.size(); ++i) {
        a[i] = cplx{samples[i], 0.0f};
    }
    return a;
}

} // namespace

float pi2() { return 8.0f * atan_d(1.0f); }

tables table_storage(int nom) {
    const std::size_t n = rows_of(nom);
    return {{{std::vector<cplx>(n), std::vector<cplx>(n)}},
            {{std::vector<cplx>(n), std::vector<cplx>(n)}}};
}

tables compute_tables_unchecked(const layer_table& layers, float theta, const grid& g, bool oblique,
                                int row_threads) {
    tables t = table_storage(g.nom);
    if (oblique) {
        layered::oblique_tables(g.dom, g.nom, layers, theta, t.samp, t.pamp);
        return t;
    }
    const float fom = 0.0f;
    layered::transfer_tables(fom, g.dom, g.nom, layers, theta, t.samp, t.pamp,
                             row_threads < 1 ? 1 : row_threads);
    return t;
}

grid checked_grid(const record& rec, int nf, const std::string& input) {
    grid g;
    if (const std::string why = grid_fault(rec.nt, rec.dt, nf, g); !why.empty()) {
        textio::refuse(input + ": " + why);
    }
    return g;
}

spectra forward_transform(const record& rec, int nf, const std::string& input, int threads,
                          const fft::twiddles* factors) {
    spectra s;
    std::optional<fft::twiddles> own;
    const fft::twiddles& tw = factors_or_own(factors, own, static_cast<std::size_t>(nf), -1);
    const std::array<std::vector<cplx>*, 3> out = {&s.fx1, &s.fy1, &s.fz1};
    const std::array<const std::vector<float>*, 3> in = {&rec.xr1, &rec.yr1, &rec.zr1};
    each_component(threads, [&](int c) {
        auto& a = *out[static_cast<std::size_t>(c)];
        a = load(*in[static_cast<std::size_t>(c)], nf);
        fft::wvfast(a, -1, tw);
        for (auto& v : a) {
            v = v * cplx{rec.dt, 0.0f};
        }
    });
    const grid g = make_grid_unchecked(nf, rec.dt);
    refuse_nonfinite(s, nf, false, g, input, "Fourier spectrum");
    return s;
}

void check_tables_finite(const tables& t, const grid& g, const std::string& input) {
    for (const auto* table : {&t.samp, &t.pamp}) {
        for (std::size_t c = 0; c < 2; ++c) {
            if (const int i = first_nonfinite(table->col[c], g.nom, true); i >= 0) {
                textio::refuse(input + ": the " + (table == &t.samp ? "SH" : "vertical") +
                               " amplification (column " + std::to_string(c + 1) +
                               ") is not finite at " + hz(i, g));
            }
        }
    }
}

void apply_tables(spectra& s, const tables& t, int nin, const grid& g, const std::string& input) {
    const auto& sc = t.samp.col[static_cast<std::size_t>(nin - 1)];
    const auto& pc = t.pamp.col[static_cast<std::size_t>(nin - 1)];
    const cplx sdelay{1.0f, 0.0f};
    const cplx pdelay{1.0f, 0.0f};
    for (int i = 0; i < g.nom; ++i) {
        const auto k = static_cast<std::size_t>(i);
        s.fx1[k] = (s.fx1[k] * sc[k]) * sdelay;
        s.fy1[k] = (s.fy1[k] * sc[k]) * sdelay;
        s.fz1[k] = (s.fz1[k] * pc[k]) * pdelay;
    }
    refuse_nonfinite(s, g.nom, false, g, input, "amplified spectrum");
}

pass_band corner_band(float fl1, float fl2, float fh1, float fh2, const std::string& input) {
    const float p = pi2();
    const pass_band band{true, fl1 * p, fl2 * p, fh1 * p, fh2 * p};
    const char* names[] = {"fL1", "fL2", "fH1", "fH2"};
    const float corners[] = {band.oml1, band.oml2, band.omh1, band.omh2};
    for (int c = 0; c < 4; ++c) {
        if (!is_finite(corners[c])) {
            textio::refuse(input + ": " + names[c] +
                           " times 2 pi is not a finite angular frequency");
        }
    }
    return band;
}

void process_or_refuse(spectra& s, const grid& g, const pass_band& band, int nyes,
                       const std::string& input) {
    const auto all = parts(s);
    process_spectra(all, g.nom, g.dom, band, nyes);
    refuse_nonfinite(s, g.nom, true, g, input, "processed spectrum");
}

histories inverse_transform(spectra&& s, const grid& g, const std::string& input, int threads,
                            const fft::twiddles* factors) {
    histories h;
    std::array<std::vector<float>*, 3> out = {&h.xr1, &h.yr1, &h.zr1};
    const auto all = parts(s);
    std::optional<fft::twiddles> own;
    const fft::twiddles& tw = factors_or_own(factors, own, all[0].size(), 1);
    for (auto* x : out) {
        x->resize(all[0].size());
    }
    each_component(threads, [&](int c) {
        const auto C = static_cast<std::size_t>(c);
        complete_negative_frequencies(all[C]);
        fft::wvfast(all[C], 1, tw);
        auto& x = *out[C];
        for (std::size_t i = 0; i < x.size(); ++i) {
            x[i] = all[C][i].re / g.dur;
        }
    });
    for (std::size_t c = 0; c < 3; ++c) {
        const auto& x = *out[c];
        for (std::size_t i = 0; i < x.size(); ++i) {
            // wave1.csv holds each value less the first one; the summary the values themselves.
            if (!is_finite(x[i]) || (c < 2 && !is_finite(x[i] - x[0]))) {
                textio::refuse(input + ": the surface time history of " + component[c] +
                               " is not finite at sample " + std::to_string(i + 1));
            }
        }
    }
    return h;
}

textio::completed_file write_factors_file(const std::string& name, const std::string& path,
                                          const tables& t, const grid& g, textio::io_state& state) {
    output_unit out(9, name, state, path);
    list_write(out) << "frequency (Hz),Samp1,Samp2,Pamp1,Pamp2";
    textio::write_real_lines(out, spectrum_line(), 5, rows_of(g.nom), [&](std::size_t k, float* v) {
        const float om = static_cast<float>(k) * g.dom;
        v[0] = om / two_pi;
        v[1] = cabs(t.samp.col[0][k]);
        v[2] = cabs(t.samp.col[1][k]);
        v[3] = cabs(t.pamp.col[0][k]);
        v[4] = cabs(t.pamp.col[1][k]);
    });
    return out.finish();
}

std::vector<float> spectra_moduli(const spectra& s, const grid& g) {
    std::vector<float> m;
    m.reserve(2 * static_cast<std::size_t>(std::max(g.nom - 1, 0)));
    for (int i = 1; i < g.nom; ++i) {
        const auto k = static_cast<std::size_t>(i);
        m.push_back(cabs(s.fx1[k]));
        m.push_back(cabs(s.fy1[k]));
    }
    return m;
}

textio::completed_file write_spectra_file(const std::string& name, const std::string& path,
                                          std::span<const float> moduli, const grid& g,
                                          const std::string& head2, const std::string& head3,
                                          textio::io_state& state) {
    output_unit out(10, name, state, path);
    const float p = pi2();
    list_write(out) << "frequency(Hz)," << head2 << "," << head3;
    // Rows 1 to nom - 1.
    textio::write_real_lines(out, spectrum_line(), 3, rows_of(g.nom - 1),
                             [&](std::size_t k, float* v) {
                                 const float om = static_cast<float>(k + 1) * g.dom;
                                 v[0] = om / p;
                                 v[1] = moduli[2 * k];
                                 v[2] = moduli[2 * k + 1];
                             });
    return out.finish();
}

textio::completed_file write_spectra_file(const std::string& name, const std::string& path,
                                          const spectra& s, const grid& g, const record& rec,
                                          textio::io_state& state) {
    return write_spectra_file(name, path, spectra_moduli(s, g), g, rec.head2, rec.head3, state);
}

textio::completed_file write_history_file(const std::string& name, const std::string& path,
                                          const histories& h, const record& rec,
                                          textio::io_state& state) {
    output_unit out(11, name, state, path);
    list_write(out) << rec.head1 << "," << rec.head2 << "," << rec.head3;
    textio::write_real_lines(out, history_line(), 3, h.xr1.size(), [&](std::size_t i, float* v) {
        // The record's own times, then the step continued over the zero extension.
        v[0] = i < rec.time.size() ? rec.time[i] : static_cast<float>(i) * rec.dt;
        v[1] = h.xr1[i] - h.xr1[0];
        v[2] = h.yr1[i] - h.yr1[0];
    });
    return out.finish();
}

} // namespace sitewave::steps

namespace sitewave {

using textio::capture;
using textio::invalid_argument;

namespace {

// "a, b, c" of the sizes of some vectors.
template <class... V> std::string sizes(const V&... v) {
    std::string out;
    ((out.append(out.empty() ? "" : ", ").append(std::to_string(v.size()))), ...);
    return out;
}

// The samples of a record: time, xr1, yr1 and zr1 each of nt values.
void check_record(std::string_view function, const record& rec) {
    const auto nt = static_cast<std::size_t>(rec.nt < 0 ? 0 : rec.nt);
    for (const auto* v : {&rec.time, &rec.xr1, &rec.yr1, &rec.zr1}) {
        if (rec.nt < 0 || v->size() != nt) {
            invalid_argument(function, "the record's time, xr1, yr1 and zr1 hold " +
                                           sizes(rec.time, rec.xr1, rec.yr1, rec.zr1) +
                                           " samples, not nt = " + std::to_string(rec.nt) +
                                           " each");
        }
    }
}

// Spectra of one transform length, whose rows 0..nom-1 the grid gives (nom = nf/2 + 1).
void check_spectra(std::string_view function, const spectra& s, const grid& g) {
    steps::check_grid(function, g);
    const std::size_t n = s.fx1.size();
    if (s.fy1.size() != n || s.fz1.size() != n) {
        invalid_argument(function, "the spectra fx1, fy1 and fz1 hold " +
                                       sizes(s.fx1, s.fy1, s.fz1) + " entries, not one number");
    }
    steps::check_transform_length(function, "the spectra's length", static_cast<long long>(n));
    if (static_cast<std::size_t>(g.nom) != n / 2 + 1) {
        invalid_argument(function, "the grid's nom = " + std::to_string(g.nom) +
                                       " does not belong to spectra of " + std::to_string(n) +
                                       " entries (nom = " + std::to_string(n / 2 + 1) + ")");
    }
}

// Tables whose columns hold the grid's rows 0..nom-1 (at least).
void check_table_rows(std::string_view function, const tables& t, const grid& g) {
    steps::check_grid(function, g);
    const auto nom = static_cast<std::size_t>(g.nom);
    for (const auto* table : {&t.samp, &t.pamp}) {
        for (std::size_t c = 0; c < 2; ++c) {
            if (table->col[c].size() < nom) {
                invalid_argument(function,
                                 std::string("column ") + std::to_string(c + 1) + " of the " +
                                     (table == &t.samp ? "SH" : "vertical") + " table holds " +
                                     std::to_string(table->col[c].size()) +
                                     " rows, fewer than the grid's nom = " + std::to_string(g.nom));
            }
        }
    }
}

} // namespace

result<spectra> forward_spectra(const record& rec, int nf, const std::string& input) {
    return capture([&] {
        constexpr std::string_view function = "forward_spectra";
        steps::check_transform_length(function, "nf", nf);
        check_record(function, rec);
        if (rec.nt > nf) {
            invalid_argument(function, "the record's " + std::to_string(rec.nt) +
                                           " samples do not fit in nf = " + std::to_string(nf) +
                                           " points");
        }
        steps::checked_grid(rec, nf, input);
        return steps::forward_transform(rec, nf, input);
    });
}

result<tables> compute_tables(const layer_table& layers, float theta, const grid& g, bool oblique,
                              int row_threads) {
    return capture([&] {
        constexpr std::string_view function = "compute_tables";
        if (const std::string why = soil::layer_shape_fault(layers); !why.empty()) {
            invalid_argument(function, why);
        }
        if (layers.nl() < 1) {
            invalid_argument(function, "the layer table has no row (the half-space is needed)");
        }
        if (const std::string why = soil::check_layers(layers, layers.nl(), ""); !why.empty()) {
            invalid_argument(function, why);
        }
        if (!std::isfinite(theta)) {
            invalid_argument(function, "theta = " + textio::shortest(theta) + " is not finite");
        }
        steps::check_grid(function, g);
        if (row_threads < 1) {
            invalid_argument(function,
                             "row_threads = " + std::to_string(row_threads) + " is less than 1");
        }
        return steps::compute_tables_unchecked(layers, theta, g, oblique, row_threads);
    });
}

result<void> check_tables(const tables& t, const grid& g, const std::string& input) {
    return capture([&] {
        check_table_rows("check_tables", t, g);
        steps::check_tables_finite(t, g, input);
    });
}

result<void> amplify(spectra& s, const tables& t, int nin, const grid& g,
                     const std::string& input) {
    return capture([&] {
        constexpr std::string_view function = "amplify";
        if (nin != 1 && nin != 2) {
            invalid_argument(function, "nin = " + std::to_string(nin) + " is neither 1 nor 2");
        }
        check_spectra(function, s, g);
        check_table_rows(function, t, g);
        steps::apply_tables(s, t, nin, g, input);
    });
}

result<pass_band> band_from_corners(float fl1, float fl2, float fh1, float fh2,
                                    const std::string& input) {
    return capture([&] { return steps::corner_band(fl1, fl2, fh1, fh2, input); });
}

result<void> process(spectra& s, const grid& g, const pass_band& band, int nyes,
                     const std::string& input) {
    return capture([&] {
        check_spectra("process", s, g);
        steps::process_or_refuse(s, g, band, nyes, input);
    });
}

result<histories> inverse_spectra(spectra s, const grid& g, const std::string& input) {
    return capture([&] {
        constexpr std::string_view function = "inverse_spectra";
        check_spectra(function, s, g);
        if (!(g.dur > 0.0f) || !std::isfinite(g.dur)) {
            invalid_argument(function, "the grid's dur = " + textio::shortest(g.dur) +
                                           " is not a positive finite number");
        }
        return steps::inverse_transform(std::move(s), g, input);
    });
}

result<void> write_factors(const std::string& path, const tables& t, const grid& g) {
    textio::io_state state;
    return capture(
        [&] {
            check_table_rows("write_factors", t, g);
            steps::write_factors_file(path, path, t, g, state).commit();
        },
        &state);
}

result<void> write_spectra(const std::string& path, const spectra& s, const grid& g,
                           const record& rec) {
    textio::io_state state;
    return capture(
        [&] {
            check_spectra("write_spectra", s, g);
            steps::write_spectra_file(path, path, s, g, rec, state).commit();
        },
        &state);
}

result<void> write_histories(const std::string& path, const histories& h, const record& rec) {
    textio::io_state state;
    return capture(
        [&] {
            if (h.yr1.size() != h.xr1.size() || h.zr1.size() != h.xr1.size()) {
                invalid_argument("write_histories", "the histories xr1, yr1 and zr1 hold " +
                                                        sizes(h.xr1, h.yr1, h.zr1) +
                                                        " samples, not one number");
            }
            steps::write_history_file(path, path, h, rec, state).commit();
        },
        &state);
}

} // namespace sitewave
