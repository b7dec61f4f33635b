// Transfer functions of a horizontally layered profile over an elastic half-space.
#pragma once

#include "layered/profile.hpp"

#include <memory>

namespace sitewave::layered {

// Damping rule: Q = max(q0 * f^n, q0) with the power in double rounded to float, and the
// complex velocity V* = (V, V * (0.5/Q)), each step a float operation.
cplx damped_velocity(float v, float q0, float n, float freq);

// SH waves: fills rows 0..nom-1 of both columns of `amp` (each column at least nom long) at the
// angular frequencies fom + i*dom (rad/s) for a wave arriving from the half-space at `theta`
// radians from the vertical. With fom == 0 row 0 is set to (2,0) and (1,0) without evaluation.
// Rows from nom on are left untouched. Validates nothing: the caller guarantees a sound table.
void sbshml(float fom, float dom, int nom, const layer_table& lt, float theta, amp_table& amp);

// Vertical motion by the effective-velocity model Vs*sqrt(3/(1 - Vs^2/Vp^2)): the same
// recursion and the same output rows as sbshml, with that velocity in place of Vs.
void sbudml(float fom, float dom, int nom, const layer_table& lt, float theta, amp_table& amp);

// Both tables at once: `sh` as sbshml fills it and `ud` as sbudml does, bit for bit, with the
// damped S-wave velocity of each row formed once for the two. The rows are shared among
// `row_threads` threads (the caller's one of them); every thread started has ended when the call
// returns, and if a thread cannot be started the others do its rows.
void transfer_tables(float fom, float dom, int nom, const layer_table& lt, float theta,
                     amp_table& sh, amp_table& ud, int row_threads = 1);

// How transfer_tables shares out its work; every setting gives the same bits.
struct table_options {
    int row_threads = 1;           // threads the rows are shared among, the caller's included
    bool baseline_kernels = false; // the kernels of every x86-64 processor even where the AVX2
                                   // ones could run (for comparing the two)
};
void transfer_tables(float fom, float dom, int nom, const layer_table& lt, float theta,
                     amp_table& sh, amp_table& ud, const table_options& options);

struct row_work;

// The rows of both tables, as transfer_tables fills them, shared between two threads: each calls
// run() with its own index (0 or 1) and takes rows until none is left; stop() has them take no
// more. Nothing is computed until a thread runs. The layer table and the two tables must outlive
// the object.
class shared_tables {
  public:
    shared_tables(float fom, float dom, int nom, const layer_table& lt, float theta, amp_table& sh,
                  amp_table& ud);
    shared_tables(const shared_tables&) = delete;
    shared_tables& operator=(const shared_tables&) = delete;
    ~shared_tables();
    void run(int thread);
    void stop();

  private:
    std::unique_ptr<row_work> work_;
};

} // namespace sitewave::layered
