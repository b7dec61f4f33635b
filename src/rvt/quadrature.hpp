// Adaptive Gauss–Kronrod quadrature (7-point Gauss, 15-point Kronrod) of a smooth function on a
// finite interval: the interval of largest error estimate is halved until the sum of the
// estimates is within the tolerance.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <queue>
#include <vector>

namespace sitewave::rvt::detail {

struct quadrature_result {
    double value = 0;
    double error = 0; // estimated absolute error
    bool converged = false;
};

template <class F>
quadrature_result gauss_kronrod(F f, double a, double b, double relative,
                                int max_intervals = 2000) {
    static constexpr std::array<double, 8> x = {
        0.991455371120812639206854697526329, 0.949107912342758524526189684047851,
        0.864864423359769072789712788640926, 0.741531185599394439863864773280788,
        0.586087235467691130294144845693013, 0.405845151377397166906606412076961,
        0.207784955007898467600689403773245, 0.000000000000000000000000000000000};
    static constexpr std::array<double, 8> wk = {
        0.022935322010529224963732008058970, 0.063092092629978553290700663189204,
        0.104790010322250183839876322541518, 0.140653259715525918745189590510238,
        0.169004726639267902826583426598550, 0.190350578064785409913256402421014,
        0.204432940075298892414161999234649, 0.209482141084727828012999174891714};
    static constexpr std::array<double, 4> wg = {
        0.129484966168869693270611432679082, 0.279705391489276667901467771423780,
        0.381830050505118944950369775488975, 0.417959183673469387755102040816327};
    struct piece {
        double a, b, value, error;
        bool operator<(const piece& o) const { return error < o.error; }
    };
    const auto rule = [&](double lo, double hi) {
        const double c = 0.5 * (lo + hi), h = 0.5 * (hi - lo);
        const double fc = f(c);
        double k = wk[7] * fc, g = wg[3] * fc;
        for (std::size_t j = 0; j < 7; ++j) {
            const double s = f(c - h * x[j]) + f(c + h * x[j]);
            k += wk[j] * s;
            if (j % 2 == 1) {
                g += wg[j / 2] * s;
            }
        }
        return piece{lo, hi, k * h, std::fabs((k - g) * h)};
    };
    std::priority_queue<piece> pieces;
    pieces.push(rule(a, b));
    double value = pieces.top().value, error = pieces.top().error;
    for (int n = 1; n < max_intervals; ++n) {
        if (error <= relative * std::fabs(value) || error <= 1e-300) {
            return {value, error, true};
        }
        const piece p = pieces.top();
        pieces.pop();
        const double m = 0.5 * (p.a + p.b);
        const piece l = rule(p.a, m), r = rule(m, p.b);
        value += l.value + r.value - p.value;
        error += l.error + r.error - p.error;
        pieces.push(l);
        pieces.push(r);
    }
    return {value, error, error <= relative * std::fabs(value)};
}

} // namespace sitewave::rvt::detail
