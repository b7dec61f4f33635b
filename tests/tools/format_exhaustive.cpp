// Checks the E and F fields of the result files and the soil echo on every float bit pattern
// of their ranges against a reference made from std::to_chars with an explicit precision:
//   E12.4                                 all 2^32 bit patterns
//   F8.4 F10.5 F9.3 F9.2 F7.3 F12.3       every pattern below 10^(w-d+1) in magnitude, both signs
//                                         (all that give digits, and the first decade of
//                                         asterisks), and every 64th pattern above
//
//   format_exhaustive [--threads N] [--only E12.4,F8.4,...] [--stride S]
//
// --stride S checks every S-th pattern only (a quick run). Prints one line per field and exits
// with status 1 if any field differs from the reference.
#include "support/field_reference.hpp"
#include "textio/fields.hpp"

#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using field_reference::reference_e;
using field_reference::reference_f;

struct field {
    const char* name;
    char kind;
    int w, d;
};

const field fields[] = {{"E12.4", 'E', 12, 4}, {"F8.4", 'F', 8, 4}, {"F10.5", 'F', 10, 5},
                        {"F9.3", 'F', 9, 3},   {"F9.2", 'F', 9, 2}, {"F7.3", 'F', 7, 3},
                        {"F12.3", 'F', 12, 3}};

struct tally {
    std::atomic<std::uint64_t> checked{0};
    std::atomic<std::uint64_t> differ{0};
    std::mutex print;
};

void check_one(const field& f, std::uint32_t b, tally& t) {
    const float v = std::bit_cast<float>(b);
    const std::string got = f.kind == 'E' ? sitewave::textio::field_e(v, f.w, f.d)
                                          : sitewave::textio::field_f(v, f.w, f.d);
    const std::string want = f.kind == 'E' ? reference_e(v, f.w, f.d) : reference_f(v, f.w, f.d);
    if (got != want) {
        if (t.differ.fetch_add(1) < 20) {
            const std::lock_guard<std::mutex> lock(t.print);
            std::printf("  %s of %08x (%.9g): got \"%s\" want \"%s\"\n", f.name,
                        static_cast<unsigned>(b), static_cast<double>(v), got.c_str(),
                        want.c_str());
        }
    }
}

// The magnitudes checked: [0, end) pattern by pattern (with the stride), from end on every
// 64th pattern (times the stride) up to the infinities and NaNs.
void run_range(const field& f, std::uint32_t end, std::uint32_t stride, int threads, tally& t) {
    constexpr std::uint32_t top = 0x80000000u; // patterns of one sign
    std::atomic<std::uint32_t> next{0};
    constexpr std::uint32_t chunk = 1u << 16;
    const auto worker = [&] {
        std::uint64_t n = 0;
        for (;;) {
            const std::uint32_t c0 = next.fetch_add(chunk);
            if (c0 >= top) {
                break;
            }
            const std::uint32_t step = c0 < end ? stride : 64u * stride;
            for (std::uint32_t m = c0; m < c0 + chunk; m += step) {
                check_one(f, m, t);
                check_one(f, m | top, t);
                n += 2;
            }
        }
        t.checked.fetch_add(n);
    };
    std::vector<std::thread> pool;
    for (int i = 1; i < threads; ++i) {
        pool.emplace_back(worker);
    }
    worker();
    for (auto& th : pool) {
        th.join();
    }
}

} // namespace

int main(int argc, char** argv) {
    int threads = static_cast<int>(std::thread::hardware_concurrency());
    std::string only;
    std::uint32_t stride = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--threads") == 0) {
            threads = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--only") == 0) {
            only = argv[i + 1];
        } else if (std::strcmp(argv[i], "--stride") == 0) {
            stride = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        }
    }
    threads = threads < 1 ? 1 : threads;
    stride = stride < 1 ? 1 : stride;
    bool all_equal = true;
    for (const field& f : fields) {
        std::string list(","), name(",");
        list.append(only).append(",");
        name.append(f.name).append(",");
        if (!only.empty() && list.find(name) == std::string::npos) {
            continue;
        }
        // E: every pattern. F: every pattern below 10^(w-d+1), a decade past the widest value
        // that still has room in the field.
        const std::uint32_t end =
            f.kind == 'E'
                ? 0x80000000u
                : std::bit_cast<std::uint32_t>(static_cast<float>(std::pow(10.0, f.w - f.d + 1)));
        tally t;
        run_range(f, end, stride, threads, t);
        std::printf("%-6s %llu patterns checked, %llu differ\n", f.name,
                    static_cast<unsigned long long>(t.checked.load()),
                    static_cast<unsigned long long>(t.differ.load()));
        std::fflush(stdout);
        all_equal = all_equal && t.differ.load() == 0;
    }
    return all_equal ? 0 : 1;
}
