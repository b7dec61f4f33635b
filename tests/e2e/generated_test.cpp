// End-to-end runs on records generated at test time: the record-length limits, and the round
// trip through a profile of only the half-space, checked against the input record.

#include "support/scratch_dir.hpp"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const half_space_soil = "Half-space only\n0\n{NIN}\nlayers\n1\nheadings\n"
                                    "1,2.0,1000.0,50.0,0.0,500.0,25.0,0.0,0.0\n";

struct run_result {
    int status = -1;
    std::string out, err;
};

class generated : public scratch_dir {
  protected:
    run_result run(const std::string& answers) {
        write(".stdin", answers);
        const std::string cmd =
            "cd '" + dir_.string() + "' && '" SITEWAVE_EXE "' < .stdin > .stdout 2> .stderr";
        const int raw = std::system(cmd.c_str());
        run_result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
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

} // namespace
