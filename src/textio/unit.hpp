// Units: the console and the files the run reads and writes, one record (line) at a time.
#pragma once

#include <cstdio>
#include <string>

namespace sitewave::textio {

inline constexpr int unit_stdin = 5;
inline constexpr int unit_stdout = 6;

// A source of records. A record ends at a line feed; a carriage return right before it, or as
// the very last byte of the input, belongs to the line end. A last line without a line feed is
// still a record.
class input_unit {
  public:
    // Standard input (unit 5, unnamed).
    static input_unit& console();

    // Opens an existing file for reading; a failure is the fatal "open" report naming the unit
    // and the file ("open: null file name" for an empty name).
    input_unit(int unit, std::string name);
    ~input_unit();
    input_unit(const input_unit&) = delete;
    input_unit& operator=(const input_unit&) = delete;

    // Next record into `line`; false at the end of the input.
    bool next_record(std::string& line);

    int unit() const { return unit_; }
    const std::string& name() const { return name_; }
    // Number of records read so far: the line number of the last one.
    int records() const { return records_; }

  private:
    input_unit() = default;
    std::FILE* file_ = nullptr;
    bool owned_ = false;
    int records_ = 0;
    int unit_ = unit_stdin;
    std::string name_;
};

// A sink of records. The console writes straight to standard output; a result file is written
// to a temporary file in the same directory and renamed over its name by close(), so a run that
// fails leaves an earlier result file as it was and no half-written one.
class output_unit {
  public:
    static output_unit& console();

    // Creates the temporary file for result file `name`; failure is the fatal "open" report.
    output_unit(int unit, std::string name);
    ~output_unit();
    output_unit(const output_unit&) = delete;
    output_unit& operator=(const output_unit&) = delete;

    // The record being built, and the number of characters put in it so far.
    std::string& record() { return record_; }
    // Writes the record and a line end, and starts an empty one.
    void end_record();
    // Completes the file: flush, close, rename over the target; failure is the fatal "close"
    // report.
    void close();

    int unit() const { return unit_; }
    const std::string& name() const { return name_; }

  private:
    output_unit() = default;
    std::FILE* file_ = nullptr;
    int unit_ = unit_stdout;
    std::string name_;
    std::string temp_;
    std::string record_;
    int write_error_ = 0; // errno of the first failed write
};

} // namespace sitewave::textio
