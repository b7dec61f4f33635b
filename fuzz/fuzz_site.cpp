// The site file's reader: any text is read or refused with a message naming the file; a site
// read is one the linear run's table and the sublayers of the equivalent-linear run accept or
// refuse as values.
#include "sitewave/eql.hpp"
#include "sitewave/site.hpp"
#include "support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto site = sitewave::site::parse_site(text, "fuzz.toml");
    if (!site) {
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
    return 0;
}
