// Helpers of the fuzz targets: fuzz data as files without touching the disk, and a hard stop
// when an invariant breaks.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

// An in-memory file holding `data`, named by a path any open() accepts.
// A scratch folder of the process's own for files a target writes, made on first use.
inline const std::filesystem::path& work_dir() {
    static const std::filesystem::path dir = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "sitewave-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return std::filesystem::path(pattern);
    }();
    return dir;
}

class mem_file {
  public:
    explicit mem_file(std::string_view data) : fd_(::memfd_create("fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0) {
            std::abort();
        }
        for (std::size_t at = 0; at < data.size();) {
            const ssize_t n = ::write(fd_, data.data() + at, data.size() - at);
            if (n <= 0) {
                std::abort();
            }
            at += static_cast<std::size_t>(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~mem_file() { ::close(fd_); }
    mem_file(const mem_file&) = delete;
    mem_file& operator=(const mem_file&) = delete;
    const std::string& path() const { return path_; }

  private:
    int fd_;
    std::string path_;
};

// The fuzz data cut into `n` parts at the separator "\n--\n" (missing parts are empty).
inline std::vector<std::string> parts(const std::uint8_t* data, std::size_t size, std::size_t n) {
    std::string_view s(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> out;
    for (std::size_t k = 0; k + 1 < n; ++k) {
        const auto at = s.find("\n--\n");
        if (at == std::string_view::npos) {
            break;
        }
        out.emplace_back(s.substr(0, at));
        s.remove_prefix(at + 4);
    }
    out.emplace_back(s);
    out.resize(n);
    return out;
}

// An invariant of the program does not hold: stop so that the fuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            __builtin_trap();                                                                      \
        }                                                                                          \
    } while (0)
