// The dialogue: the run from the first console line to the last, as a plain sequence of the
// steps, each console line and result file in its place.
#include "sitewave/dialogue.hpp"

#include "dialogue/runner.hpp"
#include "soil/soilin.hpp"
#include "steps/grid.hpp"
#include "steps/history.hpp"
#include "steps/record.hpp"
#include "steps/spectral.hpp"
#include "steps/steps.hpp"
#include "textio/format_write.hpp"
#include "textio/list_read.hpp"
#include "textio/list_write.hpp"
#include "textio/unit.hpp"

#include <cmath>
#include <filesystem>
#include <memory>

namespace sitewave::dialogue {

namespace {

using textio::empty_line;
using textio::fmt_write;
using textio::list_read;
using textio::list_write;

// The processing dialogue; returns the choice of integration or differentiation and the band.
std::pair<int, pass_band> ask_processing(textio::input_unit& in, textio::output_unit& con,
                                         const grid& g) {
    const float pi2 = steps::pi2();
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
        band = steps::corner_band(fl1, fl2, fh1, fh2, "filter corners (console answer)");
    }
    return {nyes, band};
}

// The closing lines on the histories: extremes of the three components and of all of them.
void summary(textio::output_unit& con, const histories& h, int nf, const grid& g, float dt) {
    const auto ex = find_extremes(h.xr1);
    const auto ey = find_extremes(h.yr1);
    const auto ez = find_extremes(h.zr1);
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
    list_write(con) << " Duration and Delta Time =" << g.dur << dt;
    list_write(con) << " Initial and final times =" << 0.0f << g.dur - dt;
    empty_line(con);
    list_write(con) << " Min X, Y and Z          =" << ex.min << ey.min << ez.min;
    list_write(con) << " Max X, Y abd Z          =" << ex.max << ey.max << ez.max;
    list_write(con) << " Min and Max amplitudes  =" << amin << amax;
    list_write(con) << " Absolute Max amplitude  =" << aamax;
    empty_line(con);
    list_write(con) << "Output data are stored in \"wave1.csv\"";
    list_write(con) << "You can plot the waveform using \"wave.m\" for Matlab";
    empty_line(con);
}

// The run from the first console line to the last: the steps in their order. `run` carries out
// the slower ones in their place or ahead of it, with the same console, files and failure.
void sequence(const dialogue_io& io, runner& run, textio::io_state& state) {
    textio::output_unit con(run.console(), state);
    textio::input_unit in(io.in, state, &run.console());
    const auto at = [&io](const std::string& name) {
        return io.dir.empty() ? name : (std::filesystem::path(io.dir) / name).string();
    };

    empty_line(con);
    list_write(con) << " : Soil Data must be \"soil_dat.csv\"";
    {
        static const textio::format prompt("(/,1X,'Enter Wave Data (H1,H2,V1; e.g., wave.csv)')");
        fmt_write(con, prompt);
    }
    const std::string infile1 = textio::read_name(in);
    run.named(at(soil::soil_file), at(infile1), con);

    record rec = steps::read_record(infile1, state, at(infile1));
    list_write(con) << "NT and DT=" << rec.nt << rec.dt;
    const auto length = steps::shortest_length(rec.nt);
    if (!length) {
        list_write(con) << " NT>2**15 !!!!!";
        textio::refuse("");
    }
    const std::string record_file = "record file " + infile1;
    const int nf = length->nf;
    const grid g = steps::checked_grid(rec, nf, record_file);
    empty_line(con);
    list_write(con) << " IF1,NF=" << length->if1 << nf;

    const fft::twiddles factors(static_cast<std::size_t>(nf), -1);
    spectra s = steps::forward_transform(rec, nf, record_file, run.grid_known(g), &factors);
    // The samples are in the spectra now; their memory goes to the steps that follow.
    for (auto* samples : {&rec.xr1, &rec.yr1, &rec.zr1}) {
        std::vector<float>().swap(*samples);
    }
    empty_line(con);
    list_write(con) << " DUR,DOM,NOM,EOM=" << g.dur << g.dom << g.nom << g.eom;
    list_write(con) << " Highest Frequency (hz)=" << g.eom / two_pi;

    const soil::soil_profile& profile = run.soil(con);
    const std::string both = record_file + " on " + soil::soil_file;
    {
        // The tables go with the factors file, released once it is written.
        auto t = run.profile_tables(g);
        steps::check_tables_finite(*t, g, soil::soil_file);
        steps::apply_tables(s, *t, profile.nin, g, both);
        run.write([t, g, path = at("Amp-Factors.csv")](textio::io_state& st) {
            return steps::write_factors_file("Amp-Factors.csv", path, *t, g, st);
        });
    }
    try {
        const auto [nyes, band] = ask_processing(in, con, g);
        steps::process_or_refuse(s, g, band, nyes, both);
        empty_line(con);
        list_write(con) << "The Fourier Spectrum data are stored in \"amp.csv\"";
        // The moduli are written apart, as the transforms take over the spectra.
        run.write([m = steps::spectra_moduli(s, g), g, h2 = rec.head2, h3 = rec.head3,
                   path = at("amp1.csv")](textio::io_state& st) {
            return steps::write_spectra_file("amp1.csv", path, m, g, h2, h3, st);
        });
        run.writes_done();

        const fft::twiddles inverse_factors = factors.opposite();
        const histories h = steps::inverse_transform(std::move(s), g, both, run.inverse_threads(),
                                                     &inverse_factors);
        summary(con, h, nf, g, rec.dt);
        run.put_in_place(steps::write_history_file("wave1.csv", at("wave1.csv"), h, rec, state));
    } catch (...) {
        run.settle(false); // a failure met earlier in the plain order is the one reported
        throw;
    }
    run.settle(true);
    con.close(); // the stop: everything written reaches standard output
}

} // namespace

} // namespace sitewave::dialogue

namespace sitewave {

result<void> run_dialogue(const dialogue_io& io) {
    if (io.in == nullptr || io.out == nullptr) {
        return textio::capture([&] {
            textio::invalid_argument(
                "run_dialogue", std::string(io.in == nullptr ? "io.in" : "io.out") + " is null");
        });
    }
    if (io.threads < 0) {
        return textio::capture(
            [&] { textio::invalid_argument("run_dialogue", "io.threads is negative"); });
    }
    textio::io_state state;
    auto r = textio::capture(
        [&] {
            const auto run = io.threads == 1 ? dialogue::plain_runner(io.out, state)
                                             : dialogue::overlap_runner(io.out, state);
            dialogue::sequence(io, *run, state);
        },
        &state);
    if (!r) {
        // The console lines written so far go out before the caller reports the error.
        std::fflush(io.out);
    }
    return r;
}

} // namespace sitewave
