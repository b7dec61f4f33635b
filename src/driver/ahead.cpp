#include "driver/ahead.hpp"

#include <chrono>

namespace sitewave::driver {

run_ahead::~run_ahead() {
    con_.hold(nullptr);
    in_.before_wait(nullptr);
    if (written_.valid()) {
        written_.wait();
    }
}

void run_ahead::start(std::function<textio::completed_file(textio::io_state&)> write,
                      const textio::io_state& state) {
    state_ = state;
    written_ = helper_.post([this, write = std::move(write)] { write(state_).commit(); });
    settled_ = false;
    con_.hold(&held_);
    in_.before_wait([this] { settle(); });
}

void run_ahead::put_in_place(textio::completed_file file) {
    if (settled_) {
        file.commit();
    } else {
        files_.emplace_back(held_.size(), std::move(file));
    }
}

bool run_ahead::busy() const {
    return written_.valid() &&
           written_.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

void run_ahead::settle() {
    if (settled_) {
        return;
    }
    settled_ = true;
    con_.hold(nullptr);
    in_.before_wait(nullptr);
    const std::string held = std::move(held_);
    auto files = std::move(files_);
    written_.get(); // its failure comes first; the rest is then dropped
    std::size_t at = 0;
    for (auto& [mark, file] : files) {
        con_.put_bytes(std::string_view(held).substr(at, mark - at));
        at = mark;
        file.commit();
    }
    con_.put_bytes(std::string_view(held).substr(at));
}

} // namespace sitewave::driver
