// The zero padding of a run's transform. The transform treats the record as periodic: what the
// site still gives back after the end of the padded record comes in again at its start. The
// padding is made long enough for that part to have died away.
#pragma once

#include "sitewave/batch.hpp"
#include "sitewave/profile.hpp"

#include <string>

namespace sitewave::batch {

// What is left of the response when it counts as died away: this fraction of its peak.
inline constexpr double decay_fraction = 1e-3;

// How many samples the impulse response of a profile's applied factors (SH and vertical,
// column nin) reaches above decay_fraction of its peak, after the impulse or before it (the
// factors are not exactly causal: a little of the response comes ahead of the impulse). The run
// needs that many samples of padding, nf >= nt + samples, for the transform's wrap-around to stay
// below decay_fraction of an impulse's response. Each is the inverse transform of the factor on a
// grid of 2^12 samples at dt, then 2^13, ... until both reaches are below a quarter of the grid
// (the response has then died away long before the grid wraps it round); `found` is false when
// not even 2^20 samples do.
struct decay_time {
    int samples = 0;
    bool found = true;
};
decay_time response_decay(const layer_table& layers, float theta, int nin, float dt, bool oblique,
                          int row_threads);

// The transform length of a run of nt samples at dt: the dialogue's (padding none, and with
// --dialogue-files); otherwise the power of two (from 4) that holds the record and the padding
// (pad_seconds, or `decay` samples), at most 2^20. When 2^20 does not hold them, `note` says so.
int padded_length(const batch_options& o, int nt, float dt, const decay_time& decay,
                  std::string& note);

} // namespace sitewave::batch
