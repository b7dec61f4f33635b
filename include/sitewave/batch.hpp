// Suites of runs: every record on every profile, without the dialogue, with tidy result files.
#pragma once

#include "sitewave/eql.hpp"
#include "sitewave/error.hpp"
#include "sitewave/record.hpp"
#include "sitewave/rvt.hpp"

#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sitewave {

// An input of random vibration theory instead of a record: a Fourier amplitude spectrum (a CSV
// file: a title line, then rows frequency (Hz), FAS (g·s)), a point source (rvt::source with the
// region's defaults), or a target response spectrum (a CSV file: a title line, then rows period
// (s), PSA (g) at `damping`), with the ground motion's duration and, where known, the magnitude
// and distance (which the Boore-Thompson peak factors need).
struct rvt_input {
    enum class kind { fas, source, target };
    kind what = kind::fas;
    std::string file;                          // fas, target
    std::optional<double> duration;            // s; a source's comes from its model when not given
    std::optional<double> magnitude, distance; // moment magnitude, km
    std::optional<rvt::region> region;
    std::optional<double> stress_drop, kappa; // bar, s: a source's, instead of the region's
    double damping = 0.05;                    // a target's
    // Values given instead of the file: frequencies (Hz) and FAS (g·s), or periods (s) and PSA
    // (g); `file` then only names them.
    std::vector<double> x, y;
    // The run's name: the file, or "source-M6.5-R20-wna".
    std::string name() const;
};

// A record of a batch: a record file in the dialogue's format, a PEER NGA triple of AT2 files
// (H1, H2, V), or an input of random vibration theory.
struct record_source {
    std::string file;               // the record file, or the H1 file of a triple, or rvt's name
    std::array<std::string, 3> at2; // the triple; empty for a record file
    std::optional<rvt_input> rvt = std::nullopt;
    bool is_at2() const { return !at2[0].empty(); }
};

// What the record is: the incident wave in the bedrock (column 1 of the tables), a rock-outcrop
// motion, twice the incident wave (column 1 divided by 2), or the motion observed within the
// bedrock (column 2). from_profile: the profile's wave type (1 incident, 2 within).
enum class input_motion { from_profile, incident, outcrop, within };

// The unit of a record's samples.
enum class record_unit { g, m_s2, cm_s2, ft_s2 };
// Metres per second squared in one unit of the record.
double metres_per_s2(record_unit u);

// The zero padding after the record: automatic, none, or a fixed time.
enum class padding { automatic, none, fixed };

struct batch_options {
    std::vector<std::string> soils;     // profile files, in the dialogue's soil format
    std::vector<record_source> records; // every record runs on every profile
    input_motion input = input_motion::from_profile;
    std::optional<float> angle;                // degrees; default: each profile's
    int nyes = 0;                              // 0 none, 1 integrate, 2 differentiate
    std::optional<std::array<float, 4>> band;  // corners in Hz; none: no filter
    bool oblique = false;                      // impedance with the obliquity factor
    std::string out = "sitewave-out";          // the output folder
    bool force = false;                        // write into a non-empty output folder
    int jobs = 1;                              // runs at once
    bool padded = false;                       // surface.csv also over the padded tail
    bool dialogue_files = false;               // also Amp-Factors.csv, amp1.csv, wave1.csv
    bool spectra = false;                      // psa.csv and the PSA columns of the summary
    std::vector<double> damping{0.05};         // damping ratios of the response spectra
    double period_min = 0.01, period_max = 10; // seconds
    int periods = 100;
    // Response spectra: periods as given (when not empty, instead of period_min, period_max,
    // periods); RotD50 and RotD100 of the horizontals.
    std::vector<double> period_list;
    bool rotd = false;
    // The record's unit; results are written with accelerations and PSA in g, velocities in m/s.
    record_unit units = record_unit::g;
    // The zero padding of the transform: enough for the site's response to die away after the
    // record (automatic), the dialogue's (none), or pad_seconds. --dialogue-files: none.
    padding pad = padding::automatic;
    double pad_seconds = 0.0;
    // Set (from any thread, a signal's watcher say) to stop: runs not yet begun are not made,
    // their rows marked interrupted; runs under way end first.
    const std::atomic<bool>* stop = nullptr;
    // The run record and smoothing: DIR/run.json holds the command line as given (the program's
    // name first), the options and the inputs, the @LIST files read among them; with
    // smooth_ko, spectra.csv and transfer.csv also hold the spectra smoothed with the
    // Konno-Ohmachi window of this bandwidth b.
    std::vector<std::string> command_line;
    std::vector<std::string> lists;
    std::optional<double> smooth_ko;
    // The analysis: the linear run, or the equivalent-linear run of H1 and H2 (every profile a
    // .toml site file). eql_depths: the
    // within and outcrop motions at these depths (m) into depth.csv; eql_strict: a run that has
    // not converged fails.
    // eql_vertical: the vertical on the site's layer table (linear), or on the final profile of
    // the horizontals (the mean of H1's and H2's G/Gmax and damping per sublayer) holding
    // Poisson's ratio (Vs and Vp times √(G/Gmax)) or the constrained modulus (Vp kept, Vs times
    // √(G/Gmax)); Q of each sublayer is its layer's times D0/D (D0 the curve's small-strain
    // damping). The angle and --impedance of the run apply to the horizontals as to the linear
    // run.
    enum class method { linear, eql };
    enum class vertical_mode { linear, poisson, constrained };
    method analysis = method::linear;
    eql::options eql;
    vertical_mode eql_vertical = vertical_mode::linear;
    std::vector<double> eql_depths;
    bool eql_strict = false;
    // The peak factor of the runs of random vibration theory: bt15 (the region's table) when the
    // input's magnitude and distance are known, vanmarcke otherwise, unless given.
    std::optional<rvt::peak_method> peak_factor;
    // Suites with realizations (a site file with a [variation] table; see docs/guide.md): what
    // is kept of each run (automatic: statistics when a profile varies, all otherwise): every
    // run's folder, its summary row, or only the statistics (and the rows of failed runs); one
    // realization alone (every varied site's realization K); this process's shard of the
    // records (shard K of N runs the records k with k % N == K, into DIR/shards/K/).
    enum class keep_mode { automatic, all, summary, statistics };
    keep_mode keep = keep_mode::automatic;
    std::optional<long> realization;
    int shard = 0, shards = 0; // shards 0: not sharded
};

// Whether a profile's file is a site file (.toml) rather than a soil file.
bool is_site_file(const std::string& path);

// Limits of the options.
inline constexpr int max_periods = 10000;
inline constexpr double min_period = 1e-4, max_period = 1e4; // seconds
inline constexpr int max_jobs = 1024;
inline constexpr double min_smooth_ko = 1, max_smooth_ko = 10000; // bandwidth b
inline constexpr double max_pad_seconds = 1e6;

// One row of summary.csv.
struct run_summary {
    std::string profile, record, folder;
    bool ok = false;
    bool interrupted = false;        // not made: the batch was stopped first
    bool rvt = false;                // an input of random vibration theory
    std::string note;                // the reason of a failure, or what was cut
    std::vector<std::string> values; // the value cells after the note (empty for a failed run)
};

// Checks the options (each against the limits above), reads every profile (a regular file or a
// pipe; a pipe is consumed), and checks the output folder without touching it: it must not
// exist, be empty, or (with force) hold no input in what force would remove. An error of kind
// usage names the option or file; nothing is written.
result<void> prepare_batch(const batch_options& o);

// What a batch gives back: the summary's rows in order (profiles in argument order, records in
// argument order for each), and the error of summary.csv when it could not be written (the run
// folders are kept; summary_csv() gives its text to show elsewhere).
struct batch_result {
    std::vector<run_summary> rows;
    std::optional<sitewave::error> summary_error;
    // DIR/statistics.csv (with --spectra) and DIR/run.json rewritten at the end, when either
    // could not be made; the run folders and the summary are kept.
    std::optional<sitewave::error> statistics_error, record_error;
};

// Checks as prepare_batch does (reading each profile once), locks the output folder (a second
// batch on it is a usage error), with force removes summary.csv, statistics.csv and run.json (files
// or links), the marked run folders this batch writes and marked temporary folders left by a killed
// batch (never anything unmarked, never through a symbolic link), then runs every record on every
// profile on up to o.jobs threads (fewer when a thread cannot start) and writes the run folders and
// DIR/summary.csv. DIR/run.json is written before the runs (an error then is the batch's, of kind
// system) and again after them with their outcomes; with o.spectra, DIR/statistics.csv after the
// summary. `done(k, n)` is called after each run (from any thread, one at a time). A failed run is
// a row with ok false, the other runs go on. Errors: usage (nothing written), or system.
result<batch_result> run_batch(const batch_options& o,
                               const std::function<void(int, int)>& done = {});

// Combines DIR/shards/0 .. N-1, written by the N processes of a sharded suite, into the
// summary.csv, statistics.csv, profile-statistics.csv and realizations.csv of DIR that one
// unsharded run writes (the same rows in the same order; the statistics are computed from each
// cell's values sorted, so they are the same to the bit). Refused (kind usage, nothing written)
// when a shard is missing, belongs to another suite, or is not complete, or when an entry of
// DIR/shards is not a shard's folder; kind system when a file cannot be written.
result<void> merge_shards(const std::string& dir);

// The text of summary.csv for these rows.
std::string summary_csv(const batch_options& o, const std::vector<run_summary>& rows);

// Reads a PEER NGA triple: four header lines each (line 3 the unit, line 4 NPTS and DT, as
// "NPTS=  5372, DT=   .0100 SEC" or "5372   .0100   NPTS, DT"), then the samples in any layout
// of blanks. Components of different lengths are cut to the shortest (`note` says so); time
// steps that differ, or fewer values than NPTS, are refused. Times are (k - 1)*DT in double from
// DT as written, rounded to float; the titles carry the unit.
result<record> read_at2(const std::array<std::string, 3>& files, std::string& note);

} // namespace sitewave
