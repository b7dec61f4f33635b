// Units: the console and the files the run reads and writes, one record (line) at a time.
#pragma once

#include "textio/fatal.hpp"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sitewave::textio {

// Files are read and written a block at a time: few system calls (each costs some
// microseconds on the virtual machines these programs often run on). With the heap in huge
// pages a large block costs no more fresh pages than a small one: 256 KiB blocks made the
// mid-size run about 0.35 ms faster than 16 KiB ones, and the largest about 0.9 ms.
inline constexpr std::size_t block_size = std::size_t{1} << 18;

inline constexpr int unit_stdin = 5;
inline constexpr int unit_stdout = 6;

// Where the console's records go, and when they must be visible: a stream (stream_sink), or a
// sink of the caller's in front of one.
class console_sink {
  public:
    virtual ~console_sink() = default;
    // Bytes the console writes: whole records, each with its line end.
    virtual void put(std::string_view bytes) = 0;
    // Before the console's input reads a record: what was written must reach whoever answers.
    // `would_wait`: no answer is there to be read yet. A failure is the console failure.
    virtual void before_read(bool would_wait) = 0;
    // Everything written goes out; a failure is the console failure.
    virtual void flush() = 0;
};

// The console on a stream: records written as they come, flushed before an answer is read.
class stream_sink final : public console_sink {
  public:
    explicit stream_sink(std::FILE* out) : out_(out) {}
    void put(std::string_view bytes) override;
    void before_read(bool) override { flush(); }
    void flush() override;

  private:
    std::FILE* out_;
};

// A source of records. A record ends at a line feed; a carriage return right before it, or as
// the very last byte of the input, belongs to the line end. A last line without a line feed is
// still a record. Every statement on the unit records itself in the run's io_state.
class input_unit {
  public:
    // The console (unit 5, unnamed) reading from `in`; `echo` (when given) is told before each
    // record is read, so that what was asked is on the screen first.
    input_unit(std::FILE* in, io_state& state, console_sink* echo = nullptr);

    // Opens an existing file for reading: `path` when given, else `name`; reports name the
    // file `name`. A failure is the fatal "open" report naming the unit and the file ("open:
    // null file name" for an empty name).
    input_unit(int unit, std::string name, io_state& state, const std::string& path = {});
    ~input_unit();
    input_unit(const input_unit&) = delete;
    input_unit& operator=(const input_unit&) = delete;

    // Next record into `line`; false at the end of the input.
    bool next_record(std::string& line);

    // The next record without taking it, when it lies whole in the block read so far: the line
    // as next_record would give it, valid until the next record is taken. Nothing when the
    // record goes on past the block (or the block is used up), and always for the console;
    // next_record then reads it.
    std::optional<std::string_view> peek_record();
    // Takes the record just shown by peek_record, counting it like next_record.
    void skip_record();
    // The bytes of a file from the start of the next record to its end; nothing for the console
    // and for a file of unknown size (not a regular file).
    std::optional<std::uint64_t> bytes_left() const;

    int unit() const { return unit_; }
    unsigned long serial() const { return serial_; }
    const std::string& name() const { return name_; }
    io_state& state() const { return *state_; }
    // Number of records read so far: the line number of the last one.
    int records() const { return records_; }

  private:
    // Refills the buffer of a file; false at its end.
    bool refill();
    // Whether the stream has something to read (or its end) at once.
    bool ready() const;

    std::FILE* file_ = nullptr;
    console_sink* echo_ = nullptr;
    bool owned_ = false;
    // A file is read a block at a time and split into records here; the console a character at
    // a time, so that nothing beyond the answer asked for is taken from it.
    std::unique_ptr<char[]> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::size_t peeked_end_ = 0; // where the record shown by peek_record ends, line end included
    int records_ = 0;
    int unit_ = unit_stdin;
    unsigned long serial_ = next_serial();
    std::string name_;
    io_state* state_;
};

// A result file complete under its temporary name, to be put in place over its name by
// commit(). It stays on the process's list of pending files until then; dropped uncommitted,
// it is removed and the file of that name left as it was.
class completed_file {
  public:
    completed_file() = default;
    completed_file(completed_file&& other) noexcept;
    completed_file& operator=(completed_file&& other) noexcept;
    ~completed_file();

    // The rename over the name; failure is the fatal "close" report, the temporary file removed.
    // The file replaced is released at once.
    void commit();
    // The same, but the file replaced stays open through the rename and its descriptor (or -1
    // when there was none) is returned: closing it releases the old file's pages and blocks,
    // which the caller may leave to a moment that suits it.
    [[nodiscard]] int commit_keeping_replaced();

  private:
    friend class output_unit;
    void discard() noexcept;

    // On the heap, so that the pointer on the pending list stays valid when this moves.
    std::unique_ptr<std::string> temp_;
    std::string path_;
    std::string name_;
    int unit_ = 0;
    io_state report_; // the statements up to the file's completion, for a report
};

// A sink of records. The console writes straight to its stream; a result file is written to a
// temporary file in the same directory and renamed over its name by close(), so a run that
// fails leaves an earlier result file as it was and no half-written one. The temporary file is
// on the process's list of pending files while it exists, for the signal handlers.
class output_unit {
  public:
    // The console (unit 6, unnamed) writing to `out`, or into `sink`.
    output_unit(std::FILE* out, io_state& state);
    output_unit(console_sink& sink, io_state& state);

    // Creates the temporary file for result file `path` (default: `name`); reports name the
    // file `name`. Failure is the fatal "open" report.
    output_unit(int unit, std::string name, io_state& state, const std::string& path = {});
    // Without close(): the temporary file is removed, the target left as it was.
    ~output_unit();
    output_unit(const output_unit&) = delete;
    output_unit& operator=(const output_unit&) = delete;

    // The record being built, and the number of characters put in it so far.
    std::string& record() { return record_; }
    // Writes the record and a line end, and starts an empty one.
    void end_record();
    // Whole records can be put straight where they are to be written: a result file, with no
    // record begun.
    bool writes_records_whole() const { return !console_ && record_.empty(); }
    // Room for `bytes` of whole records, each with its line end, where they are to be written;
    // the caller fills it, then calls records_written(). Only where writes_records_whole().
    char* records_room(std::size_t bytes) {
        const std::size_t at = pending_.size();
        pending_.resize(at + bytes);
        return pending_.data() + at;
    }
    void records_written();
    // Completes the file: flush, close, rename over the target; failure is the fatal "close"
    // report. For the console: flushes, a failure being the console failure.
    void close();
    // Completes a result file as close() does, but leaves it under its temporary name.
    [[nodiscard]] completed_file finish();

    int unit() const { return unit_; }
    unsigned long serial() const { return serial_; }
    const std::string& name() const { return name_; }
    io_state& state() const { return *state_; }

  private:
    // Writes the records gathered in pending_ and empties it.
    void flush_pending();
    // Writes bytes to the stream, keeping the error number of the first failed write.
    void write_out(std::string_view bytes);

    std::FILE* file_ = nullptr;
    // A result file's records are gathered here and written in blocks: few system calls, and
    // no stream buffer besides.
    std::string pending_;
    bool console_ = false;
    int unit_ = unit_stdout;
    unsigned long serial_ = next_serial();
    std::string name_;
    std::string path_;
    std::string temp_;
    std::string record_;
    std::unique_ptr<stream_sink> own_sink_; // the console's, on a stream
    console_sink* sink_ = nullptr;          // the console's
    int write_error_ = 0;                   // errno of the first failed write
    io_state* state_;
};

} // namespace sitewave::textio
