// DIR/run.json: what a batch was given (program version, command line, every option after the
// defaults, each input file's size and SHA-256) and, rewritten at the end, how its runs ended.
#pragma once

#include "batch/plan.hpp"
#include "sitewave/batch.hpp"

#include <memory>
#include <string>
#include <vector>

namespace sitewave::batch {

class run_record {
  public:
    // Reads every input once for its digest.
    run_record(const batch_options& o, const std::vector<plan_entry>& plan);
    ~run_record();
    run_record(const run_record&) = delete;
    run_record& operator=(const run_record&) = delete;

    // The text: "status" "running" and no run's outcome before the runs; after them the
    // outcome of each run, the counts and "complete" or "interrupted".
    std::string text() const;
    void finish(const batch_result& r);

    // Writes DIR/run.json (a temporary file renamed into place).
    result<void> write(const batch_options& o) const;

  private:
    struct state;
    std::unique_ptr<state> s_;
};

} // namespace sitewave::batch
