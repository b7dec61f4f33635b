#include "batch/streaming.hpp"

#include "batch/shared_work.hpp"
#include "batch/tidy.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sitewave::batch {

namespace {

constexpr const char* quantities[] = {"surface psa", "rrs"};
constexpr const char* components[] = {"H1", "H2", "V", "RotD50"};
constexpr const char* profile_quantities[] = {"vs", "strain", "pga"};

} // namespace

std::string observation_layout::describe() const {
    std::string d = "keys";
    for (const auto& k : keys) {
        d += ' ';
        d += std::to_string(k.quantity);
        d += '/';
        d += std::to_string(k.component);
        d += '/';
        d += k.damping;
    }
    const auto list = [&d](const char* name, const std::vector<double>& x) {
        d += '\n';
        d += name;
        for (const double v : x) {
            d += ' ';
            d += num(v);
        }
    };
    list("periods", periods);
    list("frequencies", frequencies);
    list("depths", depths);
    d += '\n';
    return d;
}

observation_layout make_layout(const batch_options& o, double deepest) {
    observation_layout l;
    if (o.spectra) {
        const auto periods = psa_periods(o);
        l.periods.assign(periods.begin(), periods.end() - 2); // the summary's two last
        for (int q = 0; q < 2; ++q) {
            for (int c = 0; c < (o.rotd ? 4 : 3); ++c) {
                for (const double z : o.damping) {
                    char pct[32];
                    std::snprintf(pct, sizeof pct, "%g%%", z * 100.0);
                    l.keys.push_back({q, c, pct});
                }
            }
        }
    }
    constexpr int nfreq = 100;
    for (int i = 0; i < nfreq; ++i) {
        l.frequencies.push_back(0.1 * std::pow(250.0, i / double(nfreq - 1)));
    }
    constexpr int ndepth = 101;
    for (int i = 0; i < ndepth; ++i) {
        l.depths.push_back(deepest * i / double(ndepth - 1));
    }
    return l;
}

double percentile(std::span<const double> sorted, double p) {
    if (sorted.empty()) {
        return 0.0;
    }
    const double h = static_cast<double>(sorted.size() - 1) * p / 100.0;
    const auto lo = static_cast<std::size_t>(std::floor(h));
    if (lo + 1 >= sorted.size()) {
        return sorted.back();
    }
    return sorted[lo] + (h - static_cast<double>(lo)) * (sorted[lo + 1] - sorted[lo]);
}

stream_statistics::stream_statistics(observation_layout layout, std::vector<std::string> groups)
    : layout_(std::move(layout)), groups_(std::move(groups)) {
    values_.assign(groups_.size(), std::vector<std::vector<double>>(layout_.size()));
}

void stream_statistics::add(std::size_t g, std::span<const double> obs) {
    auto& v = values_[g];
    for (std::size_t c = 0; c < obs.size() && c < v.size(); ++c) {
        if (!std::isnan(obs[c])) {
            v[c].push_back(obs[c]);
        }
    }
}

std::size_t stream_statistics::bytes() const {
    std::size_t n = 0;
    for (const auto& g : values_) {
        for (const auto& c : g) {
            n += c.size() * sizeof(double);
        }
    }
    return n;
}

stream_statistics::figures stream_statistics::of(std::size_t group, std::size_t cell) const {
    std::vector<double> x;
    if (group == groups_.size()) {
        for (const auto& g : values_) {
            x.insert(x.end(), g[cell].begin(), g[cell].end());
        }
    } else {
        x = values_[group][cell];
    }
    std::sort(x.begin(), x.end());
    figures f;
    f.n = x.size();
    if (x.empty()) {
        return f;
    }
    const double n = static_cast<double>(x.size());
    double sum = 0.0, lsum = 0.0;
    for (const double v : x) {
        sum += v;
        f.positive = f.positive && v > 0.0;
        lsum += v > 0.0 ? std::log(v) : 0.0;
    }
    f.mean = sum / n;
    if (f.positive) {
        const double lmean = lsum / n;
        double m2 = 0.0;
        for (const double v : x) {
            const double d = std::log(v) - lmean;
            m2 += d * d;
        }
        f.gmean = std::exp(lmean);
        f.lnstd = x.size() > 1 ? std::sqrt(m2 / (n - 1.0)) : 0.0;
    }
    f.median = percentile(x, 50.0);
    f.p16 = percentile(x, 16.0);
    f.p84 = percentile(x, 84.0);
    return f;
}

std::vector<std::string> stream_statistics::cells(const figures& f, bool logs) const {
    const bool any = f.n > 0;
    return {std::to_string(f.n), any ? num(f.mean) : "",
            any && f.positive && logs ? num(f.gmean) : "",
            f.n > 1 && f.positive && logs ? num(f.lnstd) : ""};
}

std::string stream_statistics::statistics_csv() const {
    std::string text = "group,quantity,component,damping,period (s),n,mean,geometric mean,ln "
                       "std,envelope,median,p16,p84,frequency (Hz)\n";
    const auto& l = layout_;
    const std::size_t np = l.periods.size();
    const auto row = [&](std::size_t g, std::size_t cell, std::vector<std::string> head,
                         const std::string& frequency) {
        const bool all = g == groups_.size();
        const figures f = of(g, cell);
        if (f.n == 0 && !all) {
            return; // a profile without an ok run
        }
        auto c = cells(f, true);
        head.insert(head.end(), c.begin(), c.end());
        std::string envelope;
        if (all) {
            // The largest of the profiles' means.
            bool any = false;
            double top = 0.0;
            for (std::size_t p = 0; p < groups_.size(); ++p) {
                const figures q = of(p, cell);
                if (q.n > 0) {
                    top = any ? std::max(top, q.mean) : q.mean;
                    any = true;
                }
            }
            envelope = any ? num(top) : "";
        }
        head.push_back(envelope);
        for (const double x : {f.median, f.p16, f.p84}) {
            head.push_back(f.n > 0 ? num(x) : "");
        }
        head.push_back(frequency);
        text += join(head) + "\n";
    };
    for (std::size_t g = 0; g <= groups_.size(); ++g) {
        const std::string name = g == groups_.size() ? "all" : groups_[g];
        for (std::size_t k = 0; k < l.keys.size(); ++k) {
            const auto& key = l.keys[k];
            for (std::size_t i = 0; i < np; ++i) {
                row(g, k * np + i,
                    {name, quantities[key.quantity], components[key.component], key.damping,
                     num(l.periods[i])},
                    "");
            }
        }
        for (std::size_t i = 0; i < l.frequencies.size(); ++i) {
            row(g, l.transfer_at(i), {name, "transfer", "H1", "", ""}, num(l.frequencies[i]));
        }
    }
    return text;
}

std::string stream_statistics::profile_csv() const {
    std::string text = "group,quantity,depth (m),n,mean,geometric mean,ln std,median,p16,p84\n";
    const auto& l = layout_;
    for (std::size_t g = 0; g <= groups_.size(); ++g) {
        const std::string name = g == groups_.size() ? "all" : groups_[g];
        for (std::size_t q = 0; q < 3; ++q) {
            for (std::size_t i = 0; i < l.depths.size(); ++i) {
                const figures f = of(g, l.profile_at(q, i));
                if (f.n == 0) {
                    continue;
                }
                std::vector<std::string> r{name, profile_quantities[q], num(l.depths[i])};
                auto c = cells(f, true);
                r.insert(r.end(), c.begin(), c.end());
                for (const double x : {f.median, f.p16, f.p84}) {
                    r.push_back(num(x));
                }
                text += join(r) + "\n";
            }
        }
    }
    return text;
}

} // namespace sitewave::batch
