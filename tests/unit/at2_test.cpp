// The AT2 reader's samples: the forms of a number it takes, and what it refuses.

#include "sitewave/batch.hpp"
#include "support/scratch_dir.hpp"

#include <bit>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace {

class at2 : public scratch_dir {
  protected:
    // A component of one sample written as `sample`, read as all three of a triple.
    sitewave::result<sitewave::record> read_one(const std::string& sample) {
        const std::string path = write(
            "one.AT2", "PEER NGA STRONG MOTION DATABASE RECORD\nA test, 1/1/2000, UP\n"
                       "ACCELERATION TIME SERIES IN UNITS OF G\nNPTS=      1, DT=   .0100 SEC\n" +
                           sample + "\n");
        std::string note;
        return sitewave::read_at2({path, path, path}, note);
    }
};

// Samples below the float range round to a subnormal or to zero, keeping their sign; an exponent
// may be written with E, e, D or d.
TEST_F(at2, samples_below_the_float_range_and_exponent_letters) {
    const struct {
        const char* text;
        float want;
    } cases[] = {
        {"5.6E-46", 0.0f},
        {"-5.6E-46", -0.0f},
        {"7E-46", 0.0f},
        {"7.1E-46", 0x1p-149f}, // above half the least subnormal: rounds up to it
        {"1.4E-45", 0x1p-149f},
        {"1E-40", 0x1.16c2p-133f},
        {"1e-400", 0.0f},
        {"-1E-99999999999999999999", -0.0f},
        {"0.00001e-41", 0.0f},
        {"123456e-52", 0.0f},
        {"+.0000000000000000000000000000000000000000000001", 0.0f},
        {"1.5d-03", 1.5e-3f},
        {"1.5D-03", 1.5e-3f},
        {"-.8338791d-03", -.8338791e-3f},
        {"2.5d0", 2.5f},
        {"3.4028235e38", 0x1.fffffep127f},
        {"0", 0.0f},
    };
    for (const auto& c : cases) {
        const auto r = read_one(c.text);
        ASSERT_TRUE(r) << c.text << ": " << r.err().report();
        ASSERT_EQ(r->xr1.size(), 1u) << c.text;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(r->xr1[0]), std::bit_cast<std::uint32_t>(c.want))
            << c.text << " read as " << r->xr1[0];
    }
}

// Beyond the largest float, Infinity, NaN and text that is not wholly a number are refused,
// naming the file, the line and the text.
TEST_F(at2, samples_refused) {
    for (const char* text : {"3.5e38", "-3.5E38", "1e400", "1d39", "12345678901234567890e30",
                             "1000000000000000000000000000000000000000", "inf", "-Infinity", "nan",
                             "1.5x", "1e", "--1", "+", "1.5e-03d", "0x1p-3"}) {
        const auto r = read_one(text);
        ASSERT_FALSE(r) << text << " read as " << r->xr1[0];
        EXPECT_EQ(r.err().what, sitewave::error::kind::refused) << text;
        EXPECT_NE(r.err().message.find("one.AT2: line 5: \"" + std::string(text) +
                                       "\" is not a finite number"),
                  std::string::npos)
            << r.err().message;
    }
}

} // namespace
