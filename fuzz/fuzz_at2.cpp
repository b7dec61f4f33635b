// The AT2 reader: three components cut from the fuzz data.
#include "sitewave/batch.hpp"
#include "support.hpp"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto p = parts(data, size, 3);
    mem_file a(p[0]), b(p[1]), c(p[2]);
    std::string note;
    const auto r = sitewave::read_at2({a.path(), b.path(), c.path()}, note);
    if (r) {
        FUZZ_CHECK(r->time.size() == static_cast<std::size_t>(r->nt));
        FUZZ_CHECK(r->xr1.size() == r->time.size() && r->yr1.size() == r->time.size());
        for (const float v : r->yr1) {
            FUZZ_CHECK(std::isfinite(v));
        }
    } else {
        FUZZ_CHECK(r.err().what == sitewave::error::kind::refused);
    }
    return 0;
}
