// SH and vertical transfer functions of a layered profile over an elastic half-space.
//
// Both use the same 2x2 propagation of up- and down-going plane waves: with E_k and F_k the
// up- and down-going amplitudes at the top of layer k (displacement E e^(i nu z) + F e^(-i nu z),
// time factor e^(i omega t)), the layer matrix B(k) carries (E_k, F_k) to (E_k+1, F_k+1) through
// the layer and across the interface below it. The free surface gives E_1 = F_1 = 1 (surface
// motion 2), so with A = B(nl-1)...B(1), E_nl = a11 + a12 and F_nl = a21 + a22.
//
// The two functions differ only in the velocity of a layer: the damped S-wave velocity for SH,
// the damped effective velocity Vs*sqrt(3/(1 - Vs^2/Vp^2)) for the vertical motion.
//
// How the rows are computed. Every stored value is the one the plain row-by-row recursion of the
// arithmetic model gives; only independent operations are regrouped:
//  - rows go in blocks of `lanes` frequencies, each per-layer quantity kept for the whole block,
//    so that each step is a short loop over the frequencies of the block, written on vectors of
//    2 or 4 frequencies (library calls excepted), and the running products of the block's rows
//    go side by side instead of waiting on each other;
//  - the steps of a block go one after the other over all layers: velocities, quotients and
//    roots, then the exponentials, then the layer matrices, then the running product;
//  - f^n is evaluated once per distinct exponent n and frequency; a layer whose exponents are 0
//    has a velocity independent of frequency, and its velocity, impedance and squared slowness
//    root are formed once per call; the damped S-wave velocity of a row serves both tables;
//  - e^(i wn h) and e^(-i wn h) share one sine and one cosine (cos(-y) = cos y and
//    sin(-y) = -sin y exactly), while e^(-x) is still the exponential of the negated argument;
//  - the exponentials, sines, cosines and moduli are evaluated on vectors (arith/elementary.hpp)
//    and kept only where the float they round to cannot differ from the library's; the library
//    evaluates the others;
//  - the blocks may be shared among threads: each row depends on nothing but its frequency.
#include "layered/transfer.hpp"

#include "arith/elementary.hpp"
#include "arith/lanes.hpp"
#include "layered/recursion.hpp"
#include "threads/helper_thread.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace sitewave::layered {

namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }

// ---------------------------------------------------------------------------------------------
// Step kernels on W rows at a time: each is the operation of the arithmetic model on each
// element, written with selections instead of branches (both sides formed, one kept, the
// operands of every operation in the model's order). Vector types of the compiler: + - * / and
// the conversions act element by element exactly as on single values, whatever the width.
//
// The kernels are instantiated for 2 rows and for 4 rows (AVX2, chosen at run time where the
// processor has it), on the vectors of layered/lanes.hpp.
constexpr int lanes = 8;          // frequencies per block
constexpr std::size_t nlane = 8;  // the same, as a size
constexpr int rows_per_grab = 32; // rows a thread takes at a time (whole blocks)

static_assert(rows_per_grab % lanes == 0);

template <std::size_t W> struct vpair {
    vd_t<W> re;
    vd_t<W> im;
};

// smith_quotient of arith/real.hpp: the part of the divisor larger in magnitude selected,
// every sum and product with its operands in the same order as there.
template <std::size_t W>
SITEWAVE_LANE_INLINE vpair<W> smith_v(const vd_t<W>& nr, const vd_t<W>& ni, const vd_t<W>& dr,
                                      const vd_t<W>& di) {
    const vd_t<W> zero{};
    const vd_t<W> adr = dr < zero ? -dr : dr;
    const vd_t<W> adi = di < zero ? -di : di;
    const auto c = adr <= adi;
    const vd_t<W> r = (c ? dr : di) / (c ? di : dr);
    const vd_t<W> pd = (c ? dr : di) * r;
    const vd_t<W> den = (c ? pd : dr) + (c ? di : pd);
    const vd_t<W> pr = (c ? nr : ni) * r;
    const vd_t<W> re = (c ? pr : nr) + (c ? ni : pr);
    const vd_t<W> pi = (c ? ni : nr) * r;
    const vd_t<W> im = (c ? pi : ni) - (c ? nr : pi);
    return {re / den, im / den};
}

// Complex product of arith/real.hpp.
template <std::size_t W>
SITEWAVE_LANE_INLINE void mul_v(vf_t<W> ar, vf_t<W> ai, vf_t<W> br, vf_t<W> bi, vf_t<W>& re,
                                vf_t<W>& im) {
    const vd_t<W> a = wide<W>(ar), b = wide<W>(ai), c = wide<W>(br), d = wide<W>(bi);
    re = narrow<W>(a * c - b * d);
    im = narrow<W>(a * d + b * c);
}

// csqrt of arith/real.hpp for `nlane` values. The modulus is taken as sqrt(x^2 + y^2) in double
// (the squares of floats are exact), within 2 units in the last place of |z| as the library's
// hypot is within 1; the root's parts follow without cancellation, so they stay within 2^-48 of
// the library-based ones. Lanes whose parts are not settled are evaluated again with hypot. A
// part that comes out 0 is 0 either way (it is 0 exactly when y is).
template <std::size_t W>
SITEWAVE_LANE_INLINE void csqrt_lanes(const float* zr, const float* zi, float* sr, float* si) {
    const vd_t<W> zero{};
    for (std::size_t g = 0; g < nlane; g += W) {
        const vd_t<W> x = wide<W>(load<W>(zr + g)), y = wide<W>(load<W>(zi + g));
        const vd_t<W> m = sqrt_v<W>(x * x + y * y);
        const auto p = x > zero;
        const vd_t<W> t = sqrt_v<W>(0.5 * (p ? m + x : m - x));
        const vd_t<W> ts = (~p & (y < zero)) ? -t : t;
        const vd_t<W> q = y / (2.0 * ts);
        const auto z = m == zero;
        const vd_t<W> re = z ? zero : (p ? t : q);
        const vd_t<W> im = z ? zero : (p ? q : ts);
        store<W>(sr + g, narrow<W>(re));
        store<W>(si + g, narrow<W>(im));
        const vi_t<W> ok = z | (((re == zero) | settled<W>(re)) & ((im == zero) | settled<W>(im)));
        if (all_set<W>(ok)) {
            continue;
        }
        for (std::size_t i = 0; i < W; ++i) {
            if (ok[i] == 0) {
                const cplx root = csqrt({zr[g + i], zi[g + i]});
                sr[g + i] = root.re;
                si[g + i] = root.im;
            }
        }
    }
}

// The damped velocity's imaginary part v * (0.5/Q), Q = max(q0 * f^n, q0), f^n given.
inline float damped_im(float v, float q0, float fn) {
    float q = q0 * fn;
    if (q < q0) {
        q = q0;
    }
    return v * (0.5f / q);
}
template <std::size_t W> SITEWAVE_LANE_INLINE vf_t<W> damped_im_v(float v, float q0, vf_t<W> fn) {
    const vf_t<W> q0v = splat_f<W>(q0);
    vf_t<W> q = q0v * fn;
    q = q < q0v ? q0v : q;
    return v * (0.5f / q);
}

// ---------------------------------------------------------------------------------------------
// What a call fixes for all rows.

// The layer quantities of one table that do not depend on frequency when the layer's exponents
// are 0: complex velocity, impedance dns*V, and the root sqrt(1/V^2 - p^2).
struct fixed_layer {
    cplx v, z, s;
};

struct table_plan {
    float cinv2 = 0.0f;              // p^2
    std::vector<unsigned char> vary; // per layer: velocity depends on frequency
    std::vector<fixed_layer> fixed;  // per layer, for those that do not vary
    std::vector<int> varying;        // layers that vary
    std::vector<int> varying_ifc;    // interfaces k (layers k, k+1) with a varying side
};

struct plan {
    float fom = 0.0f, dom = 0.0f;
    int nom = 0;
    int nl = 0;
    const layer_table* lt = nullptr;
    std::vector<float> expo;  // distinct nonzero frequency exponents
    std::vector<int> ps, pp;  // per layer: index into expo of fs, fp; -1 for exponent 0
    std::vector<float> vsim0; // per layer: Im of the damped S velocity when fs is 0
    std::vector<int> s_vary;  // layers whose S velocity varies (fs != 0)
    bool want[2] = {false, false};
    bool avx2 = false; // the 4-row kernels
    table_plan tab[2]; // 0: SH, 1: vertical
};

int exponent_index(std::vector<float>& expo, float n) {
    if (n == 0.0f) {
        return -1; // f^0 = 1 for every f: Q = q0
    }
    const auto bits = std::bit_cast<std::uint32_t>(n);
    for (std::size_t j = 0; j < expo.size(); ++j) {
        if (std::bit_cast<std::uint32_t>(expo[j]) == bits) {
            return static_cast<int>(j);
        }
    }
    expo.push_back(n);
    return static_cast<int>(expo.size() - 1);
}

void plan_table(plan& p, int t) {
    const layer_table& lt = *p.lt;
    const int nl = p.nl;
    table_plan& tp = p.tab[t];
    tp.vary.assign(at(nl), 0);
    tp.fixed.assign(at(nl), fixed_layer{});
    for (int k = 0; k < nl; ++k) {
        const auto K = at(k);
        const bool vary = t == 0 ? p.ps[K] >= 0 : (p.ps[K] >= 0 || p.pp[K] >= 0);
        tp.vary[K] = vary ? 1 : 0;
        if (vary) {
            tp.varying.push_back(k);
            continue;
        }
        const cplx vs1{lt.vs[K], p.vsim0[K]};
        fixed_layer& f = tp.fixed[K];
        f.v =
            t == 0 ? vs1 : effective_velocity(vs1, {lt.vp[K], damped_im(lt.vp[K], lt.qp[K], 1.0f)});
        f.z = lt.dns[K] * f.v;
        if (k < nl - 1) {
            f.s = slowness_root(f.v, tp.cinv2);
        }
    }
    for (int k = 0; k + 1 < nl; ++k) {
        if (tp.vary[at(k)] != 0 || tp.vary[at(k + 1)] != 0) {
            tp.varying_ifc.push_back(k);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Per-thread working storage of one block: each array holds `nlane` values per layer.

struct table_rows {
    std::vector<float> zr, zi, sr, si, ar, ai, wr, wi, e1r, e1i, e2r, e2i;
    std::array<std::vector<float>, 8> b; // B/2's entries: 11 re, im, 12, 21, 22
    // Per row: the two ratios, and NaN where a stored intermediate was not finite.
    alignas(16) float c0r[nlane], c0i[nlane], c1r[nlane], c1i[nlane], bad[nlane];
};

struct scratch {
    std::vector<float> pw;   // f^n per distinct exponent
    std::vector<float> vsim; // Im of the damped S velocity per layer
    alignas(16) float om[nlane];
    alignas(16) float freq[nlane];
    std::array<table_rows, 2> tab;
};

void init_scratch(const plan& p, scratch& s) {
    const std::size_t nl = at(p.nl);
    s.pw.assign(std::max<std::size_t>(p.expo.size(), 1) * nlane, 0.0f);
    s.vsim.assign(nl * nlane, 0.0f);
    for (std::size_t k = 0; k < nl; ++k) {
        if (p.ps[k] < 0) {
            std::fill_n(&s.vsim[k * nlane], nlane, p.vsim0[k]);
        }
    }
    for (int t = 0; t < 2; ++t) {
        if (!p.want[t]) {
            continue;
        }
        const table_plan& tp = p.tab[t];
        table_rows& r = s.tab[at(t)];
        for (auto* v : {&r.zr, &r.zi, &r.sr, &r.si, &r.ar, &r.ai, &r.wr, &r.wi, &r.e1r, &r.e1i,
                        &r.e2r, &r.e2i}) {
            v->assign(nl * nlane, 0.0f);
        }
        for (auto& v : r.b) {
            v.assign(nl * nlane, 0.0f);
        }
        for (std::size_t k = 0; k < nl; ++k) {
            if (tp.vary[k] != 0) {
                continue;
            }
            const fixed_layer& f = tp.fixed[k];
            std::fill_n(&r.zr[k * nlane], nlane, f.z.re);
            std::fill_n(&r.zi[k * nlane], nlane, f.z.im);
            std::fill_n(&r.sr[k * nlane], nlane, f.s.re);
            std::fill_n(&r.si[k * nlane], nlane, f.s.im);
        }
        for (std::size_t k = 0; k + 1 < nl; ++k) {
            if (tp.vary[k] == 0 && tp.vary[k + 1] == 0) {
                const cplx am = tp.fixed[k].z / tp.fixed[k + 1].z;
                std::fill_n(&r.ar[k * nlane], nlane, am.re);
                std::fill_n(&r.ai[k * nlane], nlane, am.im);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The steps of one block.

// Impedance and vertical slowness root of layer k of one table, its velocity given per row.
template <std::size_t W>
SITEWAVE_LANE_INLINE void layer_terms(const plan& p, const table_plan& tp, table_rows& r, int k,
                                      const float* vr, const float* vi) {
    const std::size_t o = at(k) * nlane;
    const float dns = p.lt->dns[at(k)];
    for (std::size_t g = 0; g < nlane; g += W) {
        store<W>(&r.zr[o + g], dns * load<W>(vr + g));
        store<W>(&r.zi[o + g], dns * load<W>(vi + g));
    }
    if (k == p.nl - 1) {
        return; // the half-space: no layer to cross
    }
    alignas(16) float wr[nlane];
    alignas(16) float wi[nlane];
    const vd_t<W> one = splat_d<W>(1.0), zero{};
    const vf_t<W> cinv2 = splat_f<W>(tp.cinv2);
    for (std::size_t g = 0; g < nlane; g += W) {
        const vf_t<W> v_r = load<W>(vr + g), v_i = load<W>(vi + g);
        vf_t<W> vvr, vvi;
        mul_v<W>(v_r, v_i, v_r, v_i, vvr, vvi);
        const vpair<W> q = smith_v<W>(one, zero, wide<W>(vvr), wide<W>(vvi));
        store<W>(wr + g, narrow<W>(q.re) - cinv2);
        store<W>(wi + g, narrow<W>(q.im) - vf_t<W>{});
    }
    csqrt_lanes<W>(wr, wi, &r.sr[o], &r.si[o]);
}

// Velocities of the varying layers of both tables, then their impedances and roots.
template <std::size_t W> SITEWAVE_LANE_INLINE void velocities(const plan& p, scratch& s) {
    const layer_table& lt = *p.lt;
    for (std::size_t j = 0; j < p.expo.size(); ++j) {
        pow_floats<W>(s.freq, nlane, p.expo[j], &s.pw[j * nlane]);
    }
    for (const int k : p.s_vary) {
        const auto K = at(k);
        const float* pw = &s.pw[at(p.ps[K]) * nlane];
        const float v = lt.vs[K], q0 = lt.qs[K];
        float* out = &s.vsim[K * nlane];
        for (std::size_t g = 0; g < nlane; g += W) {
            store<W>(out + g, damped_im_v<W>(v, q0, load<W>(pw + g)));
        }
    }
    alignas(16) float vr[nlane];
    alignas(16) float vi[nlane];
    if (p.want[0]) {
        std::fill_n(vr, nlane, 0.0f);
        for (const int k : p.tab[0].varying) {
            std::fill_n(vr, nlane, lt.vs[at(k)]);
            layer_terms<W>(p, p.tab[0], s.tab[0], k, vr, &s.vsim[at(k) * nlane]);
        }
    }
    if (!p.want[1]) {
        return;
    }
    const vd_t<W> three = splat_d<W>(3.0), zero{};
    for (const int k : p.tab[1].varying) {
        const auto K = at(k);
        const float vs = lt.vs[K], vp = lt.vp[K], qp = lt.qp[K];
        const vf_t<W> vsr = splat_f<W>(vs), vpr = splat_f<W>(vp);
        const float* vsi = &s.vsim[K * nlane];
        const float* pw = p.pp[K] >= 0 ? &s.pw[at(p.pp[K]) * nlane] : nullptr;
        const vf_t<W> vpi_fixed = splat_f<W>(damped_im(vp, qp, 1.0f));
        alignas(16) float dr[nlane];
        alignas(16) float di[nlane];
        for (std::size_t g = 0; g < nlane; g += W) {
            const vf_t<W> vpi = pw != nullptr ? damped_im_v<W>(vp, qp, load<W>(pw + g)) : vpi_fixed;
            const vf_t<W> vsig = load<W>(vsi + g);
            // ratio = Vs*^2 / Vp*^2, then 3 / (1 - ratio)
            vf_t<W> sr, si, pr, pi;
            mul_v<W>(vsr, vsig, vsr, vsig, sr, si);
            mul_v<W>(vpr, vpi, vpr, vpi, pr, pi);
            const vpair<W> ratio = smith_v<W>(wide<W>(sr), wide<W>(si), wide<W>(pr), wide<W>(pi));
            const vf_t<W> den_r = 1.0f - narrow<W>(ratio.re);
            const vf_t<W> den_i = 0.0f - narrow<W>(ratio.im);
            const vpair<W> q = smith_v<W>(three, zero, wide<W>(den_r), wide<W>(den_i));
            store<W>(dr + g, narrow<W>(q.re));
            store<W>(di + g, narrow<W>(q.im));
        }
        alignas(16) float ar[nlane];
        alignas(16) float ai[nlane];
        csqrt_lanes<W>(dr, di, ar, ai);
        for (std::size_t g = 0; g < nlane; g += W) {
            vf_t<W> re, im;
            mul_v<W>(vsr, load<W>(vsi + g), load<W>(ar + g), load<W>(ai + g), re, im);
            store<W>(vr + g, re);
            store<W>(vi + g, im);
        }
        layer_terms<W>(p, p.tab[1], s.tab[1], k, vr, vi);
    }
}

// e^(i wn h) and e^(-i wn h) of element j by the library: the exponentials of both signs of the
// real part, one cosine and one sine, in double, each product rounded once.
inline void exact_exponentials(table_rows& r, std::size_t j) {
    const float x = r.wr[j];
    const auto y = static_cast<double>(r.wi[j]);
    const double e1 = std::exp(static_cast<double>(x));
    const double e2 = std::exp(static_cast<double>(-x));
    const double c = std::cos(y);
    const double sn = std::sin(y);
    r.e1r[j] = static_cast<float>(e1 * c);
    r.e1i[j] = static_cast<float>(e1 * sn);
    r.e2r[j] = static_cast<float>(e2 * c);
    r.e2i[j] = -static_cast<float>(e2 * sn);
}

// Impedance ratios of the interfaces with a varying side, i*wn*h of every layer, the
// exponentials, the layer matrices, the running product and the two ratios of each row.
template <std::size_t W>
SITEWAVE_LANE_INLINE void propagate_block(const plan& p, const table_plan& tp, const scratch& s,
                                          table_rows& r) {
    const layer_table& lt = *p.lt;
    const std::size_t layers = at(p.nl - 1); // layers above the half-space
    for (const int k : tp.varying_ifc) {
        const std::size_t o = at(k) * nlane, u = at(k + 1) * nlane;
        for (std::size_t g = 0; g < nlane; g += W) {
            const vpair<W> q =
                smith_v<W>(wide<W>(load<W>(&r.zr[o + g])), wide<W>(load<W>(&r.zi[o + g])),
                           wide<W>(load<W>(&r.zr[u + g])), wide<W>(load<W>(&r.zi[u + g])));
            store<W>(&r.ar[o + g], narrow<W>(q.re));
            store<W>(&r.ai[o + g], narrow<W>(q.im));
        }
    }
    for (std::size_t k = 0; k < layers; ++k) {
        const float h = lt.thk[k];
        const std::size_t o = k * nlane;
        for (std::size_t g = 0; g < nlane; g += W) {
            const vf_t<W> om = load<W>(&s.om[g]);
            const vf_t<W> wnr = om * load<W>(&r.sr[o + g]);
            const vf_t<W> wni = om * load<W>(&r.si[o + g]);
            store<W>(&r.wr[o + g], -wni * h);
            store<W>(&r.wi[o + g], wnr * h);
        }
    }
    const std::size_t n = layers * nlane;
    for (std::size_t j = 0; j < n; j += W) {
        const vd_t<W> x = wide<W>(load<W>(&r.wr[j]));
        const vd_t<W> y = wide<W>(load<W>(&r.wi[j]));
        vd_t<W> e1, e2;
        exp_pair_v<W>(x, e1, e2);
        vd_t<W> sn, c;
        vi_t<W> ok;
        sincos_v<W>(y, sn, c, ok);
        const vd_t<W> p1r = e1 * c, p1i = e1 * sn, p2r = e2 * c, p2i = e2 * sn;
        ok &= (abs_v<W>(x) < splat_d<W>(exp_limit)) & (abs_v<W>(y) < splat_d<W>(trig_limit)) &
              settled<W>(p1r) & settled<W>(p1i) & settled<W>(p2r) & settled<W>(p2i);
        store<W>(&r.e1r[j], narrow<W>(p1r));
        store<W>(&r.e1i[j], narrow<W>(p1i));
        store<W>(&r.e2r[j], narrow<W>(p2r));
        store<W>(&r.e2i[j], -narrow<W>(p2i));
        if (all_set<W>(ok)) {
            continue;
        }
        for (std::size_t i = 0; i < W; ++i) {
            if (ok[i] == 0) {
                exact_exponentials(r, j + i);
            }
        }
    }
    // B/2 of each layer, and a NaN summed into `bad` for any intermediate that is not finite
    // (x - x is NaN exactly when x is infinite or NaN, +0 otherwise).
    vf_t<W> bad[nlane / W] = {};
    const vf_t<W> one = splat_f<W>(1.0f), zero{};
    for (std::size_t k = 0; k < layers; ++k) {
        for (std::size_t g = 0; g < nlane; g += W) {
            const std::size_t j = k * nlane + g;
            const vf_t<W> amr = load<W>(&r.ar[j]), ami = load<W>(&r.ai[j]);
            const vf_t<W> wr = load<W>(&r.wr[j]), wi = load<W>(&r.wi[j]);
            const vf_t<W> e1r = load<W>(&r.e1r[j]), e1i = load<W>(&r.e1i[j]);
            const vf_t<W> e2r = load<W>(&r.e2r[j]), e2i = load<W>(&r.e2i[j]);
            bad[g / W] += (amr - amr) + (ami - ami) + (wr - wr) + (wi - wi) + (e1r - e1r) +
                          (e1i - e1i) + (e2r - e2r) + (e2i - e2i);
            const vf_t<W> pr = one + amr, pi = zero + ami;
            const vf_t<W> mr = one - amr, mi = zero - ami;
            vf_t<W> xr, xi;
            mul_v<W>(pr, pi, e1r, e1i, xr, xi);
            store<W>(&r.b[0][j], xr / 2.0f);
            store<W>(&r.b[1][j], xi / 2.0f);
            mul_v<W>(mr, mi, e2r, e2i, xr, xi);
            store<W>(&r.b[2][j], xr / 2.0f);
            store<W>(&r.b[3][j], xi / 2.0f);
            mul_v<W>(mr, mi, e1r, e1i, xr, xi);
            store<W>(&r.b[4][j], xr / 2.0f);
            store<W>(&r.b[5][j], xi / 2.0f);
            mul_v<W>(pr, pi, e2r, e2i, xr, xi);
            store<W>(&r.b[6][j], xr / 2.0f);
            store<W>(&r.b[7][j], xi / 2.0f);
        }
    }
    // The running product A = A * B(k) from the deepest layer up, and the two ratios: surface
    // motion 2 over the incident amplitude E_nl = a11 + a12, and over the total motion
    // E_nl + F_nl at the top of the half-space.
    const vd_t<W> two = splat_d<W>(2.0), dzero{};
    for (std::size_t g = 0; g < nlane; g += W) {
        vf_t<W> a11r = one, a11i = zero, a12r = zero, a12i = zero;
        vf_t<W> a21r = zero, a21i = zero, a22r = one, a22i = zero;
        for (std::size_t k = layers; k-- > 0;) {
            const std::size_t j = k * nlane + g;
            const vf_t<W> b11r = load<W>(&r.b[0][j]), b11i = load<W>(&r.b[1][j]);
            const vf_t<W> b12r = load<W>(&r.b[2][j]), b12i = load<W>(&r.b[3][j]);
            const vf_t<W> b21r = load<W>(&r.b[4][j]), b21i = load<W>(&r.b[5][j]);
            const vf_t<W> b22r = load<W>(&r.b[6][j]), b22i = load<W>(&r.b[7][j]);
            vf_t<W> p1r, p1i, p2r, p2i;
            mul_v<W>(a11r, a11i, b11r, b11i, p1r, p1i);
            mul_v<W>(a12r, a12i, b21r, b21i, p2r, p2i);
            const vf_t<W> n11r = p1r + p2r, n11i = p1i + p2i;
            mul_v<W>(a11r, a11i, b12r, b12i, p1r, p1i);
            mul_v<W>(a12r, a12i, b22r, b22i, p2r, p2i);
            const vf_t<W> n12r = p1r + p2r, n12i = p1i + p2i;
            mul_v<W>(a21r, a21i, b11r, b11i, p1r, p1i);
            mul_v<W>(a22r, a22i, b21r, b21i, p2r, p2i);
            const vf_t<W> n21r = p1r + p2r, n21i = p1i + p2i;
            mul_v<W>(a21r, a21i, b12r, b12i, p1r, p1i);
            mul_v<W>(a22r, a22i, b22r, b22i, p2r, p2i);
            a11r = n11r;
            a11i = n11i;
            a12r = n12r;
            a12i = n12i;
            a21r = n21r;
            a21i = n21i;
            a22r = p1r + p2r;
            a22i = p1i + p2i;
        }
        vf_t<W>& b = bad[g / W];
        b += (a11r - a11r) + (a11i - a11i) + (a12r - a12r) + (a12i - a12i) + (a21r - a21r) +
             (a21i - a21i) + (a22r - a22r) + (a22i - a22i);
        const vf_t<W> e_r = a11r + a12r, e_i = a11i + a12i;
        const vf_t<W> t_r = (e_r + a21r) + a22r, t_i = (e_i + a21i) + a22i;
        const vpair<W> c0 = smith_v<W>(two, dzero, wide<W>(e_r), wide<W>(e_i));
        const vpair<W> c1 = smith_v<W>(two, dzero, wide<W>(t_r), wide<W>(t_i));
        store<W>(&r.c0r[g], narrow<W>(c0.re));
        store<W>(&r.c0i[g], narrow<W>(c0.im));
        store<W>(&r.c1r[g], narrow<W>(c1.re));
        store<W>(&r.c1i[g], narrow<W>(c1.im));
        store<W>(&r.bad[g], b);
    }
}

// The row of lane i again without overflow: the exponentials of each layer formed in double and
// scaled by a power of two before rounding, the running product rescaled by a power of two
// after each layer (exact), the exponents summed, and the ratio, possibly subnormal or 0,
// scaled back once at the end.
void rescaled_row(const plan& p, const table_rows& r, std::size_t i, cplx& c0, cplx& c1) {
    rescaled_product product;
    for (int k = p.nl - 2; k >= 0; --k) {
        const std::size_t j = at(k) * nlane + i;
        product.layer({r.ar[j], r.ai[j]}, {r.wr[j], r.wi[j]});
    }
    product.ratios(c0, c1);
}

// Rows row0 .. row0+lanes-1 (those below nom, and not the zero-frequency row).
template <std::size_t W>
SITEWAVE_LANE_INLINE void do_block(const plan& p, scratch& s, int row0, amp_table* const out[2]) {
    const bool skip0 = p.fom == 0.0f;
    const int first = (skip0 && row0 == 0) ? 1 : row0;
    const int last = std::min(row0 + lanes, p.nom); // one past
    if (first >= last) {
        return;
    }
    for (std::size_t i = 0; i < nlane; ++i) {
        // Lanes outside [first, last) repeat a row of the block; their results are not stored.
        const int io = std::clamp(row0 + static_cast<int>(i), first, last - 1);
        s.om[i] = p.fom + static_cast<float>(io) * p.dom;
        s.freq[i] = s.om[i] / two_pi;
    }
    velocities<W>(p, s);
    for (int t = 0; t < 2; ++t) {
        if (!p.want[t]) {
            continue;
        }
        table_rows& r = s.tab[at(t)];
        propagate_block<W>(p, p.tab[t], s, r);
        amp_table& amp = *out[t];
        for (int io = first; io < last; ++io) {
            const auto i = at(io - row0);
            cplx c0{r.c0r[i], r.c0i[i]};
            cplx c1{r.c1r[i], r.c1i[i]};
            if (r.bad[i] != 0.0f) {
                rescaled_row(p, r, i, c0, c1);
            }
            amp.col[0][at(io)] = c0;
            amp.col[1][at(io)] = c1;
        }
    }
}

// The block function of each width: the baseline one, and the AVX2 one for processors that
// have it.
void do_block_baseline(const plan& p, scratch& s, int row0, amp_table* const out[2]) {
    do_block<2>(p, s, row0, out);
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] void do_block_avx2(const plan& p, scratch& s, int row0,
                                           amp_table* const out[2]) {
    do_block<4>(p, s, row0, out);
}
#endif

plan make_plan(float fom, float dom, int nom, const layer_table& lt, float theta, bool sh,
               bool ud) {
    plan p;
    p.fom = fom;
    p.dom = dom;
    p.nom = nom;
    p.nl = lt.nl();
    p.lt = &lt;
    p.want[0] = sh;
    p.want[1] = ud;
    const int nl = p.nl;
    assert(nl >= 1);
    const slownesses cinv2 = squared_slownesses(lt, theta);
    p.tab[0].cinv2 = cinv2.sh;
    p.tab[1].cinv2 = cinv2.ud;
    p.ps.resize(at(nl));
    p.pp.resize(at(nl));
    p.vsim0.assign(at(nl), 0.0f);
    for (std::size_t k = 0; k < at(nl); ++k) {
        p.ps[k] = exponent_index(p.expo, lt.fs[k]);
        p.pp[k] = ud ? exponent_index(p.expo, lt.fp[k]) : -1;
        if (p.ps[k] < 0) {
            p.vsim0[k] = damped_im(lt.vs[k], lt.qs[k], 1.0f);
        } else {
            p.s_vary.push_back(static_cast<int>(k));
        }
    }
    for (int t = 0; t < 2; ++t) {
        if (p.want[t]) {
            plan_table(p, t);
        }
    }
    return p;
}

// Runs blocks taken from a shared counter until none is left.
struct block_queue {
    std::atomic<int> next{0};
    int end = 0; // rows
};

void work(const plan& p, scratch& s, block_queue& q, amp_table* const out[2]) {
    for (;;) {
        const int r0 = q.next.fetch_add(rows_per_grab, std::memory_order_relaxed);
        if (r0 >= q.end) {
            return;
        }
        const int r1 = std::min(r0 + rows_per_grab, q.end);
        for (int r = r0; r < r1; r += lanes) {
#if defined(__x86_64__)
            if (p.avx2) {
                do_block_avx2(p, s, r, out);
                continue;
            }
#endif
            do_block_baseline(p, s, r, out);
        }
    }
}

} // namespace

// The rows of one call: the plan, the queue of blocks, and working storage for each thread that
// takes blocks from it. All storage is taken here, before any thread starts, so that no thread
// can fail.
struct row_work {
    plan p;
    block_queue q;
    std::vector<scratch> scr;
    amp_table* out[2];

    row_work(float fom, float dom, int nom, const layer_table& lt, float theta, amp_table* sh,
             amp_table* ud, const table_options& options, int threads)
        : out{sh, ud} {
        assert(lt.nl() >= 1);
        assert(sh == nullptr || nom <= 0 ||
               (sh->col[0].size() >= at(nom) && sh->col[1].size() >= at(nom)));
        assert(ud == nullptr || nom <= 0 ||
               (ud->col[0].size() >= at(nom) && ud->col[1].size() >= at(nom)));
        if (nom <= 0) {
            return;
        }
        // At zero frequency the profile moves as a rigid block: surface motion twice the
        // incident amplitude and equal to the motion at the top of the half-space. Set, not
        // evaluated.
        if (fom == 0.0f) {
            for (amp_table* t : {sh, ud}) {
                if (t != nullptr) {
                    t->col[0][0] = {2.0f, 0.0f};
                    t->col[1][0] = {1.0f, 0.0f};
                }
            }
        }
        p = make_plan(fom, dom, nom, lt, theta, sh != nullptr, ud != nullptr);
#if defined(__x86_64__)
        p.avx2 = !options.baseline_kernels && __builtin_cpu_supports("avx2");
#endif
        q.end = nom;
        scr.resize(at(threads));
        for (scratch& s : scr) {
            init_scratch(p, s);
        }
    }
    // Rows taken with the working storage of thread k until none is left.
    void run(std::size_t k) {
        if (q.end > 0) {
            work(p, scr[k], q, out);
        }
    }
    // The threads take no more rows.
    void stop() { q.next.store(q.end); }
};

namespace {

void tables(float fom, float dom, int nom, const layer_table& lt, float theta, amp_table* sh,
            amp_table* ud, const table_options& options) {
    const int blocks = (std::max(nom, 0) + lanes - 1) / lanes;
    const int helpers = std::clamp(options.row_threads, 1, std::max(1, blocks / 4)) - 1;
    row_work w(fom, dom, nom, lt, theta, sh, ud, options, helpers + 1);
    // One helper is placed on another processor than the caller's.
    std::vector<helper_thread> threads(at(helpers));
    for (std::size_t i = 0; i < threads.size(); ++i) {
        if (!threads[i].start([&w, i] { w.run(i + 1); }, helpers == 1)) {
            break; // no more threads to be had: the ones started and the caller do the rest
        }
    }
    w.run(0);
    for (helper_thread& t : threads) {
        t.join();
    }
}

} // namespace

cplx damped_velocity(float v, float q0, float n, float freq) {
    float q = q0 * pow_d(freq, n);
    if (q < q0) {
        q = q0; // Q never falls below its base value: with n > 0 the floor holds below 1 Hz
    }
    return {v, v * (0.5f / q)};
}

void sbshml(float fom, float dom, int nom, const layer_table& lt, float theta, amp_table& amp) {
    tables(fom, dom, nom, lt, theta, &amp, nullptr, {});
}

void sbudml(float fom, float dom, int nom, const layer_table& lt, float theta, amp_table& amp) {
    tables(fom, dom, nom, lt, theta, nullptr, &amp, {});
}

void transfer_tables(float fom, float dom, int nom, const layer_table& lt, float theta,
                     amp_table& sh, amp_table& ud, int row_threads) {
    table_options options;
    options.row_threads = row_threads;
    tables(fom, dom, nom, lt, theta, &sh, &ud, options);
}

void transfer_tables(float fom, float dom, int nom, const layer_table& lt, float theta,
                     amp_table& sh, amp_table& ud, const table_options& options) {
    tables(fom, dom, nom, lt, theta, &sh, &ud, options);
}

shared_tables::shared_tables(float fom, float dom, int nom, const layer_table& lt, float theta,
                             amp_table& sh, amp_table& ud)
    : work_(std::make_unique<row_work>(fom, dom, nom, lt, theta, &sh, &ud, table_options{}, 2)) {}

shared_tables::~shared_tables() = default;

void shared_tables::run(int thread) { work_->run(thread == 0 ? 0 : 1); }

void shared_tables::stop() { work_->stop(); }

} // namespace sitewave::layered
