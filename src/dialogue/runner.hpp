// How the dialogue's slower steps are carried out: each in its place (the plain sequence, the
// reference), or ahead of its place on a helper thread with the same console, files and failure
// (the overlap). The dialogue calls these at the points of its sequence; nothing else differs.
#pragma once

#include "sitewave/steps.hpp"
#include "soil/soilin.hpp"
#include "textio/unit.hpp"

#include <functional>
#include <memory>
#include <string>

namespace sitewave::dialogue {

class runner {
  public:
    virtual ~runner() = default;

    // Where the console's records go.
    virtual textio::console_sink& console() = 0;
    // The record's name is known: the soil file and the record file by their paths.
    virtual void named(const std::string& soil_path, const std::string& record_path,
                       const textio::output_unit& con) = 0;
    // The record's grid is known; the threads the forward transform may use.
    virtual int grid_known(const grid& g) = 0;
    // The soil file in its place: read, echoed, and what the reading raised raised, or an
    // unsound profile refused.
    virtual const soil::soil_profile& soil(textio::output_unit& con) = 0;
    // Both tables of the profile on the record's grid.
    virtual std::shared_ptr<const tables> profile_tables(const grid& g) = 0;
    // A result file made by `write` on the statements it is given, and put in place.
    virtual void write(std::function<textio::completed_file(textio::io_state&)> write) = 0;
    // No further file goes through write().
    virtual void writes_done() = 0;
    // The threads the inverse transform may use.
    virtual int inverse_threads() = 0;
    // A result file the run completed, put in place in its turn.
    virtual void put_in_place(textio::completed_file file) = 0;
    // Everything out, in the plain order; the first failure raised. At the end of the run
    // (`at_end`), or after a failure of the run's own.
    virtual void settle(bool at_end) = 0;
};

// The plain sequence: every step in its place, on the calling thread.
std::unique_ptr<runner> plain_runner(std::FILE* out, textio::io_state& state);

// The overlap: the soil file and the tables ahead, the first two result files on a helper
// thread, when the process has more than one processor.
std::unique_ptr<runner> overlap_runner(std::FILE* out, textio::io_state& state);

} // namespace sitewave::dialogue
