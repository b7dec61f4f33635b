#include "driver/ahead.hpp"

#include "driver/steps.hpp"

#include <chrono>
#include <utility>

namespace sitewave::driver {

run_ahead::~run_ahead() {
    con_.hold(nullptr);
    in_.before_wait(nullptr);
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
            write(*st).commit();
        } catch (...) {
            helper_failed_ = true;
            throw;
        }
    });
    if (entries_.empty()) {
        con_.hold(&held_);
        in_.before_wait([this] { settle(); });
    }
    entries_.push_back(std::move(e));
}

void run_ahead::put_in_place(textio::completed_file file) {
    if (entries_.empty()) {
        file.commit();
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
    con_.hold(nullptr);
    in_.before_wait(nullptr);
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
        con_.put_bytes(text.substr(at, e.mark - at));
        at = e.mark;
        if (e.written.valid()) {
            e.written.get(); // its failure is the one reported; what follows is dropped
            if (state_.statements == e.statements) {
                state_ = *e.state; // the run made no statement after it: it is the last one
            }
        } else {
            e.file.commit(at_end && &e == &entries.back());
        }
    }
    con_.put_bytes(text.substr(at));
}

profile_ahead::profile_ahead(textio::io_state& state, const std::string& path, const grid& g,
                             background* helper)
    : state_(state), own_(state), before_(state.statements) {
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
        if (why_.empty()) {
            tables_ = std::make_shared<tables>(table_storage(g.nom));
            rows_ = std::make_unique<layered::tables_ahead>(0.0f, g.dom, g.nom, profile_.layers,
                                                            profile_.theta, tables_->samp,
                                                            tables_->pamp, helper);
        }
    } catch (...) {
        later_failure_ = std::current_exception();
    }
}

const soil::soil_profile& profile_ahead::take(textio::output_unit& con) {
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
    rows_->finish();
    return tables_;
}

} // namespace sitewave::driver
