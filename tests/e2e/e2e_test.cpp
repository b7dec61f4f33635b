// End-to-end runs of the built program over the case folders in tests/e2e/cases.
//
// A case folder holds the input files of one run (the record file, usually soil_dat.csv, and
// sometimes files that must survive the run), stdin.txt with the console answers, and expected/:
//
//   status.txt        the exit status
//   stdout.txt        the console output, compared byte for byte
//   stderr.txt        the error output: byte for byte after a fatal report (status 2), except the
//                     system's wording after "open: " on the first line; after a refusal (status 1)
//                     only the file it names is checked
//   stderr_names.txt  optional: the file a refusal must name (otherwise the record file or
//                     soil_dat.csv, whichever expected/stderr.txt mentions)
//   mkdir.txt         optional: directories (one per line) made in the run directory beforehand
//   Amp-Factors.csv, amp1.csv, wave1.csv
//                     the result files the run leaves, compared byte for byte
//
// Each case runs in a fresh temporary directory. Afterwards the directory must hold the inputs,
// unchanged unless an expected result replaces them, plus the expected result files and nothing
// else. Set SITEWAVE_E2E_KEEP=1 to keep the directories for inspection.

#include "support/launch.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path program_path{SITEWAVE_EXE};
const fs::path cases_root{SITEWAVE_CASES};

// The result files a run may leave.
const std::vector<std::string> result_files{"Amp-Factors.csv", "amp1.csv", "wave1.csv"};

// A run that takes longer than this is stopped and counted as a failure.
constexpr auto run_time_limit = std::chrono::seconds(300);

struct e2e_case {
    std::string name; // test name: the folder name with characters gtest accepts
    fs::path dir;
};

void PrintTo(const e2e_case& c, std::ostream* os) { *os << c.dir.filename().string(); }

// "run-record-missing" -> "run_record_missing": gtest names are letters, digits, underscores.
std::string test_name_of(const std::string& folder) {
    std::string s;
    for (char ch : folder) {
        const bool ok =
            (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
        s += ok ? ch : '_';
    }
    if (s.empty()) {
        s = "case";
    }
    return s;
}

std::vector<e2e_case> list_cases() {
    std::vector<fs::path> dirs;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(cases_root, ec)) {
        if (entry.is_directory()) {
            dirs.push_back(entry.path());
        }
    }
    std::sort(dirs.begin(), dirs.end());
    std::vector<e2e_case> cases;
    std::set<std::string> used;
    for (const auto& dir : dirs) {
        std::string name = test_name_of(dir.filename().string());
        // Two folders that differ only in the replaced characters still get distinct names.
        for (int k = 2; used.count(name) != 0; ++k) {
            name = test_name_of(dir.filename().string()) + "_" + std::to_string(k);
        }
        used.insert(name);
        cases.push_back({name, dir});
    }
    return cases;
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::string trim_right(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.pop_back();
    }
    return s;
}

// The first line of a text, without its line end.
std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

// A line as shown in a failure message: control bytes and the line end made visible.
std::string show(const std::string& line) {
    constexpr std::size_t limit = 400;
    std::string s;
    for (std::size_t i = 0; i < line.size() && i < limit; ++i) {
        const auto ch = static_cast<unsigned char>(line[i]);
        if (ch == '\n') {
            s += "\\n";
        } else if (ch == '\r') {
            s += "\\r";
        } else if (ch == '\t') {
            s += "\\t";
        } else if (ch < 0x20 || ch >= 0x7f) {
            const char* hex = "0123456789abcdef";
            s += "\\x";
            s += hex[ch >> 4];
            s += hex[ch & 15];
        } else {
            s += static_cast<char>(ch);
        }
    }
    if (line.size() > limit) {
        s += "...";
    }
    return "\"" + s + "\"";
}

// Splits a text after each line feed; the last piece may lack one.
std::vector<std::string> split_keep_ends(const std::string& text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t nl = text.find('\n', start);
        const std::size_t end = nl == std::string::npos ? text.size() : nl + 1;
        pieces.push_back(text.substr(start, end - start));
        start = end;
    }
    return pieces;
}

// Empty when the texts are equal; otherwise where they first differ. Lines are shown with their
// line end, so a missing or extra carriage return or line feed is visible.
std::string first_difference(const std::string& expected, const std::string& actual) {
    if (expected == actual) {
        return {};
    }
    const auto e = split_keep_ends(expected);
    const auto a = split_keep_ends(actual);
    std::size_t i = 0;
    while (i < e.size() && i < a.size() && e[i] == a[i]) {
        ++i;
    }
    const auto line_or_end = [](const std::vector<std::string>& lines, std::size_t k) {
        return k < lines.size() ? show(lines[k])
                                : "(end of text after " + std::to_string(lines.size()) + " lines)";
    };
    std::ostringstream msg;
    msg << "first difference at line " << i + 1 << ":\n"
        << "  expected: " << line_or_end(e, i) << "\n"
        << "  actual:   " << line_or_end(a, i);
    return msg.str();
}

// Adds a failure naming what differs and where, unless the texts are equal.
void expect_same_text(const std::string& what, const std::string& expected,
                      const std::string& actual) {
    const std::string diff = first_difference(expected, actual);
    if (!diff.empty()) {
        ADD_FAILURE() << what << ": " << diff;
    }
}

// All entries below a directory, as relative paths ("dir/" for directories).
std::set<std::string> list_tree(const fs::path& root) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(entry.path(), root).generic_string();
        if (entry.is_directory() && !entry.is_symlink()) {
            rel += '/';
        }
        names.insert(rel);
    }
    return names;
}

std::string join(const std::set<std::string>& names) {
    std::string s;
    for (const auto& n : names) {
        s += (s.empty() ? "" : ", ") + n;
    }
    return s.empty() ? "(none)" : s;
}

// A temporary directory, removed with everything in it at the end of the scope.
class temp_dir {
  public:
    temp_dir() {
        std::string pattern = (fs::temp_directory_path() / "sitewave-e2e-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
        }
        path_ = pattern;
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    ~temp_dir() {
        const char* keep = std::getenv("SITEWAVE_E2E_KEEP");
        if (keep != nullptr && *keep != '\0' && std::string(keep) != "0") {
            std::cerr << "kept " << path_.string() << "\n";
            return;
        }
        std::error_code ec;
        // The run may have left directories without write permission; give it back first.
        for (auto it = fs::recursive_directory_iterator(path_, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory() && !it->is_symlink()) {
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
            }
        }
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// The name the program is given for the record file: the first answer line, less a trailing
// carriage return and trailing blanks.
std::string record_name(const std::string& stdin_text) {
    std::string line = first_line(stdin_text);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    return line;
}

// A fatal report: the first line may differ after "open: " (the system's wording of the cause);
// every other byte must match.
void check_fatal_report(const std::string& expected, const std::string& actual) {
    const std::string e1 = first_line(expected);
    const std::string a1 = first_line(actual);
    const std::string marker = "open: ";
    const std::size_t at = e1.find(marker);
    if (at == std::string::npos) {
        expect_same_text("standard error", expected, actual);
        return;
    }
    const std::string prefix = e1.substr(0, at + marker.size());
    if (a1.compare(0, prefix.size(), prefix) != 0 || a1.size() == prefix.size()) {
        ADD_FAILURE() << "standard error: first difference at line 1:\n  expected: " << show(e1)
                      << " (the text after " << show(marker)
                      << " may differ)\n  actual:   " << show(a1);
    }
    const auto rest = [](const std::string& s) {
        const std::size_t nl = s.find('\n');
        return nl == std::string::npos ? std::string() : s.substr(nl);
    };
    // The rest begins with the first line feed, so its numbering starts at line 1.
    expect_same_text("standard error", rest(expected), rest(actual));
}

// A refusal: the wording is the program's own; it must name the file concerned.
void check_refusal(const e2e_case& c, const std::string& expected, const std::string& actual,
                   const std::string& stdin_text) {
    if (expected.empty()) {
        // A refusal without a message (the record that is too long).
        expect_same_text("standard error", expected, actual);
        return;
    }
    if (actual.empty()) {
        ADD_FAILURE() << "standard error is empty; a refusal must say why";
        return;
    }
    std::string name;
    const fs::path names_file = c.dir / "expected" / "stderr_names.txt";
    if (fs::exists(names_file)) {
        name = trim_right(first_line(read_file(names_file)));
    } else {
        const std::string record = record_name(stdin_text);
        if (!record.empty() && expected.find(record) != std::string::npos) {
            name = record;
        } else if (expected.find("soil_dat.csv") != std::string::npos) {
            name = "soil_dat.csv";
        }
    }
    if (name.empty()) {
        ADD_FAILURE() << "case " << c.dir.filename()
                      << ": cannot tell which file the refusal names; add "
                         "expected/stderr_names.txt";
        return;
    }
    if (actual.find(name) == std::string::npos) {
        ADD_FAILURE() << "standard error does not name " << show(name) << ":\n  " << show(actual);
    }
}

class e2e : public testing::TestWithParam<e2e_case> {};

TEST_P(e2e, run) {
    const e2e_case& c = GetParam();
    const fs::path expected = c.dir / "expected";
    ASSERT_TRUE(fs::is_regular_file(c.dir / "stdin.txt")) << c.dir << " has no stdin.txt";
    ASSERT_TRUE(fs::is_regular_file(expected / "status.txt")) << c.dir << " has no status.txt";
    ASSERT_TRUE(fs::is_regular_file(expected / "stdout.txt")) << c.dir << " has no stdout.txt";
    ASSERT_TRUE(fs::is_regular_file(program_path)) << "program not built: " << program_path;

    temp_dir tmp;
    const fs::path run_dir = tmp.path() / "run";
    const fs::path capture = tmp.path() / "capture";
    fs::create_directory(run_dir);
    fs::create_directory(capture);

    // Inputs: everything in the folder except the answers and the expectations.
    std::map<std::string, std::string> input_contents;
    for (const auto& entry : fs::directory_iterator(c.dir)) {
        const std::string fname = entry.path().filename().string();
        if (fname == "expected" || fname == "stdin.txt") {
            continue;
        }
        fs::copy(entry.path(), run_dir / fname,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    // Checked-in copies may be read-only; the run directory must be removable afterwards.
    for (const auto& entry : fs::recursive_directory_iterator(run_dir)) {
        if (!entry.is_symlink()) {
            fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::owner_write,
                            fs::perm_options::add);
        }
        if (entry.is_regular_file() && !entry.is_symlink()) {
            input_contents[fs::relative(entry.path(), run_dir).generic_string()] =
                read_file(entry.path());
        }
    }
    const fs::path mkdir_file = expected / "mkdir.txt";
    if (fs::exists(mkdir_file)) {
        for (const std::string& line : split_lines(read_file(mkdir_file))) {
            const std::string d = trim_right(line);
            if (!d.empty()) {
                fs::create_directories(run_dir / d);
            }
        }
    }
    const std::set<std::string> inputs = list_tree(run_dir);

    launch::options o;
    o.program = program_path;
    o.cwd = run_dir;
    o.in = c.dir / "stdin.txt";
    o.out = capture / "stdout";
    o.err = capture / "stderr";
    o.time_limit = run_time_limit;
    const launch::result r = launch::run(o);
    ASSERT_FALSE(r.timed_out) << "the run was stopped after " << run_time_limit.count() << " s";
    ASSERT_TRUE(r.exited) << "the program was ended by signal " << r.status;

    const std::string stdin_text = read_file(c.dir / "stdin.txt");
    const int want_status = std::stoi(read_file(expected / "status.txt"));
    EXPECT_EQ(r.status, want_status) << "exit status";

    expect_same_text("standard output", read_file(expected / "stdout.txt"),
                     read_file(capture / "stdout"));

    const std::string want_err = read_file(expected / "stderr.txt");
    const std::string got_err = read_file(capture / "stderr");
    if (want_status == 2) {
        check_fatal_report(want_err, got_err);
    } else if (want_status == 1) {
        check_refusal(c, want_err, got_err, stdin_text);
    } else {
        expect_same_text("standard error", want_err, got_err);
    }

    std::set<std::string> allowed = inputs;
    for (const std::string& f : result_files) {
        if (!fs::exists(expected / f)) {
            continue;
        }
        allowed.insert(f);
        if (!fs::is_regular_file(run_dir / f)) {
            ADD_FAILURE() << f << " was not written";
            continue;
        }
        expect_same_text(f, read_file(expected / f), read_file(run_dir / f));
    }

    // Inputs not replaced by an expected result are left as they were.
    for (const auto& [rel, content] : input_contents) {
        if (fs::exists(expected / rel) &&
            std::find(result_files.begin(), result_files.end(), rel) != result_files.end()) {
            continue;
        }
        if (!fs::is_regular_file(run_dir / rel)) {
            ADD_FAILURE() << "input " << rel << " is gone after the run";
            continue;
        }
        expect_same_text("input " + rel + " was changed", content, read_file(run_dir / rel));
    }

    const std::set<std::string> present = list_tree(run_dir);
    std::set<std::string> extra;
    std::set<std::string> missing;
    std::set_difference(present.begin(), present.end(), allowed.begin(), allowed.end(),
                        std::inserter(extra, extra.end()));
    std::set_difference(allowed.begin(), allowed.end(), present.begin(), present.end(),
                        std::inserter(missing, missing.end()));
    if (!extra.empty()) {
        ADD_FAILURE() << "files left that should not be there: " << join(extra);
    }
    if (!missing.empty()) {
        ADD_FAILURE() << "files missing after the run: " << join(missing);
    }
}

INSTANTIATE_TEST_SUITE_P(cases, e2e, testing::ValuesIn(list_cases()),
                         [](const testing::TestParamInfo<e2e_case>& p) { return p.param.name; });

} // namespace
