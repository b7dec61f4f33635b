#include "textio/list_write.hpp"

#include "textio/fatal.hpp"
#include "textio/fields.hpp"

namespace sitewave::textio {

namespace {
constexpr std::size_t line_length = 80;
}

list_write::list_write(output_unit& out) : out_(out) {
    out_.state().record(true, "list io", out_.unit(), out_.name(), 0, out_.serial());
}

list_write::~list_write() { out_.end_record(); }

void list_write::wrap(std::size_t length) {
    if (!out_.record().empty() && out_.record().size() + length >= line_length) {
        out_.end_record();
    }
}

list_write& list_write::operator<<(std::string_view s) {
    wrap(s.size());
    if (out_.record().empty()) {
        out_.record().push_back(' ');
    }
    out_.record().append(s);
    return *this;
}

list_write& list_write::operator<<(int v) {
    const std::string text = list_int(v);
    // The length that counts is that of the digits alone.
    wrap(text.size() - 1 - (v < 0 ? 1 : 0));
    out_.record().append(text);
    return *this;
}

list_write& list_write::operator<<(float v) {
    const std::string text = list_real(v);
    wrap(text.size());
    out_.record().append(text);
    return *this;
}

} // namespace sitewave::textio
