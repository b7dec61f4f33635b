#include "response/psa.hpp"

#include "arith/lanes.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numbers>

namespace sitewave::response {

namespace {

// One step of the oscillator over dt with the excitation linear between its end values:
//   [u1]   [a11 a12] [u0]   [b11 b12] [a0]
//   [v1] = [a21 a22] [v0] + [b21 b22] [a1]
// exact for u'' + 2 zeta omega u' + omega^2 u = -a(t) (the recurrence of Nigam and Jennings).
//
// With h(t) = e^(-zeta omega t) sin(omega_d t) / omega_d the unit impulse response, every b
// follows from I0 = int_0^dt h and I1 = int_0^dt t h, since the load a time t before the end of
// the step is a0 t/dt + a1 (1 - t/dt):
//   b11 = -I1/dt, b12 = -(I0 - I1/dt), b21 = -(h(dt) - I0/dt), b22 = -I0/dt.
// Written this way the coefficients keep their precision at long periods, where the usual
// expanded form subtracts terms of order 1/(omega^3 dt) to leave one of order dt^2.
struct step {
    double a11, a12, a21, a22;
    double b11, b12, b21, b22;
};

step make_step(double period, double damping, double dt) {
    const double omega = 2.0 * std::numbers::pi / period;
    const double sigma = damping * omega;
    const double omega_d = omega * std::sqrt(1.0 - damping * damping);
    const double x = omega * dt;

    const double e = std::exp(-sigma * dt);
    const double s = std::sin(omega_d * dt);
    const double c = std::cos(omega_d * dt);
    const double h = e * s / omega_d;                // h(dt)
    const double hp = e * (c - sigma / omega_d * s); // h'(dt)

    double i0 = 0.0;
    double i1 = 0.0;
    if (x < 1.0) {
        // Power series of h in t: with e_k = c_k dt^(k-1) for h = sum c_k t^k, e_1 = 1 and
        // (k+2)(k+1) e_(k+2) = -(2 zeta x (k+1) e_(k+1) + x^2 e_k). The terms fall like x^k/k!.
        double e_prev = 0.0; // e_(k-1)
        double e_k = 1.0;    // e_k, from k = 1
        double s0 = 0.0;
        double s1 = 0.0;
        for (int k = 1; k < 40; ++k) {
            const double kd = k;
            s0 += e_k / (kd + 1.0);
            s1 += e_k / (kd + 2.0);
            const double e_next =
                -(2.0 * damping * x * kd * e_k + x * x * e_prev) / ((kd + 1.0) * kd);
            e_prev = e_k;
            e_k = e_next;
            if (std::abs(e_k) + std::abs(e_prev) < 1e-18 * std::abs(s1)) {
                break;
            }
        }
        i0 = dt * dt * s0;
        i1 = dt * dt * dt * s1;
    } else {
        // I0 is the static response to a unit step; I1 follows from the equation of motion
        // integrated by parts against t.
        const double w2 = omega * omega;
        i0 = (1.0 - e * (c + sigma / omega_d * s)) / w2;
        i1 = (h - dt * hp - 2.0 * sigma * dt * h + 2.0 * sigma * i0) / w2;
    }

    step st{};
    st.a11 = e * (c + sigma / omega_d * s);
    st.a12 = h;
    st.a21 = -omega * omega * h;
    st.a22 = hp;
    st.b11 = -i1 / dt;
    st.b12 = -(i0 - i1 / dt);
    st.b21 = -(h - i0 / dt);
    st.b22 = -i0 / dt;
    return st;
}

bool is_rigid(double period, double dt) { return period <= 1e-6 * dt; }

double omega_squared(double period) {
    const double omega = 2.0 * std::numbers::pi / period;
    return omega * omega;
}

double peak_abs(std::span<const float> accel) {
    double peak = 0.0;
    for (const float a : accel) {
        peak = std::max(peak, std::abs(static_cast<double>(a)));
    }
    return peak;
}

} // namespace

double psa_at(std::span<const float> accel, double dt, double period, double damping) {
    assert(dt > 0.0);
    assert(damping >= 0.0 && damping < 1.0);
    // Below a millionth of the step the oscillator follows the ground to within 1e-6 (the lag
    // of a damped oscillator is about 2 zeta / (omega dt) of the change over one step).
    if (is_rigid(period, dt)) {
        return peak_abs(accel);
    }
    if (accel.empty()) {
        return 0.0;
    }
    const step st = make_step(period, damping, dt);
    double u = 0.0;
    double v = 0.0;
    double peak = 0.0;
    double a0 = static_cast<double>(accel[0]);
    for (std::size_t i = 1; i < accel.size(); ++i) {
        const double a1 = static_cast<double>(accel[i]);
        const double u1 = st.a11 * u + st.a12 * v + st.b11 * a0 + st.b12 * a1;
        const double v1 = st.a21 * u + st.a22 * v + st.b21 * a0 + st.b22 * a1;
        u = u1;
        v = v1;
        a0 = a1;
        peak = std::max(peak, std::abs(u));
    }
    return omega_squared(period) * peak;
}

namespace {

// Set by detail::force_baseline.
std::atomic<bool> baseline_only{false};

// Oscillators stepped together: one period per lane. The steps of different lanes do not wait
// for each other, and each lane does psa_at's operations in psa_at's order.
constexpr std::size_t lanes = 8;

struct lane_steps {
    std::array<double, lanes> a11{}, a12{}, a21{}, a22{}, b11{}, b12{}, b21{}, b22{};
    void set(std::size_t l, const step& st) {
        a11[l] = st.a11;
        a12[l] = st.a12;
        a21[l] = st.a21;
        a22[l] = st.a22;
        b11[l] = st.b11;
        b12[l] = st.b12;
        b21[l] = st.b21;
        b22[l] = st.b22;
    }
};

template <std::size_t C> using lane_values = std::array<std::array<double, lanes>, C>;

// Where the oscillators of C components are: displacement, velocity and peak |u| of each lane,
// and the last ground value of each component.
template <std::size_t C> struct lane_state {
    lane_values<C> u{}, v{}, peak{};
    std::array<double, C> a0{};
};

// Steps samples from..to-1 (from >= 1) of the C components, W lanes a vector. With `out`, the
// displacement of sample i, component c, lane l goes to out[(c lanes + l) block + i - from]. Each
// lane does psa_at's operations in psa_at's order: multiplications and additions element by
// element, left to right, and peak = peak < |u| ? |u| : peak (std::max).
template <std::size_t W, std::size_t C>
SITEWAVE_LANE_INLINE void step_range(const float* const* acc, std::size_t from, std::size_t to,
                                     const lane_steps& st, lane_state<C>& s, double* out,
                                     std::size_t block) {
    constexpr std::size_t Q = lanes / W;
    using vd = vd_t<W>;
    vd a11[Q], a12[Q], a21[Q], a22[Q], b11[Q], b12[Q], b21[Q], b22[Q];
    vd u[C][Q], v[C][Q], pk[C][Q];
    for (std::size_t q = 0; q < Q; ++q) {
        a11[q] = load_d<W>(st.a11.data() + q * W);
        a12[q] = load_d<W>(st.a12.data() + q * W);
        a21[q] = load_d<W>(st.a21.data() + q * W);
        a22[q] = load_d<W>(st.a22.data() + q * W);
        b11[q] = load_d<W>(st.b11.data() + q * W);
        b12[q] = load_d<W>(st.b12.data() + q * W);
        b21[q] = load_d<W>(st.b21.data() + q * W);
        b22[q] = load_d<W>(st.b22.data() + q * W);
        for (std::size_t c = 0; c < C; ++c) {
            u[c][q] = load_d<W>(s.u[c].data() + q * W);
            v[c][q] = load_d<W>(s.v[c].data() + q * W);
            pk[c][q] = load_d<W>(s.peak[c].data() + q * W);
        }
    }
    const vd zero{};
    for (std::size_t i = from; i < to; ++i) {
        for (std::size_t c = 0; c < C; ++c) {
            const double g1 = static_cast<double>(acc[c][i]);
            const vd x0 = splat_d<W>(s.a0[c]);
            const vd x1 = splat_d<W>(g1);
            for (std::size_t q = 0; q < Q; ++q) {
                const vd u1 = a11[q] * u[c][q] + a12[q] * v[c][q] + b11[q] * x0 + b12[q] * x1;
                const vd v1 = a21[q] * u[c][q] + a22[q] * v[c][q] + b21[q] * x0 + b22[q] * x1;
                u[c][q] = u1;
                v[c][q] = v1;
                const vd au = u1 < zero ? -u1 : u1;
                pk[c][q] = pk[c][q] < au ? au : pk[c][q];
                if (out != nullptr) {
                    for (std::size_t w = 0; w < W; ++w) {
                        out[(c * lanes + q * W + w) * block + (i - from)] = u1[w];
                    }
                }
            }
            s.a0[c] = g1;
        }
    }
    for (std::size_t q = 0; q < Q; ++q) {
        for (std::size_t c = 0; c < C; ++c) {
            store_d<W>(s.u[c].data() + q * W, u[c][q]);
            store_d<W>(s.v[c].data() + q * W, v[c][q]);
            store_d<W>(s.peak[c].data() + q * W, pk[c][q]);
        }
    }
}

// The kernel for the vectors every x86-64 processor has, and for AVX2; the same bits.
template <std::size_t C>
void step_baseline(const float* const* acc, std::size_t from, std::size_t to, const lane_steps& st,
                   lane_state<C>& s, double* out, std::size_t block) {
    step_range<2, C>(acc, from, to, st, s, out, block);
}
#if defined(__x86_64__)
template <std::size_t C>
[[gnu::target("avx2")]] void step_avx2(const float* const* acc, std::size_t from, std::size_t to,
                                       const lane_steps& st, lane_state<C>& s, double* out,
                                       std::size_t block) {
    step_range<4, C>(acc, from, to, st, s, out, block);
}
#endif

template <std::size_t C>
void step_any(const float* const* acc, std::size_t from, std::size_t to, const lane_steps& st,
              lane_state<C>& s, double* out, std::size_t block) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && !baseline_only.load(std::memory_order_relaxed)) {
        step_avx2<C>(acc, from, to, st, s, out, block);
        return;
    }
#endif
    step_baseline<C>(acc, from, to, st, s, out, block);
}

// The oscillators of `st` under each of the C components (of one length n), from rest at
// sample 0: the peak |u| of each component and lane into `peak`. With `each`, the responses go
// by blocks of up to `block` samples into `buffer` (laid out as step_range's out), and each(m)
// is called after each block of m samples.
template <std::size_t C, class Each>
void step_lanes(const std::array<std::span<const float>, C>& acc, const lane_steps& st,
                lane_values<C>& peak, std::size_t block, double* buffer, Each&& each) {
    const std::size_t n = acc[0].size();
    if (n == 0) {
        return;
    }
    lane_state<C> s;
    const float* data[C];
    for (std::size_t c = 0; c < C; ++c) {
        data[c] = acc[c].data();
        s.a0[c] = static_cast<double>(acc[c][0]);
    }
    if (buffer == nullptr) {
        step_any<C>(data, 1, n, st, s, nullptr, 0);
    } else {
        for (std::size_t from = 1; from < n; from += block) {
            const std::size_t to = std::min(n, from + block);
            step_any<C>(data, from, to, st, s, buffer, block);
            each(to - from);
        }
    }
    peak = s.peak;
}

// The periods that are not rigid, in groups of at most `lanes` (indices into periods).
std::vector<std::vector<std::size_t>> lane_groups(std::span<const double> periods, double dt) {
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < periods.size(); ++i) {
        if (is_rigid(periods[i], dt)) {
            continue;
        }
        if (groups.empty() || groups.back().size() == lanes) {
            groups.emplace_back();
        }
        groups.back().push_back(i);
    }
    return groups;
}

// The steps of a group; lanes past its end repeat its first period (their results unused).
lane_steps group_steps(const std::vector<std::size_t>& group, std::span<const double> periods,
                       double damping, double dt) {
    lane_steps st;
    for (std::size_t l = 0; l < lanes; ++l) {
        const std::size_t i = group[l < group.size() ? l : 0];
        st.set(l, make_step(periods[i], damping, dt));
    }
    return st;
}

// The angles in sectors of twelve: 0-11, 12-23, ... degrees (three AVX2 vectors of angles). The
// sectors' arrays are padded to a multiple of four with sectors that are never raised.
constexpr std::size_t sector_width = 12;
constexpr std::size_t sectors = rotd_angles / sector_width;
static_assert(sectors * sector_width == rotd_angles && sectors <= 64);
constexpr std::size_t padded_sectors = (sectors + 3) / 4 * 4;
constexpr double half_width_degrees = (static_cast<double>(sector_width) - 1.0) / 2.0;

// cos and sin of 0, 1, ..., 179 degrees, and of the middle of each sector (5.5, 17.5, ... for
// sectors of twelve).
struct angle_table {
    std::array<double, rotd_angles> c{}, s{};
    std::array<double, padded_sectors> mid_c{}, mid_s{};
    angle_table() {
        for (std::size_t k = 0; k < rotd_angles; ++k) {
            const double th = static_cast<double>(k) * std::numbers::pi / 180.0;
            c[k] = std::cos(th);
            s[k] = std::sin(th);
        }
        for (std::size_t m = 0; m < sectors; ++m) {
            const double th = (static_cast<double>(m * sector_width) + half_width_degrees) *
                              std::numbers::pi / 180.0;
            mid_c[m] = std::cos(th);
            mid_s[m] = std::sin(th);
        }
    }
};

const angle_table& angles() {
    static const angle_table t;
    return t;
}

// Half a sector in radians: u(theta) = x cos theta + y sin theta changes by at most r =
// sqrt(x^2 + y^2) per radian, so within a sector |u| <= |u(middle)| + r * half_sector.
constexpr double half_sector = half_width_degrees * std::numbers::pi / 180.0;

// The peak |x cos theta + y sin theta| at each angle of the responses seen so far. The
// functions of width W take W values a vector (the same operations as one at a time).
struct rotated_peaks {
    std::array<double, rotd_angles> p{};
    std::array<double, padded_sectors> sector_least{}; // the smallest p of each sector
    double least = 0.0;                                // the smallest of p

    rotated_peaks() {
        for (std::size_t m = sectors; m < padded_sectors; ++m) {
            sector_least[m] = std::numeric_limits<double>::infinity();
        }
    }

    // Every angle: the reference.
    void take(double x, double y) {
        const auto& t = angles();
        for (std::size_t k = 0; k < p.size(); ++k) {
            p[k] = std::max(p[k], std::abs(x * t.c[k] + y * t.s[k]));
        }
    }
    // take() on the angles of sector m.
    template <std::size_t W>
    SITEWAVE_LANE_INLINE void take_sector(const angle_table& t, std::size_t m, double x, double y) {
        using vd = vd_t<W>;
        const vd vx = splat_d<W>(x);
        const vd vy = splat_d<W>(y);
        const vd zero{};
        vd low{};
        for (std::size_t k = m * sector_width; k < (m + 1) * sector_width; k += W) {
            const vd u = vx * load_d<W>(t.c.data() + k) + vy * load_d<W>(t.s.data() + k);
            const vd au = u < zero ? -u : u;
            const vd pk = load_d<W>(p.data() + k);
            const vd up = pk < au ? au : pk; // std::max(p, |u|)
            store_d<W>(p.data() + k, up);
            low = k == m * sector_width ? up : (up < low ? up : low);
        }
        double l = low[0];
        for (std::size_t w = 1; w < W; ++w) {
            l = std::min(l, low[w]);
        }
        sector_least[m] = l;
    }
    // The sectors in which the sample (x, y) can raise a peak. With r >= sqrt(x^2 + y^2) as
    // computed times 1 + 1e-12, or |x| + |y| where the squares could underflow: |x c + y s| <=
    // sqrt(x^2 + y^2) (c^2 + s^2 = 1 within a few ulps, every rounding within one), and |x| + |y|
    // bounds it exactly (|x c| <= |x| after rounding too, and the rounded sum is monotone). The
    // bound of a sector covers the rounding of every |x cos + y sin| computed (a few ulps of r,
    // and a few of the smallest subnormal) many times over.
    template <std::size_t W>
    SITEWAVE_LANE_INLINE void take_pruned(const angle_table& t, double x, double y) {
        const double sum = std::abs(x) + std::abs(y);
        const double r = sum < 1e-150 ? sum : std::sqrt(x * x + y * y) * (1.0 + 1e-12);
        if (!(r > least)) {
            return;
        }
        using vd = vd_t<W>;
        const vd vx = splat_d<W>(x);
        const vd vy = splat_d<W>(y);
        const vd spread = splat_d<W>(r * (half_sector + 1e-12) + 1e-300);
        const vd grow = splat_d<W>(1.0 + 1e-12);
        const vd zero{};
        std::uint64_t raise = 0; // bit m: sector m may be raised
        for (std::size_t m = 0; m < padded_sectors; m += W) {
            const vd u = vx * load_d<W>(t.mid_c.data() + m) + vy * load_d<W>(t.mid_s.data() + m);
            const vd b = ((u < zero ? -u : u) + spread) * grow;
            const auto above = b > load_d<W>(sector_least.data() + m);
            for (std::size_t w = 0; w < W; ++w) {
                raise |= static_cast<std::uint64_t>(above[w] & 1) << (m + w);
            }
        }
        if (raise == 0) {
            return;
        }
        for (; raise != 0; raise &= raise - 1) {
            take_sector<W>(t, static_cast<std::size_t>(std::countr_zero(raise)), x, y);
        }
        least = *std::min_element(sector_least.begin(), sector_least.begin() + sectors);
    }

    // Takes the samples x[j], y[j] (j < m), passing over those that cannot raise a peak: the
    // peaks are those of take() on every sample, bit for bit. Once the smallest peak is above
    // 1e-140 (where no square of a sample that could pass it underflows), a sample with x^2 +
    // y^2 (times 1 + 1e-11, for the roundings) at most its square raises none; one that may is
    // taken in the sectors it may raise. The samples of the larger quarter of the squares go
    // first, so that the peaks rise early and most others are passed over.
    template <std::size_t W>
    SITEWAVE_LANE_INLINE void take_all(const double* x, const double* y, std::size_t m,
                                       std::vector<double>& bound,
                                       std::vector<std::uint32_t>& chosen) {
        const angle_table& t = angles();
        bound.resize(m);
        using vd = vd_t<W>;
        const vd grow = splat_d<W>(1.0 + 1e-11);
        vd tops{};
        std::size_t whole = 0;
        for (; whole + W <= m; whole += W) {
            const vd vx = load_d<W>(x + whole);
            const vd vy = load_d<W>(y + whole);
            const vd b = (vx * vx + vy * vy) * grow;
            store_d<W>(bound.data() + whole, b);
            tops = tops < b ? b : tops;
        }
        double top = 0.0;
        for (std::size_t w = 0; w < W; ++w) {
            top = std::max(top, tops[w]);
        }
        for (; whole < m; ++whole) {
            bound[whole] = (x[whole] * x[whole] + y[whole] * y[whole]) * (1.0 + 1e-11);
            top = std::max(top, bound[whole]);
        }
        const auto level = [this] { return least > 1e-140 ? least * least : -1.0; };
        const double first = std::max(level(), 0.25 * top);
        // The samples to take, listed without a branch on each.
        chosen.resize(m);
        std::size_t n = 0;
        for (std::size_t j = 0; j < m; ++j) {
            chosen[n] = static_cast<std::uint32_t>(j);
            n += bound[j] >= first ? 1 : 0;
        }
        for (std::size_t k = 0; k < n; ++k) {
            take_pruned<W>(t, x[chosen[k]], y[chosen[k]]);
        }
        const double second = level();
        n = 0;
        for (std::size_t j = 0; j < m; ++j) {
            chosen[n] = static_cast<std::uint32_t>(j);
            n += bound[j] < first && bound[j] > second ? 1 : 0;
        }
        for (std::size_t k = 0; k < n; ++k) {
            take_pruned<W>(t, x[chosen[k]], y[chosen[k]]);
        }
    }

    // RotD50 and RotD100 of these peaks, times `scale`.
    void finish(double scale, double& rotd50, double& rotd100) const {
        auto sorted = p;
        std::sort(sorted.begin(), sorted.end());
        rotd100 = scale * sorted[rotd_angles - 1];
        rotd50 = scale * (0.5 * (sorted[rotd_angles / 2 - 1] + sorted[rotd_angles / 2]));
    }
};

// rotated_peaks::take_all with the vectors every x86-64 processor has, or with AVX2.
void take_all_baseline(rotated_peaks& r, const double* x, const double* y, std::size_t m,
                       std::vector<double>& bound, std::vector<std::uint32_t>& chosen) {
    r.take_all<2>(x, y, m, bound, chosen);
}
#if defined(__x86_64__)
[[gnu::target("avx2")]] void take_all_avx2(rotated_peaks& r, const double* x, const double* y,
                                           std::size_t m, std::vector<double>& bound,
                                           std::vector<std::uint32_t>& chosen) {
    r.take_all<4>(x, y, m, bound, chosen);
}
#endif
void take_all_any(rotated_peaks& r, const double* x, const double* y, std::size_t m,
                  std::vector<double>& bound, std::vector<std::uint32_t>& chosen) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && !baseline_only.load(std::memory_order_relaxed)) {
        take_all_avx2(r, x, y, m, bound, chosen);
        return;
    }
#endif
    take_all_baseline(r, x, y, m, bound, chosen);
}

} // namespace

std::vector<double> psa(std::span<const float> accel, double dt, std::span<const double> periods,
                        double damping) {
    assert(dt > 0.0);
    assert(damping >= 0.0 && damping < 1.0);
    std::vector<double> out(periods.size(), 0.0);
    const double rigid = peak_abs(accel);
    for (std::size_t i = 0; i < periods.size(); ++i) {
        if (is_rigid(periods[i], dt)) {
            out[i] = rigid;
        }
    }
    for (const auto& group : lane_groups(periods, dt)) {
        lane_values<1> peak{};
        step_lanes<1>({accel}, group_steps(group, periods, damping, dt), peak, 0, nullptr,
                      [](std::size_t) {});
        for (std::size_t l = 0; l < group.size(); ++l) {
            out[group[l]] = omega_squared(periods[group[l]]) * peak[0][l];
        }
    }
    return out;
}

horizontal_spectra horizontal(std::span<const float> a1, std::span<const float> a2, double dt,
                              std::span<const double> periods, double damping, bool rotd) {
    assert(dt > 0.0);
    assert(damping >= 0.0 && damping < 1.0);
    assert(a1.size() == a2.size());
    const std::size_t np = periods.size();
    horizontal_spectra out;
    out.h1.assign(np, 0.0);
    out.h2.assign(np, 0.0);
    if (rotd) {
        out.rotd50.assign(np, 0.0);
        out.rotd100.assign(np, 0.0);
    }
    // Rigid oscillators: the ground itself.
    {
        const double r1 = peak_abs(a1);
        const double r2 = peak_abs(a2);
        rotated_peaks ground;
        bool ground_done = false;
        for (std::size_t i = 0; i < np; ++i) {
            if (!is_rigid(periods[i], dt)) {
                continue;
            }
            out.h1[i] = r1;
            out.h2[i] = r2;
            if (rotd) {
                if (!ground_done) {
                    std::vector<double> x(a1.begin(), a1.end());
                    std::vector<double> y(a2.begin(), a2.end());
                    std::vector<double> bound;
                    std::vector<std::uint32_t> chosen;
                    take_all_any(ground, x.data(), y.data(), x.size(), bound, chosen);
                    ground_done = true;
                }
                ground.finish(1.0, out.rotd50[i], out.rotd100[i]);
            }
        }
    }
    // The responses of a group are rotated a block of samples at a time.
    const std::size_t block = std::min<std::size_t>(a1.size(), 16384);
    std::vector<double> buffer, bound;
    std::vector<std::uint32_t> chosen;
    if (rotd) {
        buffer.resize(block * 2 * lanes);
    }
    for (const auto& group : lane_groups(periods, dt)) {
        lane_values<2> peak{};
        std::array<rotated_peaks, lanes> rotated{};
        const lane_steps st = group_steps(group, periods, damping, dt);
        step_lanes<2>({a1, a2}, st, peak, block, rotd ? buffer.data() : nullptr,
                      [&](std::size_t m) {
                          for (std::size_t l = 0; l < group.size(); ++l) {
                              take_all_any(rotated[l], buffer.data() + l * block,
                                           buffer.data() + (lanes + l) * block, m, bound, chosen);
                          }
                      });
        for (std::size_t l = 0; l < group.size(); ++l) {
            const std::size_t i = group[l];
            const double w2 = omega_squared(periods[i]);
            out.h1[i] = w2 * peak[0][l];
            out.h2[i] = w2 * peak[1][l];
            if (rotd) {
                rotated[l].finish(w2, out.rotd50[i], out.rotd100[i]);
            }
        }
    }
    return out;
}

void rotd_reference(std::span<const float> a1, std::span<const float> a2, double dt, double period,
                    double damping, double& rotd50, double& rotd100) {
    assert(a1.size() == a2.size());
    std::vector<double> x, y;
    double scale = 1.0;
    if (is_rigid(period, dt)) {
        x.assign(a1.begin(), a1.end());
        y.assign(a2.begin(), a2.end());
    } else if (!a1.empty()) {
        const step st = make_step(period, damping, dt);
        const std::span<const float> acc[2] = {a1, a2};
        std::vector<double>* out[2] = {&x, &y};
        for (std::size_t c = 0; c < 2; ++c) {
            double u = 0.0;
            double v = 0.0;
            double a0 = static_cast<double>(acc[c][0]);
            for (std::size_t i = 1; i < acc[c].size(); ++i) {
                const double g1 = static_cast<double>(acc[c][i]);
                const double u1 = st.a11 * u + st.a12 * v + st.b11 * a0 + st.b12 * g1;
                const double v1 = st.a21 * u + st.a22 * v + st.b21 * a0 + st.b22 * g1;
                u = u1;
                v = v1;
                a0 = g1;
                out[c]->push_back(u);
            }
        }
        scale = omega_squared(period);
    }
    rotated_peaks r;
    for (std::size_t j = 0; j < x.size(); ++j) {
        r.take(x[j], y[j]);
    }
    r.finish(scale, rotd50, rotd100);
}

void detail::force_baseline(bool on) { baseline_only.store(on); }

std::vector<double> log_periods(double tmin, double tmax, int n) {
    assert(tmin > 0.0 && tmax > 0.0);
    assert(n >= 1);
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(n));
    if (n == 1) {
        out.push_back(tmin);
        return out;
    }
    const double span = std::log(tmax / tmin);
    for (int i = 0; i < n - 1; ++i) {
        out.push_back(tmin * std::exp(span * i / (n - 1)));
    }
    out.push_back(tmax);
    return out;
}

} // namespace sitewave::response
