// In-place radix-2 decimation-in-time complex Fourier transform.
#pragma once

#include "arith/real.hpp"

#include <span>
#include <vector>

namespace sitewave::fft {

// Replaces a (length n = a.size(), a power of two) by sum_j a[j] e^(ind*2*pi*i*j*m/n) for
// m = 0..n-1. ind is -1 (time to frequency) or +1 (back). No scaling in either direction.
// n <= 1 returns the data unchanged. A length that is not a power of two is a programming error.
void wvfast(std::span<cplx> a, int ind);

// The twiddle factors of every pass of a transform of length n in direction ind, evaluated once
// for any number of transforms of that length and direction.
class twiddles {
  public:
    twiddles(std::size_t n, int ind);
    std::size_t size() const { return n_; }
    int direction() const { return ind_; }
    // The factors of the last pass (half-span n/2), k = 0..n/2-1; the pass of half-span kmax
    // uses every (n/2)/kmax-th of them.
    const cplx* last() const { return w_.data(); }
    // The factors of the same length and the other direction, without evaluating them again:
    // the angle of factor k in one direction is the other's negated, bit for bit (the integer
    // k*ind as a float, times pai, over kmax: each operation gives the negated result for the
    // negated operand), and the cosine of each is the same and the sine negated. Factor 0 has
    // the angle +0 in both directions, so it stays (1, +0).
    twiddles opposite() const;

  private:
    twiddles(std::size_t n, int ind, std::vector<cplx> w) : n_(n), ind_(ind), w_(std::move(w)) {}

    std::size_t n_;
    int ind_;
    std::vector<cplx> w_;
};

// The code that does the butterflies: the widest vectors the processor has (AVX2 where it has
// them), the vectors every x86-64 processor has, or one butterfly at a time. The results are the
// same bit for bit.
enum class butterflies { widest, baseline, scalar };

// The same transform with factors made beforehand (tw.size() == a.size(), the same ind).
void wvfast(std::span<cplx> a, int ind, const twiddles& tw, butterflies kind = butterflies::widest);

// True when n is a power of two (1 included).
constexpr bool is_pow2(std::size_t n) { return n != 0 && (n & (n - 1)) == 0; }

} // namespace sitewave::fft
