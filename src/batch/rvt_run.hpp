// A run of random vibration theory: an input spectrum (a Fourier amplitude spectrum, a point
// source, or the spectrum found for a target response spectrum) through a profile, linear or
// equivalent-linear, to the peaks and response spectra at the surface. H1 only: the summary's
// and psa.csv's H2 and V cells stay empty.
#pragma once

#include "batch/eql_run.hpp"
#include "sitewave/batch.hpp"
#include "sitewave/profile.hpp"
#include "sitewave/site.hpp"
#include "textio/unit.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sitewave::batch {

// A number as %g writes it; a region's name.
std::string fixed(double x);
const char* region_name(rvt::region r);

// The frequencies of an rvt run: k·df for k = 1..rvt_rows, up to 100 Hz.
inline constexpr std::size_t rvt_rows = 4096;

// The peak setting of an input: the peak factor given, else bt15 when the magnitude and distance
// are known, vanmarcke otherwise; the duration `t_gm`.
rvt::peak_setting rvt_setting(const batch_options& o, const rvt_input& in, double t_gm);

// Why the options cannot run this input (a peak factor that needs M and R without them, a
// missing duration, ...), or nothing.
std::optional<std::string> rvt_input_fault(const batch_options& o, const rvt_input& in);

// Reads a two-column CSV file (a title line, then rows of two numbers): refused (thrown, naming
// the file and the line) unless each row has two finite numbers, the first positive and
// increasing after sorting without repeats, the second ≥ 0 (> 0 when `positive`).
std::pair<std::vector<double>, std::vector<double>> read_pairs(const std::string& path,
                                                               bool positive);
// The values an input was given instead of its file (x, y), checked and sorted as read_pairs
// checks a file's rows.
std::pair<std::vector<double>, std::vector<double>> checked_pairs(const rvt_input& in,
                                                                  bool positive);

// A run computed: the input's and the surface's Fourier amplitudes (g·s) and the profile's factor
// at the run's frequencies, the peaks (g), the response spectra of input and surface at
// psa_periods(o) for each damping ratio (the peak at period 0), the equivalent-linear run.
struct rvt_data {
    rvt::spectrum fas;
    std::vector<double> surface, factor;
    double t_gm = 0;
    rvt::peak_setting setting;
    input_motion input = input_motion::incident;
    double angle = 0;
    double peak_input = 0, peak_surface = 0;
    std::size_t best = 0; // the row of the largest factor
    std::vector<double> periods;
    std::vector<std::pair<std::vector<double>, std::vector<double>>> psa;
    std::optional<eql_outcome> eq;
    std::string note; // the target's misfit, a component not converged
};
// Refused (thrown) as compute_rvt refuses.
rvt_data compute_rvt_data(const batch_options& o, const profile& prof,
                          const std::optional<site::site_model>& site, const rvt_input& in);

// The summary's value cells of a run: the input type, angle, the peaks, the peak factor and its
// frequency (nt, dt, nf and the H2 and V cells empty), with --spectra surface H1 at 0.2 s and 1.0 s
// and its ratios, then the method's cells.
std::vector<std::string> rvt_values(const batch_options& o, const rvt_data& d);

// The files of the run into `dir` (psa.csv, spectra.csv, transfer.csv; with --method eql
// profile.csv and iterations.csv); the summary's value cells. `note` gets the target's misfit and
// what did not converge.
std::vector<std::string> compute_rvt(const batch_options& o, const profile& prof,
                                     const std::optional<site::site_model>& site,
                                     const rvt_input& in, const std::filesystem::path& dir,
                                     textio::io_state& state, std::string& note);

} // namespace sitewave::batch
