// The record-file reader: any bytes give a record or the fatal report, never a crash.
#include "sitewave/record.hpp"
#include "support.hpp"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    mem_file f(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto r = sitewave::read_record(f.path());
    if (r) {
        FUZZ_CHECK(r->nt >= 0);
        FUZZ_CHECK(r->time.size() == static_cast<std::size_t>(std::min(r->nt, 32768)));
        FUZZ_CHECK(r->xr1.size() == r->time.size() && r->zr1.size() == r->time.size());
        for (const float v : r->xr1) {
            FUZZ_CHECK(std::isfinite(v));
        }
    } else {
        FUZZ_CHECK(r.err().what == sitewave::error::kind::fatal);
    }
    return 0;
}
