// The plan of a batch: which run goes into which folder, and the output folder made safe to
// write into. Nothing here computes; everything that touches the file system reports through
// std::error_code and never follows a symbolic link it did not resolve on purpose.
#pragma once

#include "sitewave/batch.hpp"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sitewave::batch {

namespace fs = std::filesystem;

// The marker file in every run folder the tool makes: --force removes only marked folders.
inline constexpr const char* run_marker = ".sitewave-run";
// The lock file of an output folder, held with flock while a batch writes into it.
inline constexpr const char* lock_name = ".sitewave-lock";
// The batch's own files in the output folder, which --force replaces.
inline constexpr const char* own_files[] = {"summary.csv", "statistics.csv", "run.json",
                                            "profile-statistics.csv", "realizations.csv"};
// The longest folder name taken from a file name, in bytes: the temporary folder's name adds a
// dot and a suffix of at most 30 bytes, and a name made unique at most 8, within 255.
inline constexpr std::size_t max_name_bytes = 200;

// Whether `s` is valid UTF-8 (no overlong form, no surrogate); `s` with each byte that is not
// part of a valid UTF-8 character replaced by U+FFFD.
bool is_utf8(const std::string& s);
std::string utf8_replaced(const std::string& s);

// A single safe path component made from a file's stem: no '/', NUL or control character (each
// becomes '_'), bytes that are not UTF-8 become '_', a leading '.' is preceded by '_' (so "."
// and ".." cannot come out, nor a hidden name), cut to max_name_bytes at a character boundary;
// an empty stem gives `fallback`.
std::string safe_component(const std::string& stem, const std::string& fallback);

// The stems of `paths` as safe components, made unique in argument order (-2, -3, ... until no
// earlier name and no name of `reserved` is equal, comparing ASCII letters without case).
std::vector<std::string> unique_components(const std::vector<std::string>& paths,
                                           const std::string& fallback,
                                           const std::vector<std::string>& reserved = {});

// Throws the usage error `message` (kind usage, as textio::failure): what a batch reports before
// it touches anything.
[[noreturn]] void usage(const std::string& message);

struct plan_entry {
    std::size_t profile = 0, record = 0;
    std::string profile_dir, record_dir; // the two components of the run folder
    std::string folder() const { return profile_dir + "/" + record_dir; }
};

// Every record on every profile, profile by profile.
std::vector<plan_entry> make_plan(const batch_options& o);

// Every input file of the options (profiles, record files, AT2 files).
std::vector<std::string> input_files(const batch_options& o);

// The output folder, locked for this batch while the object lives.
class output_folder {
  public:
    output_folder() = default;
    output_folder(output_folder&& other) noexcept;
    output_folder& operator=(output_folder&& other) noexcept;
    output_folder(const output_folder&) = delete;
    output_folder& operator=(const output_folder&) = delete;
    ~output_folder();

    const fs::path& path() const { return path_; }

  private:
    friend output_folder open_output(const batch_options& o, const std::vector<plan_entry>& plan);
    fs::path path_;
    int lock_fd_ = -1;
};

// Checks the output folder without touching it: a usage error (thrown as textio::failure) when
// it is no folder, is not empty without force, or (with force) when an input lies in a folder
// that would be removed or is a file that would be replaced.
void check_output(const batch_options& o, const std::vector<plan_entry>& plan);

// check_output, then makes the folder when it is missing, takes its lock (a second batch on it
// is a usage error), and with force removes own_files (files or links), the marked run folders of
// the plan and the marked temporary folders a killed batch left.
output_folder open_output(const batch_options& o, const std::vector<plan_entry>& plan);

// Why a run cannot be written into its folder under `out` (a profile folder that is a symbolic
// link or a file, a run folder that this tool did not make), or nothing. Makes the profile
// folder when it is missing.
std::optional<std::string> run_folder_fault(const fs::path& out, const plan_entry& e);

// Whether `dir` (not followed when a symbolic link) is a folder holding the marker file.
bool is_marked(const fs::path& dir);

} // namespace sitewave::batch
