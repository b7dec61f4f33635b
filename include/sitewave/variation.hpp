// Profile variation: realizations of a site drawn from its [variation] table (Toro 1995 for the
// velocities and the layering, Darendeli's standard deviations for the curves, a law for the depth
// to rock). Realization k is a pure function of the table's seed and k: the same profile on any
// machine, thread count or shard.
#pragma once

#include "sitewave/curves.hpp"
#include "sitewave/error.hpp"
#include "sitewave/site.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace sitewave::variation {

// One step of SplitMix64: the state advances by 0x9e3779b97f4a7c15 and the output is the state
// mixed (xor-shift-multiply by 0xbf58476d1ce4e5b9 and 0x94d049bb133111eb, xor-shift by 31).
std::uint64_t splitmix64(std::uint64_t& state);

// The random numbers of realization k of `seed`. The engine is std::mt19937_64 (its output is
// fixed by the C++ standard) seeded with splitmix64 of (splitmix64 of seed) xor k; the transforms
// to distributions are this library's own, so that every standard library gives the same draws:
// - uniform: (the engine's top 53 bits + 0.5)·2⁻⁵³, in (0, 1), never 0 nor 1;
// - normal: Marsaglia's polar method, u and v uniform on (−1, 1) until 0 < s = u² + v² < 1, then
//   u·√(−2 ln s / s) and, at the next call, v·√(−2 ln s / s);
// - exponential (rate 1): −ln of a uniform.
class stream {
  public:
    stream(std::uint64_t seed, std::uint64_t k);
    double uniform();
    double normal();
    double exponential();

  private:
    std::mt19937_64 engine_;
    std::optional<double> spare_;
};

// The Toro correlation of two adjacent layers whose mid-depths are t apart (m), the deeper at
// mid-depth d (m): (1 − ρd)·ρt + ρd (see site::toro_parameters).
double correlation(const site::toro_parameters& p, double t, double d);

// Toro's layering: boundaries of a non-homogeneous Poisson process with rate λ(z) = 1.98·(z +
// 10.86)^−0.89 per m. expected_boundaries(z) is the rate's integral from 0 to z,
// (1.98/0.11)·((z + 10.86)^0.11 − 10.86^0.11); boundary_depth(s) its inverse, the depth of the
// boundary whose running sum of Exp(1) draws is s.
double boundary_rate(double z);
double expected_boundaries(double z);
double boundary_depth(double s);
// The boundaries above `depth` (m), increasing, from the stream's exponential draws; a boundary
// within a millimetre of the one above or of `depth` is dropped (no layer thinner than that).
std::vector<double> boundaries(stream& r, double depth);

// A curve set varied by one pair of deviates: G/Gmax + eps_modulus·σ_G and D + eps_damping·σ_D
// (Darendeli's σ, damping in %) at 49 strains from 1e−5 % to 10 % (8 a decade), G/Gmax clipped
// to [min(0.05, G/Gmax), 1] and D to [0.1 %, max(15 %, D)]; a table curve set. A linear set
// (no strain dependence) is returned as it is.
result<curves::curve_set> varied_curves(const curves::curve_set& c, double eps_modulus,
                                        double eps_damping);

// The deepest rock a realization may have (m): Toro's layering puts about 40 boundaries above it.
inline constexpr double max_depth = 100000.0;

// One realization of a site.
struct realization {
    long index = 0;
    site::site_model site;    // the realized site (its variation table removed)
    double bedrock_depth = 0; // m, the top of the half-space
    // Per soil type (site.soils' order): the deviates (ε_G, ε_D) of its curves, zeros when the
    // curves do not vary.
    std::vector<std::array<double, 2>> curve_deviates;
};

// Realization k (0 ≤ k < realizations) of `base`, which holds a [variation] table. The draws,
// in this order from stream(seed, k):
// 1. the depth to rock: the base's own (fixed); uniform min + (max − min)·u; normal mean +
//    sd·z, drawn again while not above 1 % of the mean (at most 1000 times, then the mean);
//    lognormal with the depth's mean and sd, exp(μ + s·z) with s² = ln(1 + sd²/mean²), μ =
//    ln mean − s²/2;
// 2. the layers: with layering, Toro's boundaries above the depth, each new layer taking the
//    soil, Vs, Vp/Vs and quality factors of the base layer at its mid-depth (the deepest base
//    layer below the base's bottom); without, the base layers, the last cut at the depth or
//    the deepest extended to it;
// 3. the velocities: Z₁ = ε₁, Zᵢ = ρᵢ·Zᵢ₋₁ + √(1 − ρᵢ²)·εᵢ, ρᵢ the correlation of layers i − 1
//    and i; ln Vs = ln V̄s + σ_ln·Z with Z clipped to ±truncate (the chain goes on with the
//    unclipped Z), then Vs clipped to [vs_min, vs_max]; Vp keeps the base layer's Vp/Vs;
// 4. the curves: per soil type in the file's order, ε_G = ε₁ and ε_D = r·ε₁ + √(1 − r²)·ε₂ (r
//    the curve correlation), applied to the curves of its layers made again at their stresses.
// The half-space lies under the last layer; its Vs is raised to the last layer's when that is
// faster (Vp in proportion). Errors (kind `argument`): no [variation] table, k out of range, a
// depth to rock beyond max_depth, a realized site that site::restack refuses.
result<realization> realize(const site::site_model& base, long k);

// realizations.csv: the header, and a realization's rows (one per layer, then the half-space
// with the layer count + 1, the bedrock depth and an empty thickness). Columns: realization,
// layer, depth (m) of the top, thickness (m), vs (m/s), soil, modulus deviate, damping deviate;
// numbers in their shortest form that reads back the same double, the soil quoted as CSV wants.
std::string realizations_header();
std::string realization_rows(const realization& r);

} // namespace sitewave::variation
