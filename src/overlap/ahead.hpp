// The end of a dialogue run goes ahead of its output. Result files are written on the helper
// thread while the run asks its last questions and goes on; until they are in place, the console
// lines that follow them are held back and the files the run completes itself stay under their
// temporary names. All is then put out in the order of the plain run, so the console, the files
// and the failure reported (the first in that order) are those of the plain run.
#pragma once

#include "layered/transfer.hpp"
#include "sitewave/steps.hpp"
#include "soil/soilin.hpp"
#include "textio/unit.hpp"
#include "threads/helper_thread.hpp"

#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sitewave::overlap {

class run_ahead final : public textio::console_sink {
  public:
    // The console goes through this sink to `out`; `state` is the run's record of statements.
    run_ahead(textio::console_sink& out, textio::io_state& state, background& helper)
        : out_(out), state_(state), helper_(helper) {}
    run_ahead(const run_ahead&) = delete;
    run_ahead& operator=(const run_ahead&) = delete;
    // Waits for the helper's files; what is still held is dropped.
    ~run_ahead() override;

    // Writes a result file on the helper and puts it in place there, after the files started
    // before it, unless one of them failed. Its statements go to a record of their own, which
    // starts from the run's. Console lines are held from here on, and held until then if the
    // console has to wait for an answer.
    void start(std::function<textio::completed_file(textio::io_state&)> write);
    // Puts a completed file in place: now, or once what comes before it is out.
    void put_in_place(textio::completed_file file);
    // A file still being written on the helper.
    bool busy() const;
    // Waits for the helper's files, then puts out the held lines and files in order; the first
    // failure among them is raised. Once settled, output goes out at once. At the end of the
    // run the file the last one replaces is released right here: nothing is left to overlap it.
    void settle(bool at_end = false);

    // The console: held while a file is being written on the helper; an answer that is not
    // there yet settles first, so that the question is on the screen.
    void put(std::string_view bytes) override;
    void before_read(bool would_wait) override;
    void flush() override { out_.flush(); }

  private:
    // A file in the order of the run, after the held console text up to `mark`: written on
    // the helper (`written`), or completed by the run (`file`).
    struct entry {
        std::size_t mark = 0;
        std::future<void> written;
        std::unique_ptr<textio::io_state> state; // the helper file's statements
        unsigned long statements = 0;            // the run's, when it was started
        textio::completed_file file;
    };
    // Puts a completed file in place; the file it replaces is released on the helper, or here.
    void commit(textio::completed_file& file, bool release_here);

    textio::console_sink& out_;
    textio::io_state& state_;
    background& helper_;
    std::string held_;
    std::vector<entry> entries_;
    bool helper_failed_ = false; // read and written on the helper only
};

// The soil file read ahead of its place in the run, on a record of statements of its own, and
// the tables of a sound profile begun early on the helper: on the grid the record file appears
// to have, while the run reads the record, and kept if the record has that grid. What the
// reading raised is raised in its place, by take().
class profile_ahead {
  public:
    // Begins at once: on the helper when given (the reading, the likely grid, then rows of the
    // tables), here otherwise (the reading only). In the plain run the reading follows a list
    // write on the console `con`.
    profile_ahead(textio::io_state& state, const textio::output_unit& con,
                  const std::string& soil_path, const std::string& record_path, background* helper);
    profile_ahead(const profile_ahead&) = delete;
    profile_ahead& operator=(const profile_ahead&) = delete;
    ~profile_ahead();

    // With the record's grid: the tables of a sound profile go on if begun on it, else begin on
    // it. True when the helper computes some of their rows.
    bool begin_tables(const grid& g);
    // In the place of the reading in the plain run: its statements become the run's, the echo
    // goes to the console, and what the reading raised is raised, or an unsound profile refused.
    const soil::soil_profile& take(textio::output_unit& con);
    // The tables, once every row is done (after begin_tables() and take()).
    std::shared_ptr<const tables> finished_tables();

  private:
    void read(const std::string& path);
    bool sound() const { return !read_failure_ && !later_failure_ && why_.empty(); }
    void start_rows(const grid& g);
    void wait_read();

    textio::io_state& state_;
    textio::io_state own_; // the reading's statements, from the run's when it began
    unsigned long before_ = 0;
    background* helper_;
    soil::soil_profile profile_;
    soil::progress prog_;
    std::exception_ptr read_failure_;  // raised by the reading
    bool echo_failure_ = false;        // a failure of the text layer: echoed before it is raised
    std::exception_ptr later_failure_; // raised after the reading, met after the echo
    std::string why_;                  // why the profile is refused
    std::promise<void> read_done_;     // the reading and the guess of the grid are done
    std::future<void> read_;
    std::future<void> job_; // the helper's work
    std::optional<grid> guess_;
    std::shared_ptr<tables> tables_;
    std::unique_ptr<layered::shared_tables> rows_;
};

} // namespace sitewave::overlap
