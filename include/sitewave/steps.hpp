// The steps of a run between reading the inputs and writing the results, each a function over
// values. Quantities that would overflow the float range are refused (an error of kind
// `refused` naming `input` and the quantity) rather than carried on as infinity or NaN.
//
// Each step checks its arguments against what its comment says it takes; a call outside that
// is an error of kind `argument` naming the function and the argument, and changes nothing (a
// result file is not written). Checked everywhere: a grid has 1 to max_transform_length/2 + 1
// rows (nom) and a positive finite dom; spectra are three vectors of one length nf, a power of
// two from 4 to max_transform_length, on a grid of nom = nf/2 + 1 rows; each column of tables
// holds at least the grid's nom rows.
#pragma once

#include "sitewave/error.hpp"
#include "sitewave/grid.hpp"
#include "sitewave/profile.hpp"
#include "sitewave/record.hpp"
#include "sitewave/types.hpp"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sitewave {

// The spectra of the three components H1, H2, V1, nf entries each: entry i < nom at the angular
// frequency i*dom, the entries above it the negative frequencies.
struct spectra {
    std::vector<cplx> fx1, fy1, fz1;
};

// The forward transform of each component, zero-padded to nf points and scaled by dt (units of
// the record times s). Checks: nf a power of two from 4 to max_transform_length; the record's
// time, xr1, yr1 and zr1 each of nt values, nt <= nf. Refused as the dialogue refuses a record
// (fewer than two samples, a time step not positive, nf*dt or its frequency step not finite),
// and when a value of the spectra is not finite.
result<spectra> forward_spectra(const record& rec, int nf, const std::string& input = "record");

// Both transfer tables of a profile on the rows 0..nom-1 of a grid: the SH table (applied to
// H1 and H2) and the vertical table (effective velocity Vs*sqrt(3/(1 - Vs^2/Vp^2))), for a wave
// arriving from the half-space at theta radians from the vertical. The impedance ratio of two
// layers is rho1 V1 / (rho2 V2), as the dialogue has it; with `oblique` it carries the
// obliquity factor, rho1 V1 cos j1 / (rho2 V2 cos j2), cos j = V nu / omega.
// The rows are shared among `row_threads` threads (the caller's included); every count gives the
// same bits. Checks: the columns of `layers` of one length, one row or more, every row as
// check_profile wants it (values finite; density, Vs, Qs and Qp positive; Vp above Vs; no
// negative thickness above the half-space); theta finite; the grid; row_threads >= 1.
struct tables {
    amp_table samp, pamp;
};
result<tables> compute_tables(const layer_table& layers, float theta, const grid& g,
                              bool oblique = false, int row_threads = 1);

// Refused when a modulus of either table is not finite. Checks the grid and the tables' rows.
result<void> check_tables(const tables& t, const grid& g, const std::string& input = "profile");

// Multiplies entries 0..nom-1 of H1 and H2 by column nin of the SH table and V1 by that of the
// vertical table, then refuses a value that is not finite. Entries from nom on are left alone.
// Checks: nin 1 or 2, the spectra on the grid, the tables' rows.
result<void> amplify(spectra& s, const tables& t, int nin, const grid& g,
                     const std::string& input = "record");

// The trapezoidal pass band in rad/s. Without a filter only oml1 = 0 and omh2 = 99999.9 matter:
// entries at or above 99999.9 rad/s are set to zero.
struct pass_band {
    bool filter = false;
    float oml1 = 0.0f;
    float oml2 = 0.0f;
    float omh1 = 0.0f;
    float omh2 = 99999.9f;
};
// The band of corners fl1 <= fl2 <= fh1 <= fh2 in Hz (each times 2 pi as the dialogue computes
// it); refused when one comes out not finite. Corners in another order are taken as the dialogue
// takes them (where the ramps overlap the falling one decides; a corner below the one before it
// makes its ramp empty), so any finite corners are a band.
result<pass_band> band_from_corners(float fl1, float fl2, float fh1, float fh2,
                                    const std::string& input = "filter corners");

// nyes: 1 integrate (divide by i omega), 2 differentiate (multiply by i omega), other values
// leave the motion unchanged.
inline constexpr int integrate = 1;
inline constexpr int differentiate = 2;

// Removes the mean (entry 0), weights entries 1..nom-1 by the band and integrates or
// differentiates them; refused when a value or a horizontal modulus is not finite. Checks the
// spectra on the grid; any band and nyes are taken (a NaN corner gives values refused as not
// finite).
result<void> process(spectra& s, const grid& g, const pass_band& band, int nyes,
                     const std::string& input = "record");

// Surface time histories of H1, H2, V1, nf samples each (the record's step; the record's times
// then continued over the padding).
struct histories {
    std::vector<float> xr1, yr1, zr1;
};
// Completes the negative frequencies as complex conjugates, transforms back and divides by the
// duration. Consumes the spectra. Refused when a value (or, for H1 and H2, a value less the
// first one) is not finite. Checks the spectra on the grid, and its dur positive and finite.
result<histories> inverse_spectra(spectra s, const grid& g, const std::string& input = "record");

// Largest and smallest value of a history, starting from 0 (strict comparisons), so a record of
// only positive values has minimum 0. Takes any values.
struct extremes {
    float min = 0.0f;
    float max = 0.0f;
};
extremes find_extremes(std::span<const float> x);

// The result files of the dialogue, each written to a temporary file beside `path` and renamed
// over it when complete (an error leaves no temporary file and an earlier file as it was).
// Errors: the fatal report of the text layer naming `path`.
// Amp-Factors.csv layout: frequency (Hz), moduli of both columns of both tables. Checks the
// grid and the tables' rows.
result<void> write_factors(const std::string& path, const tables& t, const grid& g);
// amp1.csv layout: frequency (Hz), moduli of the processed H1 and H2 spectra. Checks the spectra
// on the grid; of the record only the titles are used.
result<void> write_spectra(const std::string& path, const spectra& s, const grid& g,
                           const record& rec);
// wave1.csv layout: time (s), H1 and H2 less their first value, one line per sample; the times
// are the record's, continued by its dt past them. Checks: the three histories of one length.
result<void> write_histories(const std::string& path, const histories& h, const record& rec);

} // namespace sitewave
