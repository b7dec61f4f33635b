// The command line of sitewave-batch: options, records and @LIST files into batch options.
#pragma once

#include "sitewave/batch.hpp"

#include <optional>
#include <string>

struct command_line {
    std::optional<sitewave::batch_options> options; // none: stop with `status`
    int status = 0;                                 // 0 after --help/--version, 2 on a usage error
    std::string out, err;                           // what to print on standard output and error
};

// Parses the arguments (CLI11) and reads the @LIST files. Checks the form of every option here;
// the profiles and the output folder are checked by sitewave::prepare_batch.
command_line parse_command_line(int argc, const char* const* argv);
