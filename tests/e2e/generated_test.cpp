// End-to-end runs on records generated at test time: the record-length limits, and the round
// trip through a profile of only the half-space, checked against the input record.

#include "support/launch.hpp"
#include "support/scratch_dir.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const half_space_soil = "Half-space only\n0\n{NIN}\nlayers\n1\nheadings\n"
                                    "1,2.0,1000.0,50.0,0.0,500.0,25.0,0.0,0.0\n";

struct run_result {
    int status = -1;
    int signal = 0;
    std::string out, err;
};

class generated : public scratch_dir {
  protected:
    run_result run(const std::string& answers,
                   const std::function<void(launch::options&)>& tweak = {}) {
        write(".stdin", answers);
        launch::options o;
        o.program = SITEWAVE_EXE;
        o.cwd = dir_;
        o.in = dir_ / ".stdin";
        o.out = dir_ / ".stdout";
        o.err = dir_ / ".stderr";
        if (tweak) {
            tweak(o);
        }
        const launch::result lr = launch::run(o);
        run_result r;
        r.status = lr.exited ? lr.status : -1;
        r.signal = lr.exited ? 0 : lr.status;
        r.out = read(".stdout");
        r.err = read(".stderr");
        for (const char* f : {".stdin", ".stdout", ".stderr"}) {
            fs::remove(dir_ / f);
        }
        return r;
    }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    void soil(int nin) {
        std::string s = half_space_soil;
        s.replace(s.find("{NIN}"), 5, std::to_string(nin));
        write("soil_dat.csv", s);
    }
};

std::string record_of(long n) {
    std::string text = "t,H1,H2,V1\n";
    text.reserve(static_cast<std::size_t>(n) * 24);
    for (long i = 0; i < n; ++i) {
        text += std::to_string(i) + "e-2,1,-2," + std::to_string(i % 7) + "\n";
    }
    return text;
}

TEST_F(generated, longest_record_is_transformed) {
    write("r.csv", record_of(32768));
    soil(2);
    const auto r = run("r.csv\n0\n0\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" NT and DT= 32768  0.00999999978\n\n  IF1,NF= 15 32768\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("  Nmber of data points    = 32768\n"), std::string::npos);
    const std::string wave = read("wave1.csv");
    EXPECT_EQ(std::count(wave.begin(), wave.end(), '\n'), 32769);
    const std::string amps = read("Amp-Factors.csv");
    EXPECT_EQ(std::count(amps.begin(), amps.end(), '\n'), 16386);
    EXPECT_EQ(files(), (std::vector<std::string>{"Amp-Factors.csv", "amp1.csv", "r.csv",
                                                 "soil_dat.csv", "wave1.csv"}));
}

TEST_F(generated, too_long_records_are_refused) {
    for (const long n : {32769L, 100000L}) {
        write("r.csv", record_of(n));
        soil(2);
        const auto r = run("r.csv\n0\n0\n");
        EXPECT_EQ(r.status, 1) << n;
        EXPECT_EQ(r.err, "") << n;
        const std::string tail =
            " NT and DT= " + std::to_string(n) + "  0.00999999978\n  NT>2**15 !!!!!\n";
        ASSERT_GE(r.out.size(), tail.size());
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << n;
        EXPECT_EQ(files(), (std::vector<std::string>{"r.csv", "soil_dat.csv"})) << n;
    }
}

// With only the half-space, column 2 is 1 and column 1 is 2 at every frequency: the horizontal
// histories come back as the record less its mean over the nf samples, shifted to start at 0,
// and doubled for the incident-wave input type.
TEST_F(generated, half_space_round_trip_returns_the_record) {
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const int nt = 1000, nf = 1024;
    std::vector<double> h1(nf, 0.0), h2(nf, 0.0);
    std::ostringstream rec;
    rec << "t,H1,H2,V1\n";
    rec.precision(9);
    for (int i = 0; i < nt; ++i) {
        h1[static_cast<std::size_t>(i)] = static_cast<double>(u(gen));
        h2[static_cast<std::size_t>(i)] = static_cast<double>(u(gen));
        rec << i * 0.005 << "," << h1[static_cast<std::size_t>(i)] << ","
            << h2[static_cast<std::size_t>(i)] << "," << static_cast<double>(u(gen)) << "\n";
    }
    write("r.csv", rec.str());
    double m1 = 0, m2 = 0;
    for (int i = 0; i < nf; ++i) {
        m1 += h1[static_cast<std::size_t>(i)] / nf;
        m2 += h2[static_cast<std::size_t>(i)] / nf;
    }
    for (const int nin : {2, 1}) {
        soil(nin);
        const auto r = run("r.csv\n0\n0\n");
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream wave(read("wave1.csv"));
        std::string line;
        std::getline(wave, line);
        const double scale = nin == 1 ? 2.0 : 1.0;
        const double x0 = scale * (h1[0] - m1), y0 = scale * (h2[0] - m2);
        for (int i = 0; i < nf; ++i) {
            ASSERT_TRUE(std::getline(wave, line));
            double t = 0, x = 0, y = 0;
            ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf,", &t, &x, &y), 3) << line;
            const double ex = scale * (h1[static_cast<std::size_t>(i)] - m1) - x0;
            const double ey = scale * (h2[static_cast<std::size_t>(i)] - m2) - y0;
            // Four significant digits in the file.
            EXPECT_NEAR(x, ex, 6e-4 * std::fabs(ex) + 1e-5) << "nin " << nin << " sample " << i;
            EXPECT_NEAR(y, ey, 6e-4 * std::fabs(ey) + 1e-5) << "nin " << nin << " sample " << i;
            EXPECT_NEAR(t, i * 0.005, 1e-5);
        }
    }
}

// Faults while result files are written leave no temporary file: a file-size limit turns into the
// "close" report, a termination signal removes the file and ends the run by that signal.
TEST_F(generated, file_size_limit_is_a_write_error) {
    write("r.csv", record_of(2000));
    soil(1);
    const auto r = run("r.csv\n0\n0\n", [](launch::options& o) { o.file_size = 8192; });
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "close: File too large\napparent state: unit 9 named Amp-Factors.csv\n"
                     "last format: (F8.4,6(',',E12.4))\n"
                     "lately writing sequential formatted external IO\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"r.csv", "soil_dat.csv"}));
}

TEST_F(generated, termination_signal_removes_the_temporary_file) {
    write("r.csv", record_of(32768));
    soil(1);
    // The answers come through a pipe that gives the record's name only: the run then waits
    // for the next answer, after its first result file, until the signal ends it (however late
    // the signal comes after the file appears).
    const fs::path answers = dir_ / ".answers";
    ASSERT_EQ(::mkfifo(answers.c_str(), 0600), 0);
    const int fd = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_GE(::inotify_add_watch(fd, dir_.c_str(), IN_CREATE), 0);
    bool sent = false;
    const auto r = run("", [&](launch::options& o) {
        o.in = answers;
        o.while_running = [&](pid_t pid) {
            const int to_run = ::open(answers.c_str(), O_WRONLY | O_CLOEXEC);
            if (to_run < 0 || ::write(to_run, "r.csv\n", 6) != 6) {
                return;
            }
            alignas(inotify_event) char buf[4096];
            while (!sent) {
                const ssize_t n = ::read(fd, buf, sizeof buf);
                for (ssize_t at = 0; at < n;) {
                    const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
                    if (ev->len > 0 && std::string(ev->name).starts_with(".Amp-Factors.csv.tmp")) {
                        ::kill(pid, SIGTERM);
                        sent = true;
                    }
                    at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                }
                if (n <= 0) {
                    break;
                }
            }
            ::close(to_run); // should the signal not end the run, it meets the end of its input
        };
    });
    ::close(fd);
    fs::remove(answers);
    ASSERT_TRUE(sent);
    EXPECT_EQ(r.signal, SIGTERM);
    // No temporary file is left. Result files put in place before the signal came may be there
    // (they are written on a helper thread while the run goes on), each complete.
    const std::pair<const char*, long> complete[] = {
        {"Amp-Factors.csv", 16386}, {"amp1.csv", 16385}, {"wave1.csv", 32769}};
    auto left = files();
    for (const auto& [name, lines] : complete) {
        if (const auto at = std::find(left.begin(), left.end(), name); at != left.end()) {
            const std::string text = read(name);
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), lines) << name;
            left.erase(at);
        }
    }
    EXPECT_EQ(left, (std::vector<std::string>{"r.csv", "soil_dat.csv"}));
}

// An endless line (no line end in /dev/zero) exhausts memory: the fatal report, not a crash.
// Not under the address sanitizer, which reserves far more address space than the limit.
TEST_F(generated, exhausted_memory_is_reported) {
#if SITEWAVE_SANITIZE
    GTEST_SKIP() << "address-space limit not usable under the sanitizers";
#endif
    const auto r =
        run("/dev/zero\n0\n0\n", [](launch::options& o) { o.address_space = 400ull << 20; });
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "list in: out of free space\napparent state: unit 11 named /dev/zero\n"
                     "last format: list io\nlately reading sequential formatted external IO\n");
}

TEST_F(generated, failed_console_output_is_reported) {
    write("r.csv", record_of(100));
    soil(1);
    const auto r = run("r.csv\n0\n0\n", [](launch::options& o) { o.out = "/dev/full"; });
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "sitewave: standard output: No space left on device\n");
}

} // namespace
