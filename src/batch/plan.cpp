#include "batch/plan.hpp"

#include "textio/fatal.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <unistd.h>

namespace sitewave::batch {

namespace {

// The length of the UTF-8 sequence starting at s[i], or 0 when it is not a valid one.
std::size_t utf8_length(const std::string& s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    unsigned min = 0;
    unsigned cp = 0;
    if (b < 0x80) {
        return 1;
    } else if ((b & 0xe0) == 0xc0) {
        n = 2, min = 0x80, cp = b & 0x1fu;
    } else if ((b & 0xf0) == 0xe0) {
        n = 3, min = 0x800, cp = b & 0x0fu;
    } else if ((b & 0xf8) == 0xf0) {
        n = 4, min = 0x10000, cp = b & 0x07u;
    } else {
        return 0;
    }
    if (i + n > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xc0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (c & 0x3fu);
    }
    const bool surrogate = cp >= 0xd800 && cp <= 0xdfff;
    return cp < min || cp > 0x10ffff || surrogate ? 0 : n;
}

std::string folded(const std::string& s) {
    std::string f = s;
    std::transform(f.begin(), f.end(), f.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return f;
}

std::string stem_of(const std::string& path) {
    // The last component as written: "rec/" and "rec/." have none, ".." is kept as it is.
    const fs::path p(path);
    const fs::path name = p.filename();
    if (name == "..") {
        return "..";
    }
    return name.stem().string();
}

bool exists_nofollow(const fs::path& p, fs::file_status& st) {
    std::error_code ec;
    st = fs::symlink_status(p, ec);
    return !ec && fs::exists(st);
}

// `p` made absolute and free of "." and ".." and symbolic links as far as it exists.
fs::path resolved(const fs::path& p) {
    std::error_code ec;
    fs::path r = fs::weakly_canonical(p, ec);
    if (ec) {
        r = fs::absolute(p, ec).lexically_normal();
    }
    return r;
}

bool within(const fs::path& inner, const fs::path& outer) {
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
        if (o->empty()) {
            continue; // a trailing separator
        }
        if (i == inner.end() || *i != *o) {
            return false;
        }
    }
    return true;
}

// The temporary folders a batch writes runs into: ".<name>.tmp<pid>-<k>".
bool is_temporary_name(const std::string& n) {
    const auto at = n.rfind(".tmp");
    if (n.size() < 2 || n[0] != '.' || at == std::string::npos || at == 0) {
        return false;
    }
    const std::string tail = n.substr(at + 4);
    const auto dash = tail.find('-');
    const auto digits = [](const std::string& d) {
        return !d.empty() &&
               std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return dash != std::string::npos && digits(tail.substr(0, dash)) &&
           digits(tail.substr(dash + 1));
}

// Folders that --force will remove: the plan's marked run folders and the temporary folders a
// killed batch left (marked as well), never through a symbolic link.
std::vector<fs::path> folders_to_remove(const fs::path& out, const std::vector<plan_entry>& plan) {
    std::vector<fs::path> dirs;
    std::set<std::string> profiles;
    for (const auto& e : plan) {
        profiles.insert(e.profile_dir);
        fs::file_status st;
        const fs::path p = out / e.profile_dir;
        if (exists_nofollow(p, st) && fs::is_directory(st) && is_marked(p / e.record_dir)) {
            dirs.push_back(p / e.record_dir);
        }
    }
    std::error_code ec;
    for (fs::directory_iterator it(out, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_directory(ec) || it->is_symlink(ec)) {
            continue;
        }
        std::error_code ec2;
        for (fs::directory_iterator in(it->path(), ec2), e2; !ec2 && in != e2; in.increment(ec2)) {
            if (is_temporary_name(in->path().filename().string()) && is_marked(in->path())) {
                dirs.push_back(in->path());
            }
        }
    }
    return dirs;
}

// The folder holds nothing but a lock file.
bool empty_but_lock(const fs::path& out) {
    std::error_code ec;
    for (fs::directory_iterator it(out, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename() != lock_name) {
            return false;
        }
    }
    if (ec) {
        usage("--out " + out.string() + ": " + ec.message());
    }
    return true;
}

} // namespace

[[noreturn]] void usage(const std::string& message) {
    sitewave::error e;
    e.what = sitewave::error::kind::usage;
    e.message = message;
    throw textio::failure(std::move(e));
}

bool is_utf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8_length(s, i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

std::string utf8_replaced(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8_length(s, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(s, i, n);
            i += n;
        }
    }
    return out;
}

std::string safe_component(const std::string& stem, const std::string& fallback) {
    std::string out;
    for (std::size_t i = 0; i < stem.size();) {
        const auto c = static_cast<unsigned char>(stem[i]);
        std::size_t n = utf8_length(stem, i);
        const bool replaced = n == 0 || c < 0x20 || c == 0x7f || c == '/';
        if (out.size() + (replaced ? 1 : n) > max_name_bytes) {
            break;
        }
        if (replaced) {
            out += '_';
            n = 1;
        } else {
            out.append(stem, i, n);
        }
        i += n;
    }
    if (out.empty()) {
        return fallback;
    }
    if (out[0] == '.') {
        out.insert(out.begin(), '_');
        if (out.size() > max_name_bytes) {
            out.resize(max_name_bytes); // the last byte was a dot: "_" and dots only
        }
    }
    return out;
}

std::vector<std::string> unique_components(const std::vector<std::string>& paths,
                                           const std::string& fallback,
                                           const std::vector<std::string>& reserved) {
    std::set<std::string> used;
    for (const auto& r : reserved) {
        used.insert(folded(r));
    }
    std::vector<std::string> out;
    for (const auto& p : paths) {
        const std::string base = safe_component(stem_of(p), fallback);
        std::string name = base;
        for (int k = 2; used.count(folded(name)) != 0; ++k) {
            name = base + "-" + std::to_string(k);
        }
        used.insert(folded(name));
        out.push_back(name);
    }
    return out;
}

std::vector<plan_entry> make_plan(const batch_options& o) {
    std::vector<std::string> r;
    for (const auto& rs : o.records) {
        // A source's name is no file: all of it names the folder, dots included.
        const bool source = rs.rvt && rs.rvt->what == rvt_input::kind::source;
        r.push_back(source ? rs.file + ".source" : rs.file);
    }
    // A profile folder never takes the name of one of the tool's own top-level files.
    // Nor "all", the group of every profile in statistics.csv.
    const auto p = unique_components(o.soils, "profile",
                                     {"summary.csv", "statistics.csv", "run.json", "shards", "all",
                                      lock_name, "profile-statistics.csv", "realizations.csv"});
    r = unique_components(r, "record");
    std::vector<plan_entry> plan;
    for (std::size_t i = 0; i < p.size(); ++i) {
        for (std::size_t j = 0; j < r.size(); ++j) {
            plan.push_back({i, j, p[i], r[j]});
        }
    }
    return plan;
}

std::vector<std::string> input_files(const batch_options& o) {
    std::vector<std::string> files = o.soils;
    for (const auto& rs : o.records) {
        if (rs.is_at2()) {
            files.insert(files.end(), rs.at2.begin(), rs.at2.end());
        } else if (!rs.rvt || rs.rvt->what != rvt_input::kind::source) {
            files.push_back(rs.file);
        }
    }
    return files;
}

bool is_marked(const fs::path& dir) {
    std::error_code ec;
    const auto st = fs::symlink_status(dir, ec);
    if (ec || !fs::is_directory(st)) {
        return false;
    }
    const auto m = fs::symlink_status(dir / run_marker, ec);
    return !ec && fs::is_regular_file(m);
}

void check_output(const batch_options& o, const std::vector<plan_entry>& plan) {
    if (o.out.empty()) {
        usage("--out: the folder's name is empty");
    }
    const fs::path out(o.out);
    std::error_code ec;
    const auto lst = fs::symlink_status(out, ec);
    if (fs::is_symlink(lst) && !fs::exists(fs::status(out, ec))) {
        usage("--out " + o.out + ": a symbolic link to nothing");
    }
    const auto st = fs::status(out, ec);
    if (!fs::exists(st)) {
        return; // made by open_output
    }
    if (!fs::is_directory(st)) {
        usage("--out " + o.out + ": exists and is not a folder");
    }
    if (empty_but_lock(out)) {
        return;
    }
    if (!o.force) {
        usage("--out " + o.out + ": the folder is not empty (--force writes into it)");
    }
    // What --force will remove or replace must not hold an input.
    const auto dirs = folders_to_remove(out, plan);
    std::vector<std::string> inputs = input_files(o);
    inputs.insert(inputs.end(), o.lists.begin(), o.lists.end());
    for (const auto& in : inputs) {
        const fs::path r = resolved(in);
        for (const char* own : own_files) {
            if (r == resolved(out / own)) {
                usage("--force would replace " + (out / own).string() + ", given as input " + in);
            }
        }
        for (const auto& d : dirs) {
            if (within(r, resolved(d))) {
                usage("--force would remove " + d.string() + ", which holds the input " + in);
            }
        }
    }
}

output_folder::output_folder(output_folder&& other) noexcept
    : path_(std::move(other.path_)), lock_fd_(other.lock_fd_) {
    other.lock_fd_ = -1;
}

output_folder& output_folder::operator=(output_folder&& other) noexcept {
    if (this != &other) {
        if (lock_fd_ >= 0) {
            ::close(lock_fd_);
        }
        path_ = std::move(other.path_);
        lock_fd_ = other.lock_fd_;
        other.lock_fd_ = -1;
    }
    return *this;
}

output_folder::~output_folder() {
    if (lock_fd_ >= 0) {
        ::close(lock_fd_); // the lock goes with the descriptor; the file stays
    }
}

output_folder open_output(const batch_options& o, const std::vector<plan_entry>& plan) {
    check_output(o, plan);
    output_folder f;
    f.path_ = fs::path(o.out);
    std::error_code ec;
    if (!fs::exists(fs::status(f.path_, ec))) {
        fs::create_directories(f.path_, ec);
        if (ec) {
            usage("--out " + o.out + ": cannot be made: " + ec.message());
        }
    }
    const std::string lock = (f.path_ / lock_name).string();
    f.lock_fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (f.lock_fd_ < 0) {
        usage("--out " + o.out + ": cannot be written: " + std::strerror(errno));
    }
    if (::flock(f.lock_fd_, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        usage("--out " + o.out +
              (err == EWOULDBLOCK ? std::string(": another sitewave-batch is writing into it")
                                  : ": cannot be locked: " + std::string(std::strerror(err))));
    }
    // Checked again under the lock: a batch that ended meanwhile may have filled the folder.
    check_output(o, plan);
    if (!o.force) {
        return f;
    }
    for (const char* own : own_files) {
        const auto p = f.path_ / own;
        if (!fs::is_directory(fs::symlink_status(p, ec))) {
            fs::remove(p, ec); // a file or a link, never what a link points to
        }
    }
    for (const auto& d : folders_to_remove(f.path_, plan)) {
        fs::remove_all(d, ec); // does not follow the links inside
        if (ec) {
            usage("--force: " + d.string() + " cannot be removed: " + ec.message());
        }
    }
    return f;
}

std::optional<std::string> run_folder_fault(const fs::path& out, const plan_entry& e) {
    const fs::path p = out / e.profile_dir;
    fs::file_status st;
    if (!exists_nofollow(p, st)) {
        std::error_code ec, ec2;
        fs::create_directory(p, ec);
        if (ec && !fs::is_directory(fs::symlink_status(p, ec2))) {
            return p.string() + ": cannot be made: " + ec.message();
        }
    } else if (fs::is_symlink(st)) {
        return p.string() + ": a symbolic link, not written through";
    } else if (!fs::is_directory(st)) {
        return p.string() + ": exists and is not a folder";
    }
    const fs::path r = p / e.record_dir;
    if (exists_nofollow(r, st)) {
        return r.string() + ": exists and was not made by sitewave-batch (not replaced)";
    }
    return std::nullopt;
}

} // namespace sitewave::batch
