#include "steps/record.hpp"
#include "support/scratch_dir.hpp"
#include "textio/fatal.hpp"
#include "textio/fields.hpp"
#include "textio/format_write.hpp"
#include "textio/list_read.hpp"
#include "textio/list_write.hpp"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace sitewave::textio;

namespace {

class scratch : public scratch_dir {
  protected:
    io_state st;
    // The report of the error the statements raise (empty when they raise none).
    template <typename F> std::string report_of(F&& statements) {
        const auto r = capture(statements, &st);
        return r ? std::string() : r.err().report();
    }
    // The text a statement writes to a result file.
    template <typename F> std::string written(F&& statements) {
        const auto path = (dir_ / "out.csv").string();
        {
            output_unit out(9, path, st);
            statements(out);
            out.close();
        }
        return read_file(path);
    }
};

// Concatenation without the operator+ idiom that trips a false -Wrestrict in GCC 12.
std::string cat(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (auto p : parts) {
        out.append(p);
    }
    return out;
}

struct field_case {
    const char* kind;
    float value;
    int w, d;
    const char* text;
};

// The worked values of the edit descriptors the program uses.
TEST(fields, worked_values) {
    const field_case cases[] = {
        {"E", 1.234f, 12, 4, "  0.1234E+01"},
        {"E", -1.234f, 12, 4, " -0.1234E+01"},
        {"E", 0.0f, 12, 4, "  0.0000E+00"},
        {"E", 0.99996f, 12, 4, "  0.1000E+01"},
        {"E", 123456.7f, 12, 4, "  0.1235E+06"},
        {"E", -0.00012345f, 12, 4, " -0.1234E-03"},
        {"F", 12.5f, 8, 4, " 12.5000"},
        {"F", 0.0f, 8, 4, "  0.0000"},
        {"F", -0.5f, 8, 4, " -0.5000"},
        {"F", 1234.5678f, 8, 4, "********"},
        {"F", 10.0f, 10, 5, "  10.00000"},
        {"F", 1.8f, 9, 3, "    1.800"},
        {"F", 250.0f, 9, 2, "   250.00"},
        {"F", 0.0f, 7, 3, "  0.000"},
        {"F", 12.0f, 12, 3, "      12.000"},
        {"F", 0.5f, 5, 4, ".5000"},
        {"F", -0.00001f, 8, 4, "  0.0000"},
        {"F", 9999999.0f, 9, 2, "*********"},
        {"E", 1.234f, 10, 4, "0.1234E+01"},
        {"E", 1.234f, 9, 4, ".1234E+01"},
        {"E", 1.234f, 8, 4, "********"},
        {"E", -1.234f, 10, 4, "-.1234E+01"},
        {"E", 3.4028235e38f, 12, 4, "  0.3403E+39"},
    };
    for (const auto& c : cases) {
        const std::string got =
            c.kind[0] == 'E' ? field_e(c.value, c.w, c.d) : field_f(c.value, c.w, c.d);
        EXPECT_EQ(got, c.text) << c.kind << c.w << "." << c.d << " of " << c.value;
    }
    EXPECT_EQ(field_i(3, 5), "    3");
    EXPECT_EQ(field_i(12, 6), "    12");
    EXPECT_EQ(field_i(123456, 5), "*****");
    EXPECT_EQ(field_i(-12345, 6), "-12345");
    EXPECT_EQ(field_i(-123456, 6), "******");
}

TEST(fields, non_finite_values_in_fields) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(field_e(inf, 12, 4), "    Infinity");
    EXPECT_EQ(field_e(-inf, 12, 4), "   -Infinity");
    EXPECT_EQ(field_f(inf, 7, 3), "    Inf");
    EXPECT_EQ(field_f(-inf, 8, 4), "    -Inf");
    EXPECT_EQ(field_f(inf, 2, 1), "**");
    EXPECT_EQ(field_f(std::numeric_limits<float>::quiet_NaN(), 8, 4), "     NaN");
}

TEST(fields, free_format_numbers) {
    const std::pair<float, const char*> reals[] = {
        {2.0f, "  2."},
        {-1.5f, " -1.5"},
        {0.0f, "  0."},
        {-0.0f, "  0."},
        {1.0e10f, "  1.E+10"},
        {0.1f, "  0.100000001"},
        {40.96f, "  40.9599991"},
        {0.01f, "  0.00999999978"},
        {5.12f, "  5.11999989"},
        {300.0f, "  300."},
        {1.0e8f, "  100000000."},
        {1.0e9f, "  1.E+09"},
        {1.5e-5f, "  1.49999996E-05"},
        {1.0e-4f, "  9.99999975E-05"},
        {0.001f, "  0.00100000005"},
        {-3.36475301f, " -3.36475301"},
        {std::numeric_limits<float>::infinity(), "  Infinity"},
        {-std::numeric_limits<float>::infinity(), " -Infinity"},
        {std::numeric_limits<float>::quiet_NaN(), "  NaN"},
    };
    for (const auto& [v, text] : reals) {
        EXPECT_EQ(list_real(v), text) << std::hexfloat << v;
    }
    EXPECT_EQ(list_int(300), " 300");
    EXPECT_EQ(list_int(0), " 0");
    EXPECT_EQ(list_int(-7), " -7");
}

TEST_F(scratch, whole_formatted_statements) {
    const format prompt("(/,1X,'Enter Wave Data (H1,H2,V1; e.g., wave.csv)')");
    EXPECT_EQ(written([&](output_unit& o) { fmt_write(o, prompt); }),
              "\n Enter Wave Data (H1,H2,V1; e.g., wave.csv)\n");

    const format heading("(/,'   Total Number of Layers =',I5,/,'   Layer,Density,Vp(real),    "
                         "Qp  ,  Fp  ,Vs(real),    Qs  ,  Fs  ,Thickness(m)')");
    EXPECT_EQ(written([&](output_unit& o) { fmt_write(o, heading) << 3; }),
              "\n   Total Number of Layers =    3\n   Layer,Density,Vp(real),    Qp  ,  Fp  "
              ",Vs(real),    Qs  ,  Fs  ,Thickness(m)\n");

    // Literals after the last value used still appear: the trailing comma.
    const format amp("(F8.4,6(',',E12.4))");
    EXPECT_EQ(
        written([&](output_unit& o) { fmt_write(o, amp) << 0.0f << 2.0f << 1.0f << 2.0f << 1.0f; }),
        "  0.0000,  0.2000E+01,  0.1000E+01,  0.2000E+01,  0.1000E+01,\n");
    EXPECT_EQ(written([&](output_unit& o) { fmt_write(o, amp) << 0.1953f << 1.0f << 2.0f; }),
              "  0.1953,  0.1000E+01,  0.2000E+01,\n");
    const format wave("(F10.5,3(',',E12.4))");
    EXPECT_EQ(written([&](output_unit& o) { fmt_write(o, wave) << 10.0f << 0.0f << -1.234f; }),
              "  10.00000,  0.0000E+00, -0.1234E+01,\n");
    const format row("(I6,F9.3,2(F9.2,F9.3,F7.3),F12.3)");
    EXPECT_EQ(written([&](output_unit& o) {
                  fmt_write(o, row)
                      << 1 << 1.8f << 500.0f << 20.0f << 0.5f << 200.0f << 10.0f << 0.5f << 10.0f;
              }),
              "     1    1.800   500.00   20.000  0.500   200.00   10.000  0.500      10.000\n");
}

// Lines of reals laid out together are the bytes and statements fmt_write makes, whatever the
// format: literals and blanks around the values, a slash or an I descriptor in the way, more
// values than the format takes, values the general path takes, and more lines than are laid
// out at once.
TEST_F(scratch, lines_of_reals_as_fmt_write_writes_them) {
    struct line_case {
        const char* format;
        std::size_t per_line;
        bool specials; // NaN, infinities, values too wide (no I descriptor to take them)
    };
    const line_case cases[] = {
        {"(F8.4,6(',',E12.4))", 5, true},       {"(F8.4,6(',',E12.4))", 3, true},
        {"(F10.5,3(',',E12.4))", 3, true},      {"(1X,F5.4,2X,E9.4,'ab',3X)", 2, true},
        {"(1X,F5.4,2X,E9.4,'ab',3X)", 1, true}, {"(F6.1,2X,/,E12.4)", 2, true},
        {"(F6.1,'x',/,E12.4)", 1, true},        {"(F8.4,',',E12.4)", 3, true},
        {"(E8.1,F7.3,E15.8,F12.3)", 4, true},   {"('x',F9.0,E12.0)", 2, true},
        {"(F8.4,I5,E12.4)", 1, true},           {"(F8.4,I5,E12.4)", 2, false},
        {"(F8.4,600(',',E12.4))", 520, true},
    };
    const float specials[] = {0.0f,
                              -0.0f,
                              0.5f,
                              -0.00001f,
                              99999.9f,
                              1.0e30f,
                              -3.0e-30f,
                              0.99996f,
                              1.00005f,
                              0.12345f,
                              std::numeric_limits<float>::quiet_NaN(),
                              -INFINITY,
                              12345.678f};
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> plain(-40.0f, 40.0f);
    for (const line_case& c : cases) {
        const format f(c.format);
        for (const std::size_t lines : {std::size_t{1}, std::size_t{103}, std::size_t{400}}) {
            std::vector<float> v(lines * c.per_line);
            for (std::size_t i = 0; i < v.size(); ++i) {
                v[i] =
                    c.specials && i % 3 == 0 ? specials[i / 3 % std::size(specials)] : plain(rng);
            }
            const unsigned long before = st.statements;
            const std::string want = written([&](output_unit& o) {
                for (std::size_t at = 0; at < v.size(); at += c.per_line) {
                    fmt_write w(o, f);
                    for (std::size_t k = at; k < at + c.per_line; ++k) {
                        w << v[k];
                    }
                }
            });
            const unsigned long by_statements = st.statements - before;
            EXPECT_EQ(written([&](output_unit& o) { write_reals(o, f, v, c.per_line); }), want)
                << c.format << " " << c.per_line << " values a line, " << lines << " lines";
            EXPECT_EQ(st.statements - before - by_statements, by_statements) << c.format;
            EXPECT_EQ(st.format, c.format);
        }
    }
}

TEST_F(scratch, free_format_statements) {
    EXPECT_EQ(written([](output_unit& o) {
                  list_write(o) << "frequency(Hz),"
                                << "H1        "
                                << ","
                                << "H2        ";
              }),
              " frequency(Hz),H1        ,H2        \n");
    EXPECT_EQ(written([](output_unit& o) {
                  list_write(o) << " DUR,DOM,NOM,EOM=" << 5.12f << 1.22718465f << 257
                                << 315.386444f;
              }),
              "  DUR,DOM,NOM,EOM=  5.11999989  1.22718465 257  315.386444\n");
    EXPECT_EQ(written([](output_unit& o) { empty_line(o); }), "\n");
    // An item that would reach column 80 starts a new record; a string gets a blank in front
    // only when it opens a record; an integer counts its digits alone.
    EXPECT_EQ(written([](output_unit& o) {
                  list_write(o) << std::string(60, 'a') << 1.5f << 2.5f << "xy";
              }),
              cat({" ", std::string(60, 'a'), "  1.5  2.5xy\n"}));
    EXPECT_EQ(
        written([](output_unit& o) { list_write(o) << std::string(75, 'a') << 1.5f << "xy"; }),
        cat({" ", std::string(75, 'a'), "\n  1.5xy\n"}));
    EXPECT_EQ(written([](output_unit& o) { list_write(o) << std::string(70, 'b') << 12345678; }),
              cat({" ", std::string(70, 'b'), " 12345678\n"}));
    EXPECT_EQ(written([](output_unit& o) { list_write(o) << std::string(70, 'b') << 123456789; }),
              cat({" ", std::string(70, 'b'), "\n 123456789\n"}));
    EXPECT_EQ(written([](output_unit& o) { list_write(o) << 1 << std::string(85, 'c') << 2; }),
              cat({" 1\n ", std::string(85, 'c'), "\n 2\n"}));
}

// Values read by one free-format statement from the start of a file.
struct read_case {
    const char* input;
    int n; // number of real items
    std::vector<float> expected;
    std::vector<float> second; // first two values of the next statement, if any
};

TEST_F(scratch, free_format_reads) {
    const read_case cases[] = {
        {"1.0,2.0\n3.0,4.0,9\n7,8\n", 4, {1, 2, 3, 4}, {7, 8}},
        {"1 2 3 4 5\n6 7\n", 4, {1, 2, 3, 4}, {6, 7}},
        {"1,,3,4\n", 4, {1, -9, 3, 4}, {}},
        {"1,2/\n5 6\n", 4, {1, 2, -9, -9}, {5, 6}},
        {"2*5.0,1.0\n", 3, {5, 5, 1}, {}},
        {"3*,7\n", 4, {-9, -9, -9, 7}, {}},
        {"1.5d2 1.5+3 1.5E-1 -2.5e+1\n", 4, {150, 1500, 0.15f, -25}, {}},
        {"\n\n  1\t2 \r\n\n3\r\n4\n", 4, {1, 2, 3, 4}, {}},
        {"1,2,\n,4\n", 4, {1, 2, -9, 4}, {}},
        {"1,2\n,3,4\n", 4, {1, 2, 3, 4}, {}},
        {"+,.,-/\n", 3, {0, 0, 0}, {}},
        {"1e-50 -1e-50 1e-45 .5\n", 4, {0, -0.0f, 1.4e-45f, 0.5f}, {}},
        {"1,2,3,4", 4, {1, 2, 3, 4}, {}},
        {"1,2,3,4 \r", 4, {1, 2, 3, 4}, {}},
        {"0.1 16777217 3.4028235e38 1.00000006\n",
         4,
         {0.1f, 16777216.0f, 3.4028235e38f, 1.00000012f},
         {}},
    };
    for (const auto& c : cases) {
        input_unit in(11, write("r.csv", c.input), st);
        std::vector<float> got(static_cast<std::size_t>(c.n), -9.0f);
        {
            list_read r(in);
            for (auto& v : got) {
                ASSERT_TRUE(r.item(v));
            }
        }
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(std::bit_cast<std::uint32_t>(got[i]),
                      std::bit_cast<std::uint32_t>(c.expected[i]))
                << "input «" << c.input << "» item " << i << ": " << std::hexfloat << got[i];
        }
        if (!c.second.empty()) {
            float a = 0, b = 0;
            list_read r(in);
            r.item(a);
            r.item(b);
            EXPECT_EQ(a, c.second[0]) << c.input;
            EXPECT_EQ(b, c.second[1]) << c.input;
        }
    }
}

// Reals read as float and as double, each rounded once from the decimal text, on random numbers
// of every length and on halfway cases (odd integers above 2^24 lie halfway between two floats).
TEST_F(scratch, reals_rounded_once_like_from_chars) {
    std::mt19937_64 gen(7);
    std::vector<std::string> texts = {"16777217", "-33554434.0", "1.6777219e7", "0.000", "-0"};
    for (int i = 0; i < 20000; ++i) {
        const std::string number = std::to_string(gen() >> (gen() % 64));
        const auto point = gen() % (number.size() + 1);
        const std::string digits = cat({number.substr(0, point), ".", number.substr(point)});
        const int e = static_cast<int>(gen() % 49) - 30; // within the floats' range
        const std::string exponent = gen() % 3 ? cat({"e", std::to_string(e)}) : "";
        texts.push_back(cat({gen() % 2 ? "-" : "", digits, exponent}));
    }
    std::string file;
    for (const auto& t : texts) {
        file += t;
        file += '\n';
    }
    input_unit in(11, write("reals.csv", file), st);
    list_read r(in);
    for (const auto& t : texts) {
        float f = 0;
        double d = 0;
        ASSERT_TRUE(r.item(f, d));
        float want_f = 0;
        double want_d = 0;
        std::from_chars(t.data(), t.data() + t.size(), want_f);
        std::from_chars(t.data(), t.data() + t.size(), want_d);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(f), std::bit_cast<std::uint32_t>(want_f)) << t;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(d), std::bit_cast<std::uint64_t>(want_d)) << t;
    }
}

TEST_F(scratch, strings_integers_and_skips) {
    input_unit in(11,
                  write("h.csv",
                        "Time,H1,H2,V1\n'A,B' \"it\"\"s\" 'ab'cd\nTime (s) longer_than_ten\n"
                        "skipped line\n 42 , -7\n'open\nquote' x\n"),
                  st);
    std::string h[4] = {std::string(10, '#'), std::string(10, '#'), std::string(10, '#'),
                        std::string(10, '#')};
    {
        list_read r(in);
        for (auto& s : h) {
            r.item(s);
        }
    }
    EXPECT_EQ(h[0], "Time      ");
    EXPECT_EQ(h[3], "V1        ");
    {
        list_read r(in);
        for (auto& s : h) {
            r.item(s);
        }
    }
    EXPECT_EQ(h[0], "A,B       ");
    EXPECT_EQ(h[1], "it\"s      ");
    EXPECT_EQ(h[2], "ab        ");
    EXPECT_EQ(h[3], "cd        ");
    {
        list_read r(in);
        for (int k = 0; k < 3; ++k) {
            r.item(h[k]);
        }
    }
    EXPECT_EQ(h[0], "Time      ");
    EXPECT_EQ(h[1], "(s)       ");
    EXPECT_EQ(h[2], "longer_tha");
    { list_read r(in); } // an empty statement skips one record
    int a = 0, b = 0;
    {
        list_read r(in);
        r.item(a);
        r.item(b);
    }
    EXPECT_EQ(a, 42);
    EXPECT_EQ(b, -7);
    {
        list_read r(in);
        r.item(h[0]);
    }
    EXPECT_EQ(h[0], "openquote ");
}

TEST_F(scratch, end_of_file_branch_keeps_values_read) {
    input_unit in(11, write("r.csv", "1,2,3,4\n5,6"), st);
    float v[4] = {};
    {
        list_read r(in, true);
        for (auto& x : v) {
            EXPECT_TRUE(r.item(x));
        }
    }
    std::fill(std::begin(v), std::end(v), 0.0f);
    {
        list_read r(in, true);
        EXPECT_TRUE(r.item(v[0]));
        EXPECT_TRUE(r.item(v[1]));
        EXPECT_FALSE(r.item(v[2]));
        EXPECT_FALSE(r.item(v[3]));
    }
    EXPECT_EQ(v[0], 5.0f);
    EXPECT_EQ(v[1], 6.0f);
    EXPECT_EQ(v[2], 0.0f);
}

// Malformed input ends the run with the four-line report and status 2.
struct bad_case {
    const char* input;
    bool integer;
    const char* report;
};

TEST_F(scratch, malformed_values_are_fatal) {
    const bad_case cases[] = {
        {"12.0\n", true, "invalid integer: read unexpected character"},
        {"1e5\n", true, "invalid integer: read unexpected character"},
        {"abc\n", true, "invalid number: incomprehensible list input"},
        {"+ 1\n", true, "invalid number: incomprehensible list input"},
        {"2147483648\n", true, "number out of range: incomprehensible list input"},
        {"1.5e\n", false, "exponent field: incomprehensible list input"},
        {"1.5+\n", false, "exponent field: incomprehensible list input"},
        {"1e123456789\n", false, "exponent field: incomprehensible list input"},
        {"12..0\n", false, "invalid number: incomprehensible list input"},
        {"--1\n", false, "invalid number: incomprehensible list input"},
        {"1.5x\n", false, "invalid number: incomprehensible list input"},
        {"abc,\n", false, "invalid number: incomprehensible list input"},
        {"1e39\n", false, "number out of range: incomprehensible list input"},
        {"-0*1\n", false, "bad repetition count: incomprehensible list input"},
        {"-2*1\n", false, "bad repetition count: incomprehensible list input"},
        {"*1\n", false, "bad repetition count: incomprehensible list input"},
        {"3000000000*1\n", false, "bad repetition count: incomprehensible list input"},
        {"\n\n", false, "list in: end of file"},
    };
    for (const auto& c : cases) {
        const std::string path = write("bad.csv", c.input);
        const std::string expected = std::string(c.report) + "\napparent state: unit 4 named " +
                                     path +
                                     "\nlast format: list io\nlately reading sequential "
                                     "formatted external IO\n";
        EXPECT_EQ(report_of([&] {
                      input_unit in(4, path, st);
                      list_read r(in);
                      int i = 0;
                      float x = 0;
                      if (c.integer) {
                          r.item(i);
                      } else {
                          r.item(x);
                      }
                  }),
                  expected)
            << c.input;
    }
}

// Samples as one free-format statement per sample reads them, with the line of each time, and
// the complete ones counted.
struct statement_samples {
    std::vector<float> v;
    std::vector<double> t;
    std::vector<int> line;
    int complete = 0;
};

statement_samples read_by_statements(const std::string& path, io_state& st) {
    statement_samples s;
    input_unit in(11, path, st);
    {
        list_read r(in);
        std::string head;
        for (int k = 0; k < 4; ++k) {
            r.item(head);
        }
    }
    for (bool complete = true; complete; s.complete += complete) {
        float v[4] = {};
        double t = 0.0;
        list_read r(in, true);
        complete = r.item(v[0], t);
        s.line.push_back(r.line());
        for (int k = 1; k < 4 && complete; ++k) {
            complete = r.item(v[k]);
        }
        s.v.insert(s.v.end(), v, v + 4);
        s.t.push_back(t);
    }
    return s;
}

// The record reader gives every sample, time as written, line, count, report and io_state bit
// for bit as statements reading sample by sample do, on plain lines among every other kind.
TEST_F(scratch, record_read_as_by_one_statement_per_sample) {
    std::string many = "t,a,b,c\n";
    std::mt19937 gen(3);
    for (int k = 0; k < 4000; ++k) { // past one block, lines cut by its end
        const double x = static_cast<int>(gen() % 2000001) - 1e6;
        many += cat({std::to_string(k * 0.005), ",", std::to_string(x / 1e3), k % 7 ? "," : " , ",
                     std::to_string(x * 1e-7), "\t", k % 500 ? "-.5" : "0.1234567890123456", "\n"});
    }
    const std::string files[] = {
        "Time,H1,H2,V1\n0.000,0.000000,0.000000,0.000000\n0.005,-0.000408,0.000028,0.000009\n"
        " 0.010 , 1.5D2 ,\t-2.5e+1,3\r\n0.015 0.1 0.2 0.3 9 x 'extra\n0.020,,1,2\n0.025,1/\n"
        "0.030,2*7.5,1\n0.035,1,2\n3\n\n0.040,16777217,0.30000000000000001,1.00000006\n"
        "0.045,1.5+3,-0,5.\n,0.050,1,2,3\n0.055,1e-50,3.4028235e38,+.5,\n0.060,1,2,3 ,4\n"
        "0.065,1,2,3,\n4\n0.070,1,2,2*7\n0.075 1 2",
        "Time\n1,2,3,4\n5,6,7,8\n9,10,11,12x\n",
        "Time\n1,2,3,4\n5,6,7,8e\n",
        "Time\n1,2,3,4\n5,6,7,1e39\n",
        "Time\n1,2,3,4\n\n",
        many,
    };
    for (const auto& text : files) {
        const std::string path = write("rec.csv", text);
        io_state st_ref;
        statement_samples want;
        const auto ref = capture([&] { want = read_by_statements(path, st_ref); }, &st_ref);
        sitewave::steps::written_times got_t;
        const auto got = capture(
            [&] { return sitewave::steps::read_record(path, st, {}, 1 << 20, &got_t); }, &st);
        ASSERT_EQ(ref ? "" : ref.err().report(), got ? "" : got.err().report()) << text;
        EXPECT_EQ(st.format, st_ref.format);
        EXPECT_EQ(st.name, st_ref.name);
        if (!got) {
            continue;
        }
        ASSERT_EQ(got->nt, want.complete);
        ASSERT_EQ(got_t.time.size(), static_cast<std::size_t>(want.complete));
        for (std::size_t i = 0; i < got_t.time.size(); ++i) {
            const float row[4] = {got->time[i], got->xr1[i], got->yr1[i], got->zr1[i]};
            for (std::size_t k = 0; k < 4; ++k) {
                EXPECT_EQ(std::bit_cast<std::uint32_t>(row[k]),
                          std::bit_cast<std::uint32_t>(want.v[4 * i + k]))
                    << "sample " << i << " value " << k;
            }
            EXPECT_EQ(std::bit_cast<std::uint64_t>(got_t.time[i]),
                      std::bit_cast<std::uint64_t>(want.t[i]));
            EXPECT_EQ(got_t.line[i], want.line[i]) << "sample " << i;
        }
    }
}

TEST_F(scratch, failed_opens_report_unit_and_name) {
    EXPECT_EQ(report_of([&] { input_unit in(11, "nothere.csv", st); }).substr(0, 74),
              "open: No such file or directory\napparent state: unit 11 named nothere.csv\n");
    EXPECT_EQ(report_of([&] { input_unit in(11, "", st); }).substr(0, 55),
              "open: null file name\napparent state: unit 11 (unnamed)\n");
    EXPECT_EQ(report_of([&] { input_unit in(4, dir_.string(), st); }).substr(0, 20),
              "open: Is a directory");
}

TEST_F(scratch, result_file_replaced_only_when_complete) {
    const auto path = write("Amp-Factors.csv", "earlier results\n");
    // A failure while the file is written leaves the earlier file and no temporary behind.
    EXPECT_NE(report_of([&] {
                  output_unit out(9, path, st);
                  list_write(out) << "half";
                  std::string bad;
                  input_unit in(11, bad, st);
              }).find("null file name"),
              std::string::npos);
    EXPECT_EQ(read_file(path), "earlier results\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    {
        output_unit out(9, path, st);
        list_write(out) << "new";
        out.close();
    }
    EXPECT_EQ(read_file(path), " new\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    // A directory where the file goes: the rename fails, reported as a failed close.
    fs::create_directory(dir_ / "amp1.csv");
    EXPECT_EQ(report_of([&] {
                  output_unit out(10, "amp1.csv", st, (dir_ / "amp1.csv").string());
                  list_write(out) << "x";
                  out.close();
              }),
              "close: Is a directory\napparent state: unit 10 named amp1.csv\nlast format: list "
              "io\nlately writing sequential formatted external IO\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);

    // A link at the name is replaced as a rename replaces it: the file it leads to, or shares its
    // data with, keeps the earlier results.
    for (const bool symbolic : {true, false}) {
        const auto other = write("other.csv", "kept\n");
        const auto name = dir_ / "linked.csv";
        fs::remove(name);
        symbolic ? fs::create_symlink(other, name) : fs::create_hard_link(other, name);
        {
            output_unit out(9, name.string(), st);
            list_write(out) << "new";
            out.close();
        }
        EXPECT_EQ(read_file(name.string()), " new\n");
        EXPECT_FALSE(fs::is_symlink(name));
        EXPECT_EQ(read_file(other), "kept\n");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 4);
}

} // namespace
