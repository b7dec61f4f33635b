#include "overlap/ahead.hpp"

#include "steps/record.hpp"
#include "steps/steps.hpp"

#include <chrono>
#include <unistd.h>
#include <utility>

namespace sitewave::overlap {

run_ahead::~run_ahead() {
    for (auto& e : entries_) {
        if (e.written.valid()) {
            e.written.wait();
        }
    }
}

void run_ahead::start(std::function<textio::completed_file(textio::io_state&)> write) {
    for (const auto& e : entries_) {
        if (!e.written.valid()) {
            settle(); // a file of the run's own comes first: it must be in place before this one
            break;
        }
    }
    entry e;
    e.mark = held_.size();
    e.state = std::make_unique<textio::io_state>(state_);
    e.statements = state_.statements;
    e.written = helper_.post([this, st = e.state.get(), write = std::move(write)] {
        if (helper_failed_) {
            return; // an earlier file failed: the plain run stops there
        }
        try {
            auto file = write(*st);
            commit(file, false);
        } catch (...) {
            helper_failed_ = true;
            throw;
        }
    });
    entries_.push_back(std::move(e));
}

void run_ahead::commit(textio::completed_file& file, bool release_here) {
    const int replaced = file.commit_keeping_replaced();
    if (replaced < 0) {
        return;
    }
    if (!release_here) {
        try {
            helper_.post([replaced] { ::close(replaced); });
            return;
        } catch (...) {
        }
    }
    ::close(replaced);
}

void run_ahead::put(std::string_view bytes) {
    if (entries_.empty()) {
        out_.put(bytes);
    } else {
        held_.append(bytes);
    }
}

void run_ahead::before_read(bool would_wait) {
    if (would_wait) {
        settle();
    }
    out_.before_read(would_wait);
}

void run_ahead::put_in_place(textio::completed_file file) {
    if (entries_.empty()) {
        commit(file, false);
        return;
    }
    entry e;
    e.mark = held_.size();
    e.file = std::move(file);
    entries_.push_back(std::move(e));
}

bool run_ahead::busy() const {
    for (const auto& e : entries_) {
        if (e.written.valid() &&
            e.written.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            return true;
        }
    }
    return false;
}

void run_ahead::settle(bool at_end) {
    if (entries_.empty()) {
        return;
    }
    const std::string held = std::move(held_);
    held_.clear();
    auto entries = std::move(entries_);
    entries_.clear();
    // The helper's files still being written when a failure ends this: waited for, as they
    // use their entries.
    struct wait_all {
        std::vector<entry>& list;
        ~wait_all() {
            for (auto& e : list) {
                if (e.written.valid()) {
                    e.written.wait();
                }
            }
        }
    } waiting{entries};
    const std::string_view text(held);
    std::size_t at = 0;
    for (auto& e : entries) {
        out_.put(text.substr(at, e.mark - at));
        at = e.mark;
        if (e.written.valid()) {
            spin_wait(e.written);
            e.written.get(); // its failure is the one reported; what follows is dropped
            if (state_.statements == e.statements) {
                state_ = *e.state; // the run made no statement after it: it is the last one
            }
        } else {
            commit(e.file, at_end && &e == &entries.back());
        }
    }
    out_.put(text.substr(at));
}

profile_ahead::profile_ahead(textio::io_state& state, const textio::output_unit& con,
                             const std::string& soil_path, const std::string& record_path,
                             background* helper)
    : state_(state), own_(state), helper_(helper) {
    own_.record(true, "list io", con.unit(), con.name());
    before_ = own_.statements;
    if (helper_ != nullptr) {
        read_ = read_done_.get_future();
        try {
            job_ = helper_->post([this, soil_path, record_path] {
                read(soil_path);
                if (sound()) {
                    try {
                        if (const auto g = steps::likely_grid(record_path)) {
                            start_rows(*g);
                        }
                    } catch (...) {
                        rows_.reset(); // no guess then: the tables begin on the record's grid
                    }
                }
                // The run may begin other rows once the reading is done: these stay until
                // this work ends.
                layered::shared_tables* const guessed = rows_.get();
                read_done_.set_value();
                if (guessed != nullptr) {
                    guessed->run(1);
                }
            });
            return;
        } catch (...) {
            read_ = {};
            helper_ = nullptr;
        }
    }
    read(soil_path);
}

profile_ahead::~profile_ahead() {
    wait_read();
    if (rows_) {
        rows_->stop();
    }
    if (job_.valid()) {
        job_.wait();
    }
}

void profile_ahead::read(const std::string& path) {
    try {
        soil::soilin(soil::soil_file, own_, profile_, prog_, path);
    } catch (const textio::failure&) {
        read_failure_ = std::current_exception();
        echo_failure_ = true;
        return;
    } catch (...) {
        read_failure_ = std::current_exception();
        return;
    }
    try {
        why_ = soil::check_profile(profile_);
    } catch (...) {
        later_failure_ = std::current_exception();
    }
}

void profile_ahead::start_rows(const grid& g) {
    rows_.reset();
    tables_ = std::make_shared<tables>(steps::table_storage(g.nom));
    rows_ = std::make_unique<layered::shared_tables>(0.0f, g.dom, g.nom, profile_.layers,
                                                     profile_.theta, tables_->samp, tables_->pamp);
    guess_ = g;
}

void profile_ahead::wait_read() {
    if (read_.valid()) {
        spin_wait(read_);
    }
}

bool profile_ahead::begin_tables(const grid& g) {
    wait_read();
    if (!sound()) {
        return false;
    }
    if (rows_ && guess_->dom == g.dom && guess_->nom == g.nom) {
        return true; // the tables depend on nothing else of the grid
    }
    if (rows_) {
        rows_->stop();
        job_.wait();
    }
    try {
        start_rows(g);
    } catch (...) {
        later_failure_ = std::current_exception(); // met after the echo, as in the plain run
        return false;
    }
    if (helper_ != nullptr) {
        try {
            job_ = helper_->post([r = rows_.get()] { r->run(1); });
            return true;
        } catch (...) {
            job_ = {};
        }
    }
    return false;
}

const soil::soil_profile& profile_ahead::take(textio::output_unit& con) {
    wait_read();
    const unsigned long made = own_.statements - before_;
    const unsigned long now = state_.statements;
    state_ = own_;
    state_.statements = now + made;
    if (read_failure_) {
        if (echo_failure_) {
            soil::echo(con, profile_, prog_);
        }
        std::rethrow_exception(read_failure_);
    }
    soil::echo(con, profile_, prog_);
    if (later_failure_) {
        std::rethrow_exception(later_failure_);
    }
    if (!why_.empty()) {
        textio::refuse(why_);
    }
    return profile_;
}

std::shared_ptr<const tables> profile_ahead::finished_tables() {
    rows_->run(0);
    if (job_.valid()) {
        spin_wait(job_);
        job_.get();
    }
    return tables_;
}

} // namespace sitewave::overlap
