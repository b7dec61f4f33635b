#include "eql/sweep.hpp"

#include "arith/vectors.hpp"

#include <algorithm>
#include <cmath>

namespace sitewave::eql::detail {

namespace {

using complex = propagation::complex;

// Rows per block of phases: the phase of a row is the block's exact phase times the exact power
// of the row step, two roundings from the exact value whatever the block's length.
constexpr std::size_t block = 256;
// The most the amplitudes may grow (as a natural logarithm) before the row-by-row solve is used.
constexpr double growth_limit = 600.0;

struct layer_step {
    double cr = 0, ci = 0;                 // vertical slowness c
    double pr = 0, pi = 0, mr = 0, mi = 0; // (1 + α)/2 and (1 − α)/2 at the interface below
    const double *wr = nullptr, *wi = nullptr, *vr = nullptr, *vi = nullptr; // e^{±jθ}, j < block
    const double *br = nullptr, *bi = nullptr, *ur = nullptr, *ui = nullptr; // e^{±kθ} per block
};

// One layer over every row: the top's motion and the mid-depth strain from the amplitudes at the
// top (a, b), then the amplitudes at the top of the layer below in their place.
inline void layer_body(std::size_t nom, const layer_step& s, double* ar, double* ai, double* br,
                       double* bi, double* sr, double* si, double* tr, double* ti) {
    for (std::size_t k0 = 0, blk = 0; k0 < nom; k0 += block, ++blk) {
        const std::size_t m = std::min(block, nom - k0);
        const double bsr = s.br[blk], bsi = s.bi[blk], usr = s.ur[blk], usi = s.ui[blk];
        double* Ar = ar + k0;
        double* Ai = ai + k0;
        double* Br = br + k0;
        double* Bi = bi + k0;
        double* Sr = sr + k0;
        double* Si = si + k0;
        double* Tr = tr + k0;
        double* Ti = ti + k0;
        SITEWAVE_INDEPENDENT
        for (std::size_t j = 0; j < m; ++j) {
            const double hr = bsr * s.wr[j] - bsi * s.wi[j], hi = bsr * s.wi[j] + bsi * s.wr[j];
            const double gr = usr * s.vr[j] - usi * s.vi[j], gi = usr * s.vi[j] + usi * s.vr[j];
            const double a_r = Ar[j], a_i = Ai[j], b_r = Br[j], b_i = Bi[j];
            Tr[j] = a_r + b_r;
            Ti[j] = a_i + b_i;
            const double xr = a_r * hr - a_i * hi, xi = a_r * hi + a_i * hr; // up-going at mid
            const double yr = b_r * gr - b_i * gi, yi = b_r * gi + b_i * gr; // down-going at mid
            const double dr = xr - yr, di = xi - yi;
            Sr[j] = s.cr * dr - s.ci * di;
            Si[j] = s.cr * di + s.ci * dr;
            const double ur = xr * hr - xi * hi, ui = xr * hi + xi * hr; // at the bottom
            const double vr = yr * gr - yi * gi, vi = yr * gi + yi * gr;
            Ar[j] = (ur * s.pr - ui * s.pi) + (vr * s.mr - vi * s.mi);
            Ai[j] = (ur * s.pi + ui * s.pr) + (vr * s.mi + vi * s.mr);
            Br[j] = (ur * s.mr - ui * s.mi) + (vr * s.pr - vi * s.pi);
            Bi[j] = (ur * s.mi + ui * s.mr) + (vr * s.pi + vi * s.pr);
        }
    }
}

void layer_baseline(std::size_t nom, const layer_step& s, double* ar, double* ai, double* br,
                    double* bi, double* sr, double* si, double* tr, double* ti) {
    layer_body(nom, s, ar, ai, br, bi, sr, si, tr, ti);
}

#if defined(__x86_64__)
[[gnu::target("avx2"), gnu::flatten]] void layer_avx2(std::size_t nom, const layer_step& s,
                                                      double* ar, double* ai, double* br,
                                                      double* bi, double* sr, double* si,
                                                      double* tr, double* ti) {
    layer_body(nom, s, ar, ai, br, bi, sr, si, tr, ti);
}
[[gnu::target("avx512f"), gnu::flatten]] void layer_avx512(std::size_t nom, const layer_step& s,
                                                           double* ar, double* ai, double* br,
                                                           double* bi, double* sr, double* si,
                                                           double* tr, double* ti) {
    layer_body(nom, s, ar, ai, br, bi, sr, si, tr, ti);
}
#endif

void layer(std::size_t nom, const layer_step& s, split_complex& a, split_complex& b,
           split_complex& strain, split_complex& top) {
    double* args[] = {a.re.data(),      a.im.data(),      b.re.data(),   b.im.data(),
                      strain.re.data(), strain.im.data(), top.re.data(), top.im.data()};
#if defined(__x86_64__)
    switch (arith::vector_level()) {
    case arith::vectors::avx512:
        layer_avx512(nom, s, args[0], args[1], args[2], args[3], args[4], args[5], args[6],
                     args[7]);
        return;
    case arith::vectors::avx2:
        layer_avx2(nom, s, args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7]);
        return;
    case arith::vectors::baseline:
        break;
    }
#endif
    layer_baseline(nom, s, args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7]);
}

// e^{jθ} and e^{−jθ} for j < block, and e^{±k0·θ} at the first row k0 of each block. With
// θ = x + iy, e^{±jθ} = e^{±jx}(cos jy ± i sin jy): one sine and cosine serve both directions.
struct phases {
    std::vector<double> wr, wi, vr, vi; // e^{jθ}, e^{−jθ}
    std::vector<double> br, bi, ur, ui; // e^{k0·θ}, e^{−k0·θ}
    void make(complex theta, std::size_t nom) {
        const auto both = [&](double j, double& r1, double& i1, double& r2, double& i2) {
            const double y = j * theta.imag();
            const double c = std::cos(y), s = std::sin(y);
            const double up = std::exp(j * theta.real()), down = std::exp(-(j * theta.real()));
            r1 = up * c;
            i1 = up * s;
            r2 = down * c;
            i2 = down * -s;
        };
        for (auto* v : {&wr, &wi, &vr, &vi}) {
            v->resize(block);
        }
        for (std::size_t j = 0; j < block; ++j) {
            both(static_cast<double>(j), wr[j], wi[j], vr[j], vi[j]);
        }
        const std::size_t blocks = (nom + block - 1) / block;
        for (auto* v : {&br, &bi, &ur, &ui}) {
            v->resize(blocks);
        }
        for (std::size_t k = 0; k < blocks; ++k) {
            both(static_cast<double>(k * block), br[k], bi[k], ur[k], ui[k]);
        }
    }
};

complex input_field(propagation::wave w, complex a, complex b) {
    switch (w) {
    case propagation::wave::within:
        return a + b;
    case propagation::wave::incident:
        return a;
    case propagation::wave::outcrop:
        break;
    }
    return 2.0 * a;
}

} // namespace

result<void> sweep::solve(const std::vector<propagation::medium>& media, const sweep_setup& s) {
    // The column's checks of the media, once.
    auto check = propagation::column::solve(media, 0.0, s.convention, s.slowness2, s.oblique);
    if (!check) {
        return check.err();
    }
    const std::size_t n = media.size() - 1; // sublayers
    strain.resize(n);
    top.resize(n + 1);
    // Every row of every array is written below: kept from the last solve when of this size.
    for (auto& x : strain) {
        if (x.size() != s.nom) {
            x.assign(s.nom);
        }
    }
    for (auto& x : top) {
        if (x.size() != s.nom) {
            x.assign(s.nom);
        }
    }
    // The growth of the amplitudes through the column at the highest row.
    const double omega_max = s.dom * static_cast<double>(s.nom > 0 ? s.nom - 1 : 0);
    double growth = 0.0;
    std::vector<complex> c(n + 1), z(n + 1);
    for (std::size_t m = 0; m <= n; ++m) {
        const complex v =
            propagation::complex_velocity(media[m].vs, media[m].damping, s.convention);
        c[m] = propagation::vertical_slowness(v, s.slowness2);
        z[m] = propagation::impedance(media[m].density, v, c[m], s.oblique);
    }
    for (std::size_t m = 0; m < n; ++m) {
        const complex alpha = z[m] / z[m + 1];
        growth += omega_max * std::fabs(c[m].imag()) * media[m].thickness +
                  std::log(std::max(1.0, 0.5 * (std::abs(1.0 + alpha) + std::abs(1.0 - alpha))));
    }
    fallback_ = !(growth < growth_limit);
    if (fallback_) {
        return solve_rows(media, s);
    }
    solve_fast(media, s);
    return {};
}

void sweep::solve_fast(const std::vector<propagation::medium>& media, const sweep_setup& s) {
    const std::size_t n = media.size() - 1;
    const std::size_t nom = s.nom;
    a_.re.assign(nom, 1.0);
    a_.im.assign(nom, 0.0);
    b_.re.assign(nom, 1.0);
    b_.im.assign(nom, 0.0);
    phases ph;
    for (std::size_t m = 0; m < n; ++m) {
        const complex v =
            propagation::complex_velocity(media[m].vs, media[m].damping, s.convention);
        const complex v1 =
            propagation::complex_velocity(media[m + 1].vs, media[m + 1].damping, s.convention);
        const complex c = propagation::vertical_slowness(v, s.slowness2);
        const complex c1 = propagation::vertical_slowness(v1, s.slowness2);
        const complex alpha = propagation::impedance(media[m].density, v, c, s.oblique) /
                              propagation::impedance(media[m + 1].density, v1, c1, s.oblique);
        const complex theta = complex(0.0, 1.0) * (s.dom * media[m].thickness / 2.0) * c;
        ph.make(theta, nom);
        layer_step st;
        st.cr = c.real();
        st.ci = c.imag();
        const complex p = 0.5 * (1.0 + alpha), q = 0.5 * (1.0 - alpha);
        st.pr = p.real();
        st.pi = p.imag();
        st.mr = q.real();
        st.mi = q.imag();
        st.wr = ph.wr.data();
        st.wi = ph.wi.data();
        st.br = ph.br.data();
        st.bi = ph.bi.data();
        st.vr = ph.vr.data();
        st.vi = ph.vi.data();
        st.ur = ph.ur.data();
        st.ui = ph.ui.data();
        layer(nom, st, a_, b_, strain[m], top[m]);
    }
    // The half-space: its top's motion, and the input's field there, by which all is divided.
    if (inverse.size() != nom) {
        inverse.assign(nom);
    }
    for (std::size_t k = 0; k < nom; ++k) {
        const complex a(a_.re[k], a_.im[k]), b(b_.re[k], b_.im[k]);
        top[n].re[k] = a.real() + b.real();
        top[n].im[k] = a.imag() + b.imag();
        const complex w = 1.0 / input_field(s.input, a, b);
        inverse.re[k] = w.real();
        inverse.im[k] = w.imag();
    }
}

result<void> sweep::solve_rows(const std::vector<propagation::medium>& media,
                               const sweep_setup& s) {
    const std::size_t n = media.size() - 1;
    inverse.re.assign(s.nom, 1.0);
    inverse.im.assign(s.nom, 0.0);
    for (std::size_t k = 0; k < s.nom; ++k) {
        const double omega = static_cast<double>(k) * s.dom;
        auto col = propagation::column::solve(media, omega, s.convention, s.slowness2, s.oblique);
        if (!col) {
            return col.err();
        }
        const complex w = 1.0 / col->motion(col->top(n), s.input);
        for (std::size_t m = 0; m <= n; ++m) {
            const complex t = (col->up(m) + col->down(m)) * w;
            top[m].re[k] = t.real();
            top[m].im[k] = t.imag();
            if (m < n && k == 0) {
                strain[m].re[k] = 0.0;
                strain[m].im[k] = 0.0;
            } else if (m < n) {
                const complex g =
                    col->strain(m, media[m].thickness / 2.0) * w / complex(0.0, omega);
                strain[m].re[k] = g.real();
                strain[m].im[k] = g.imag();
            }
        }
    }
    return {};
}

} // namespace sitewave::eql::detail
