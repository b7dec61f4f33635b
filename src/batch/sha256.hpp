// SHA-256 (FIPS 180-4) of bytes and of files, for the run record's fingerprints of the inputs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sitewave::batch {

class sha256 {
  public:
    sha256();
    void update(const void* data, std::size_t n);
    void update(std::string_view s) { update(s.data(), s.size()); }
    // The digest; the object is then spent.
    std::array<std::uint8_t, 32> finish();

  private:
    void block(const std::uint8_t* p);
    std::array<std::uint32_t, 8> h_;
    std::array<std::uint8_t, 64> buf_{};
    std::size_t used_ = 0;
    std::uint64_t bytes_ = 0;
};

// The digest as 64 lower-case hexadecimal digits.
std::string hex(const std::array<std::uint8_t, 32>& digest);
std::string sha256_hex(std::string_view bytes);

// A file's size and digest, read once in blocks; none when it cannot be read (a pipe already
// consumed is read as what is left: the caller decides what to hash).
struct file_digest {
    std::uint64_t size = 0;
    std::string sha256;
};
std::optional<file_digest> digest_file(const std::string& path);

} // namespace sitewave::batch
