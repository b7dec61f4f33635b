// The end of a dialogue run goes ahead of its output. The factors file is written on the helper
// thread while the run asks its last questions and goes on; until that file is in place, the
// console lines that follow are held back and later result files stay complete under their
// temporary names. They are then put out in the order of the plain run, so the console, the
// files and the failure reported (the first in that order) are those of the plain run.
#pragma once

#include "common/helper_thread.hpp"
#include "textio/unit.hpp"

#include <functional>
#include <future>
#include <string>
#include <utility>
#include <vector>

namespace sitewave::driver {

class run_ahead {
  public:
    run_ahead(textio::output_unit& con, textio::input_unit& in, background& helper)
        : con_(con), in_(in), helper_(helper) {}
    run_ahead(const run_ahead&) = delete;
    run_ahead& operator=(const run_ahead&) = delete;
    // Waits for the file on the helper; what is still held is dropped.
    ~run_ahead();

    // Writes a result file on the helper and puts it in place there; its statements go to a
    // record of their own, starting from `state`. Console lines are held from here on, and
    // held until then if the console has to wait for an answer.
    void start(std::function<textio::completed_file(textio::io_state&)> write,
               const textio::io_state& state);
    // Puts a completed file in place: now, or once what comes before it is out.
    void put_in_place(textio::completed_file file);
    // A file still being written on the helper.
    bool busy() const;
    // Waits for the helper's file, then puts out the held lines and files in order; the first
    // failure among them is raised. Once settled, output goes out at once.
    void settle();

  private:
    textio::output_unit& con_;
    textio::input_unit& in_;
    background& helper_;
    textio::io_state state_; // the helper file's statements
    std::future<void> written_;
    std::string held_;
    // Files to put in place, each after the held console text up to its mark.
    std::vector<std::pair<std::size_t, textio::completed_file>> files_;
    bool settled_ = true;
};

} // namespace sitewave::driver
