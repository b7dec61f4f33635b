// The statistics of a suite with realizations, gathered as its runs finish: per group (a
// profile's folder name, then "all"), the values of every run at every cell of the layout (a
// period of a PSA column, a frequency of the transfer function, a depth of the profile), kept
// until the end for the exact percentiles. Every figure is computed from the cell's values sorted,
// so it does not depend on the order in which the runs came (threads, shards).
#pragma once

#include "batch/statistics.hpp"
#include "sitewave/batch.hpp"

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace sitewave::batch {

// The cells of one run's observations, in this order: each PSA key (quantity, component,
// damping as psa_key) at each period; |transfer| of H1 at each frequency; Vs, peak strain (%)
// and peak acceleration (g) at each depth.
struct observation_layout {
    std::vector<psa_key> keys;
    std::vector<double> periods;     // s, psa.csv's (0 first)
    std::vector<double> frequencies; // Hz
    std::vector<double> depths;      // m

    std::size_t psa_cells() const { return keys.size() * periods.size(); }
    std::size_t transfer_at(std::size_t i) const { return psa_cells() + i; }
    std::size_t profile_at(std::size_t quantity, std::size_t i) const {
        return psa_cells() + frequencies.size() + quantity * depths.size() + i;
    }
    std::size_t size() const { return profile_at(3, 0); }
    // A text that differs whenever the layout does (for the shards' fingerprint).
    std::string describe() const;
};

// The suite's layout: with --spectra, surface psa and rrs of H1, H2, V (and RotD50 with --rotd)
// at each damping and the periods of psa.csv; 100 frequencies from 0.1 to 25 Hz spaced evenly in
// log; 101 depths from 0 to `deepest` m.
observation_layout make_layout(const batch_options& o, double deepest);

// The percentile p (0 to 100) of sorted values, numpy's "linear" method: h = (n − 1)·p/100,
// x[⌊h⌋] + (h − ⌊h⌋)·(x[⌊h⌋ + 1] − x[⌊h⌋]).
double percentile(std::span<const double> sorted, double p);

class stream_statistics {
  public:
    // `groups`: the profiles' names; "all" is added last.
    stream_statistics(observation_layout layout, std::vector<std::string> groups);

    // One run's observations (layout.size() values, NaN where there is none) into group g.
    // Not thread-safe: one caller at a time.
    void add(std::size_t g, std::span<const double> obs);

    // statistics.csv: issue 16's columns (group, quantity, component, damping, period (s), n,
    // mean, geometric mean, ln std, envelope), then median, p16, p84, frequency (Hz); the
    // transfer rows have quantity "transfer", component H1, the period and damping empty.
    std::string statistics_csv() const;
    // profile-statistics.csv: group, quantity (vs, strain, pga), depth (m), n, mean, geometric
    // mean, ln std, median, p16, p84.
    std::string profile_csv() const;

    // The memory the values take: 8 bytes a value, runs × cells with a value.
    std::size_t bytes() const;
    const observation_layout& layout() const { return layout_; }

  private:
    struct figures {
        std::size_t n = 0;
        double mean = 0, gmean = 0, lnstd = 0, median = 0, p16 = 0, p84 = 0;
        bool positive = true;
    };
    figures of(std::size_t group, std::size_t cell) const; // group == groups_.size(): all
    std::vector<std::string> cells(const figures& f, bool logs) const;

    observation_layout layout_;
    std::vector<std::string> groups_;
    std::vector<std::vector<std::vector<double>>> values_; // [group][cell]
};

} // namespace sitewave::batch
