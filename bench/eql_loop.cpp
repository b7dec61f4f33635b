// The equivalent-linear loop alone, H1 and H2 one after the other on one thread, timed in this
// process: the side of sitewave in bench/eql_bench.py's comparison with the numpy loop of
// tests/eql/reference.py, which gets the same input the same way.
//
//     eql_loop SITE.toml RECORD.csv NF REPEAT
//
// RECORD.csv: a title line, then rows t, h1, h2, v (g) at a constant step. Each horizontal is
// read as float (as the programs read records), taken to m/s², padded with zeros to NF points
// and transformed (times dt) to the loop's one-sided input, an outcrop motion. Prints the median
// and least wall milliseconds of the two loops over REPEAT runs, and their passes.
#include "sitewave/eql.hpp"
#include "sitewave/site.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

namespace {

using complex = std::complex<double>;

// In place, radix 2: x[k] = Σ x[j] e^{−2πijk/n}.
void forward(std::vector<complex>& x) {
    const std::size_t n = x.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(x[i], x[j]);
        }
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double a = -2.0 * std::numbers::pi / static_cast<double>(len);
        for (std::size_t b = 0; b < n; b += len) {
            for (std::size_t j = 0; j < len / 2; ++j) {
                const complex w = std::polar(1.0, a * static_cast<double>(j));
                const complex u = x[b + j], v = x[b + j + len / 2] * w;
                x[b + j] = u + v;
                x[b + j + len / 2] = u - v;
            }
        }
    }
}

int fail(const std::string& why) {
    std::fprintf(stderr, "eql_loop: %s\n", why.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        return fail("usage: eql_loop SITE.toml RECORD.csv NF REPEAT");
    }
    const auto site = sitewave::site::read_site(argv[1]);
    if (!site) {
        return fail(site.err().message);
    }
    std::ifstream in(argv[2]);
    std::string line;
    std::getline(in, line);
    std::vector<double> t, h[2];
    while (std::getline(in, line)) {
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream row(line);
        double ti = 0, a = 0, b = 0;
        if (row >> ti >> a >> b) {
            t.push_back(ti);
            h[0].push_back(static_cast<double>(static_cast<float>(a)) * 9.80665);
            h[1].push_back(static_cast<double>(static_cast<float>(b)) * 9.80665);
        }
    }
    const auto nf = static_cast<std::size_t>(std::strtoul(argv[3], nullptr, 10));
    const int repeat = std::max(1, std::atoi(argv[4]));
    if (t.size() < 2 || nf < t.size() || (nf & (nf - 1)) != 0) {
        return fail("a record of two rows or more, and NF a power of two at least its length");
    }
    sitewave::eql::input inputs[2];
    for (int c = 0; c < 2; ++c) {
        auto& e = inputs[c];
        e.dt = t[1] - t[0];
        e.nt = t.size();
        e.dom = 2.0 * std::numbers::pi / (static_cast<double>(nf) * e.dt);
        std::vector<complex> x(nf);
        for (std::size_t j = 0; j < e.nt; ++j) {
            x[j] = h[c][j];
        }
        forward(x);
        e.spectrum.resize(nf / 2 + 1);
        for (std::size_t k = 0; k <= nf / 2; ++k) {
            e.spectrum[k] = x[k] * e.dt;
        }
    }
    std::vector<double> ms;
    std::size_t passes[2] = {};
    for (int r = 0; r < repeat; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (int c = 0; c < 2; ++c) {
            auto got = sitewave::eql::run(*site, inputs[c], sitewave::eql::input_kind::outcrop,
                                          sitewave::eql::options{});
            if (!got) {
                return fail(got.err().message);
            }
            passes[c] = got->passes.size();
        }
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("loop %.2f ms (least %.2f), passes %zu/%zu\n", ms[ms.size() / 2], ms.front(),
                passes[0], passes[1]);
    return 0;
}
