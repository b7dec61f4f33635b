#include "driver/run.hpp"

#include "driver/grid.hpp"
#include "driver/history.hpp"
#include "driver/record.hpp"
#include "driver/spectral.hpp"
#include "fft/wvfast.hpp"
#include "layered/transfer.hpp"
#include "soil/soilin.hpp"
#include "textio/fatal.hpp"
#include "textio/format_write.hpp"
#include "textio/list_read.hpp"
#include "textio/list_write.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <span>
#include <string>
#include <vector>

namespace sitewave::driver {

namespace {

using textio::empty_line;
using textio::fmt_write;
using textio::list_read;
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

// The three components: H1, H2, V1.
struct spectra {
    std::vector<cplx> fx1, fy1, fz1;
    std::array<std::span<cplx>, 3> all() { return {fx1, fy1, fz1}; }
};

std::vector<cplx> load(const std::vector<float>& samples, int nf) {
    std::vector<cplx> a(static_cast<std::size_t>(nf));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        a[i] = cplx{samples[i], 0.0f};
    }
    return a;
}

const char* const component[3] = {"H1", "H2", "V1"};

std::string shortest(float v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// Index of the first entry among 0..n-1 that is not finite, or of whose modulus is not finite
// when `modulus`; -1 when there is none.
int first_nonfinite(std::span<const cplx> a, int n, bool modulus) {
    for (int i = 0; i < n; ++i) {
        const cplx v = a[static_cast<std::size_t>(i)];
        if (!is_finite(v) || (modulus && !is_finite(cabs(v)))) {
            return i;
        }
    }
    return -1;
}

// Refuses the run when a spectrum holds a value that is not finite (or, with `modulus`, one
// whose modulus is not) among its first n entries: "<input>: the <what> of H1 is not finite
// at <f> Hz".
void refuse_nonfinite(std::span<const std::span<cplx>> parts, int n, bool modulus, const grid& g,
                      const std::string& input, const std::string& what) {
    for (std::size_t c = 0; c < parts.size(); ++c) {
        const int i = first_nonfinite(parts[c], n, modulus && c < 2);
        if (i >= 0) {
            textio::refuse(input + ": the " + what + " of " + component[c] + " is not finite at " +
                           shortest(static_cast<float>(i) * g.dom / two_pi) + " Hz");
        }
    }
}

// Multiplies H1 and H2 by the SH factor and V1 by the vertical factor of column nin.
void amplify(spectra& s, const grid& g, const layered::amp_table& samp,
             const layered::amp_table& pamp, int nin) {
    const auto& sc = samp.col[static_cast<std::size_t>(nin - 1)];
    const auto& pc = pamp.col[static_cast<std::size_t>(nin - 1)];
    const cplx sdelay{1.0f, 0.0f};
    const cplx pdelay{1.0f, 0.0f};
    for (int i = 0; i < g.nom; ++i) {
        const auto k = static_cast<std::size_t>(i);
        s.fx1[k] = (s.fx1[k] * sc[k]) * sdelay;
        s.fy1[k] = (s.fy1[k] * sc[k]) * sdelay;
        s.fz1[k] = (s.fz1[k] * pc[k]) * pdelay;
    }
}

// Writes Amp-Factors.csv: the moduli of both columns of both tables.
void write_factors_file(const grid& g, const layered::amp_table& samp,
                        const layered::amp_table& pamp) {
    output_unit out(9, "Amp-Factors.csv");
    list_write(out) << "frequency (Hz),Samp1,Samp2,Pamp1,Pamp2";
    for (int i = 0; i < g.nom; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const float om = static_cast<float>(i) * g.dom;
        const float freq = om / two_pi;
        fmt_write(out, spectrum_line()) << freq << cabs(samp.col[0][k]) << cabs(samp.col[1][k])
                                        << cabs(pamp.col[0][k]) << cabs(pamp.col[1][k]);
    }
    out.close();
}

// The processing dialogue; returns the choice of integration or differentiation and the band.
std::pair<int, pass_band> ask_processing(output_unit& con, const grid& g, float pi2) {
    auto& in = textio::input_unit::console();
    empty_line(con);
    list_write(con) << " You can integrate or differentiate the original wave.;";
    list_write(con) << "   Do not change   (Enter -> 0),";
    list_write(con) << "   Integrate       (Enter -> 1),";
    list_write(con) << "   Differentiate   (Enter -> 2):";
    int nyes = 0;
    list_read(in).item(nyes);
    empty_line(con);
    list_write(con) << " Band Pass Filter? (Yes=1 or No=0) :";
    int nbd = 0;
    list_read(in).item(nbd);

    pass_band band;
    if (nbd == 1) {
        const float f1 = static_cast<float>(g.iom - 1) * g.dom / pi2;
        const float f2 = static_cast<float>(g.nom - 1) * g.dom / pi2;
        list_write(con) << "   Data for TRAPEZOIDAL BAND PASS FILTER:";
        list_write(con) << "   INITIAL AND FINAL Frequencies =" << f1 << f2;
        empty_line(con);
        list_write(con) << "   Enter fL1,fL2,fH1 and fH2 (fL1<fL2<fH1<fH2: Hz): ";
        float fl1 = 0.0f, fl2 = 0.0f, fh1 = 0.0f, fh2 = 0.0f;
        {
            list_read r(in);
            for (float* v : {&fl1, &fl2, &fh1, &fh2}) {
                r.item(*v);
            }
        }
        band = pass_band{true, fl1 * pi2, fl2 * pi2, fh1 * pi2, fh2 * pi2};
        const char* names[] = {"fL1", "fL2", "fH1", "fH2"};
        const float corners[] = {band.oml1, band.oml2, band.omh1, band.omh2};
        for (int c = 0; c < 4; ++c) {
            if (!is_finite(corners[c])) {
                textio::refuse(std::string("filter corners (console answer): ") + names[c] +
                               " times 2 pi is not a finite angular frequency");
            }
        }
    }
    return {nyes, band};
}

void write_spectra_file(const spectra& s, const grid& g, float pi2, const record& rec) {
    output_unit out(10, "amp1.csv");
    list_write(out) << "frequency(Hz)," << rec.head2 << "," << rec.head3;
    for (int i = 1; i < g.nom; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const float om = static_cast<float>(i) * g.dom;
        const float f = om / pi2;
        fmt_write(out, spectrum_line()) << f << cabs(s.fx1[k]) << cabs(s.fy1[k]);
    }
    out.close();
}

void write_history_file(const std::vector<float>& xr1, const std::vector<float>& yr1,
                        const record& rec) {
    output_unit out(11, "wave1.csv");
    list_write(out) << rec.head1 << "," << rec.head2 << "," << rec.head3;
    for (std::size_t i = 0; i < xr1.size(); ++i) {
        // The record's own times, then the step continued over the zero extension.
        const float t = i < rec.time.size() ? rec.time[i] : static_cast<float>(i) * rec.dt;
        fmt_write(out, history_line()) << t << xr1[i] - xr1[0] << yr1[i] - yr1[0];
    }
    out.close();
}

} // namespace

void run() {
    auto& con = output_unit::console();

    empty_line(con);
    list_write(con) << " : Soil Data must be \"soil_dat.csv\"";
    {
        static const textio::format prompt("(/,1X,'Enter Wave Data (H1,H2,V1; e.g., wave.csv)')");
        fmt_write(con, prompt);
    }
    const std::string infile1 = textio::read_name(textio::input_unit::console());

    const record rec = read_record(infile1);
    list_write(con) << "NT and DT=" << rec.nt << rec.dt;

    const auto length = choose_length(rec.nt);
    if (!length) {
        list_write(con) << " NT>2**15 !!!!!";
        textio::refuse("");
    }
    if (rec.nt < 2) {
        textio::refuse("record file " + infile1 + ": " + std::to_string(rec.nt) +
                       " sample(s); at least two are needed for the time step");
    }
    if (!(rec.dt > 0.0f) || !std::isfinite(rec.dt)) {
        textio::refuse("record file " + infile1 +
                       ": the time step (second time minus first time) is not a positive number");
    }
    const int nf = length->nf;
    const grid g = make_grid(nf, rec.dt);
    if (!is_finite(g.dur)) {
        textio::refuse("record file " + infile1 + ": the duration " + std::to_string(nf) +
                       " x time step is not a finite number");
    }
    if (!is_finite(g.dom) || !(g.dom > 0.0f) || !is_finite(g.eom)) {
        textio::refuse("record file " + infile1 +
                       ": the frequency step 2 pi / duration is not a finite number");
    }
    empty_line(con);
    list_write(con) << " IF1,NF=" << length->if1 << nf;

    spectra s{load(rec.xr1, nf), load(rec.yr1, nf), load(rec.zr1, nf)};
    for (auto a : s.all()) {
        fft::wvfast(a, -1);
    }
    for (auto a : s.all()) {
        for (auto& v : a) {
            v = v * cplx{rec.dt, 0.0f};
        }
    }
    const auto parts = s.all();
    refuse_nonfinite(parts, nf, false, g, "record file " + infile1, "Fourier spectrum");
    empty_line(con);
    list_write(con) << " DUR,DOM,NOM,EOM=" << g.dur << g.dom << g.nom << g.eom;
    list_write(con) << " Highest Frequency (hz)=" << g.eom / two_pi;

    const soil::soil_profile profile = soil::soilin(con);
    if (const std::string why = soil::check_profile(profile); !why.empty()) {
        textio::refuse(why);
    }

    const auto nom = static_cast<std::size_t>(g.nom);
    layered::amp_table samp{{std::vector<cplx>(nom), std::vector<cplx>(nom)}};
    layered::amp_table pamp{{std::vector<cplx>(nom), std::vector<cplx>(nom)}};
    const float fom = 0.0f;
    layered::sbshml(fom, g.dom, g.nom, profile.layers, profile.theta, samp);
    layered::sbudml(fom, g.dom, g.nom, profile.layers, profile.theta, pamp);
    for (const auto* t : {&samp, &pamp}) {
        for (std::size_t c = 0; c < 2; ++c) {
            if (const int i = first_nonfinite(t->col[c], g.nom, true); i >= 0) {
                textio::refuse(std::string(soil::soil_file) + ": the " +
                               (t == &samp ? "SH" : "vertical") + " amplification (column " +
                               std::to_string(c + 1) + ") is not finite at " +
                               shortest(static_cast<float>(i) * g.dom / two_pi) + " Hz");
            }
        }
    }
    amplify(s, g, samp, pamp, profile.nin);
    refuse_nonfinite(parts, g.nom, false, g, "record file " + infile1 + " on " + soil::soil_file,
                     "amplified spectrum");
    write_factors_file(g, samp, pamp);

    // 2*pi as 8*atan(1): the arctangent in double stored as a float, times 8 in float.
    const float pi2 = 8.0f * atan_d(1.0f);
    const auto [nyes, band] = ask_processing(con, g, pi2);
    process_spectra(parts, g.nom, g.dom, band, nyes);
    refuse_nonfinite(parts, g.nom, true, g, "record file " + infile1 + " on " + soil::soil_file,
                     "processed spectrum");
    empty_line(con);
    list_write(con) << "The Fourier Spectrum data are stored in \"amp.csv\"";
    write_spectra_file(s, g, pi2, rec);

    std::array<std::vector<float>, 3> hist;
    for (std::size_t c = 0; c < 3; ++c) {
        complete_negative_frequencies(parts[c]);
        fft::wvfast(parts[c], 1);
        hist[c].resize(parts[c].size());
        for (std::size_t i = 0; i < parts[c].size(); ++i) {
            hist[c][i] = parts[c][i].re / g.dur;
        }
    }
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t i = 0; i < hist[c].size(); ++i) {
            // wave1.csv holds each value less the first one; the summary the values themselves.
            if (!is_finite(hist[c][i]) || (c < 2 && !is_finite(hist[c][i] - hist[c][0]))) {
                textio::refuse("record file " + infile1 + " on " + soil::soil_file +
                               ": the surface time history of " + component[c] +
                               " is not finite at sample " + std::to_string(i + 1));
            }
        }
    }
    const auto ex = find_extremes(hist[0]);
    const auto ey = find_extremes(hist[1]);
    const auto ez = find_extremes(hist[2]);
    float amax = ex.max;
    float amin = ex.min;
    if (ey.max > amax) {
        amax = ey.max;
    }
    if (ez.max > amax) {
        amax = ez.max;
    }
    if (ey.min < amin) {
        amin = ey.min;
    }
    if (ez.min < amin) {
        amin = ez.min;
    }
    float aamax = amax;
    if (std::fabs(amin) > aamax) {
        aamax = std::fabs(amin);
    }

    empty_line(con);
    list_write(con) << " Nmber of data points    =" << nf;
    list_write(con) << " Duration and Delta Time =" << g.dur << rec.dt;
    list_write(con) << " Initial and final times =" << 0.0f << g.dur - rec.dt;
    empty_line(con);
    list_write(con) << " Min X, Y and Z          =" << ex.min << ey.min << ez.min;
    list_write(con) << " Max X, Y abd Z          =" << ex.max << ey.max << ez.max;
    list_write(con) << " Min and Max amplitudes  =" << amin << amax;
    list_write(con) << " Absolute Max amplitude  =" << aamax;
    empty_line(con);
    list_write(con) << "Output data are stored in \"wave1.csv\"";
    list_write(con) << "You can plot the waveform using \"wave.m\" for Matlab";
    empty_line(con);
    write_history_file(hist[0], hist[1], rec);
    textio::stop();
}

} // namespace sitewave::driver
