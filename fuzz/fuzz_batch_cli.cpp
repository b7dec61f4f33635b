// The batch tool's command line and its @LIST files: arguments are the lines of the first part,
// "@LIST" stands for a list file holding the second part.
#include "batch_cli.hpp"
#include "support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto p = parts(data, size, 2);
    mem_file list(p[1]);
    std::vector<std::string> args{"sitewave-batch"};
    std::size_t start = 0;
    while (start <= p[0].size() && args.size() < 40) {
        const auto nl = p[0].find('\n', start);
        std::string a =
            p[0].substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        if (a == "@LIST") {
            a = "@" + list.path();
        }
        args.push_back(a);
        if (nl == std::string::npos) {
            break;
        }
        start = nl + 1;
    }
    std::vector<const char*> argv;
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    const command_line cl = parse_command_line(static_cast<int>(argv.size()), argv.data());
    if (cl.options) {
        FUZZ_CHECK(cl.status == 0);
        for (const auto& r : cl.options->records) {
            FUZZ_CHECK(!r.is_at2() || r.file == r.at2[0]);
        }
    } else {
        FUZZ_CHECK(cl.status == 0 || cl.status == 2);
    }
    return 0;
}
