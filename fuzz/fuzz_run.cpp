// A whole dialogue on a fuzzed record, profile and answers (three parts of the data): it ends
// normally with finite results, or with a refusal or the fatal report; never a crash, never a
// temporary file left, never NaN or Infinity in a result of a normal end.
#include "sitewave/dialogue.hpp"
#include "support.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

void put(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

bool finite_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    const std::string s{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return s.find("NaN") == std::string::npos && s.find("Inf") == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 16384) {
        return 0;
    }
    const auto p = parts(data, size, 3);
    const fs::path& dir = work_dir();
    for (const auto& e : fs::directory_iterator(dir)) {
        fs::remove_all(e.path());
    }
    put(dir / "r.csv", p[0]);
    put(dir / "soil_dat.csv", p[1]);
    const std::string answers = "r.csv\n" + p[2];
    std::FILE* in = ::fmemopen(const_cast<char*>(answers.data()), answers.size(), "rb");
    std::FILE* out = std::fopen("/dev/null", "wb");
    const auto r = sitewave::run_dialogue({in, out, dir.string()});
    std::fclose(in);
    std::fclose(out);
    for (const auto& e : fs::directory_iterator(dir)) {
        FUZZ_CHECK(e.path().filename().string()[0] != '.'); // no temporary file left
    }
    if (r) {
        for (const char* f : {"Amp-Factors.csv", "amp1.csv", "wave1.csv"}) {
            FUZZ_CHECK(fs::exists(dir / f));
            FUZZ_CHECK(finite_text(dir / f));
        }
    } else {
        FUZZ_CHECK(r.err().status() == 1 || r.err().status() == 2);
    }
    return 0;
}
