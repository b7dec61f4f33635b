#include "batch/summary.hpp"

#include "batch/run.hpp"
#include "batch/tidy.hpp"
#include "textio/fatal.hpp"

#include <algorithm>

namespace sitewave::batch {

namespace {

std::vector<std::string> head(const batch_options& o) {
    std::vector<std::string> h{"profile",
                               "record",
                               "folder",
                               "status",
                               "note",
                               "input type",
                               "angle (deg)",
                               "processing",
                               "nt",
                               "dt (s)",
                               "nf",
                               "peak input H1",
                               "peak input H2",
                               "peak input V",
                               "peak surface H1",
                               "peak surface H2",
                               "peak surface V",
                               "peak factor H frequency (Hz)",
                               "peak factor H"};
    if (o.spectra) {
        for (const char* c : {"surface PSA H1 0.2 s", "surface PSA H2 0.2 s",
                              "surface PSA H1 1.0 s", "surface PSA H2 1.0 s", "PSA ratio H1 0.2 s",
                              "PSA ratio H2 0.2 s", "PSA ratio H1 1.0 s", "PSA ratio H2 1.0 s"}) {
            h.push_back(c);
        }
    }
    if (method_columns(o)) {
        for (const char* c : {"method", "converged H1", "passes H1", "peak strain H1 (%)",
                              "peak strain depth H1 (m)", "converged H2", "passes H2",
                              "peak strain H2 (%)", "peak strain depth H2 (m)"}) {
            h.push_back(c);
        }
    }
    if (rvt_columns(o)) {
        h.push_back("input kind");
    }
    return h;
}

std::string row_line(const batch_options& o, const run_summary& r, std::size_t columns) {
    std::vector<std::string> cells{r.profile, r.record, r.folder,
                                   r.ok ? "ok" : (r.interrupted ? "interrupted" : "failed"),
                                   r.note};
    const bool kind = rvt_columns(o);
    std::vector<std::string> v = r.values;
    v.resize(columns - cells.size() - (kind ? 1 : 0));
    cells.insert(cells.end(), v.begin(), v.end());
    if (kind) {
        cells.push_back(r.rvt ? "rvt" : "record");
    }
    return join(cells);
}

} // namespace

bool rvt_columns(const batch_options& o) {
    return std::any_of(o.records.begin(), o.records.end(),
                       [](const record_source& r) { return r.rvt.has_value(); });
}

bool method_columns(const batch_options& o) {
    return o.analysis == batch_options::method::eql ||
           std::any_of(o.soils.begin(), o.soils.end(), is_site_file) || rvt_columns(o);
}

std::string summary_csv(const batch_options& o, const std::vector<run_summary>& rows) {
    const auto h = head(o);
    std::string text = join(h) + "\n";
    for (const auto& r : rows) {
        text += row_line(o, r, h.size()) + "\n";
    }
    return text;
}

result<void> write_summary(const batch_options& o, const std::vector<run_summary>& rows) {
    textio::io_state state;
    return textio::capture(
        [&] {
            const auto h = head(o);
            table_file f((std::filesystem::path(o.out) / "summary.csv").string(), state);
            f.line(join(h));
            for (const auto& r : rows) {
                f.line(row_line(o, r, h.size()));
            }
            f.close();
        },
        &state);
}

} // namespace sitewave::batch
