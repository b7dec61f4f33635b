// The library as a caller sees it: errors as values, and two dialogues on two threads at once.

#include "sitewave/sitewave.hpp"
#include "support/scratch_dir.hpp"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using sitewave::error;

class library : public scratch_dir {};

// Each kind of failure comes back as a value holding what the report prints.
TEST_F(library, failures_are_returned_as_errors) {
    const std::string soil_head = "t\n0\n1\nc\n1\nh\n";
    const struct {
        const char* what;
        bool record;
        std::string text; // file contents; none: the file does not exist
        error::kind kind;
        std::string report; // the start of the report
    } cases[] = {
        {"missing record", true, "", error::kind::fatal, "open: No such file or directory\n"},
        {"invalid number", true, "t,a,b,c\n0,1,x,2\n", error::kind::fatal,
         "invalid number: incomprehensible list input\napparent state: unit 11 named "},
        {"early end", false, "t\n0\n", error::kind::fatal,
         "list in: end of file\napparent state: unit 4 named "},
        {"wave type 3", false, "t\n0\n3\nc\n1\nh\n1,2,500,20,0,200,10,0,0\n", error::kind::refused,
         "sitewave: "},
        {"Vp below Vs", false, soil_head + "1,2,100,20,0,200,10,0,0\n", error::kind::refused,
         "sitewave: "},
    };
    for (const auto& c : cases) {
        const std::string path =
            c.text.empty() ? (dir_ / "nothere.csv").string() : write("in.csv", c.text);
        const auto e =
            c.record ? sitewave::read_record(path).err() : sitewave::read_profile(path).err();
        EXPECT_EQ(e.what, c.kind) << c.what;
        EXPECT_EQ(e.report().substr(0, c.report.size()), c.report) << c.what;
        EXPECT_EQ(e.status(), c.kind == error::kind::refused ? 1 : 2) << c.what;
        if (c.kind == error::kind::fatal) {
            EXPECT_EQ(e.name, path) << c.what;
        } else {
            EXPECT_NE(e.message.find(path), std::string::npos) << c.what;
        }
    }
}

std::string slurp(const fs::path& p) { return read_file(p.string()); }

// Two different runs at once, each in its own folder with its own console streams: each ends
// as its reference case says, byte for byte.
TEST_F(library, two_dialogues_on_two_threads) {
    const fs::path cases = SITEWAVE_CASES;
    const char* names[] = {"real-elcentro", "transfer-beyond-critical-angle"};
    std::string console[2];
    std::thread threads[2];
    for (int k = 0; k < 2; ++k) {
        const fs::path dir = dir_ / names[k];
        fs::create_directories(dir);
        for (const auto& e : fs::directory_iterator(cases / names[k])) {
            if (e.is_regular_file()) {
                fs::copy_file(e.path(), dir / e.path().filename());
            }
        }
        threads[k] = std::thread([k, dir, &console] {
            std::FILE* in = std::fopen((dir / "stdin.txt").c_str(), "rb");
            std::FILE* out = std::tmpfile();
            const auto r = sitewave::run_dialogue({in, out, dir.string()});
            EXPECT_TRUE(r.ok()) << (r ? "" : r.err().report());
            std::rewind(out);
            for (int ch; (ch = std::fgetc(out)) != EOF;) {
                console[k].push_back(static_cast<char>(ch));
            }
            std::fclose(in);
            std::fclose(out);
        });
    }
    for (int k = 0; k < 2; ++k) {
        threads[k].join();
        const fs::path want = cases / names[k] / "expected";
        EXPECT_EQ(console[k], slurp(want / "stdout.txt")) << names[k];
        for (const char* f : {"Amp-Factors.csv", "amp1.csv", "wave1.csv"}) {
            EXPECT_EQ(slurp(dir_ / names[k] / f), slurp(want / f)) << names[k] << " " << f;
        }
    }
}

// A caller that answers each question only once it is on the console (as a script driving the
// program through pipes does): every question comes out before the run waits for its answer,
// and the run ends as its reference case says.
TEST_F(library, each_question_is_out_before_its_answer_is_read) {
    const fs::path cases = SITEWAVE_CASES;
    const fs::path from = cases / "real-elcentro";
    for (const auto& e : fs::directory_iterator(from)) {
        if (e.is_regular_file() && e.path().filename() != "stdin.txt") {
            fs::copy_file(e.path(), dir_ / e.path().filename());
        }
    }
    const char* questions[] = {"e.g., wave.csv)\n", "(Enter -> 2):\n", "(Yes=1 or No=0) :\n"};
    const char* answers[] = {"elcentro.csv\n", "0\n", "0\n"};
    int to_run[2], from_run[2];
    ASSERT_EQ(::pipe(to_run), 0);
    ASSERT_EQ(::pipe(from_run), 0);
    std::FILE* in = ::fdopen(to_run[0], "rb");
    std::FILE* out = ::fdopen(from_run[1], "wb");
    std::thread run([&] {
        const auto r = sitewave::run_dialogue({in, out, dir_.string()});
        EXPECT_TRUE(r.ok()) << (r ? "" : r.err().report());
        std::fclose(out); // the end of the console for the reader below
    });
    std::string console;
    std::size_t asked = 0;
    char buf[4096];
    for (;;) {
        pollfd p{from_run[0], POLLIN, 0};
        const bool more = ::poll(&p, 1, 20000) > 0; // 20 s: the run is waiting for an answer
        const ssize_t n = more ? ::read(from_run[0], buf, sizeof buf) : -1;
        if (n <= 0) {
            EXPECT_TRUE(more) << "no question came out after:\n" << console;
            break;
        }
        console.append(buf, static_cast<std::size_t>(n));
        while (asked < std::size(questions) &&
               console.find(questions[asked]) != std::string::npos) {
            ASSERT_EQ(::write(to_run[1], answers[asked], std::strlen(answers[asked])),
                      static_cast<ssize_t>(std::strlen(answers[asked])));
            ++asked;
        }
    }
    ::close(to_run[1]);
    run.join();
    std::fclose(in);
    ::close(from_run[0]);
    EXPECT_EQ(asked, std::size(questions));
    EXPECT_EQ(console, slurp(from / "expected" / "stdout.txt"));
    for (const char* f : {"Amp-Factors.csv", "amp1.csv", "wave1.csv"}) {
        EXPECT_EQ(slurp(dir_ / f), slurp(from / "expected" / f)) << f;
    }
}

} // namespace
