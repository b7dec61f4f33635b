// The site file's reader: any text is read or refused with a message naming the file; a site
// read is one the linear run's table and the sublayers of the equivalent-linear run accept or
// refuse as values; with a [variation] table, its first and last realizations are made or refused
// as an argument, and a realization made is a sound profile.
#include "sitewave/eql.hpp"
#include "sitewave/site.hpp"
#include "sitewave/variation.hpp"
#include "support.hpp"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto site = sitewave::site::parse_site(text, "fuzz.toml");
    if (!site) {
        FUZZ_CHECK(site.err().what == sitewave::error::kind::refused);
        FUZZ_CHECK(site.err().message.rfind("fuzz.toml", 0) == 0);
        return 0;
    }
    (void)sitewave::site::to_layer_table(*site);
    sitewave::eql::options o;
    o.sublayer_fmax = 5; // few sublayers: the input's layers are the point
    const auto layers = sitewave::eql::split(*site, o);
    if (layers) {
        for (const auto& l : *layers) {
            FUZZ_CHECK(l.bottom >= l.top);
            FUZZ_CHECK(l.modulus_ratio > 0.0 && l.modulus_ratio <= 1.0);
        }
    }
    if (!site->variation || site->layers.size() > 64) {
        return 0;
    }
    for (const long k : {0L, site->variation->realizations - 1}) {
        const auto r = sitewave::variation::realize(*site, k);
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
        FUZZ_CHECK(!sitewave::variation::realization_rows(*r).empty());
    }
    return 0;
}
