#include "textio/unit.hpp"

#include "textio/fatal.hpp"
#include "textio/pending.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sitewave::textio {

namespace {

std::string os_text(int err) { return std::strerror(err); }

// A temporary result file removed, and taken off the list of pending files.
void remove_temporary(const std::string& temp) {
    std::remove(temp.c_str());
    release_pending(temp.c_str());
}

[[noreturn]] void fail(std::string_view op, int err, int unit, std::string_view name,
                       const io_state& state) {
    std::string message(op);
    message.append(": ").append(os_text(err));
    fatal(message, unit, name, state);
}

// Puts the temporary file in the place of the file at `path`. A regular file found there is
// exchanged with it, then unlinked under the temporary name: ext4 starts writing back a file
// renamed over another at once (its guard for programs that do not sync), which made each result
// file cost 0.2 to 0.3 ms more to put in place and then to release. The exchange keeps the name
// always on a complete file, as the rename does. Anything else there, or no exchange on this
// system: the plain rename. Returns the error of the rename, or 0.
int put_in_place(const std::string& temp, const std::string& path, int replaced) {
    struct stat st {};
    if (replaced >= 0 && ::fstat(replaced, &st) == 0 && S_ISREG(st.st_mode) &&
        ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
        if (::unlink(temp.c_str()) == 0) {
            return 0;
        }
        // Something else came under the name meanwhile: put it back, and rename as usual.
        ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);
    }
    return std::rename(temp.c_str(), path.c_str()) != 0 ? errno : 0;
}

} // namespace

void stream_sink::put(std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), out_); // an error stays on the stream
}

void stream_sink::flush() {
    if (std::fflush(out_) != 0 || std::ferror(out_) != 0) {
        console_failed(errno != 0 ? errno : EIO);
    }
}

input_unit::input_unit(std::FILE* in, io_state& state, console_sink* echo)
    : file_(in), echo_(echo), state_(&state) {}

input_unit::input_unit(int unit, std::string name, io_state& state, const std::string& path)
    : unit_(unit), name_(std::move(name)), state_(&state) {
    const std::string& open_name = path.empty() ? name_ : path;
    if (name_.empty()) {
        fatal(std::string("open: ").append(msg_null_name), unit_, name_, *state_);
    }
    // A name with a NUL byte in it names no file; opening its first part would open another.
    if (open_name.find('\0') != std::string::npos) {
        fail("open", ENOENT, unit_, name_, *state_);
    }
    file_ = std::fopen(open_name.c_str(), "rb");
    if (file_ == nullptr) {
        fail("open", errno, unit_, name_, *state_);
    }
    owned_ = true;
    buffer_ = std::make_unique_for_overwrite<char[]>(block_size);
    // A directory opens, but holds no records.
    struct stat st {};
    if (::fstat(::fileno(file_), &st) == 0 && S_ISDIR(st.st_mode)) {
        fail("open", EISDIR, unit_, name_, *state_);
    }
}

input_unit::~input_unit() {
    if (owned_ && file_ != nullptr) {
        std::fclose(file_);
    }
}

bool input_unit::next_record(std::string& line) {
    line.clear();
    if (echo_ != nullptr) {
        // Whatever was asked must be on the screen before the answer is read.
        echo_->before_read(!ready());
    }
    if (buffer_) {
        if (begin_ == end_ && !refill()) {
            return false;
        }
        for (;;) {
            const char* start = buffer_.get() + begin_;
            const auto* nl = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
            if (nl != nullptr) {
                line.append(start, nl);
                begin_ += static_cast<std::size_t>(nl - start) + 1;
                break;
            }
            line.append(start, end_ - begin_);
            begin_ = end_;
            if (!refill()) {
                break;
            }
        }
    } else {
        int c = std::getc(file_);
        if (c == EOF) {
            return false;
        }
        while (c != EOF && c != '\n') {
            line.push_back(static_cast<char>(c));
            c = std::getc(file_);
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    ++records_;
    return true;
}

bool input_unit::ready() const {
    pollfd p{::fileno(file_), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

std::optional<std::string_view> input_unit::peek_record() {
    if (!buffer_ || begin_ == end_) {
        return std::nullopt;
    }
    const char* start = buffer_.get() + begin_;
    const auto* nl = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    if (nl == nullptr) {
        return std::nullopt;
    }
    peeked_end_ = begin_ + static_cast<std::size_t>(nl - start) + 1;
    std::string_view line(start, static_cast<std::size_t>(nl - start));
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

void input_unit::skip_record() {
    begin_ = peeked_end_;
    ++records_;
}

std::optional<std::uint64_t> input_unit::bytes_left() const {
    struct stat st {};
    if (!buffer_ || ::fstat(::fileno(file_), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    const long taken = std::ftell(file_); // read into the buffer so far
    if (taken < 0) {
        return std::nullopt;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    const auto past = static_cast<std::uint64_t>(taken);
    return (size > past ? size - past : 0) + (end_ - begin_);
}

bool input_unit::refill() {
    begin_ = 0;
    end_ = std::fread(buffer_.get(), 1, block_size, file_);
    return end_ > 0;
}

output_unit::output_unit(std::FILE* out, io_state& state)
    : file_(out), console_(true), own_sink_(std::make_unique<stream_sink>(out)),
      sink_(own_sink_.get()), state_(&state) {}

output_unit::output_unit(console_sink& sink, io_state& state)
    : console_(true), sink_(&sink), state_(&state) {}

output_unit::output_unit(int unit, std::string name, io_state& state, const std::string& path)
    : unit_(unit), name_(std::move(name)), path_(path.empty() ? name_ : path), state_(&state) {
    static std::atomic<unsigned> serial{0};
    const auto slash = path_.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    for (int attempt = 0;; ++attempt) {
        temp_ =
            dir + "." + base + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
        // 0666 less the umask, as for any new file. The termination signals wait while the file
        // is created and registered (here, and in a handler on another thread), so that a signal
        // never finds it unregistered.
        sigset_t block, old;
        sigemptyset(&block);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&block, sig);
        }
        ::pthread_sigmask(SIG_BLOCK, &block, &old);
        while (!begin_creating()) {
            ::pause(); // the process is ending by a signal handled on another thread
        }
        const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            register_pending(temp_.c_str());
        }
        const int open_errno = errno;
        end_creating();
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
        errno = open_errno;
        if (fd >= 0) {
            file_ = ::fdopen(fd, "wb");
            if (file_ != nullptr) {
                std::setvbuf(file_, nullptr, _IONBF, 0);
                pending_.reserve(block_size);
            }
            if (file_ == nullptr) {
                const int err = errno;
                ::close(fd);
                remove_temporary(temp_);
                fail("open", err, unit_, name_, *state_);
            }
            return;
        }
        if (errno != EEXIST || attempt > 100) {
            fail("open", errno, unit_, name_, *state_);
        }
    }
}

output_unit::~output_unit() {
    if (file_ != nullptr && !console_) {
        std::fclose(file_);
        remove_temporary(temp_);
    }
}

void output_unit::end_record() {
    record_.push_back('\n');
    if (console_) {
        sink_->put(record_);
    } else {
        pending_.append(record_);
        records_written();
    }
    record_.clear();
}

void output_unit::records_written() {
    if (pending_.size() >= block_size) {
        flush_pending();
    }
}

void output_unit::flush_pending() {
    if (!pending_.empty()) {
        write_out(pending_);
    }
    pending_.clear();
}

void output_unit::write_out(std::string_view bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() && write_error_ == 0) {
        write_error_ = errno != 0 ? errno : EIO; // the cause, before later calls change errno
    }
}

void output_unit::close() {
    if (console_) {
        sink_->flush();
        return;
    }
    if (file_ == nullptr) {
        return;
    }
    finish().commit();
}

completed_file output_unit::finish() {
    // Made first: a failure to allocate leaves this unit to remove the temporary file.
    completed_file done;
    done.temp_ = std::make_unique<std::string>(temp_);
    done.path_ = path_;
    done.name_ = name_;
    done.unit_ = unit_;
    flush_pending();
    std::FILE* f = file_;
    file_ = nullptr;
    int err = write_error_;
    if (err == 0 && std::ferror(f) != 0) {
        err = errno != 0 ? errno : EIO;
    }
    if (std::fflush(f) != 0 && err == 0) {
        err = errno;
    }
    if (std::fclose(f) != 0 && err == 0) {
        err = errno;
    }
    if (err != 0) {
        done.temp_.reset();
        remove_temporary(temp_);
        fail("close", err, unit_, name_, *state_);
    }
    register_pending(done.temp_->c_str());
    release_pending(temp_.c_str());
    done.report_ = *state_;
    return done;
}

completed_file::completed_file(completed_file&& other) noexcept
    : temp_(std::move(other.temp_)), path_(std::move(other.path_)), name_(std::move(other.name_)),
      unit_(other.unit_), report_(std::move(other.report_)) {}

completed_file& completed_file::operator=(completed_file&& other) noexcept {
    if (this != &other) {
        discard();
        temp_ = std::move(other.temp_);
        path_ = std::move(other.path_);
        name_ = std::move(other.name_);
        unit_ = other.unit_;
        report_ = std::move(other.report_);
    }
    return *this;
}

completed_file::~completed_file() { discard(); }

void completed_file::discard() noexcept {
    if (temp_) {
        remove_temporary(*temp_);
        temp_.reset();
    }
}

void completed_file::commit() {
    const int replaced = commit_keeping_replaced();
    if (replaced >= 0) {
        ::close(replaced);
    }
}

int completed_file::commit_keeping_replaced() {
    if (!temp_) {
        return -1;
    }
    // The file being replaced stays open through the rename, so that its release (pages and
    // blocks) happens when the descriptor is closed, where the caller chooses.
    const int replaced = ::open(path_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    const int err = put_in_place(*temp_, path_, replaced);
    if (err != 0) {
        if (replaced >= 0) {
            ::close(replaced);
        }
        discard();
        fail("close", err, unit_, name_, report_);
    }
    release_pending(temp_->c_str());
    temp_.reset();
    return replaced;
}

} // namespace sitewave::textio
