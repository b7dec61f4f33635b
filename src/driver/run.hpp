// The run from the first console line to the last: record, transform, soil profile,
// amplification tables, processing, time histories.
#pragma once

namespace sitewave::driver {

// Runs the whole dialogue on standard input/output in the working directory and ends the
// process: status 0 at the normal end, 1 when the input is refused, 2 after a fatal report.
[[noreturn]] void run();

} // namespace sitewave::driver
