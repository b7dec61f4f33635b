// The suite's statistics: DIR/statistics.csv, from the psa.csv files the runs wrote.
#pragma once

#include "batch/plan.hpp"
#include "sitewave/batch.hpp"

#include <optional>
#include <string>
#include <vector>

namespace sitewave::batch {

// A column of psa.csv that the statistics take: the surface PSA ("surface psa") or the ratio
// surface / input ("rrs") of a component (H1, H2, V, RotD50) at a damping ratio ("5%"), read
// from the titles "surface H1 5%", "ratio H1 5%" (or "surface H1 PSA 5%"); none for the others.
struct psa_key {
    int quantity = 0;  // 0 surface psa, 1 rrs
    int component = 0; // 0 H1, 1 H2, 2 V, 3 RotD50
    std::string damping;
    bool operator==(const psa_key&) const = default;
};
std::optional<psa_key> psa_column(const std::string& title);

// The numbers of one psa.csv: its periods and, for each column taken, the key and the values
// (none for an empty cell). Throws textio::failure naming `name` and the line on a cell that is
// not a finite number or a line of another width.
struct psa_file {
    std::vector<double> periods;
    std::vector<psa_key> keys;
    std::vector<std::vector<std::optional<double>>> values; // [column][period]
};
psa_file read_psa(const std::string& path, const std::string& name);

// Accumulates the runs of each group (a profile's folder name, then "all" over every run) and
// gives the text of statistics.csv.
class suite_statistics {
  public:
    explicit suite_statistics(std::vector<std::string> groups);
    // The run's table, in group `g` and in "all"; the first table sets the periods and the
    // columns (a later one with other periods is refused; a column it lacks counts no value).
    void add(std::size_t g, const psa_file& t, const std::string& name);
    std::string csv() const;

  private:
    struct cell {
        long n = 0;
        double sum = 0;            // of the values
        bool positive = true;      // every value > 0: the logs are defined
        double lmean = 0, lm2 = 0; // of the logs (Welford)
        void add(double x);
    };
    std::vector<std::string> groups_;
    std::vector<double> periods_;
    std::vector<psa_key> keys_;
    std::vector<std::vector<cell>> cells_; // [group][key * periods + period]; "all" last
};

// statistics.csv of the ok runs of the batch, from DIR/<folder>/psa.csv; written to a temporary
// file renamed into place.
result<void> write_statistics(const batch_options& o, const std::vector<plan_entry>& plan,
                              const std::vector<run_summary>& rows);

} // namespace sitewave::batch
