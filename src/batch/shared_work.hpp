// What the runs of a batch share: a record, read once, with its transform and the lines of its
// files that do not depend on the profile; and the tables of a profile on one grid with what
// every record on it writes of them. Each is made by the first run that needs it; a record's
// work is released after its last run.
#pragma once

#include "batch/padding.hpp"
#include "batch/tidy.hpp"
#include "fft/wvfast.hpp"
#include "sitewave/batch.hpp"
#include "sitewave/steps.hpp"

#include <atomic>
#include <cstdint>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace sitewave::batch {

inline constexpr int max_if1 = 20; // transforms of up to 2^20 points

struct loaded_record {
    record rec;
    std::string note;
    std::optional<sitewave::error> err;
};

// Reads a record source: the record file (its times on a constant step) or the AT2 triple. Only
// regular files are read: a named pipe or a device would be waited on or read without end.
loaded_record load(const record_source& rs);

// The response spectra of three components, damping ratio after damping ratio, at the periods
// of psa_periods(), in the unit of the components: H1, H2, V, and with --rotd RotD50, RotD100.
struct response_set {
    std::vector<double> h1, h2, v, rotd50, rotd100;
};
// The periods of psa.csv (0 first, then --periods), then 0.2 s and 1.0 s for the summary.
std::vector<double> psa_periods(const batch_options& o);
std::vector<response_set> response_spectra(std::span<const float> h1, std::span<const float> h2,
                                           std::span<const float> v, float dt,
                                           const batch_options& o);

// The factor from the record's unit to the unit written: g for accelerations (1 for a record in
// g, whose values are then written as they are), m/s or m/s^3 after integration or
// differentiation; and that unit's name.
struct output_unit {
    double factor = 1.0;
    bool scaled = false; // factor != 1
    std::string name;
};
output_unit history_unit(const batch_options& o, bool input);
// v in the unit written: the product in double rounded to float, or v itself.
inline float scaled(float v, const output_unit& u) {
    return u.scaled ? static_cast<float>(static_cast<double>(v) * u.factor) : v;
}
inline constexpr double standard_gravity = 9.80665; // m/s^2

// The runs of one record on every profile: the lines of its files that do not depend on the
// profile (input.csv whole, the time of each sample) and, with --spectra, the input's response
// spectra. A refusal met preparing it is each run's (thrown as textio::failure).
struct record_work {
    laid_out_lines times; // the time of each sample, one a line
    laid_out_lines input_csv;
    std::vector<response_set> input_psa;
};
record_work prepare(const record& rec, const record_source& rs, const batch_options& o);

// A record on one transform length: its grid, forward spectra, the inverse transform's factors,
// and the first cells of each line of spectra.csv.
struct record_grid {
    int nf = 0;
    grid g;
    spectra s;
    std::optional<fft::twiddles> inverse_factors;
    laid_out_lines spectra_head;
    std::array<std::vector<float>, 3> smoothed_input; // with --smooth: of H1, H2, V
};
record_grid prepare_grid(const record& rec, const record_source& rs, int nf,
                         const batch_options& o);

// Konno-Ohmachi smoothing (bandwidth b) of three moduli at once, as floats.
std::array<std::vector<float>, 3> smoothed(const std::array<std::vector<float>, 3>& moduli,
                                           double b);

// The tables of one profile on one grid, and what every record on it writes of them
// (transfer.csv whole, the frequency of the peak factor).
struct profile_work {
    tables t;
    tables applied; // an outcrop motion's: column 1 halved (exact)
    bool outcrop = false;
    int nin = 1;
    laid_out_lines transfer_csv;
    std::size_t best = 1;

    const tables& use() const { return outcrop ? applied : t; }
};
// transfer_file: lay out transfer.csv's lines (an equivalent-linear run writes its own).
profile_work make_profile_work(const layer_table& layers, float theta, input_motion input,
                               const grid& g, bool oblique, int row_threads,
                               std::optional<double> smooth_ko = std::nullopt,
                               bool transfer_file = true);

// The shared work of a batch, made on first use from any thread.
class shared_work {
  public:
    // With `given`, the records are these (held by the caller, one per o.records entry) rather
    // than read from o.records' files.
    shared_work(const batch_options& o, const std::vector<profile>& profiles, int row_threads,
                const std::vector<record>* given = nullptr);

    // The record k, loaded by the first caller; and its work.
    const loaded_record& record_of(std::size_t k);
    const record_work& work_of(std::size_t k);
    // Record k on nf points.
    const record_grid& grid_of(std::size_t k, int nf);
    // After each run of record k: the last one releases the record and its work.
    void run_done(std::size_t k);
    // How long profile p's response lasts at time step dt (padding::automatic).
    decay_time decay_of(std::size_t p, float theta, input_motion input, float dt);

    const profile_work& profile_of(std::size_t p, float theta, input_motion input, int nf,
                                   float dt);

  private:
    const batch_options& o_;
    const std::vector<profile>& profiles_;
    int row_threads_;
    std::vector<std::shared_future<loaded_record>> records_;
    std::vector<std::shared_future<record_work>> work_;
    std::vector<std::atomic<std::size_t>> runs_left_; // of each record
    std::mutex mutex_;
    std::map<std::tuple<std::size_t, int, std::uint32_t>, std::shared_future<profile_work>> cache_;
    std::map<std::pair<std::size_t, int>, std::shared_future<record_grid>> grids_;
    std::map<std::pair<std::size_t, std::uint32_t>, std::shared_future<decay_time>> decays_;
};

} // namespace sitewave::batch
