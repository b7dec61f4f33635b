// Every public step called with arguments made from the fuzz data: lengths and counts at and past
// their limits, grids by hand, layer tables with any values, ragged vectors, NaN, infinities and
// negative numbers. A step returns a value, a refusal or an argument error (which leaves its
// in-out arguments as they were); never a crash, an exception or another kind of error.
//
// The data is read byte by byte; a byte of 0 (and the end of the data) picks the first entry of
// each list, a sound argument, so that an empty input is a whole sound run.
#include "sitewave/sitewave.hpp"
#include "support.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <optional>

namespace fs = std::filesystem;

namespace {

using sitewave::cplx;
using sitewave::error;

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float qnan = std::numeric_limits<float>::quiet_NaN();

class fuzz_bytes {
  public:
    fuzz_bytes(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}

    std::uint8_t byte() {
        if (n_ == 0) {
            return 0;
        }
        --n_;
        return *p_++;
    }
    bool flag() { return (byte() & 1) != 0; }
    // 0..most, 0 first.
    int count(int most) { return byte() % (most + 1); }
    // From the list mostly, otherwise the bits of the next four bytes.
    int integer(std::initializer_list<int> likely) {
        const std::uint8_t b = byte();
        if (b < 0xf0) {
            return likely.begin()[b % likely.size()];
        }
        return std::bit_cast<int>(raw());
    }
    float real(std::initializer_list<float> likely) {
        const std::uint8_t b = byte();
        if (b < 0xe0) {
            return likely.begin()[b % likely.size()];
        }
        return std::bit_cast<float>(raw());
    }

  private:
    std::uint32_t raw() {
        std::uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            v = v << 8 | byte();
        }
        return v;
    }

    const std::uint8_t* p_;
    std::size_t n_;
};

// Any value of a sample, a table entry or a spectrum entry.
float any_value(fuzz_bytes& in) {
    return in.real({0.5f, 0.0f, -0.0f, 1.0f, -1.0f, 1e-3f, 1e30f, -1e30f, 3.4e38f, -3.4e38f, inf,
                    -inf, qnan, 1e-45f, 1e-38f});
}

// The kinds a step may return.
template <class R> bool allowed(const R& r) {
    return r || r.err().what == error::kind::argument || r.err().what == error::kind::refused;
}
template <class R> bool argument_error(const R& r) {
    return !r && r.err().what == error::kind::argument;
}

bool same_bits(const std::vector<cplx>& a, const std::vector<cplx>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(cplx)) == 0);
}
bool same_bits(const sitewave::spectra& a, const sitewave::spectra& b) {
    return same_bits(a.fx1, b.fx1) && same_bits(a.fy1, b.fy1) && same_bits(a.fz1, b.fz1);
}

// Resizes a vector by -1, 0 or +1 (never below 0) when the data says so.
template <class T> void perhaps_ragged(fuzz_bytes& in, std::vector<T>& v) {
    const int d = in.count(2) - 1;
    if (d < 0 && !v.empty()) {
        v.pop_back();
    } else if (d > 0) {
        v.push_back(T{});
    }
}

// n, or `most` in place of a count from above it up to `limit` (the largest the steps take):
// such long work is for the unit tests, and would only slow the search here.
int short_of_long_work(int n, int most, int limit) { return n > most && n <= limit ? most : n; }

void lengths(fuzz_bytes& in) {
    const int nt = in.integer({6, 0, 1, 3, 4, 5, 64, 4097, 32768, 32769, 1 << 20, (1 << 20) + 1, -1,
                               -4, INT_MIN, INT_MAX});
    const int max_if1 = in.integer({15, 2, 3, 12, 20, 21, 30, 31, 32, 1, 0, -1, INT_MIN, INT_MAX});
    const auto len = sitewave::choose_length(nt, max_if1);
    FUZZ_CHECK(allowed(len));
    if (len) {
        FUZZ_CHECK(len->nf >= 4 && len->nf >= nt && len->nf == 1 << len->if1);
        FUZZ_CHECK(len->if1 <= max_if1 && (len->if1 == 2 || len->nf / 2 < nt));
    }
    const int nf = in.integer({512, 4, 1 << 20, 1 << 21, 0, 3, 6, 1000, -8, INT_MIN, INT_MAX});
    const float dt = in.real({0.01f, 1e-3f, 0.0f, -0.01f, 1e-45f, 1e38f, inf, qnan});
    const auto g = sitewave::make_grid(nf, dt);
    FUZZ_CHECK(g || argument_error(g));
    if (g) {
        FUZZ_CHECK(g->nom == nf / 2 + 1 && g->dom > 0.0f && std::isfinite(g->dom) &&
                   std::isfinite(g->dur) && std::isfinite(g->eom));
    }
}

sitewave::record make_record(fuzz_bytes& in) {
    sitewave::record rec;
    const int n = (in.byte() + 6) % 65;
    rec.dt = in.real({0.01f, 0.005f, 1.0f, 0.0f, -0.01f, 1e-45f, 1e38f, 3.4e38f, inf, -inf, qnan});
    for (int i = 0; i < n; ++i) {
        rec.time.push_back(static_cast<float>(i) * rec.dt);
        rec.xr1.push_back(static_cast<float>(i % 7 - 3));
        rec.yr1.push_back(static_cast<float>(i % 5) * 0.25f);
        rec.zr1.push_back(-0.5f);
    }
    rec.nt = n;
    for (int k = in.count(4); k > 0; --k) {
        std::vector<float>* arrays[] = {&rec.time, &rec.xr1, &rec.yr1, &rec.zr1};
        auto& a = *arrays[in.count(3)];
        const std::size_t at = in.byte();
        if (!a.empty()) {
            a[at % a.size()] = any_value(in);
        }
    }
    if (in.flag()) {
        for (auto* a : {&rec.time, &rec.xr1, &rec.yr1, &rec.zr1}) {
            perhaps_ragged(in, *a);
        }
    }
    if (in.flag()) {
        rec.nt = in.integer({0, 1, 2, 7, 64, 65, -1, INT_MIN, INT_MAX});
    }
    return rec;
}

// A grid by hand: any rows and steps.
sitewave::grid make_grid_by_hand(fuzz_bytes& in) {
    sitewave::grid g;
    g.nom = short_of_long_work(
        in.integer({5, 0, 1, 2, 3, 4, 9, 17, 33, 65, -1, INT_MIN, INT_MAX, 524290, 1 << 20}), 4097,
        524289);
    g.dom = in.real({78.539818f, 0.0f, -1.0f, 1e-30f, 1e30f, 3.4e38f, inf, -inf, qnan, 1e-45f});
    g.dur = in.real({0.08f, 0.0f, -0.08f, 1e-45f, 3.4e38f, inf, qnan});
    g.eom = static_cast<float>(g.nom) * g.dom;
    return g;
}

// Rows of a sound profile, then any values poked in, rows cut, columns made ragged.
sitewave::layer_table make_layers(fuzz_bytes& in) {
    static const float rows[3][8] = {{1.9f, 500.0f, 25.0f, 0.5f, 220.0f, 12.0f, 0.5f, 12.0f},
                                     {2.0f, 1100.0f, 40.0f, 0.3f, 450.0f, 20.0f, 0.3f, 25.0f},
                                     {2.4f, 3200.0f, 100.0f, 0.0f, 1500.0f, 50.0f, 0.0f, 0.0f}};
    sitewave::layer_table t;
    const int nl = (in.byte() + 3) % 9;
    t.resize(nl);
    std::vector<float>* cols[] = {&t.dns, &t.vp, &t.qp, &t.fp, &t.vs, &t.qs, &t.fs, &t.thk};
    for (int l = 0; l < nl; ++l) {
        const auto k = static_cast<std::size_t>(l);
        for (std::size_t c = 0; c < 8; ++c) {
            (*cols[c])[k] = rows[l % 3][c];
        }
    }
    for (int k = in.count(4); k > 0; --k) {
        auto& c = *cols[in.count(7)];
        const std::size_t at = in.byte();
        const float v = in.real({0.0f, -1.0f, 1e-30f, 1e30f, 3.4e38f, -3.4e38f, inf, -inf, qnan,
                                 1e-45f, 0.5f, 100.0f, 5000.0f, -1e-3f});
        if (!c.empty()) {
            c[at % c.size()] = v;
        }
    }
    if (in.flag()) {
        for (auto* c : cols) {
            perhaps_ragged(in, *c);
        }
    }
    return t;
}

sitewave::tables make_tables_by_hand(fuzz_bytes& in) {
    sitewave::tables t;
    for (auto* table : {&t.samp, &t.pamp}) {
        for (auto& col : table->col) {
            col.assign(static_cast<std::size_t>(in.count(40)), cplx{1.0f, 0.0f});
            if (!col.empty() && in.flag()) {
                col[in.byte() % col.size()] = cplx{any_value(in), any_value(in)};
            }
        }
    }
    return t;
}

sitewave::spectra make_spectra_by_hand(fuzz_bytes& in) {
    sitewave::spectra s;
    const std::size_t n = std::size_t{1} << in.count(7);
    for (auto* v : {&s.fx1, &s.fy1, &s.fz1}) {
        v->assign(n, cplx{0.25f, -0.5f});
    }
    if (in.flag()) {
        for (auto* v : {&s.fx1, &s.fy1, &s.fz1}) {
            v->resize(static_cast<std::size_t>(in.count(70)));
        }
    }
    if (!s.fx1.empty() && in.flag()) {
        s.fx1[in.byte() % s.fx1.size()] = cplx{any_value(in), any_value(in)};
    }
    return s;
}

sitewave::pass_band make_band(fuzz_bytes& in) {
    const auto corner = [&in] {
        return in.real({0.5f, 1.0f, 10.0f, 25.0f, 0.0f, -1.0f, 1e30f, 3.4e38f, inf, qnan});
    };
    switch (in.count(2)) {
    case 1: {
        const float f[4] = {corner(), corner(), corner(), corner()};
        const auto b = sitewave::band_from_corners(f[0], f[1], f[2], f[3]);
        FUZZ_CHECK(b || b.err().what == error::kind::refused);
        return b ? *b : sitewave::pass_band{};
    }
    case 2: {
        return {true, corner(), corner(), corner(), corner()};
    }
    default:
        return {};
    }
}

void files(fuzz_bytes& in, const sitewave::tables& t, const sitewave::spectra& s,
           const sitewave::grid& g, const sitewave::record& rec) {
    const fs::path path = work_dir() / "out.csv";
    fs::remove(path);
    const auto f = sitewave::write_factors(path.string(), t, g);
    FUZZ_CHECK(f || argument_error(f));
    FUZZ_CHECK(fs::exists(path) == f.ok());
    fs::remove(path);
    const auto a = sitewave::write_spectra(path.string(), s, g, rec);
    FUZZ_CHECK(a || argument_error(a));
    FUZZ_CHECK(fs::exists(path) == a.ok());
    fs::remove(path);
    sitewave::histories h;
    h.xr1.assign(static_cast<std::size_t>(in.count(20)), any_value(in));
    h.yr1 = h.zr1 = h.xr1;
    if (in.flag()) {
        perhaps_ragged(in, h.yr1);
        perhaps_ragged(in, h.zr1);
    }
    const auto w = sitewave::write_histories(path.string(), h, rec);
    FUZZ_CHECK(w || argument_error(w));
    FUZZ_CHECK(fs::exists(path) == w.ok());
    fs::remove(path);
}

void readers(fuzz_bytes& in, const sitewave::layer_table& layers) {
    sitewave::profile p;
    p.layers = layers;
    p.nl = in.flag() ? in.integer({0, 1, 2, 3, 9, -1, INT_MIN, INT_MAX}) : layers.nl();
    p.nin = in.integer({1, 2, 0, 3, -1});
    const auto c = sitewave::check_profile(p, "soil.csv");
    FUZZ_CHECK(allowed(c));

    static const mem_file record("t,a,b,c\n0,1,2,3\n0.01,1,2,3\n0.02,1,2,3\n");
    const int keep = in.integer({sitewave::max_samples, 0, 1, 2, -1, INT_MIN, INT_MAX});
    const auto r = sitewave::read_record(record.path(), keep);
    FUZZ_CHECK(keep < 0 ? argument_error(r) : r.ok());

    if (in.flag()) {
        std::FILE* none = nullptr;
        const auto d = sitewave::run_dialogue({in.flag() ? none : stdin, none, {}});
        FUZZ_CHECK(argument_error(d));
    }
    sitewave::layer_table t;
    const int n = std::min(in.integer({1, 0, -1, 8, INT_MIN}), 64); // no more than memory holds
    t.resize(n);
    FUZZ_CHECK(t.nl() == (n > 0 ? n : 0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_bytes in(data, size);
    lengths(in);

    const sitewave::record rec = make_record(in);
    const auto length = sitewave::choose_length(rec.nt >= 0 ? rec.nt : 0, 12);
    const int nf =
        in.byte() == 0 && length
            ? length->nf
            : short_of_long_work(in.integer({8, 4, 16, 64, 1024, 4096, 0, 1, 2, 3, 6, 12, 1000, -4,
                                             INT_MIN, INT_MAX, 1 << 21, 1 << 30}),
                                 4096, sitewave::max_transform_length);
    const auto fwd = sitewave::forward_spectra(rec, nf);
    FUZZ_CHECK(allowed(fwd));
    if (fwd) {
        FUZZ_CHECK(fwd->fx1.size() == static_cast<std::size_t>(nf) &&
                   fwd->fy1.size() == fwd->fx1.size() && fwd->fz1.size() == fwd->fx1.size());
    }

    const auto made = sitewave::make_grid(nf, rec.dt);
    const sitewave::grid g = in.byte() == 0 && made ? *made : make_grid_by_hand(in);

    const sitewave::layer_table layers = make_layers(in);
    const float theta = in.real({0.0f, 0.3f, 1.5707964f, 3.0f, -1.0f, 100.0f, 1e30f, qnan, inf});
    const bool oblique = in.flag();
    const int threads = in.integer({1, 2, 4, 0, -1, INT_MIN, INT_MAX});
    const auto computed = sitewave::compute_tables(layers, theta, g, oblique, threads);
    FUZZ_CHECK(computed || argument_error(computed));
    if (computed) {
        for (const auto* table : {&computed->samp, &computed->pamp}) {
            for (const auto& col : table->col) {
                FUZZ_CHECK(col.size() == static_cast<std::size_t>(g.nom));
            }
        }
    }
    const sitewave::tables t = in.byte() == 0 && computed ? *computed : make_tables_by_hand(in);
    FUZZ_CHECK(allowed(sitewave::check_tables(t, g)));

    sitewave::spectra s = in.byte() == 0 && fwd ? *fwd : make_spectra_by_hand(in);
    const int nin = in.integer({1, 2, 0, 3, -1, INT_MIN, INT_MAX});
    sitewave::spectra before = s;
    const auto a = sitewave::amplify(s, t, nin, g);
    FUZZ_CHECK(allowed(a));
    FUZZ_CHECK(!argument_error(a) || same_bits(s, before));

    const sitewave::pass_band band = make_band(in);
    const int nyes = in.integer({0, 1, 2, 3, -1});
    before = s;
    const auto p = sitewave::process(s, g, band, nyes);
    FUZZ_CHECK(allowed(p));
    FUZZ_CHECK(!argument_error(p) || same_bits(s, before));

    if (in.byte() == 0) {
        files(in, t, s, g, rec);
    }

    const std::size_t n = s.fx1.size();
    const auto h = sitewave::inverse_spectra(std::move(s), g);
    FUZZ_CHECK(allowed(h));
    if (h) {
        FUZZ_CHECK(h->xr1.size() == n && h->yr1.size() == n && h->zr1.size() == n);
        const auto e = sitewave::find_extremes(h->xr1);
        FUZZ_CHECK(e.min <= 0.0f && e.max >= 0.0f);
    }

    readers(in, layers);
    return 0;
}
