// What the runs of a batch share: a record, read once, with its transform and the lines of its
// files that do not depend on the profile; and the tables of a profile on one grid with what
// every record on it writes of them. Each is made by the first run that needs it; a record's
// work is released after its last run.
#pragma once

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

// The runs of one record on every profile: its grid, forward spectra, the inverse transform's
// factors, and the lines of its files that do not depend on the profile (input.csv whole, the
// first cells of each line of spectra.csv, the time of each sample). A refusal met preparing it
// is each run's (thrown as textio::failure).
struct record_work {
    int nf = 0;
    grid g;
    spectra s;
    std::optional<fft::twiddles> inverse_factors;
    laid_out_lines times; // the time of each sample, one a line
    laid_out_lines input_csv;
    laid_out_lines spectra_head;
    std::array<std::vector<float>, 3> smoothed_input; // with --smooth: of H1, H2, V
};
record_work prepare(const record& rec, const record_source& rs,
                    std::optional<double> smooth_ko = std::nullopt);

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
profile_work make_profile_work(const layer_table& layers, float theta, input_motion input,
                               const grid& g, bool oblique, int row_threads,
                               std::optional<double> smooth_ko = std::nullopt);

// The shared work of a batch, made on first use from any thread.
class shared_work {
  public:
    shared_work(const batch_options& o, const std::vector<profile>& profiles, int row_threads);

    // The record k, loaded by the first caller; and its work.
    const loaded_record& record_of(std::size_t k);
    const record_work& work_of(std::size_t k);
    // After each run of record k: the last one releases the record and its work.
    void run_done(std::size_t k);

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
};

} // namespace sitewave::batch
