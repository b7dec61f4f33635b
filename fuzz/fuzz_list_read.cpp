// The free-format reader: numbers, strings, repeat counts, slashes, quotes and line ends, read
// into a sequence of items the first bytes choose. A malformed value must come back as an error.
#include "support.hpp"
#include "textio/list_read.hpp"
#include "textio/unit.hpp"

#include <cmath>
#include <cstdio>

using namespace sitewave::textio;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint8_t kinds = data[0];
    const bool eof_branch = (data[1] & 1) != 0;
    mem_file f(std::string_view(reinterpret_cast<const char*>(data + 2), size - 2));
    io_state state;
    const auto r = capture(
        [&] {
            input_unit in(11, "fuzz.csv", state, f.path());
            for (int statement = 0; statement < 8; ++statement) {
                list_read r(in, eof_branch);
                for (int k = 0; k < 4; ++k) {
                    switch ((kinds >> (2 * k)) & 3) {
                    case 0: {
                        int v = 0;
                        if (!r.item(v)) {
                            return;
                        }
                        break;
                    }
                    case 1: {
                        float v = 0.0f;
                        if (!r.item(v)) {
                            return;
                        }
                        FUZZ_CHECK(!std::isnan(v) && !std::isinf(v));
                        break;
                    }
                    case 2: {
                        std::string s(10, ' ');
                        if (!r.item(s)) {
                            return;
                        }
                        FUZZ_CHECK(s.size() == 10);
                        break;
                    }
                    default: {
                        float v = 0.0f;
                        double w = 0.0;
                        if (!r.item(v, w)) {
                            return;
                        }
                        FUZZ_CHECK(std::isfinite(v) && std::isfinite(w));
                        break;
                    }
                    }
                }
            }
        },
        &state);
    if (!r) {
        FUZZ_CHECK(r.err().what == sitewave::error::kind::fatal);
        FUZZ_CHECK(!r.err().report().empty());
    }
    return 0;
}
