#include "batch/variation_suite.hpp"

#include "batch/plan.hpp"
#include "batch/run.hpp"
#include "batch/run_record.hpp"
#include "batch/rvt_run.hpp"
#include "batch/sha256.hpp"
#include "batch/shared_work.hpp"
#include "batch/streaming.hpp"
#include "batch/summary.hpp"
#include "batch/tidy.hpp"
#include "batch/variation_run.hpp"
#include "sitewave/variation.hpp"
#include "textio/fatal.hpp"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

namespace sitewave::batch {

namespace {

constexpr const char* shard_magic = "sitewave-batch shard 1";

[[noreturn]] void system_failure(const std::string& message) {
    sitewave::error e;
    e.what = sitewave::error::kind::system;
    e.message = message;
    throw textio::failure(std::move(e));
}

// A profile of the suite: profile p as it is (k < 0) or its realization k.
struct member {
    std::size_t index = 0; // of the profile
    long k = -1;
    std::string dir; // the runs' folder name
    sitewave::profile prof;
    std::optional<site::site_model> site;
    std::optional<sitewave::error> err; // the realization could not be made
};

double depth_of(const profile& p) {
    double d = 0.0;
    for (std::size_t j = 0; j + 1 < p.layers.thk.size(); ++j) {
        d += static_cast<double>(p.layers.thk[j]);
    }
    return d;
}

// The deepest rock a profile's realizations are likely to have: the law's maximum, or its mean
// and three standard deviations.
double deepest_of(const profile& p, const std::optional<site::site_model>& s) {
    double d = depth_of(p);
    if (s && s->variation) {
        const auto& law = s->variation->bedrock_depth;
        using kind = site::depth_law::kind;
        if (law.law == kind::uniform) {
            d = law.b;
        } else if (law.law != kind::fixed) {
            d = law.a + 3.0 * law.b;
        }
    }
    return d;
}

// Writes `text` as DIR/name through a temporary file renamed into place.
void write_text(const fs::path& path, const std::string& text) {
    textio::io_state state;
    auto r = textio::capture(
        [&] {
            table_file f(path.string(), state);
            for (std::size_t b = 0, e; (e = text.find('\n', b)) != std::string::npos; b = e + 1) {
                f.line(text.substr(b, e - b));
            }
            f.close();
        },
        &state);
    if (!r) {
        throw textio::failure(r.err());
    }
}

// A binary file (the observations) through a temporary file renamed into place.
void write_binary(const fs::path& path, const std::string& bytes) {
    const fs::path temp = path.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            std::error_code ec;
            fs::remove(temp, ec);
            system_failure(temp.string() + ": cannot be written");
        }
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        system_failure(path.string() + ": cannot be put in place: " + ec.message());
    }
}

std::string read_file(const fs::path& path, const std::string& what) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec))) {
        usage("merge: " + path.string() + ": " + what + " missing (is the shard complete?)");
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in && !in.eof()) {
        usage("merge: " + path.string() + ": cannot be read");
    }
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        out.push_back(l);
    }
    return out;
}

// layout.txt: the layout's description, then one "group NAME" line per group.
std::string layout_text(const observation_layout& l, const std::vector<std::string>& groups) {
    std::string t = l.describe();
    for (const auto& g : groups) {
        t += "group " + g + "\n";
    }
    return t;
}

double number_of(const std::string& s, const std::string& where) {
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
        usage("merge: " + where + ": \"" + s + "\" is not a number");
    }
    return v;
}

void parse_layout(const std::string& text, const std::string& where, observation_layout& l,
                  std::vector<std::string>& groups) {
    for (const auto& line : lines_of(text)) {
        if (line.rfind("group ", 0) == 0) {
            groups.push_back(line.substr(6));
            continue;
        }
        std::istringstream in(line);
        std::string name, w;
        in >> name;
        while (in >> w) {
            if (name == "keys") {
                psa_key k;
                const auto a = w.find('/');
                const auto b = w.find('/', a == std::string::npos ? a : a + 1);
                if (a == std::string::npos || b == std::string::npos) {
                    usage("merge: " + where + ": a key is not q/c/damping");
                }
                k.quantity = static_cast<int>(number_of(w.substr(0, a), where));
                k.component = static_cast<int>(number_of(w.substr(a + 1, b - a - 1), where));
                k.damping = w.substr(b + 1);
                if (k.quantity < 0 || k.quantity > 1 || k.component < 0 || k.component > 3) {
                    usage("merge: " + where + ": a key out of range");
                }
                l.keys.push_back(k);
            } else if (name == "periods") {
                l.periods.push_back(number_of(w, where));
            } else if (name == "frequencies") {
                l.frequencies.push_back(number_of(w, where));
            } else if (name == "depths") {
                l.depths.push_back(number_of(w, where));
            } else {
                usage("merge: " + where + ": unknown line \"" + name + "\"");
            }
        }
    }
}

// An rvt input's settings, beyond its name (two sources of one name may differ in their stress
// drop, two runs of one spectrum in their duration).
std::string rvt_settings(const rvt_input& in) {
    const auto value = [](const char* name, const std::optional<double>& v) {
        return std::string(" ") + name + " " + (v ? num(*v) : "-");
    };
    std::string t = "rvt " + std::to_string(static_cast<int>(in.what));
    t += value("duration", in.duration) + value("magnitude", in.magnitude) +
         value("distance", in.distance) + value("stress-drop", in.stress_drop) +
         value("kappa", in.kappa) + value("damping", in.damping);
    t += std::string(" region ") + (in.region ? region_name(*in.region) : "-") + "\n";
    return t;
}

class suite_run {
  public:
    suite_run(const batch_options& o, const std::vector<profile>& profiles,
              const std::vector<std::optional<site::site_model>>& sites)
        : o_(o), profiles_(profiles), sites_(sites) {}

    batch_result run(const std::function<void(int, int)>& done) {
        check();
        make_members();
        const std::size_t nr = o_.records.size();
        sharded_ = o_.shards > 0;
        keep_ = o_.keep;
        if (keep_ == batch_options::keep_mode::automatic) {
            keep_ =
                any_varied_ ? batch_options::keep_mode::statistics : batch_options::keep_mode::all;
        }
        // The runs of this process, record by record (the unit of work of a shard).
        std::vector<std::size_t> records;
        for (std::size_t r = 0; r < nr; ++r) {
            if (!sharded_ ||
                static_cast<int>(r % static_cast<std::size_t>(o_.shards)) == o_.shard) {
                records.push_back(r);
            }
        }
        const bool keep_all = keep_ == batch_options::keep_mode::all;
        // The options and profiles that run_one sees with --keep all: one per member.
        batch_options o_all = o_;
        std::vector<profile> profiles_all;
        std::vector<std::optional<site::site_model>> sites_all;
        std::vector<plan_entry> plan_all;
        if (keep_all) {
            o_all.soils.clear();
            for (std::size_t m = 0; m < members_.size(); ++m) {
                o_all.soils.push_back(o_.soils[members_[m].index]);
                profiles_all.push_back(members_[m].prof);
                sites_all.push_back(members_[m].site);
                for (std::size_t r = 0; r < nr; ++r) {
                    plan_all.push_back({m, r, members_[m].dir, record_dirs_[r]});
                }
            }
        }
        fs::path out_path(o_.out);
        batch_options o_out = o_;
        if (sharded_) {
            std::error_code ec;
            fs::create_directories(out_path / "shards", ec);
            if (ec) {
                usage("--out " + o_.out + ": " + (out_path / "shards").string() +
                      " cannot be made: " + ec.message());
            }
            o_out.out = (out_path / "shards" / std::to_string(o_.shard)).string();
        }
        const output_folder out = open_output(o_out, plan_all);
        if (sharded_) {
            // A shard made again: its mark goes first, so that a merge never takes a shard
            // whose files are half old, half new (with --force; without, the folder is empty).
            std::error_code ec;
            const fs::path mark = out.path() / "shard.txt";
            if (fs::is_regular_file(fs::symlink_status(mark, ec))) {
                fs::remove(mark, ec);
                if (ec) {
                    system_failure(mark.string() + ": cannot be removed: " + ec.message());
                }
            }
        }
        std::optional<run_record> record;
        if (!sharded_) {
            record.emplace(keep_all ? o_all : o_, plan_all);
            if (auto w = record->write(o_); !w) {
                throw textio::failure(w.err());
            }
        }
        stream_statistics stats(layout_, groups_);
        shared_work work(o_, profiles_, 1);
        std::optional<shared_work> work_all;
        if (keep_all) {
            work_all.emplace(o_all, profiles_all, 1);
        }
        const std::size_t nm = members_.size();
        batch_result result;
        const std::size_t total = nm * nr;
        std::vector<run_summary> rows(total);
        std::vector<char> made(total, 0), mine(total, 0);
        for (const std::size_t r : records) {
            for (std::size_t m = 0; m < nm; ++m) {
                mine[m * nr + r] = 1;
            }
        }
        std::vector<std::vector<double>> observations(sharded_ ? total : 0);
        std::vector<std::atomic<std::size_t>> left(nr);
        for (auto& l : left) {
            l = nm;
        }
        const std::size_t items = records.size() * nm;
        std::mutex mutex;
        const auto item = [&](std::size_t j) {
            const std::size_t r = records[j / nm];
            const std::size_t m = j % nm;
            const std::size_t i = m * nr + r;
            const member& mb = members_[m];
            const record_source& rs = o_.records[r];
            run_summary s;
            s.profile = o_.soils[mb.index];
            s.record = record_paths(rs);
            s.rvt = rs.rvt.has_value();
            s.folder = mb.dir + "/" + record_dirs_[r];
            std::optional<run_values> mr;
            if (mb.err) {
                s.note = reason(*mb.err);
            } else {
                auto got = textio::capture([&] {
                    return rs.rvt ? compute_rvt_values(o_, mb.prof, mb.site, *rs.rvt, layout_)
                                  : compute_values(o_, mb.prof, mb.site, work, r, layout_);
                });
                if (got) {
                    s.ok = true;
                    s.note = got->note;
                    s.values = got->values;
                    mr = std::move(*got);
                } else {
                    s.note = reason(got.err());
                }
            }
            if (keep_all) {
                s = run_one(o_all, profiles_all, sites_all, *work_all, out.path(), plan_all[i], i);
                s.profile = o_.soils[mb.index];
                work_all->run_done(r);
            }
            {
                const std::lock_guard lock(mutex);
                if (mr && s.ok) {
                    stats.add(mb.index, mr->obs);
                    if (sharded_) {
                        observations[i] = std::move(mr->obs);
                    }
                }
                rows[i] = std::move(s);
                made[i] = 1;
            }
            if (--left[r] == 0) {
                for (std::size_t p = 0; p < profiles_.size(); ++p) {
                    work.run_done(r);
                }
            }
        };
        share_out(o_.jobs, items, o_.stop, item, done);
        for (std::size_t i = 0; i < total; ++i) {
            if (mine[i] != 0 && made[i] == 0) {
                auto& r = rows[i];
                const member& mb = members_[i / nr];
                r.profile = o_.soils[mb.index];
                r.record = record_paths(o_.records[i % nr]);
                r.rvt = o_.records[i % nr].rvt.has_value();
                r.folder = mb.dir + "/" + record_dirs_[i % nr];
                r.interrupted = true;
                r.note = "interrupted";
            }
        }
        // The rows of this process, and those summary.csv keeps.
        std::vector<std::size_t> index;
        for (std::size_t i = 0; i < total; ++i) {
            if (mine[i] != 0) {
                index.push_back(i);
                result.rows.push_back(rows[i]);
            }
        }
        std::vector<run_summary> kept;
        std::string kept_index;
        for (const std::size_t i : index) {
            if (keep_ != batch_options::keep_mode::statistics || !rows[i].ok) {
                kept.push_back(rows[i]);
                kept_index += std::to_string(i) + "\n";
            }
        }
        const fs::path dir = out.path();
        if (auto w = write_summary(o_out, kept); !w) {
            result.summary_error = w.err();
        }
        const auto stats_files = textio::capture([&] {
            write_text(dir / "statistics.csv", stats.statistics_csv());
            write_text(dir / "profile-statistics.csv", stats.profile_csv());
            write_text(dir / "realizations.csv", realizations_);
        });
        if (!stats_files) {
            result.statistics_error = stats_files.err();
        }
        if (sharded_) {
            // The shard's own files; shard.txt last, the mark of a complete shard.
            std::string bytes;
            for (const std::size_t i : index) {
                if (observations[i].empty()) {
                    continue;
                }
                const std::uint64_t head[2] = {i, members_[i / nr].index};
                bytes.append(reinterpret_cast<const char*>(head), sizeof head);
                bytes.append(reinterpret_cast<const char*>(observations[i].data()),
                             observations[i].size() * sizeof(double));
            }
            write_binary(dir / "observations.bin", bytes);
            write_text(dir / "layout.txt", layout_text(layout_, groups_));
            write_text(dir / "summary-index.txt", kept_index);
            write_text(dir / "shard.txt", std::string(shard_magic) + "\nshard " +
                                              std::to_string(o_.shard) + "\nshards " +
                                              std::to_string(o_.shards) + "\nfingerprint " +
                                              fingerprint() + "\n");
        }
        if (record) {
            record->finish(result);
            if (auto w = record->write(o_); !w) {
                result.record_error = w.err();
            }
        }
        return result;
    }

  private:
    void check() {
        check_suite(o_, sites_);
        any_varied_ = std::any_of(sites_.begin(), sites_.end(),
                                  [](const auto& s) { return s && s->variation.has_value(); });
    }

    void make_members() {
        const auto plan = make_plan(o_);
        const std::size_t nr = o_.records.size();
        for (std::size_t p = 0; p < profiles_.size(); ++p) {
            groups_.push_back(plan[p * nr].profile_dir);
        }
        for (std::size_t r = 0; r < nr; ++r) {
            record_dirs_.push_back(plan[r].record_dir);
        }
        double deepest = 0.0;
        realizations_ = "profile," + variation::realizations_header();
        for (std::size_t p = 0; p < profiles_.size(); ++p) {
            deepest = std::max(deepest, deepest_of(profiles_[p], sites_[p]));
            const auto& s = sites_[p];
            if (!s || !s->variation) {
                member m;
                m.index = p;
                m.dir = groups_[p];
                m.prof = profiles_[p];
                m.site = s;
                members_.push_back(std::move(m));
                continue;
            }
            const long count = s->variation->realizations;
            const std::size_t width = std::to_string(count - 1).size();
            const long first = o_.realization.value_or(0);
            const long last = o_.realization ? first + 1 : count;
            for (long k = first; k < last; ++k) {
                member m;
                m.index = p;
                m.k = k;
                std::string digits = std::to_string(k);
                digits = std::string(width - std::min(width, digits.size()), '0') + digits;
                m.dir = groups_[p] + "-r" + digits;
                auto r = variation::realize(*s, k);
                if (r) {
                    auto t = textio::capture([&] { return profile_of_site(r->site); });
                    if (t) {
                        m.prof = std::move(*t);
                        m.site = r->site;
                    } else {
                        m.err = t.err();
                    }
                    for (const auto& line : lines_of(variation::realization_rows(*r))) {
                        realizations_ += csv_cell(groups_[p]) + "," + line + "\n";
                    }
                } else {
                    m.err = r.err();
                }
                members_.push_back(std::move(m));
            }
        }
        layout_ = make_layout(o_, deepest);
    }

    // What makes two shards parts of one suite.
    std::string fingerprint() const {
        std::string t = layout_text(layout_, groups_);
        t += batch::summary_csv(o_, std::vector<run_summary>{});
        for (const auto& m : members_) {
            t += "member " + std::to_string(m.index) + " " + std::to_string(m.k) + " " + m.dir +
                 "\n";
        }
        for (const auto& rs : o_.records) {
            t += "record " + record_paths(rs) + "\n";
            if (rs.rvt) {
                t += rvt_settings(*rs.rvt);
            }
        }
        t += "keep " + std::to_string(static_cast<int>(keep_)) + "\n";
        t += realizations_;
        return sha256_hex(t);
    }

    const batch_options& o_;
    const std::vector<profile>& profiles_;
    const std::vector<std::optional<site::site_model>>& sites_;
    bool any_varied_ = false;
    bool sharded_ = false;
    batch_options::keep_mode keep_ = batch_options::keep_mode::automatic;
    std::vector<std::string> groups_, record_dirs_;
    std::vector<member> members_;
    std::string realizations_;
    observation_layout layout_;
};

} // namespace

void check_suite(const batch_options& o,
                 const std::vector<std::optional<site::site_model>>& sites) {
    using keep = batch_options::keep_mode;
    if (o.shards < 0 || o.shards > 100000 ||
        (o.shards > 0 && (o.shard < 0 || o.shard >= o.shards))) {
        usage("--shard: K/N with 0 <= K < N <= 100000 (" + std::to_string(o.shard) + "/" +
              std::to_string(o.shards) + " given)");
    }
    if (o.shards > 0 && o.keep == keep::all) {
        usage("--keep all: the runs' folders are not kept by shards (--keep summary or "
              "statistics)");
    }
    const bool varied = std::any_of(sites.begin(), sites.end(),
                                    [](const auto& s) { return s && s->variation.has_value(); });
    if (o.dialogue_files && (o.keep != keep::all || varied)) {
        usage("--dialogue-files: not in a suite with realizations, --keep summary or statistics, "
              "or --shard");
    }
    if (o.realization && !varied) {
        usage("--realization: no profile has a [variation] table");
    }
    for (std::size_t p = 0; p < sites.size() && o.realization; ++p) {
        if (sites[p] && sites[p]->variation) {
            const long count = sites[p]->variation->realizations;
            if (!(*o.realization >= 0 && *o.realization < count)) {
                usage("--realization: " + std::to_string(*o.realization) + " is not from 0 to " +
                      std::to_string(count - 1) + " (" + o.soils[p] + ")");
            }
        }
    }
}

bool is_variation_suite(const batch_options& o,
                        const std::vector<std::optional<site::site_model>>& sites) {
    using keep = batch_options::keep_mode;
    return o.keep == keep::summary || o.keep == keep::statistics || o.shards > 0 ||
           o.realization.has_value() || std::any_of(sites.begin(), sites.end(), [](const auto& s) {
               return s && s->variation.has_value();
           });
}

batch_result run_variation_suite(const batch_options& o, const std::vector<profile>& profiles,
                                 const std::vector<std::optional<site::site_model>>& sites,
                                 const std::function<void(int, int)>& done) {
    suite_run s(o, profiles, sites);
    return s.run(done);
}

void merge(const std::string& dir) {
    const fs::path root(dir);
    const fs::path shards = root / "shards";
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(shards, ec))) {
        usage("merge: " + shards.string() + ": no shards' folder");
    }
    // Every entry a shard's folder named by its number.
    std::map<long, fs::path> found;
    for (const auto& e : fs::directory_iterator(shards, ec)) {
        const std::string name = e.path().filename().string();
        long k = -1;
        const auto r = std::from_chars(name.data(), name.data() + name.size(), k);
        const bool number = r.ec == std::errc() && r.ptr == name.data() + name.size() && k >= 0 &&
                            std::to_string(k) == name;
        if (!number || !fs::is_directory(fs::symlink_status(e.path(), ec))) {
            usage("merge: " + e.path().string() + ": not a shard's folder");
        }
        found[k] = e.path();
    }
    if (ec) {
        usage("merge: " + shards.string() + ": cannot be read: " + ec.message());
    }
    if (found.empty()) {
        usage("merge: " + shards.string() + ": no shard");
    }
    struct shard_head {
        long k = -1, n = -1;
        std::string fingerprint;
    };
    const auto head_of = [](const fs::path& p) {
        shard_head h;
        const auto lines = lines_of(read_file(p / "shard.txt", "shard.txt"));
        if (lines.empty() || lines[0] != shard_magic) {
            usage("merge: " + (p / "shard.txt").string() + ": not a shard's file");
        }
        for (std::size_t i = 1; i < lines.size(); ++i) {
            const auto sp = lines[i].find(' ');
            const std::string key = lines[i].substr(0, sp);
            const std::string value = sp == std::string::npos ? "" : lines[i].substr(sp + 1);
            if (key == "shard" || key == "shards") {
                long v = -1;
                std::from_chars(value.data(), value.data() + value.size(), v);
                (key == "shard" ? h.k : h.n) = v;
            } else if (key == "fingerprint") {
                h.fingerprint = value;
            }
        }
        return h;
    };
    const shard_head first = head_of(found.begin()->second);
    if (first.n < 1) {
        usage("merge: " + found.begin()->second.string() + ": no shard count");
    }
    std::string missing;
    for (long k = 0; k < first.n; ++k) {
        if (!found.count(k)) {
            missing += (missing.empty() ? "" : ", ") + std::to_string(k);
        }
    }
    if (!missing.empty()) {
        usage("merge: " + shards.string() + ": shard(s) " + missing + " of " +
              std::to_string(first.n) + " missing");
    }
    for (const auto& [k, p] : found) {
        const shard_head h = head_of(p);
        if (k >= first.n || h.k != k || h.n != first.n || h.fingerprint != first.fingerprint) {
            usage("merge: " + p.string() + ": a shard of another suite (or another shard count)");
        }
    }
    // The layout and the groups, the same in every shard (the fingerprint says so).
    const fs::path s0 = found.begin()->second;
    observation_layout layout;
    std::vector<std::string> groups;
    parse_layout(read_file(s0 / "layout.txt", "layout.txt"), (s0 / "layout.txt").string(), layout,
                 groups);
    stream_statistics stats(layout, groups);
    std::map<std::size_t, std::string> rows; // summary lines by run
    std::string header;
    const std::string realizations = read_file(s0 / "realizations.csv", "realizations.csv");
    const std::size_t record_bytes = 2 * sizeof(std::uint64_t) + layout.size() * sizeof(double);
    for (const auto& [k, p] : found) {
        const std::string bytes = read_file(p / "observations.bin", "observations.bin");
        if (bytes.size() % record_bytes != 0) {
            usage("merge: " + (p / "observations.bin").string() + ": cut short");
        }
        std::vector<double> obs(layout.size());
        for (std::size_t at = 0; at < bytes.size(); at += record_bytes) {
            std::uint64_t h[2];
            std::memcpy(h, bytes.data() + at, sizeof h);
            if (h[1] >= groups.size()) {
                usage("merge: " + (p / "observations.bin").string() + ": a group out of range");
            }
            std::memcpy(obs.data(), bytes.data() + at + sizeof h, obs.size() * sizeof(double));
            stats.add(static_cast<std::size_t>(h[1]), obs);
        }
        const auto summary = lines_of(read_file(p / "summary.csv", "summary.csv"));
        const auto index = lines_of(read_file(p / "summary-index.txt", "summary-index.txt"));
        if (summary.empty() || summary.size() != index.size() + 1) {
            usage("merge: " + (p / "summary.csv").string() + ": its rows and index differ");
        }
        if (header.empty()) {
            header = summary[0];
        }
        for (std::size_t i = 0; i < index.size(); ++i) {
            rows[static_cast<std::size_t>(
                number_of(index[i], (p / "summary-index.txt").string()))] = summary[i + 1];
        }
    }
    std::string summary = header + "\n";
    for (const auto& [i, line] : rows) {
        summary += line + "\n";
    }
    write_text(root / "summary.csv", summary);
    write_text(root / "statistics.csv", stats.statistics_csv());
    write_text(root / "profile-statistics.csv", stats.profile_csv());
    write_text(root / "realizations.csv", realizations);
}

} // namespace sitewave::batch
