// The inverse transform of the loop, in double: two real histories at once from their one-sided
// spectra (the first as the real part of one complex transform, the second as its imaginary
// part). Twiddles and the bit-reversed order are made once per length. The loop wants only the
// peaks of the histories, which need no reordering.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace sitewave::eql::detail {

// Real and imaginary parts side by side, so that the loops over them run on vectors.
struct split_complex {
    std::vector<double> re, im;
    void assign(std::size_t n) {
        re.assign(n, 0.0);
        im.assign(n, 0.0);
    }
    std::size_t size() const { return re.size(); }
};

class inverse_pairs {
  public:
    // For nf points, a power of two from 2 on.
    explicit inverse_pairs(std::size_t nf);
    std::size_t size() const { return n_; }

    // Transforms the one-sided spectra s1 and s2 (nf/2 + 1 rows; the imaginary parts of rows 0
    // and nf/2 are not used; s2 may be null, as zero): x1 and x2 are then the histories whose
    // transforms scaled by dt are s1 and s2, kept here in bit-reversed order.
    void run(const split_complex& s1, const split_complex* s2);
    // The same for the spectra s1·q and s2·q.
    void run_times(const split_complex& s1, const split_complex* s2, const split_complex* q);
    // The largest |x1| and |x2| over the samples j < nt.
    std::pair<double, double> peaks(std::size_t nt, double dt);
    // x1 and x2 in time order (nf samples each).
    void histories(double dt, std::vector<double>& x1, std::vector<double>& x2) const;

    struct twiddles; // the tables of a length, shared

  private:
    std::size_t n_;
    std::shared_ptr<const twiddles> twiddles_;
    split_complex work_;
    std::vector<double> window_; // 1 where the sample at that place is among the first nt
    std::size_t window_nt_ = 0;
};

} // namespace sitewave::eql::detail
