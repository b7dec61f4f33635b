// The batch tool under hostile names, folders and options: it never deletes what it did not
// make, never writes outside its output folder or through a symbolic link, never aborts, and
// says what went wrong with a documented exit status.

#include "support/batch_run.hpp"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
const fs::path examples = SITEWAVE_EXAMPLES;

class batch_safety : public batch_run {
  protected:
    void SetUp() override {
        batch_run::SetUp();
        fs::copy_file(examples / "soil_dat.csv", dir_ / "best.csv");
        // A short record: 64 samples.
        std::string rec = "t,a,b,c\n";
        for (int i = 0; i < 64; ++i) {
            rec += std::to_string(i * 0.01) + "," + std::to_string(i % 7 * 0.01) + ",0.02," +
                   std::to_string(i % 3 * 0.01) + "\n";
        }
        record_ = rec;
        write("rec.csv", rec);
    }
    // write(), making the folders on the way.
    void put(const std::string& name, const std::string& text) {
        fs::create_directories((dir_ / name).parent_path());
        write(name, text);
    }
    bool exists(const fs::path& p) const {
        std::error_code ec;
        return fs::exists(fs::symlink_status(dir_ / p, ec));
    }
    // Every folder under `out` whose name marks it temporary.
    std::vector<std::string> temporaries(const std::string& out) const {
        std::vector<std::string> t;
        for (const auto& e : fs::recursive_directory_iterator(dir_ / out)) {
            if (e.path().filename().string().find(".tmp") != std::string::npos) {
                t.push_back(e.path().string());
            }
        }
        return t;
    }
    std::string record_;
};

// Names that are not a safe folder name: the run lands in a folder of its own inside --out,
// and with --force nothing but marked run folders goes.
TEST_F(batch_safety, hostile_names_stay_inside_the_output_folder) {
    write("keep.txt", "precious");
    write("...csv", record_);
    put("a/rec.csv", record_);
    write("...csv.soil", read("best.csv"));
    const std::string long_name = std::string(251, 'x') + ".csv";
    write(long_name, record_);
    write("nl\nname.csv", record_);
    write("r\xe9"
          "c.csv",
          record_);
    write("q\",c.csv", record_);
    write("REC.csv", record_);
    const struct {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> folders; // run folders under --out
    } cases[] = {
        // A stem "..": its folder is "_..", the working folder kept even with --out . --force.
        {{"--soil", "best.csv", "--out", ".", "--force", "...csv"}, 0, {"best/_.."}},
        // The path "..": a folder, not a record; its row fails.
        {{"--soil", "best.csv", "--out", "o1", ".."}, 1, {}},
        // A profile named "...csv": its folder stays inside --out.
        {{"--soil", "...csv.soil", "--out", "o2", "rec.csv"}, 0, {"_...csv/rec"}},
        // A trailing '/' or '.': no stem; earlier runs of the profile kept.
        {{"--soil", "best.csv", "--out", "o3", "rec.csv", "a/", "a/."}, 1, {"best/rec"}},
        // 255 bytes: cut to a name the file system takes, with room for the temporary suffix.
        {{"--soil", "best.csv", "--out", "o4", long_name}, 0, {"best/" + std::string(200, 'x')}},
        // A line end, a byte that is not UTF-8, a quote and a comma.
        {{"--soil", "best.csv", "--out", "o5", "nl\nname.csv",
          "r\xe9"
          "c.csv",
          "q\",c.csv"},
         0,
         {"best/nl_name", "best/r_c", "best/q\",c"}},
        // Collisions, after numbering and without case.
        {{"--soil", "best.csv", "--jobs", "2", "--out", "o6", "rec.csv", "rec-2.csv", "a/rec.csv",
          "REC.csv"},
         1, // rec-2.csv does not exist
         {"best/rec", "best/rec-3", "best/REC-4"}},
        {{"--soil", "best.csv", "--soil", "best.csv", "--soil", "a/../best.csv", "--jobs", "2",
          "--out", "o7", "rec.csv"},
         0,
         {"best/rec", "best-2/rec", "best-3/rec"}},
    };
    for (const auto& c : cases) {
        const std::string out =
            c.args[std::find(c.args.begin(), c.args.end(), "--out") - c.args.begin() + 1];
        EXPECT_EQ(run(c.args), c.status) << c.args.back() << ": " << err_;
        for (const auto& f : c.folders) {
            EXPECT_TRUE(exists(fs::path(out) / f / "surface.csv")) << f << "\n" << out_;
            EXPECT_TRUE(exists(fs::path(out) / f / ".sitewave-run")) << f;
        }
        EXPECT_EQ(read("keep.txt"), "precious");
        EXPECT_TRUE(exists("rec.csv") && exists("...csv") && exists("a/rec.csv"));
        EXPECT_TRUE(temporaries(out).empty());
    }
    EXPECT_FALSE(exists("_...csv")); // nothing beside --out
}

// --force removes only marked run folders of this batch and stale marked temporaries; an input
// inside what it would remove is a usage error before anything is touched.
TEST_F(batch_safety, force_removes_only_what_the_tool_made) {
    ASSERT_EQ(run({"--soil", "best.csv", "--out", "o", "rec.csv"}), 0) << err_;
    // An input inside a run folder that --force would remove.
    fs::copy_file(dir_ / "rec.csv", dir_ / "o/best/rec/rec.csv");
    EXPECT_EQ(run({"--soil", "best.csv", "--out", "o", "--force", "o/best/rec/rec.csv"}), 2);
    EXPECT_NE(err_.find("holds the input"), std::string::npos) << err_;
    EXPECT_TRUE(exists("o/best/rec/rec.csv"));
    EXPECT_EQ(run({"--soil", "best.csv", "--out", "o", "--force", "o/summary.csv"}), 2);
    // An unmarked folder where a run belongs: that run fails, the folder is kept.
    put("o/best/mine/notes.txt", "mine");
    write("mine.csv", record_);
    EXPECT_EQ(run({"--soil", "best.csv", "--out", "o", "--force", "rec.csv", "mine.csv"}), 1);
    EXPECT_EQ(read("o/best/mine/notes.txt"), "mine");
    EXPECT_NE(out_.find("not made by sitewave-batch"), std::string::npos) << out_;
    // A symbolic link inside --out is neither followed nor removed.
    put("elsewhere/keep.txt", "kept");
    fs::create_directory_symlink("../elsewhere", dir_ / "o/linked");
    write("linked.soil", read("best.csv"));
    EXPECT_EQ(run({"--soil", "linked.soil", "--out", "o", "--force", "rec.csv"}), 1);
    EXPECT_EQ(read("elsewhere/keep.txt"), "kept");
    EXPECT_FALSE(exists("elsewhere/rec"));
    // A profile folder that is a file.
    put("o/filed", "a file");
    write("filed.soil", read("best.csv"));
    EXPECT_EQ(run({"--soil", "filed.soil", "--out", "o", "--force", "rec.csv"}), 1);
    EXPECT_EQ(read("o/filed"), "a file");
    // Temporary folders a killed batch left: marked ones go, others stay.
    put("o/best/.rec.tmp99999-0/.sitewave-run", "");
    put("o/best/.rec.tmp99999-0/surface.csv", "half");
    put("o/best/.x.tmp1-1/user.txt", "user");
    EXPECT_EQ(run({"--soil", "best.csv", "--out", "o", "--force", "rec.csv"}), 0) << err_;
    EXPECT_FALSE(exists("o/best/.rec.tmp99999-0"));
    EXPECT_EQ(read("o/best/.x.tmp1-1/user.txt"), "user");
}

// Failures of the whole batch are one message and status 2, never an abort.
TEST_F(batch_safety, output_folder_faults_are_usage_errors) {
    fs::create_symlink("nowhere", dir_ / "dangling");
    write("afile", "x");
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--out", ""}, "empty"},
        {{"--out", "dangling"}, "symbolic link to nothing"},
        {{"--out", "afile"}, "not a folder"},
        {{"--out", "."}, "not empty"},
    };
    for (const auto& c : cases) {
        auto args = c.args;
        args.insert(args.begin(), {"--soil", "best.csv"});
        args.push_back("rec.csv");
        EXPECT_EQ(run(args), 2) << c.message;
        EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
    }
    EXPECT_EQ(read("afile"), "x");
    // A second batch on a folder another holds.
    fs::create_directory(dir_ / "busy");
    const int fd = ::open((dir_ / "busy/.sitewave-lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    for (const bool force : {false, true}) {
        std::vector<std::string> args{"--soil", "best.csv", "--out", "busy", "rec.csv"};
        if (force) {
            args.push_back("--force");
        }
        EXPECT_EQ(run(args), 2);
        EXPECT_NE(err_.find("another sitewave-batch"), std::string::npos) << err_;
    }
    ::close(fd);
    EXPECT_EQ(run({"--soil", "best.csv", "--out", "busy", "rec.csv"}), 0) << err_;
}

// Records must be regular files; a profile may come through a pipe, read once.
TEST_F(batch_safety, pipes_and_devices) {
    ASSERT_EQ(::mkfifo((dir_ / "fifo.csv").c_str(), 0644), 0);
    EXPECT_EQ(run({"--soil", "best.csv", "--out", "o", "fifo.csv", "/dev/zero", "rec.csv"}), 1);
    EXPECT_NE(out_.find("a named pipe, not a regular file"), std::string::npos) << out_;
    EXPECT_NE(out_.find("a character device, not a regular file"), std::string::npos) << out_;
    EXPECT_EQ(run({"--soil", "/dev/zero", "--out", "o2", "rec.csv"}), 2);
    // The profile through a pipe: its writer sends it once.
    const std::string profile = read("best.csv");
    std::thread writer([&] { std::ofstream(dir_ / "fifo.csv") << profile; });
    EXPECT_EQ(run({"--soil", "fifo.csv", "--out", "o3", "rec.csv"}), 0) << err_;
    writer.join();
    EXPECT_TRUE(exists("o3/fifo/rec/surface.csv"));
}

// summary.csv that cannot be written: the runs are kept, each reported, the summary on
// standard error, status 1.
TEST_F(batch_safety, summary_that_cannot_be_written) {
    ASSERT_EQ(run({"--soil", "best.csv", "--out", "o", "rec.csv"}), 0);
    fs::remove(dir_ / "o/summary.csv");
    fs::create_directory(dir_ / "o/summary.csv");
    put("o/summary.csv/x", "");
    EXPECT_EQ(run({"--soil", "best.csv", "--out", "o", "--force", "rec.csv"}), 1);
    EXPECT_NE(out_.find("ok     best/rec"), std::string::npos) << out_;
    EXPECT_NE(err_.find("profile,record,folder,status"), std::string::npos) << err_;
    EXPECT_TRUE(exists("o/best/rec/surface.csv"));
}

// A disk that fills up (a file-size limit: every write past it fails as on a full disk): the
// runs whose files do not fit fail with the system's reason, no temporary folder is left, and
// the batch says so by its status; the small runs and the summary are written.
TEST_F(batch_safety, full_disk_fails_the_runs_it_stops) {
    std::string big = "t,a,b,c\n";
    for (int i = 0; i < 6000; ++i) {
        big += std::to_string(i * 0.01) + ",0.01,0.02,0.03\n";
    }
    write("big.csv", big);
    EXPECT_EQ(run({"--soil", "best.csv", "--out", "o", "rec.csv", "big.csv"}, {}, 64 * 1024), 1);
    EXPECT_TRUE(temporaries("o").empty());
    const std::string summary = read("o/summary.csv");
    EXPECT_NE(summary.find("best/rec,ok"), std::string::npos) << summary;
    EXPECT_NE(summary.find("best/big,failed"), std::string::npos) << summary;
    EXPECT_NE(summary.find("File too large"), std::string::npos) << summary;
    EXPECT_FALSE(exists("o/best/big"));
    EXPECT_TRUE(exists("o/best/rec/surface.csv"));
}

// A termination signal before the runs: each row says "interrupted", the summary is written,
// and the program ends by the signal.
TEST_F(batch_safety, termination_signal_writes_the_summary) {
    ASSERT_EQ(::mkfifo((dir_ / "slow.csv").c_str(), 0644), 0);
    const std::string profile = read("best.csv");
    const int status =
        run({"--soil", "slow.csv", "--out", "o", "rec.csv", "rec.csv"}, [&](pid_t pid) {
            // The program is waiting for its profile: its watcher is in place.
            std::ofstream to(dir_ / "slow.csv");
            ::kill(pid, SIGINT);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            to << profile;
        });
    EXPECT_EQ(status, -1);
    EXPECT_EQ(signal_, SIGINT);
    const std::string summary = read("o/summary.csv");
    EXPECT_NE(summary.find("slow/rec,interrupted"), std::string::npos) << summary;
    EXPECT_NE(summary.find("slow/rec-2,interrupted"), std::string::npos) << summary;
    EXPECT_FALSE(exists("o/slow/rec"));
    // The run record says so too; the profile, a pipe, has no digest.
    const std::string record = read("o/run.json");
    EXPECT_NE(record.find("\"status\": \"interrupted\""), std::string::npos) << record;
    EXPECT_NE(record.find("\"interrupted\": 2"), std::string::npos) << record;
    EXPECT_NE(record.find("\"error\": \"a pipe, not read again\""), std::string::npos) << record;
}

} // namespace
