// Suites of runs: every record on every profile, on several threads, each run into its own
// folder of tidy CSV files, and one summary.
#include "sitewave/batch.hpp"

#include "driver/record.hpp"
#include "driver/steps.hpp"
#include "layered/transfer.hpp"
#include "response/psa.hpp"
#include "soil/soilin.hpp"
#include "textio/fields.hpp"
#include "textio/pending.hpp"
#include "textio/unit.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <unistd.h>

namespace sitewave {

namespace {

namespace fs = std::filesystem;

constexpr int max_if1 = 20; // transforms of up to 2^20 points
constexpr float deg_to_rad = 0.017453292f;

[[noreturn]] void usage(const std::string& message) {
    sitewave::error e;
    e.what = sitewave::error::kind::usage;
    e.message = message;
    throw textio::failure(std::move(e));
}

// The first line of an error's report, with the file named when the report does not.
std::string reason(const sitewave::error& e) {
    std::string r = e.what == sitewave::error::kind::refused ? e.message : e.report();
    if (const auto nl = r.find('\n'); nl != std::string::npos) {
        r.resize(nl);
    }
    if (!e.name.empty() && r.find(e.name) == std::string::npos) {
        r = e.name + ": " + r;
    }
    return r;
}

// Tidy cells: the shortest decimal that reads back to the same value.
std::string num(float v) { return textio::shortest(v); }
std::string num(double v) { return textio::shortest(v); }

std::string trimmed(const std::string& s, const char* fallback) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) {
        return fallback;
    }
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// The names of the record's three components, from its heading.
std::array<std::string, 3> heads(const record& rec) {
    return {trimmed(rec.head2, "H1"), trimmed(rec.head3, "H2"), trimmed(rec.head4, "V")};
}

// RFC 4180: a cell with a comma, quote or line end is quoted, its quotes doubled.
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

// Numbers as num() writes them, separated by commas, appended to `line`: a number's text has
// nothing to quote, and no cell is made apart.
template <class T> void append_numbers(std::string& line, std::span<const T> values) {
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (k > 0) {
            line += ',';
        }
        textio::append_shortest(line, values[k]);
    }
}

// Cells `head`, then the numbers (a comma between when there are both), appended to `line`.
void append_cells(std::string& line, std::string_view head, std::initializer_list<float> values) {
    line.append(head);
    if (!head.empty() && values.size() != 0) {
        line += ',';
    }
    append_numbers(line, std::span<const float>(values.begin(), values.size()));
}

// Lines laid out once and written by several runs: whole lines back to back, and where each
// ends, so that a run can complete each line with cells of its own.
struct laid_out_lines {
    std::string text;
    std::vector<std::size_t> ends;

    // A line of the cells `head`, then the numbers.
    void add(std::string_view head, std::initializer_list<float> values = {}) {
        append_cells(text, head, values);
        text += '\n';
        ends.push_back(text.size());
    }
    void numbers(std::initializer_list<float> values) { add({}, values); }
    // Line i without its line end.
    std::string_view line(std::size_t i) const {
        const std::size_t from = i == 0 ? 0 : ends[i - 1];
        return std::string_view(text).substr(from, ends[i] - 1 - from);
    }
};

// A file of whole lines, written to a temporary file and renamed over `path` when complete.
class table_file {
  public:
    table_file(const std::string& path, textio::io_state& state) : out_(20, path, state) {
        state.writing = true; // a failure reports the write
    }
    void line(const std::string& text) {
        out_.record() = text;
        out_.end_record();
    }
    template <class T> void numbers(std::span<const T> values) {
        std::string& r = out_.record();
        r.clear();
        append_numbers(r, values);
        out_.end_record();
    }
    void numbers(std::initializer_list<float> values) { numbers_after({}, values); }
    // The cells `head` followed by the numbers.
    void numbers_after(std::string_view head, std::initializer_list<float> values) {
        std::string& r = out_.record();
        r.clear();
        append_cells(r, head, values);
        out_.end_record();
    }
    // Every line of `lines`, as they are.
    void lines(const laid_out_lines& lines) {
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
    void close() { out_.close(); }

  private:
    textio::output_unit out_;
};

struct plan_entry {
    std::size_t profile = 0, record = 0;
    std::string folder; // relative to the output folder
};

// Names used twice get -2, -3 in argument order.
std::vector<std::string> unique_names(const std::vector<std::string>& names) {
    std::map<std::string, int> seen;
    std::vector<std::string> out;
    for (const auto& n : names) {
        const int k = ++seen[n];
        out.push_back(k == 1 ? n : n + "-" + std::to_string(k));
    }
    return out;
}

std::string stem(const std::string& path) { return fs::path(path).stem().string(); }

std::vector<plan_entry> make_plan(const batch_options& o) {
    std::vector<std::string> p, r;
    for (const auto& s : o.soils) {
        p.push_back(stem(s));
    }
    for (const auto& rs : o.records) {
        r.push_back(stem(rs.file));
    }
    p = unique_names(p);
    r = unique_names(r);
    std::vector<plan_entry> plan;
    for (std::size_t i = 0; i < p.size(); ++i) {
        for (std::size_t j = 0; j < r.size(); ++j) {
            plan.push_back({i, j, p[i] + "/" + r[j]});
        }
    }
    return plan;
}

std::vector<profile> read_profiles(const batch_options& o) {
    std::vector<profile> out;
    for (const auto& s : o.soils) {
        auto p = read_profile(s);
        if (!p) {
            usage("--soil " + reason(p.err()));
        }
        out.push_back(std::move(*p));
    }
    return out;
}

void check_options(const batch_options& o) {
    if (o.soils.empty()) {
        usage("--soil: at least one profile is needed");
    }
    if (o.records.empty()) {
        usage("no record given (RECORD, --at2 or @LIST)");
    }
    if (o.band) {
        const auto& b = *o.band;
        for (std::size_t k = 0; k < 4; ++k) {
            if (!std::isfinite(b[k]) || b[k] < 0.0f) {
                usage("--band: corner " + num(b[k]) + " is not a finite, non-negative frequency");
            }
            if (k > 0 && b[k] < b[k - 1]) {
                usage("--band: the corners are not in non-decreasing order");
            }
        }
    }
    if (o.angle && !std::isfinite(*o.angle)) {
        usage("--angle: not a finite angle");
    }
    if (o.jobs < 1) {
        usage("--jobs: at least 1");
    }
    if (o.nyes < 0 || o.nyes > 2) {
        usage("--process: none, integrate or differentiate");
    }
    if (o.spectra) {
        if (o.nyes != 0) {
            usage("--spectra needs --process none (response spectra are of accelerations)");
        }
        for (const double z : o.damping) {
            if (!(z >= 0.0 && z < 1.0)) {
                usage("--damping: " + num(z) + " is not a ratio in [0, 1)");
            }
        }
        if (o.damping.empty()) {
            usage("--damping: at least one ratio");
        }
        if (!(o.period_min > 0.0) || !(o.period_max >= o.period_min) ||
            !std::isfinite(o.period_max) || o.periods < 1) {
            usage("--periods: MIN,MAX,N with 0 < MIN <= MAX and N >= 1");
        }
    }
}

void check_output(const batch_options& o, const std::vector<plan_entry>& plan) {
    std::error_code ec;
    const fs::path out(o.out);
    if (fs::exists(out, ec) && !fs::is_directory(out, ec)) {
        usage("--out " + o.out + ": exists and is not a folder");
    }
    if (fs::is_directory(out, ec) && !fs::is_empty(out, ec)) {
        if (!o.force) {
            usage("--out " + o.out + ": the folder is not empty (--force writes into it)");
        }
        fs::remove(out / "summary.csv", ec);
        for (const auto& e : plan) {
            fs::remove_all(out / e.folder, ec);
        }
    }
}

struct loaded_record {
    record rec;
    std::string note;
    std::optional<sitewave::error> err;
};

loaded_record load(const record_source& rs) {
    loaded_record l;
    if (rs.is_at2()) {
        auto r = read_at2(rs.at2, l.note);
        if (r) {
            l.rec = std::move(*r);
        } else {
            l.err = r.err();
        }
        return l;
    }
    textio::io_state state;
    driver::written_times written;
    auto r = textio::capture(
        [&] { return driver::read_record(rs.file, state, {}, 1 << max_if1, &written); }, &state);
    if (!r) {
        l.err = r.err();
        return l;
    }
    l.rec = std::move(*r);
    // A constant time step, on the times as written: |t_k - t_1 - (k - 1) dt| <= 0.001 dt.
    const auto& t = written.time;
    if (t.size() >= 2) {
        const double dt = t[1] - t[0];
        for (std::size_t k = 2; k < t.size(); ++k) {
            if (!(std::fabs(t[k] - t[0] - static_cast<double>(k) * dt) <= 0.001 * dt)) {
                sitewave::error e;
                e.what = sitewave::error::kind::refused;
                e.message = "record file " + rs.file + ": line " + std::to_string(written.line[k]) +
                            ": time " + num(t[k]) + " is off the constant time step " + num(dt);
                l.err = e;
                break;
            }
        }
    }
    return l;
}

std::string record_paths(const record_source& rs) {
    return rs.is_at2() ? rs.at2[0] + ";" + rs.at2[1] + ";" + rs.at2[2] : rs.file;
}

float peak_abs(std::span<const float> x) {
    float m = 0.0f;
    for (const float v : x) {
        m = std::max(m, std::fabs(v));
    }
    return m;
}

class batch {
  public:
    explicit batch(const batch_options& o) : o_(o) {}

    std::vector<run_summary> run(const std::function<void(int, int)>& done) {
        check_options(o_);
        profiles_ = read_profiles(o_);
        plan_ = make_plan(o_);
        check_output(o_, plan_);
        fs::create_directories(o_.out);
        const std::size_t nr = o_.records.size();
        records_.resize(nr);
        work_.resize(nr);
        runs_left_ = std::vector<std::atomic<std::size_t>>(nr);
        for (std::size_t k = 0; k < nr; ++k) {
            records_[k] = std::async(std::launch::deferred, [this, k] {
                              return load(o_.records[k]);
                          }).share();
            work_[k] = std::async(std::launch::deferred, [this, k] {
                           return prepare(records_[k].get().rec, o_.records[k]);
                       }).share();
            runs_left_[k] = profiles_.size();
        }
        std::vector<run_summary> rows(plan_.size());
        std::atomic<std::size_t> next{0};
        std::mutex done_mutex;
        int finished = 0;
        const auto worker = [&] {
            // Record by record, every profile in turn: what the runs of a record share is then
            // prepared once and released soon after. The rows stay in the plan's order.
            for (std::size_t k; (k = next++) < plan_.size();) {
                const std::size_t i = (k % profiles_.size()) * nr + k / profiles_.size();
                rows[i] = run_one(plan_[i]);
                if (--runs_left_[plan_[i].record] == 0) {
                    work_[plan_[i].record] = {};
                    records_[plan_[i].record] = {};
                }
                if (done) {
                    const std::lock_guard lock(done_mutex);
                    done(++finished, static_cast<int>(plan_.size()));
                }
            }
        };
        const int n = std::min<int>(o_.jobs, static_cast<int>(plan_.size()));
        std::vector<std::thread> threads;
        for (int k = 1; k < n; ++k) {
            threads.emplace_back(worker);
        }
        worker();
        for (auto& t : threads) {
            t.join();
        }
        write_summary(rows);
        return rows;
    }

  private:
    // What the runs of one record share on every profile: its grid, forward spectra and their
    // moduli, and the lines of its files that do not depend on the profile (input.csv whole,
    // the first cells of each line of spectra.csv). Prepared by the first of its runs; a
    // refusal met preparing it is each run's.
    struct record_work {
        int nf = 0;
        grid g;
        spectra s;
        std::optional<fft::twiddles> inverse_factors;
        laid_out_lines times; // the time of each sample, one a line
        laid_out_lines input_csv;
        laid_out_lines spectra_head;
    };

    record_work prepare(const record& rec, const record_source& rs) const {
        const std::string label = "record " + rs.file;
        if (rec.nt > (1 << max_if1)) {
            textio::refuse(label + ": " + std::to_string(rec.nt) + " samples, more than " +
                           std::to_string(1 << max_if1));
        }
        record_work w;
        w.nf = choose_length(rec.nt, max_if1)->nf;
        w.g = driver::checked_grid(rec, w.nf, label);
        const fft::twiddles factors(static_cast<std::size_t>(w.nf), -1);
        w.s = driver::forward_transform(rec, w.nf, label, 1, &factors);
        w.inverse_factors = factors.opposite();
        const auto h = heads(rec);
        w.input_csv.add(join({"time (s)", "input " + h[0], "input " + h[1], "input " + h[2]}));
        for (std::size_t i = 0; i < rec.time.size(); ++i) {
            w.times.numbers({rec.time[i]});
            w.input_csv.add(w.times.line(i), {rec.xr1[i], rec.yr1[i], rec.zr1[i]});
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(w.g.nom); ++i) {
            const float freq = static_cast<float>(i) * w.g.dom / two_pi;
            w.spectra_head.numbers({freq, cabs(w.s.fx1[i]), cabs(w.s.fy1[i]), cabs(w.s.fz1[i])});
        }
        return w;
    }

    // The tables of one profile on one grid, and what every record on it writes of them
    // (transfer.csv whole, the frequency of the peak factor): computed once and shared.
    struct profile_work {
        tables t;
        tables applied; // an outcrop motion's: column 1 halved (exact)
        bool outcrop = false;
        int nin = 1;
        laid_out_lines transfer_csv;
        std::size_t best = 1;

        const tables& use() const { return outcrop ? applied : t; }
    };

    const profile_work& profile_work_for(std::size_t p, float theta, input_motion input, int nf,
                                         float dt) {
        const auto key = std::make_tuple(p, nf, std::bit_cast<std::uint32_t>(dt));
        std::shared_future<profile_work> f;
        {
            const std::lock_guard lock(cache_mutex_);
            auto it = cache_.find(key);
            if (it == cache_.end()) {
                const grid g = driver::make_grid_unchecked(nf, dt);
                const layer_table* layers = &profiles_[p].layers;
                const bool oblique = o_.oblique;
                // Cores left over when there are fewer runs than jobs go to the rows.
                const int row_threads =
                    std::max(1, o_.jobs / std::max<int>(1, static_cast<int>(plan_.size())));
                it = cache_
                         .emplace(key, std::async(std::launch::deferred,
                                                  [layers, theta, input, g, oblique, row_threads] {
                                                      return make_profile_work(*layers, theta,
                                                                               input, g, oblique,
                                                                               row_threads);
                                                  })
                                           .share())
                         .first;
            }
            f = it->second;
        }
        return f.get();
    }

    static profile_work make_profile_work(const layer_table& layers, float theta,
                                          input_motion input, const grid& g, bool oblique,
                                          int row_threads) {
        profile_work w;
        w.t = driver::compute_tables_unchecked(layers, theta, g, oblique, row_threads);
        // The factor applied: column 1, column 1 halved for an outcrop motion, or column 2.
        w.nin = input == input_motion::within ? 2 : 1;
        w.outcrop = input == input_motion::outcrop;
        if (w.outcrop) {
            w.applied = w.t;
            for (auto* col : {&w.applied.samp.col[0], &w.applied.pamp.col[0]}) {
                for (auto& v : *col) {
                    v = v * 0.5f;
                }
            }
        }
        const auto nom = static_cast<std::size_t>(g.nom);
        const auto& t = w.t;
        const auto& fh = w.use().samp.col[static_cast<std::size_t>(w.nin - 1)];
        const auto& fv = w.use().pamp.col[static_cast<std::size_t>(w.nin - 1)];
        w.transfer_csv.add("frequency (Hz),Samp1,Samp2,Pamp1,Pamp2,factor H,factor V");
        for (std::size_t i = 0; i < nom; ++i) {
            const float freq = static_cast<float>(i) * g.dom / two_pi;
            w.transfer_csv.numbers({freq, cabs(t.samp.col[0][i]), cabs(t.samp.col[1][i]),
                                    cabs(t.pamp.col[0][i]), cabs(t.pamp.col[1][i]), cabs(fh[i]),
                                    cabs(fv[i])});
            if (i >= 1 && w.best < nom && cabs(fh[i]) > cabs(fh[w.best])) {
                w.best = i;
            }
        }
        return w;
    }

    run_summary run_one(const plan_entry& e) {
        run_summary s;
        const record_source& rs = o_.records[e.record];
        s.profile = o_.soils[e.profile];
        s.record = record_paths(rs);
        s.folder = e.folder;
        const loaded_record& l = records_[e.record].get();
        s.note = l.note;
        if (l.err) {
            s.note = reason(*l.err);
            return s;
        }
        const fs::path final_dir = fs::path(o_.out) / e.folder;
        std::string temp_name(".");
        temp_name.append(final_dir.filename().string())
            .append(".tmp")
            .append(std::to_string(::getpid()))
            .append("-")
            .append(std::to_string(e.record));
        const fs::path temp_dir = final_dir.parent_path() / temp_name;
        const std::string temp = temp_dir.string();
        textio::io_state state;
        auto r = textio::capture(
            [&] {
                fs::create_directories(final_dir.parent_path());
                fs::remove_all(temp_dir);
                fs::create_directory(temp_dir);
                textio::register_pending_dir(temp.c_str());
                std::vector<std::string> values = compute(l.rec, rs, e, temp_dir, state);
                fs::rename(temp_dir, final_dir);
                textio::release_pending_dir(temp.c_str());
                return values;
            },
            &state);
        if (r) {
            s.ok = true;
            s.values = std::move(*r);
        } else {
            std::error_code ec;
            fs::remove_all(temp_dir, ec);
            textio::release_pending_dir(temp.c_str());
            s.note = reason(r.err());
        }
        return s;
    }

    std::vector<std::string> compute(const record& rec, const record_source& rs,
                                     const plan_entry& e, const fs::path& dir,
                                     textio::io_state& state) {
        const std::string label = "record " + rs.file;
        const profile& prof = profiles_[e.profile];
        const record_work& w = work_[e.record].get();
        const int nf = w.nf;
        const grid& g = w.g;
        const float angle = o_.angle ? *o_.angle : prof.angle;
        const float theta = o_.angle ? *o_.angle * deg_to_rad : prof.theta;
        input_motion input = o_.input;
        if (input == input_motion::from_profile) {
            input = prof.nin == 2 ? input_motion::within : input_motion::incident;
        }

        spectra s = w.s;
        const auto nom = static_cast<std::size_t>(g.nom);
        const profile_work& pw = profile_work_for(e.profile, theta, input, nf, rec.dt);
        const tables& t = pw.t;
        driver::check_tables_finite(t, g, s_label(e));
        const int nin = pw.nin;
        const tables* use = &pw.use();
        driver::apply_tables(s, *use, nin, g, label);
        pass_band band;
        if (o_.band) {
            const auto& b = *o_.band;
            band = driver::corner_band(b[0], b[1], b[2], b[3], "--band");
        }
        driver::process_or_refuse(s, g, band, o_.nyes, label);

        const auto names = heads(rec);
        const auto& fh = use->samp.col[static_cast<std::size_t>(nin - 1)];
        const std::size_t best = pw.best;
        {
            table_file f((dir / "transfer.csv").string(), state);
            f.lines(pw.transfer_csv);
            f.close();
        }
        {
            table_file f((dir / "spectra.csv").string(), state);
            f.line(join({"frequency (Hz)", "input " + names[0], "input " + names[1],
                         "input " + names[2], "surface " + names[0], "surface " + names[1],
                         "surface " + names[2]}));
            for (std::size_t i = 0; i < nom; ++i) {
                f.numbers_after(w.spectra_head.line(i),
                                {cabs(s.fx1[i]), cabs(s.fy1[i]), cabs(s.fz1[i])});
            }
            f.close();
        }
        {
            table_file f((dir / "input.csv").string(), state);
            f.lines(w.input_csv);
            f.close();
        }
        if (o_.dialogue_files) {
            driver::write_factors_file("Amp-Factors.csv", (dir / "Amp-Factors.csv").string(), t, g,
                                       state)
                .commit();
            driver::write_spectra_file("amp1.csv", (dir / "amp1.csv").string(), s, g, rec, state)
                .commit();
        }
        const histories h =
            driver::inverse_transform(std::move(s), g, label, 1, &*w.inverse_factors);
        if (o_.dialogue_files) {
            driver::write_history_file("wave1.csv", (dir / "wave1.csv").string(), h, rec, state)
                .commit();
        }
        // The surface series as the dialogue computes them: each less its first value.
        const std::size_t n = o_.padded ? h.xr1.size() : rec.time.size();
        std::array<std::vector<float>, 3> surf;
        {
            const std::vector<float>* c[3] = {&h.xr1, &h.yr1, &h.zr1};
            for (std::size_t k = 0; k < 3; ++k) {
                for (std::size_t i = 0; i < n; ++i) {
                    const float v = (*c[k])[i] - (*c[k])[0];
                    if (!std::isfinite(v)) {
                        textio::refuse(label + ": the surface motion is not finite");
                    }
                    surf[k].push_back(v);
                }
            }
        }
        {
            table_file f((dir / "surface.csv").string(), state);
            f.line(join(
                {"time (s)", "surface " + names[0], "surface " + names[1], "surface " + names[2]}));
            for (std::size_t i = 0; i < n; ++i) {
                if (i < rec.time.size()) {
                    f.numbers_after(w.times.line(i), {surf[0][i], surf[1][i], surf[2][i]});
                } else {
                    f.numbers({static_cast<float>(i) * rec.dt, surf[0][i], surf[1][i], surf[2][i]});
                }
            }
            f.close();
        }
        const std::size_t nt = rec.time.size();
        const auto within_record = [nt](const std::vector<float>& x) {
            return std::span<const float>(x.data(), std::min(nt, x.size()));
        };

        std::vector<std::string> values = {
            input == input_motion::incident  ? "incident"
            : input == input_motion::outcrop ? "outcrop"
                                             : "within",
            num(angle),
            o_.nyes == 1   ? "integrate"
            : o_.nyes == 2 ? "differentiate"
                           : "none",
            std::to_string(rec.nt),
            num(rec.dt),
            std::to_string(nf),
            num(peak_abs(rec.xr1)),
            num(peak_abs(rec.yr1)),
            num(peak_abs(rec.zr1)),
            num(peak_abs(within_record(surf[0]))),
            num(peak_abs(within_record(surf[1]))),
            num(peak_abs(within_record(surf[2]))),
            num(static_cast<float>(best) * g.dom / two_pi),
            num(cabs(fh[best])),
        };
        if (o_.spectra) {
            write_psa(rec, surf, nt, dir, state, values);
        }
        return values;
    }

    std::string s_label(const plan_entry& e) const { return o_.soils[e.profile]; }

    // psa.csv, and the summary's PSA cells: surface H1, H2 at 0.2 s and 1.0 s and their ratios
    // to the input, first damping.
    void write_psa(const record& rec, const std::array<std::vector<float>, 3>& surf, std::size_t nt,
                   const fs::path& dir, textio::io_state& state, std::vector<std::string>& values) {
        std::vector<double> periods{0.0};
        const auto lp = response::log_periods(o_.period_min, o_.period_max, o_.periods);
        periods.insert(periods.end(), lp.begin(), lp.end());
        const double dt = static_cast<double>(rec.dt);
        const std::span<const float> in[3] = {rec.xr1, rec.yr1, rec.zr1};
        std::span<const float> out[3];
        for (std::size_t k = 0; k < 3; ++k) {
            out[k] = std::span<const float>(surf[k].data(), std::min(nt, surf[k].size()));
        }
        std::vector<std::vector<double>> cols;
        std::vector<std::string> head{"period (s)"};
        for (const double z : o_.damping) {
            char pct[32];
            std::snprintf(pct, sizeof pct, "%g%%", z * 100.0);
            const char* names[] = {"H1", "H2", "V"};
            for (int side = 0; side < 2; ++side) {
                for (std::size_t k = 0; k < 3; ++k) {
                    head.push_back(std::string(side == 0 ? "input " : "surface ") + names[k] +
                                   " PSA " + pct);
                    cols.push_back(response::psa(side == 0 ? in[k] : out[k], dt, periods, z));
                }
            }
            for (std::size_t k = 0; k < 2; ++k) {
                head.push_back(std::string("ratio ") + names[k] + " " + pct);
                const auto& a = cols[cols.size() - 6 + k];
                const auto& b = cols[cols.size() - 3 + k];
                std::vector<double> ratio;
                for (std::size_t i = 0; i < periods.size(); ++i) {
                    ratio.push_back(a[i] > 0.0 ? b[i] / a[i] : 0.0);
                }
                cols.push_back(ratio);
            }
        }
        table_file f((dir / "psa.csv").string(), state);
        f.line(join(head));
        std::vector<double> row(1 + cols.size());
        for (std::size_t i = 0; i < periods.size(); ++i) {
            row[0] = periods[i];
            for (std::size_t k = 0; k < cols.size(); ++k) {
                row[k + 1] = cols[k][i];
            }
            f.numbers(std::span<const double>(row));
        }
        f.close();
        const double z = o_.damping[0];
        for (const double T : {0.2, 1.0}) {
            for (std::size_t k = 0; k < 2; ++k) {
                values.push_back(num(response::psa_at(out[k], dt, T, z)));
            }
        }
        for (const double T : {0.2, 1.0}) {
            for (std::size_t k = 0; k < 2; ++k) {
                const double a = response::psa_at(in[k], dt, T, z);
                const double b = response::psa_at(out[k], dt, T, z);
                values.push_back(num(a > 0.0 ? b / a : 0.0)); // as in psa.csv
            }
        }
    }

    void write_summary(const std::vector<run_summary>& rows) {
        std::vector<std::string> head{"profile",
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
        if (o_.spectra) {
            for (const char* c :
                 {"surface PSA H1 0.2 s", "surface PSA H2 0.2 s", "surface PSA H1 1.0 s",
                  "surface PSA H2 1.0 s", "PSA ratio H1 0.2 s", "PSA ratio H2 0.2 s",
                  "PSA ratio H1 1.0 s", "PSA ratio H2 1.0 s"}) {
                head.push_back(c);
            }
        }
        textio::io_state state;
        table_file f((fs::path(o_.out) / "summary.csv").string(), state);
        f.line(join(head));
        for (const auto& r : rows) {
            std::vector<std::string> cells{r.profile, r.record, r.folder, r.ok ? "ok" : "failed",
                                           r.note};
            std::vector<std::string> v = r.values;
            v.resize(head.size() - cells.size());
            cells.insert(cells.end(), v.begin(), v.end());
            f.line(join(cells));
        }
        f.close();
    }

    const batch_options& o_;
    std::vector<profile> profiles_;
    std::vector<plan_entry> plan_;
    std::vector<std::shared_future<loaded_record>> records_;
    std::vector<std::shared_future<record_work>> work_;
    std::vector<std::atomic<std::size_t>> runs_left_; // of each record
    std::mutex cache_mutex_;
    std::map<std::tuple<std::size_t, int, std::uint32_t>, std::shared_future<profile_work>> cache_;
};

} // namespace

result<void> prepare_batch(const batch_options& o) {
    return textio::capture([&] {
        check_options(o);
        read_profiles(o);
        check_output(o, make_plan(o));
    });
}

result<std::vector<run_summary>> run_batch(const batch_options& o,
                                           const std::function<void(int, int)>& done) {
    batch b(o);
    return textio::capture([&] { return b.run(done); });
}

} // namespace sitewave
