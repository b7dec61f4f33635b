// A fresh directory per test, removed afterwards, with small helpers to write and read files in
// it.
#pragma once

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>

// The whole content of a file ("" when it cannot be read).
inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class scratch_dir : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("sitewave-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Writes `text` to file `name` in the directory; returns its path.
    std::string write(const std::string& name, const std::string& text) const {
        const auto path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    static std::string read_file(const std::string& path) { return ::read_file(path); }
    std::string read(const std::string& name) const { return read_file((dir_ / name).string()); }

    std::filesystem::path dir_;
};
