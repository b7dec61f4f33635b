// The site file's reader with its [variation] table, and the first and last realizations of a
// site it passes: a site, a refusal naming the file, or a realization refused as an argument.
#include "sitewave/site.hpp"
#include "sitewave/variation.hpp"
#include "support.hpp"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto m = sitewave::site::parse_site(text, "f.toml");
    if (!m) {
        FUZZ_CHECK(m.err().what == sitewave::error::kind::refused);
        FUZZ_CHECK(m.err().message.rfind("f.toml:", 0) == 0);
        return 0;
    }
    if (!m->variation || m->layers.size() > 64) {
        return 0;
    }
    for (const long k : {0L, m->variation->realizations - 1}) {
        const auto r = sitewave::variation::realize(*m, k);
        if (!r) {
            FUZZ_CHECK(r.err().what == sitewave::error::kind::argument);
            continue;
        }
        const auto& s = r->site;
        FUZZ_CHECK(!s.layers.empty());
        double depth = 0;
        for (const auto& l : s.layers) {
            FUZZ_CHECK(l.thickness > 0 && std::isfinite(l.vs) && l.vs > 0 && l.vp > l.vs);
            depth += l.thickness;
        }
        FUZZ_CHECK(std::fabs(depth - r->bedrock_depth) <= 1e-9 * r->bedrock_depth + 1e-9);
        FUZZ_CHECK(s.rock.vs >= s.layers.back().vs);
        FUZZ_CHECK(sitewave::variation::realization_rows(*r).size() > 0);
    }
    return 0;
}
