#include "dialogue/runner.hpp"
#include "overlap/ahead.hpp"
#include "steps/steps.hpp"
#include "threads/helper_thread.hpp"

#include <optional>

namespace sitewave::dialogue {

namespace {

class plain_sequence final : public runner {
  public:
    plain_sequence(std::FILE* out, textio::io_state& state) : out_(out), state_(state) {}

    textio::console_sink& console() override { return out_; }
    void named(const std::string& soil_path, const std::string&,
               const textio::output_unit&) override {
        soil_path_ = soil_path;
    }
    int grid_known(const grid&) override { return 1; }
    const soil::soil_profile& soil(textio::output_unit& con) override {
        try {
            soil::soilin(soil::soil_file, state_, profile_, progress_, soil_path_);
        } catch (const textio::failure&) {
            soil::echo(con, profile_, progress_); // what was read before the failure
            throw;
        }
        soil::echo(con, profile_, progress_);
        if (const std::string why = soil::check_profile(profile_); !why.empty()) {
            textio::refuse(why);
        }
        return profile_;
    }
    std::shared_ptr<const tables> profile_tables(const grid& g) override {
        return std::make_shared<const tables>(
            steps::compute_tables_unchecked(profile_.layers, profile_.theta, g, false, 1));
    }
    void write(std::function<textio::completed_file(textio::io_state&)> w) override {
        w(state_).commit();
    }
    void writes_done() override {}
    int inverse_threads() override { return 1; }
    void put_in_place(textio::completed_file file) override { file.commit(); }
    void settle(bool) override {}

  private:
    textio::stream_sink out_;
    textio::io_state& state_;
    std::string soil_path_;
    soil::soil_profile profile_;
    soil::progress progress_;
};

class ahead_runner final : public runner {
  public:
    ahead_runner(std::FILE* out, textio::io_state& state)
        : out_(out), state_(state), cores_(usable_cores()), ahead_(out_, state, helper_) {
        // Started at once, to be running by the time its first work comes.
        if (cores_ > 1) {
            helper_.start();
        }
    }
    textio::console_sink& console() override { return ahead_; }
    void named(const std::string& soil_path, const std::string& record_path,
               const textio::output_unit& con) override {
        soil_.emplace(state_, con, soil_path, record_path, cores_ > 1 ? &helper_ : nullptr);
    }
    int grid_known(const grid& g) override { return soil_->begin_tables(g) ? 1 : cores_; }
    const soil::soil_profile& soil(textio::output_unit& con) override { return soil_->take(con); }
    std::shared_ptr<const tables> profile_tables(const grid&) override {
        return soil_->finished_tables();
    }
    void write(std::function<textio::completed_file(textio::io_state&)> w) override {
        ahead_.start(std::move(w));
    }
    void writes_done() override { helper_.finish(); }
    int inverse_threads() override { return ahead_.busy() ? 1 : cores_; }
    void put_in_place(textio::completed_file file) override {
        ahead_.put_in_place(std::move(file));
    }
    void settle(bool at_end) override { ahead_.settle(at_end); }

  private:
    textio::stream_sink out_;
    textio::io_state& state_;
    int cores_;
    background helper_; // outlives what runs on it
    sitewave::overlap::run_ahead ahead_;
    std::optional<sitewave::overlap::profile_ahead> soil_;
};

} // namespace

std::unique_ptr<runner> plain_runner(std::FILE* out, textio::io_state& state) {
    return std::make_unique<plain_sequence>(out, state);
}

std::unique_ptr<runner> overlap_runner(std::FILE* out, textio::io_state& state) {
    return std::make_unique<ahead_runner>(out, state);
}

} // namespace sitewave::dialogue
