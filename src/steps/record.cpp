#include "steps/record.hpp"

#include "steps/grid.hpp"
#include "textio/list_read.hpp"
#include "textio/unit.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sitewave::steps {

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

// The line ends in text.
std::size_t line_ends(std::string_view text) {
    const char* p = text.data();
    std::size_t n = text.size();
    std::size_t count = 0;
#if defined(__SSE2__)
    // 16 bytes at a time, the matches summed in byte counters (at most 255 rounds each).
    const __m128i nl = _mm_set1_epi8('\n');
    while (n >= 16) {
        __m128i sums = _mm_setzero_si128();
        const std::size_t rounds = std::min<std::size_t>(n / 16, 255);
        for (std::size_t r = 0; r < rounds; ++r, p += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            sums = _mm_sub_epi8(sums, _mm_cmpeq_epi8(v, nl));
        }
        const __m128i wide = _mm_sad_epu8(sums, _mm_setzero_si128());
        count += static_cast<std::size_t>(_mm_cvtsi128_si32(wide)) +
                 static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(wide, 8)));
        n -= rounds * 16;
    }
#endif
    return count + static_cast<std::size_t>(std::count(p, p + n, '\n'));
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

std::optional<grid> likely_grid(const std::string& path) {
    // A regular file only: a pipe or a device (standard input named as the record, say) would
    // lose to this guess what the run has to read, and even opening a named pipe would let its
    // writer go on (and meet a closed pipe) before the run opens it. So the kind is looked at
    // before opening, and again after (not blocking, should a pipe have come under the name).
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    const auto buffer = std::make_unique_for_overwrite<char[]>(textio::block_size);
    // The heading and the first two samples, from the first block.
    ssize_t got = ::read(fd, buffer.get(), textio::block_size);
    std::string_view text(buffer.get(), static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    float times[2] = {0.0f, 0.0f};
    bool plain = true;
    long lines = 0; // the lines, the heading included
    std::size_t at = 0;
    for (int k = -1; k < 2 && plain; ++k) {
        const std::size_t nl = text.find('\n', at);
        std::string_view line = text.substr(at, nl == std::string_view::npos ? nl : nl - at);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (k >= 0) {
            float v[4] = {0.0f, 0.0f, 0.0f, 0.0f};
            double wide = 0.0;
            plain = textio::plain_reals(line, v, wide);
            times[k] = v[0];
        }
        plain = plain && nl != std::string_view::npos;
        at = nl + 1;
        ++lines;
    }
    // The other lines, counted by their ends (a blank line would be counted too, and the guess
    // then found wrong), up to more than the longest transform takes.
    constexpr long most_lines = (long{1} << 15) + 1;
    bool ends_line = true;
    while (plain && got > 0 && lines <= most_lines) {
        lines += static_cast<long>(line_ends(text.substr(at)));
        ends_line = text.back() == '\n';
        at = 0;
        got = ::read(fd, buffer.get(), textio::block_size);
        text = std::string_view(buffer.get(), static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    ::close(fd);
    lines += ends_line ? 0 : 1;
    if (got < 0) {
        return std::nullopt;
    }
    const long nt = lines - 1;
    if (!plain || lines > most_lines) {
        return std::nullopt;
    }
    const auto length = shortest_length(static_cast<int>(nt));
    grid g;
    if (!length || !grid_fault(static_cast<int>(nt), times[1] - times[0], length->nf, g).empty()) {
        return std::nullopt;
    }
    return g;
}

} // namespace sitewave::steps

namespace sitewave {

result<record> read_record(const std::string& path, int keep) {
    textio::io_state state;
    return textio::capture(
        [&] {
            if (keep < 0) {
                textio::invalid_argument("read_record",
                                         "keep = " + std::to_string(keep) + " is negative");
            }
            return steps::read_record(path, state, {}, keep);
        },
        &state);
}

} // namespace sitewave
