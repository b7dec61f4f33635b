#include "batch/statistics.hpp"

#include "batch/tidy.hpp"
#include "textio/fatal.hpp"

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

namespace sitewave::batch {

namespace {

constexpr const char* quantities[] = {"surface psa", "rrs"};
constexpr const char* components[] = {"H1", "H2", "V", "RotD50"};

[[noreturn]] void refuse(const std::string& message) { textio::refuse(message); }

// The cells of a CSV line (RFC 4180 quotes).
std::vector<std::string> cells_of(const std::string& line) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                out.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                out.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> w;
    std::istringstream in(s);
    for (std::string x; in >> x;) {
        w.push_back(x);
    }
    return w;
}

} // namespace

std::optional<psa_key> psa_column(const std::string& title) {
    auto w = words(title);
    if (w.size() == 4 && w[2] == "PSA") {
        w.erase(w.begin() + 2);
    }
    if (w.size() != 3 || w[2].size() < 2 || w[2].back() != '%') {
        return std::nullopt;
    }
    psa_key k;
    if (w[0] == "surface") {
        k.quantity = 0;
    } else if (w[0] == "ratio") {
        k.quantity = 1;
    } else {
        return std::nullopt;
    }
    k.component = -1;
    for (int c = 0; c < 4; ++c) {
        if (w[1] == components[c]) {
            k.component = c;
        }
    }
    if (k.component < 0) {
        return std::nullopt;
    }
    k.damping = w[2];
    return k;
}

psa_file read_psa(const std::string& path, const std::string& name) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        refuse(name + ": cannot be read");
    }
    psa_file t;
    std::string line;
    if (!std::getline(in, line)) {
        refuse(name + ": empty, a header line was expected");
    }
    const auto head = cells_of(line);
    if (head.empty() || head[0] != "period (s)") {
        refuse(name + ": the first column is not \"period (s)\"");
    }
    std::vector<std::size_t> at; // the columns taken
    for (std::size_t c = 1; c < head.size(); ++c) {
        if (const auto k = psa_column(head[c])) {
            at.push_back(c);
            t.keys.push_back(*k);
        }
    }
    t.values.resize(at.size());
    const auto number = [&](const std::string& cell, long lineno) {
        double v = 0;
        const char* b = cell.data();
        const char* e = b + cell.size();
        const auto r = std::from_chars(b, e, v);
        if (cell.empty() || r.ec != std::errc() || r.ptr != e || !std::isfinite(v)) {
            refuse(name + ": line " + std::to_string(lineno) + ": \"" + cell +
                   "\" is not a finite number");
        }
        return v;
    };
    long lineno = 1;
    while (std::getline(in, line)) {
        ++lineno;
        if (line.empty()) {
            continue;
        }
        const auto cells = cells_of(line);
        if (cells.size() != head.size()) {
            refuse(name + ": line " + std::to_string(lineno) + " has " +
                   std::to_string(cells.size()) + " cells, the header " +
                   std::to_string(head.size()));
        }
        t.periods.push_back(number(cells[0], lineno));
        for (std::size_t k = 0; k < at.size(); ++k) {
            const std::string& c = cells[at[k]];
            t.values[k].push_back(c.empty() ? std::nullopt
                                            : std::optional<double>(number(c, lineno)));
        }
    }
    if (t.periods.empty()) {
        refuse(name + ": no period");
    }
    return t;
}

void suite_statistics::cell::add(double x) {
    ++n;
    sum += x;
    if (!(x > 0.0)) {
        positive = false;
        return;
    }
    const double l = std::log(x);
    const double d = l - lmean;
    lmean += d / static_cast<double>(n);
    lm2 += d * (l - lmean);
}

suite_statistics::suite_statistics(std::vector<std::string> groups) : groups_(std::move(groups)) {
    groups_.push_back("all");
}

void suite_statistics::add(std::size_t g, const psa_file& t, const std::string& name) {
    if (keys_.empty() && periods_.empty()) {
        periods_ = t.periods;
        // Quantity, then component, then damping in the file's order.
        for (int q = 0; q < 2; ++q) {
            for (int c = 0; c < 4; ++c) {
                for (const auto& k : t.keys) {
                    if (k.quantity == q && k.component == c) {
                        keys_.push_back(k);
                    }
                }
            }
        }
        cells_.assign(groups_.size(), std::vector<cell>(keys_.size() * periods_.size()));
    }
    if (t.periods != periods_) {
        refuse(name + ": its periods are not those of the other runs");
    }
    const std::size_t np = periods_.size();
    for (std::size_t c = 0; c < t.keys.size(); ++c) {
        std::size_t k = 0;
        while (k < keys_.size() && !(keys_[k] == t.keys[c])) {
            ++k;
        }
        if (k == keys_.size()) {
            continue; // a column the first run did not have
        }
        for (std::size_t i = 0; i < np; ++i) {
            if (const auto& v = t.values[c][i]) {
                cells_[g][k * np + i].add(*v);
                cells_.back()[k * np + i].add(*v);
            }
        }
    }
}

std::string suite_statistics::csv() const {
    std::string text = "group,quantity,component,damping,period (s),n,mean,geometric mean,ln "
                       "std,envelope\n";
    const std::size_t np = periods_.size();
    for (std::size_t g = 0; g < cells_.size(); ++g) {
        const bool all = g + 1 == cells_.size();
        for (std::size_t k = 0; k < keys_.size(); ++k) {
            const auto& key = keys_[k];
            for (std::size_t i = 0; i < np; ++i) {
                const cell& c = cells_[g][k * np + i];
                if (c.n == 0 && !all) {
                    continue; // a profile without an ok run
                }
                std::vector<std::string> row{
                    groups_[g],  quantities[key.quantity], components[key.component],
                    key.damping, num(periods_[i]),         std::to_string(c.n)};
                const double n = static_cast<double>(c.n);
                row.push_back(c.n > 0 ? num(c.sum / n) : "");
                row.push_back(c.n > 0 && c.positive ? num(std::exp(c.lmean)) : "");
                row.push_back(c.n > 1 && c.positive ? num(std::sqrt(c.lm2 / (n - 1.0))) : "");
                std::string envelope;
                if (all) {
                    // The largest of the profiles' means.
                    double top = 0;
                    bool any = false;
                    for (std::size_t p = 0; p + 1 < cells_.size(); ++p) {
                        const cell& q = cells_[p][k * np + i];
                        if (q.n > 0) {
                            const double m = q.sum / static_cast<double>(q.n);
                            top = any ? std::max(top, m) : m;
                            any = true;
                        }
                    }
                    envelope = any ? num(top) : "";
                }
                row.push_back(envelope);
                text += join(row) + "\n";
            }
        }
    }
    return text;
}

result<void> write_statistics(const batch_options& o, const std::vector<plan_entry>& plan,
                              const std::vector<run_summary>& rows) {
    textio::io_state state;
    return textio::capture(
        [&] {
            std::vector<std::string> groups;
            std::vector<std::size_t> group_of(plan.size());
            for (std::size_t i = 0; i < plan.size(); ++i) {
                if (groups.empty() || groups.back() != plan[i].profile_dir) {
                    groups.push_back(plan[i].profile_dir);
                }
                group_of[i] = groups.size() - 1;
            }
            suite_statistics s(groups);
            const fs::path out(o.out);
            for (std::size_t i = 0; i < plan.size() && i < rows.size(); ++i) {
                if (rows[i].ok) {
                    const std::string name = plan[i].folder() + "/psa.csv";
                    s.add(group_of[i], read_psa((out / name).string(), name), name);
                }
            }
            const std::string text = s.csv();
            table_file f((out / "statistics.csv").string(), state);
            for (std::size_t b = 0, e; (e = text.find('\n', b)) != std::string::npos; b = e + 1) {
                f.line(text.substr(b, e - b));
            }
            f.close();
        },
        &state);
}

} // namespace sitewave::batch
