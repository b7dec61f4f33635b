// PEER NGA AT2 files: four header lines, then the samples of one component.
#include "sitewave/batch.hpp"
#include "textio/fatal.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <string_view>

namespace sitewave {

namespace {

struct component {
    std::string unit;
    double dt = 0.0;
    std::vector<float> values;
};

// The numbers of a line, in order, as doubles ("5372", ".0100", "-.8338791E-03"); an exponent
// written with D is read as E.
std::vector<double> numbers_of(std::string_view line) {
    std::vector<double> out;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        const bool starts =
            std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '.' ||
            ((c == '-' || c == '+') && i + 1 < line.size() &&
             (std::isdigit(static_cast<unsigned char>(line[i + 1])) != 0 || line[i + 1] == '.'));
        if (!starts) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < line.size() &&
               std::string_view("0123456789.+-EeDd").find(line[j]) != std::string_view::npos) {
            ++j;
        }
        std::string text(line.substr(i, j - i));
        std::replace(text.begin(), text.end(), 'D', 'E');
        std::replace(text.begin(), text.end(), 'd', 'e');
        const char* b = text.data() + (text[0] == '+' ? 1 : 0);
        double v = 0.0;
        const auto r = std::from_chars(b, text.data() + text.size(), v);
        if (r.ec == std::errc() && r.ptr > b) {
            out.push_back(v);
        }
        i = j;
    }
    return out;
}

// Whether a number in from_chars' form ([-]digits[.digits][e[+-]digits], not zero) is below 1 in
// magnitude: the power of ten of its first significant digit, once the exponent is applied, is
// negative.
bool below_one(std::string_view t) {
    const auto digit = [&t](std::size_t i) { return i < t.size() && t[i] >= '0' && t[i] <= '9'; };
    std::size_t i = !t.empty() && (t[0] == '-' || t[0] == '+') ? 1 : 0;
    long whole = 0; // significant digits before the point
    for (; digit(i); ++i) {
        whole += whole > 0 || t[i] != '0' ? 1 : 0;
    }
    bool found = whole > 0;
    long lead = whole - 1; // the power of ten of the first significant digit
    if (i < t.size() && t[i] == '.') {
        for (long place = -1; digit(++i); --place) {
            if (!found && t[i] != '0') {
                lead = place;
                found = true;
            }
        }
    }
    long exponent = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '-' || t[i] == '+')) {
            negative = t[i] == '-';
            ++i;
        }
        for (; digit(i); ++i) {
            exponent = std::min(exponent * 10 + (t[i] - '0'), 1000000000000L);
        }
    }
    return found && lead + (negative ? -exponent : exponent) < 0;
}

// A sample as a float: a finite decimal number (an exponent written with D or d is read as E).
// One below the float range rounds to a subnormal or to zero, with its sign; one beyond the
// largest float is refused, as are Infinity and NaN.
bool sample_of(std::string text, float& v) {
    for (char& c : text) {
        c = c == 'D' ? 'E' : c == 'd' ? 'e' : c;
    }
    const char* b = text.data() + (text[0] == '+' ? 1 : 0);
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(b, end, v);
    if (r.ptr != end || r.ptr == b) {
        return false;
    }
    if (r.ec == std::errc::result_out_of_range && below_one(text)) {
        v = text[0] == '-' ? -0.0f : 0.0f;
        return true;
    }
    return r.ec == std::errc() && std::isfinite(v);
}

// NPTS as written: a whole number of samples, or -1.
long count_of(double v) {
    return v >= 0.0 && v <= 1e12 && v == std::floor(v) ? static_cast<long>(v) : -1;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

component read_component(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        textio::refuse(path + ": cannot be opened");
    }
    std::string line;
    std::string head[4];
    for (int k = 0; k < 4; ++k) {
        if (!std::getline(in, head[k])) {
            textio::refuse(path + ": fewer than four header lines");
        }
    }
    component c;
    // Line 3: "ACCELERATION TIME SERIES IN UNITS OF G".
    const std::string up = head[2];
    if (const auto at = up.find("UNITS OF"); at != std::string::npos) {
        std::string u = up.substr(at + 8);
        u.erase(0, u.find_first_not_of(" \t"));
        u.erase(u.find_last_not_of(" \t\r,") + 1);
        c.unit = lower(u);
    }
    // Line 4: "NPTS=  5372, DT=   .0100 SEC" or "5372   .0100   NPTS, DT".
    long npts = -1;
    const std::string& l4 = head[3];
    const auto at_npts = l4.find("NPTS=");
    const auto at_dt = l4.find("DT=");
    if (at_npts != std::string::npos && at_dt != std::string::npos) {
        const auto n = numbers_of(std::string_view(l4).substr(at_npts + 5));
        const auto d = numbers_of(std::string_view(l4).substr(at_dt + 3));
        if (!n.empty() && !d.empty()) {
            npts = count_of(n[0]);
            c.dt = d[0];
        }
    } else if (const auto nums = numbers_of(l4); nums.size() >= 2) {
        npts = count_of(nums[0]);
        c.dt = nums[1];
    }
    if (npts < 0 || !(c.dt > 0.0) || !std::isfinite(c.dt)) {
        textio::refuse(path + ": line 4: no NPTS and positive DT");
    }
    for (int lineno = 5; std::getline(in, line) && static_cast<long>(c.values.size()) < npts;
         ++lineno) {
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])) != 0) {
                ++i;
            }
            std::size_t j = i;
            while (j < line.size() && std::isspace(static_cast<unsigned char>(line[j])) == 0) {
                ++j;
            }
            if (j == i) {
                break;
            }
            const std::string text = line.substr(i, j - i);
            float v = 0.0f;
            if (!sample_of(text, v)) {
                textio::refuse(path + ": line " + std::to_string(lineno) + ": \"" + text +
                               "\" is not a finite number");
            }
            if (static_cast<long>(c.values.size()) < npts) {
                c.values.push_back(v);
            }
            i = j;
        }
    }
    if (static_cast<long>(c.values.size()) < npts) {
        textio::refuse(path + ": " + std::to_string(c.values.size()) + " values, fewer than NPTS " +
                       std::to_string(npts));
    }
    return c;
}

std::string padded(std::string s) {
    if (s.size() < 10) {
        s.resize(10, ' ');
    }
    return s;
}

} // namespace

result<record> read_at2(const std::array<std::string, 3>& files, std::string& note) {
    return textio::capture([&] {
        std::array<component, 3> c;
        for (std::size_t k = 0; k < 3; ++k) {
            c[k] = read_component(files[k]);
        }
        for (std::size_t k = 1; k < 3; ++k) {
            if (c[k].dt != c[0].dt) {
                textio::refuse(files[k] + ": time step differs from that of " + files[0]);
            }
        }
        const std::size_t n =
            std::min({c[0].values.size(), c[1].values.size(), c[2].values.size()});
        if (c[0].values.size() != n || c[1].values.size() != n || c[2].values.size() != n) {
            note = "components cut to " + std::to_string(n) + " samples (from " +
                   std::to_string(c[0].values.size()) + ", " + std::to_string(c[1].values.size()) +
                   ", " + std::to_string(c[2].values.size()) + ")";
        }
        record rec;
        const std::string unit = c[0].unit.empty() ? "" : "(" + c[0].unit + ")";
        rec.head1 = padded("Time(s)");
        rec.head2 = padded("H1" + unit);
        rec.head3 = padded("H2" + unit);
        rec.head4 = padded("V1" + unit);
        for (std::size_t k = 0; k < n; ++k) {
            rec.time.push_back(static_cast<float>(static_cast<double>(k) * c[0].dt));
        }
        rec.xr1.assign(c[0].values.begin(), c[0].values.begin() + static_cast<long>(n));
        rec.yr1.assign(c[1].values.begin(), c[1].values.begin() + static_cast<long>(n));
        rec.zr1.assign(c[2].values.begin(), c[2].values.begin() + static_cast<long>(n));
        rec.nt = static_cast<int>(n);
        rec.dt = n >= 2 ? rec.time[1] - rec.time[0] : 0.0f;
        return rec;
    });
}

} // namespace sitewave
