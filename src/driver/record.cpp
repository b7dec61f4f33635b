#include "driver/record.hpp"

#include "textio/list_read.hpp"
#include "textio/unit.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <iterator>

namespace sitewave::driver {

namespace {

// Room for the samples the rest of the file holds, judged by the length of the first sample
// line (later lines may be up to a quarter shorter) and never more than can be stored, so that
// the arrays are filled in place instead of being copied as they grow.
void reserve_samples(textio::input_unit& in, int keep, record& rec, written_times* written) {
    const auto first = in.peek_record();
    const auto left = in.bytes_left();
    if (!first || !left) {
        return;
    }
    const std::uint64_t line_bytes = first->size() + 1;
    const std::uint64_t lines = *left / (line_bytes - line_bytes / 4) + 1;
    const std::uint64_t most = static_cast<std::uint64_t>(std::max(keep, 1)) + 1;
    const auto n = static_cast<std::size_t>(std::min(lines, most));
    for (auto* a : {&rec.time, &rec.xr1, &rec.yr1, &rec.zr1}) {
        a->reserve(n);
    }
    if (written != nullptr) {
        written->time.reserve(n);
        written->line.reserve(n);
    }
}

} // namespace

record read_record(const std::string& name, textio::io_state& state, const std::string& path,
                   int keep, written_times* written) {
    textio::input_unit in(11, name, state, path);
    record rec;
    {
        textio::list_read r(in);
        for (auto* head : {&rec.head1, &rec.head2, &rec.head3, &rec.head4}) {
            r.item(*head);
        }
    }
    // Stored samples: the complete ones (up to max_samples) plus one cut short, whose times
    // still count for the time step.
    reserve_samples(in, keep, rec, written);
    for (;;) {
        float v[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        double t = 0.0;
        int line = 0;
        bool complete = true;
        // A line of four plain numbers is taken straight from the unit's block: its values are
        // those the read statement would give, and the io_state already holds what the statement
        // would record (the heading's statement recorded the same). Any other line goes to the
        // statement, from the values it starts with.
        const auto plain = in.peek_record();
        if (plain && textio::plain_reals(*plain, v, t)) {
            in.skip_record();
            line = in.records();
        } else {
            std::fill(std::begin(v), std::end(v), 0.0f);
            t = 0.0;
            textio::list_read r(in, true);
            for (float& x : v) {
                const bool got = written != nullptr && &x == v ? r.item(x, t) : r.item(x);
                if (&x == v) {
                    line = r.line();
                }
                if (!got) {
                    complete = false;
                    break;
                }
            }
        }
        if (rec.nt < keep || rec.time.size() < 2) {
            rec.time.push_back(v[0]);
            rec.xr1.push_back(v[1]);
            rec.yr1.push_back(v[2]);
            rec.zr1.push_back(v[3]);
            if (written != nullptr) {
                written->time.push_back(t);
                written->line.push_back(line);
            }
        }
        if (!complete) {
            break;
        }
        if (rec.nt < INT_MAX) {
            ++rec.nt;
        }
    }
    const float t1 = rec.time.empty() ? 0.0f : rec.time[0];
    const float t2 = rec.time.size() < 2 ? 0.0f : rec.time[1];
    rec.dt = t2 - t1;
    const auto kept = static_cast<std::size_t>(rec.nt < keep ? rec.nt : keep);
    for (auto* a : {&rec.time, &rec.xr1, &rec.yr1, &rec.zr1}) {
        a->resize(kept);
    }
    if (written != nullptr) {
        written->time.resize(kept);
        written->line.resize(kept);
    }
    return rec;
}

} // namespace sitewave::driver

namespace sitewave {

result<record> read_record(const std::string& path, int keep) {
    textio::io_state state;
    return textio::capture([&] { return driver::read_record(path, state, {}, keep); }, &state);
}

} // namespace sitewave
