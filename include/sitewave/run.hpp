// Runs in memory: sitewave-batch's runs (every record on every profile, the same options) with
// their results handed back as values instead of written into files. Every number is the one
// the batch tool writes for the same inputs, bit for bit: the two share the computation and
// differ only in where its results go.
#pragma once

#include "sitewave/batch.hpp"
#include "sitewave/eql.hpp"
#include "sitewave/error.hpp"
#include "sitewave/profile.hpp"
#include "sitewave/record.hpp"
#include "sitewave/site.hpp"

#include <array>
#include <complex>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sitewave {

// A profile of runs in memory: a soil file's profile, or a site (whose linear layer table and
// angle are then made from it, as the batch tool does for a .toml file). `name` stands for the
// file in messages.
struct memory_profile {
    std::string name;
    profile prof; // unused for a site
    std::optional<site::site_model> site;
};

// A record of runs in memory; `name` stands for the file in messages. The times of `rec` are
// those of its samples; rec.dt the time step, rec.nt the number of samples.
struct memory_record {
    std::string name;
    record rec;
};

// The response spectra of one damping ratio, at memory_run::periods, in the unit of the
// histories written (g for accelerations): H1, H2, V and with rotd RotD50, RotD100.
struct memory_spectra {
    double damping = 0.0;
    std::array<std::vector<double>, 3> input, surface;
    std::array<std::vector<double>, 2> input_rotd, surface_rotd; // empty without rotd
};

// One run's results: the columns of its tidy files.
struct memory_run {
    input_motion input = input_motion::incident; // what the record was taken as
    float angle = 0.0f;                          // degrees from the vertical
    int nt = 0;                                  // the record's samples
    float dt = 0.0f;                             // s
    int nf = 0;                                  // the transform's length
    std::string note;                            // what was cut; a component not converged
    std::string input_unit, surface_unit;        // of the histories: "g", "m/s" or "m/s3"
    // On the grid's rows 0..nom-1: frequency (Hz); the factors applied to the input's spectrum
    // (H1, H2 and V; the linear run's table column, widened exactly from float, or the
    // equivalent-linear run's final transfer functions) and their moduli as transfer.csv writes
    // them ("factor H1", "factor H2", "factor V"); the Fourier amplitudes of the input and of
    // the surface (spectra.csv: H1, H2, V, in the histories' unit times s).
    std::vector<float> frequency;
    std::array<std::vector<std::complex<double>>, 3> transfer;
    std::array<std::vector<float>, 3> factor;
    std::array<std::vector<float>, 3> fourier_input, fourier_surface;
    // surface.csv: H1, H2, V at the record's times (continued over the padding with o.padded).
    std::array<std::vector<float>, 3> surface;
    float peak_frequency = 0.0f, peak_factor = 0.0f; // of the factor H (H1)
    // psa.csv, with o.spectra: periods (s, 0 first) and the spectra of each damping ratio.
    std::vector<double> periods;
    std::vector<memory_spectra> spectra;
    // The equivalent-linear run of H1 and H2 (o.analysis eql): sublayers, passes, convergence.
    bool eql = false;
    std::array<eql::run_result, 2> eql_runs;
    // depth.csv (o.eql_depths): for each depth, H1 then H2, the motion within and at an
    // outcrop, in the input's unit at the record's times.
    struct depth_motion {
        double depth = 0.0; // m
        int component = 0;  // 0 H1, 1 H2
        bool outcrop = false;
        std::vector<float> values;
    };
    std::vector<depth_motion> depths;
};

// The runs of every record on every profile under the options `o` (o.soils, o.records, o.out,
// o.force, o.dialogue_files are not used; o.jobs threads, o.stop taken as the batch takes them).
// The results come profile by profile, records in order: entry p * records.size() + r. A run
// that fails is its error (its message names the record or the profile, as summary.csv's note
// does); a run not made because o.stop was set is an error of kind `refused` reading
// "interrupted". The whole call fails (kind `usage`, naming the option as sitewave-batch does)
// for options the batch tool refuses, no profile or no record, a profile or a site that cannot
// be used, or a record whose times or samples are not of one length nt >= 0. `done(k, n)` is
// called after each run, as run_batch calls it. Never throws.
result<std::vector<result<memory_run>>>
run_in_memory(const batch_options& o, const std::vector<memory_profile>& profiles,
              const std::vector<memory_record>& records,
              const std::function<void(int, int)>& done = {});

// A run of random vibration theory in memory: what an rvt input's run folder holds (H1 only).
struct memory_rvt_spectra {
    double damping = 0.0;
    std::vector<double> input, surface; // PSA (g) at memory_rvt_run::periods
};
struct memory_rvt_run {
    input_motion input = input_motion::incident;
    double angle = 0.0;    // degrees
    double duration = 0.0; // s, the ground motion's
    rvt::peak_method method = rvt::peak_method::vanmarcke;
    std::string note; // the target's misfit; not converged
    // spectra.csv and transfer.csv: frequency (Hz), the Fourier amplitudes (g·s), the factor.
    std::vector<double> frequency, fourier_input, fourier_surface, factor;
    double peak_input = 0.0, peak_surface = 0.0; // g
    // psa.csv: periods (s, 0 first: the peak) and each damping ratio's spectra.
    std::vector<double> periods;
    std::vector<memory_rvt_spectra> spectra;
    // The equivalent-linear run of H1 (o.analysis eql).
    bool eql = false;
    eql::run_result eql_run;
};

// The run of the rvt input `in` on `p` under `o`, as sitewave-batch runs it (o.soils, o.records,
// o.out, o.force and o.jobs are not used; o.periods ... give the spectra's periods, o.damping
// their damping ratios). Errors: kind `usage` for options or an input the batch tool refuses
// (the same messages), `refused` for a run that fails (the note summary.csv would show). Never
// throws.
result<memory_rvt_run> rvt_run_in_memory(const batch_options& o, const memory_profile& p,
                                         const rvt_input& in);

// The pseudo-spectral acceleration of a history sampled every dt seconds at the periods (s; a
// period at or below zero is the rigid oscillator, max |a|), for the damping ratio in [0, 1); in
// the history's unit. With `rotd` and a second component of the same length, also RotD50 and
// RotD100 of the pair (Boore 2010). The values are those of the batch tool's psa.csv (before its
// unit conversion). Refused (kind `argument`) for dt not positive and finite, a damping ratio
// outside [0, 1), a period that is not finite, or components of different lengths.
struct psa_result {
    std::vector<double> h1, h2, rotd50, rotd100;
};
result<psa_result> response_spectrum(const std::vector<float>& h1, const std::vector<float>& h2,
                                     double dt, const std::vector<double>& periods, double damping,
                                     bool rotd);

// A record file as sitewave-batch reads it: rows of time, H1, H2, V1 after a title line, the
// times on the constant step of the first two (within a thousandth of it), at most 2^20 samples
// kept. Refused (kind `refused`, the batch's message) for a file that is not a regular one, rows
// the reader refuses, or a time off the step. Never throws.
result<record> read_batch_record(const std::string& path);

// n periods from tmin to tmax (s), equally spaced on a logarithmic axis, as --periods makes them.
// Refused (kind `argument`) unless 0 < tmin <= tmax, both finite, and n >= 1.
result<std::vector<double>> log_periods(double tmin, double tmax, int n);

} // namespace sitewave
