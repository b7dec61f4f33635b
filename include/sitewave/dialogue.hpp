// The console dialogue: the whole run from the first console line to the last.
#pragma once

#include "sitewave/error.hpp"

#include <cstdio>
#include <string>

namespace sitewave {

// Where a dialogue reads and writes: the console streams, and the folder in which the soil file
// is read and the result files written (empty: the working directory). The record file is
// opened by the name typed, relative to the same folder.
struct dialogue_io {
    std::FILE* in = stdin;
    std::FILE* out = stdout;
    std::string dir;
    // 1: the plain sequence, every step in its place on the calling thread; 0: the soil file,
    // the tables and the first result files are worked on ahead on a helper thread where the
    // process has more than one processor. Both give the same bytes.
    int threads = 0;
};

// Runs the dialogue to its end (in and out must not be null, threads 0 or 1). On success standard
// output has been flushed; an error is returned for the caller to report (error::report() on
// standard error, error::status() as the exit status), with the console output written so far
// already flushed. An error of kind `argument` when io.in or io.out is null (nothing is read or
// written then).
result<void> run_dialogue(const dialogue_io& io);

} // namespace sitewave
