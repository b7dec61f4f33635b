// Run folder names from any file names: each a single safe path component, all different
// without case, whatever the bytes.
#include "batch/plan.hpp"
#include "support.hpp"

#include <set>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The paths: the input split at byte 0x01 (NUL and every other byte may be in a name).
    std::vector<std::string> paths(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 1) {
            paths.emplace_back();
        } else {
            paths.back() += static_cast<char>(data[i]);
        }
    }
    const auto names = sitewave::batch::unique_components(paths, "record", {"summary.csv"});
    FUZZ_CHECK(names.size() == paths.size());
    std::set<std::string> seen;
    for (const auto& n : names) {
        FUZZ_CHECK(!n.empty() && n[0] != '.');
        FUZZ_CHECK(n.size() <= sitewave::batch::max_name_bytes + 8);
        for (const char c : n) {
            FUZZ_CHECK(c != '/' && static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
        }
        std::string folded = n;
        for (auto& c : folded) {
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
        }
        FUZZ_CHECK(folded != "summary.csv");
        FUZZ_CHECK(seen.insert(folded).second);
    }
    return 0;
}
