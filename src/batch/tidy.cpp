#include "batch/tidy.hpp"

#include <cstring>

namespace sitewave::batch {

namespace {

std::string trimmed(const std::string& s, const char* fallback) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) {
        return fallback;
    }
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

} // namespace

std::array<std::string, 3> heads(const record& rec) {
    return {trimmed(rec.head2, "H1"), trimmed(rec.head3, "H2"), trimmed(rec.head4, "V")};
}

std::string csv_cell(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) {
        return s;
    }
    std::string q = "\"";
    for (const char c : s) {
        q += c;
        if (c == '"') {
            q += '"';
        }
    }
    return q + "\"";
}

std::string join(const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t k = 0; k < cells.size(); ++k) {
        if (k > 0) {
            line += ',';
        }
        line += csv_cell(cells[k]);
    }
    return line;
}

void append_cells(std::string& line, std::string_view head, std::initializer_list<float> values) {
    line.append(head);
    if (!head.empty() && values.size() != 0) {
        line += ',';
    }
    append_numbers(line, std::span<const float>(values.begin(), values.size()));
}

void table_file::lines(const laid_out_lines& lines) {
    std::string_view text = lines.text;
    while (!text.empty()) {
        // In pieces of whole lines of at most a block (a line is far shorter).
        std::size_t n = text.size();
        if (n > textio::block_size) {
            const std::size_t end = text.rfind('\n', textio::block_size - 1);
            n = end == std::string_view::npos ? n : end + 1;
        }
        std::memcpy(out_.records_room(n), text.data(), n);
        out_.records_written();
        text.remove_prefix(n);
    }
}

} // namespace sitewave::batch
