// Folder names of a batch's runs: one safe path component each, unique without case.

#include "batch/plan.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using sitewave::batch::max_name_bytes;
using sitewave::batch::safe_component;
using sitewave::batch::unique_components;

TEST(batch_plan, a_stem_becomes_one_safe_component) {
    const struct {
        std::string stem, want;
    } cases[] = {
        {"rec", "rec"},
        {"", "fallback"},
        {".", "_."},
        {"..", "_.."},
        {".hidden", "_.hidden"},
        {"a/b", "a_b"},
        {std::string("a\0b", 3), "a_b"},
        {"line\nend\r", "line_end_"},
        {"tab\there\x7f", "tab_here_"},
        {"caf\xc3\xa9", "caf\xc3\xa9"}, // UTF-8 kept
        {"r\xe9"
         "c",
         "r_c"},                 // Latin-1 byte
        {"\xc0\xaf", "__"},      // overlong '/'
        {"\xed\xa0\x80", "___"}, // a surrogate
        {"q\",c", "q\",c"},      // quoted in the CSV, fine as a name
    };
    for (const auto& c : cases) {
        EXPECT_EQ(safe_component(c.stem, "fallback"), c.want) << c.stem;
    }
    // Cut at a character boundary within the limit.
    std::string longest(max_name_bytes - 1, 'x');
    longest += "\xc3\xa9\xc3\xa9";
    const std::string cut = safe_component(longest, "f");
    EXPECT_EQ(cut, std::string(max_name_bytes - 1, 'x'));
    EXPECT_EQ(safe_component(std::string(300, '.'), "f").size(), max_name_bytes);
    EXPECT_EQ(safe_component(std::string(300, '\xff'), "f"), std::string(max_name_bytes, '_'));
}

TEST(batch_plan, names_are_unique_after_folding_and_cutting) {
    const std::string x(max_name_bytes + 20, 'x');
    const struct {
        std::vector<std::string> paths;
        std::vector<std::string> want;
    } cases[] = {
        {{"rec.csv", "rec-2.csv", "a/rec.csv"}, {"rec", "rec-2", "rec-3"}},
        {{"a/rec.csv", "b/REC.csv", "Rec.txt"}, {"rec", "REC-2", "Rec-3"}},
        {{"..", "...csv", "a/", "a/.", "/"}, {"_..", "_..-2", "r", "_.", "r-2"}},
        {{x + "1.csv", x + "2.csv"},
         {std::string(max_name_bytes, 'x'), std::string(max_name_bytes, 'x') + "-2"}},
        {{"summary.csv.csv", "SHARDS.csv"}, {"summary.csv-2", "SHARDS-2"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(unique_components(c.paths, "r", {"summary.csv", "shards"}), c.want)
            << c.paths.front();
    }
}

} // namespace
