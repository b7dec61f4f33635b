// The Boore–Thompson tables built into the library (data/rvt/, embedded at build time).
#include "sitewave/rvt.hpp"

namespace sitewave::rvt {

std::string_view wna_bt12_text();
std::string_view wna_bt15_text();
std::string_view cena_bt12_text();
std::string_view cena_bt15_text();

std::string_view bt_table_text(region r, peak_method m) {
    const bool bt15 = m == peak_method::bt15;
    if (r == region::cena) {
        return bt15 ? cena_bt15_text() : cena_bt12_text();
    }
    return bt15 ? wna_bt15_text() : wna_bt12_text();
}

} // namespace sitewave::rvt
