// Runs in memory (sitewave/run.hpp): the same bits on one thread and on two, the whole call
// refused for inputs the batch tool refuses, a failed run its error, a stopped suite's runs
// "interrupted". (The values against sitewave-batch's files: tests/python/test_against_batch.py.)
#include "sitewave/sitewave.hpp"

#include <atomic>
#include <bit>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

namespace sw = sitewave;

std::vector<sw::memory_profile> example_profiles() {
    std::vector<sw::memory_profile> out;
    auto p = sw::read_profile(SITEWAVE_EXAMPLES "/soil_dat.csv");
    EXPECT_TRUE(p.ok());
    out.push_back({"soil_dat.csv", *p, std::nullopt});
    auto s = sw::site::read_site(SITEWAVE_EXAMPLES "/sites/soft_clay.toml");
    EXPECT_TRUE(s.ok());
    out.push_back({"soft_clay.toml", {}, *s});
    return out;
}

std::vector<sw::memory_record> example_records() {
    auto r = sw::read_record(SITEWAVE_EXAMPLES "/elcentro.csv");
    EXPECT_TRUE(r.ok());
    sw::record half = *r;
    for (auto* c : {&half.xr1, &half.yr1, &half.zr1}) {
        for (auto& v : *c) {
            v *= 0.5f;
        }
    }
    return {{"elcentro.csv", *r}, {"half.csv", half}};
}

bool same_floats(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::bit_cast<std::uint32_t>(a[i]) != std::bit_cast<std::uint32_t>(b[i])) {
            return false;
        }
    }
    return true;
}

TEST(memory_run, two_threads_give_the_bits_of_one) {
    sw::batch_options o;
    o.input = sw::input_motion::outcrop;
    o.spectra = true;
    o.period_list = {0.1, 1.0};
    const auto profiles = example_profiles();
    const auto records = example_records();
    std::vector<std::vector<sw::memory_run>> got;
    for (const int jobs : {1, 2}) {
        o.jobs = jobs;
        int calls = 0;
        auto r = sw::run_in_memory(o, profiles, records, [&calls](int, int n) {
            ++calls;
            EXPECT_EQ(n, 4);
        });
        ASSERT_TRUE(r.ok()) << r.err().message;
        ASSERT_EQ(r->size(), 4u);
        EXPECT_EQ(calls, 4);
        got.emplace_back();
        for (auto& x : *r) {
            ASSERT_TRUE(x.ok()) << x.err().message;
            got.back().push_back(*x);
        }
    }
    for (std::size_t k = 0; k < 4; ++k) {
        for (std::size_t c = 0; c < 3; ++c) {
            EXPECT_TRUE(same_floats(got[0][k].surface[c], got[1][k].surface[c])) << k;
            EXPECT_TRUE(same_floats(got[0][k].factor[c], got[1][k].factor[c])) << k;
        }
        EXPECT_EQ(got[0][k].spectra[0].surface[0], got[1][k].spectra[0].surface[0]);
    }
    // Entry p * records + r; the record at half scale gives half the linear surface motion
    // within a rounding (the run is linear).
    const auto& full = got[0][0].surface[0];
    const auto& half = got[0][1].surface[0];
    ASSERT_EQ(full.size(), half.size());
    for (std::size_t i = 0; i < full.size(); ++i) {
        EXPECT_NEAR(half[i], 0.5f * full[i], 1e-6f + 1e-5f * std::fabs(full[i])) << i;
    }
    EXPECT_EQ(got[0][2].periods, (std::vector<double>{0.0, 0.1, 1.0}));
}

TEST(memory_run, the_whole_call_is_refused_as_the_batch_refuses) {
    const auto profiles = example_profiles();
    const auto records = example_records();
    sw::batch_options o;
    o.input = sw::input_motion::outcrop;
    auto short_record = records;
    short_record[1].rec.zr1.pop_back();
    auto no_layer = profiles;
    no_layer[1].site->layers.clear();
    sw::batch_options eql = o;
    eql.analysis = sw::batch_options::method::eql;
    sw::batch_options jobs = o;
    jobs.jobs = 0;
    sw::batch_options from_profile;
    const struct {
        const char* what;
        const sw::batch_options& o;
        const std::vector<sw::memory_profile>& p;
        const std::vector<sw::memory_record>& r;
        const char* message;
    } cases[] = {
        {"no profile", o, {}, records, "profile"},
        {"no record", o, profiles, {}, "record"},
        {"components of different lengths", o, profiles, short_record, "half.csv"},
        {"a site without layers", o, no_layer, records, "soft_clay.toml"},
        {"eql on a soil profile", eql, profiles, records, "not a site"},
        {"jobs", jobs, profiles, records, "--jobs"},
        {"a site without an input kind", from_profile, profiles, records, "input"},
    };
    for (const auto& c : cases) {
        const auto r = sw::run_in_memory(c.o, c.p, c.r);
        ASSERT_FALSE(r.ok()) << c.what;
        EXPECT_EQ(r.err().what, sw::error::kind::usage) << c.what;
        EXPECT_NE(r.err().message.find(c.message), std::string::npos)
            << c.what << ": " << r.err().message;
    }
}

TEST(memory_run, a_failed_run_is_its_error_and_a_stopped_suite_interrupted) {
    auto profiles = example_profiles();
    auto records = example_records();
    sw::record& one = records[1].rec;
    one.time.resize(1);
    one.xr1.resize(1);
    one.yr1.resize(1);
    one.zr1.resize(1);
    one.nt = 1;
    sw::batch_options o;
    o.input = sw::input_motion::outcrop;
    auto r = sw::run_in_memory(o, profiles, records);
    ASSERT_TRUE(r.ok()) << r.err().message;
    EXPECT_TRUE((*r)[0].ok());
    ASSERT_FALSE((*r)[1].ok());
    EXPECT_NE((*r)[1].err().message.find("half.csv"), std::string::npos) << (*r)[1].err().message;
    EXPECT_TRUE((*r)[2].ok());

    std::atomic<bool> stop{true};
    o.stop = &stop;
    r = sw::run_in_memory(o, profiles, records);
    ASSERT_TRUE(r.ok());
    for (const auto& x : *r) {
        ASSERT_FALSE(x.ok());
        EXPECT_EQ(x.err().message, "interrupted");
    }
}

TEST(memory_run, response_spectrum_checks_its_arguments) {
    const std::vector<float> a(64, 0.25f), b(63, 0.0f);
    EXPECT_FALSE(sw::response_spectrum(a, {}, 0.0, {0.1}, 0.05, false).ok());
    EXPECT_FALSE(sw::response_spectrum(a, {}, 0.01, {0.1}, 1.0, false).ok());
    EXPECT_FALSE(sw::response_spectrum(a, b, 0.01, {0.1}, 0.05, true).ok());
    EXPECT_FALSE(sw::log_periods(1.0, 0.5, 3).ok());
    const auto r = sw::response_spectrum(a, {}, 0.01, {0.0}, 0.05, false);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->h1, std::vector<double>{0.25}); // the rigid oscillator: the peak
}

} // namespace
