// What a program built on the library asks of its process: the processors it may use, and how
// the termination signals (SIGINT, SIGTERM, SIGHUP) end it without leaving a temporary result
// file or run folder behind. The library itself never ends the process.
#pragma once

#include <atomic>
#include <optional>
#include <string>

namespace sitewave {

// Processors this process may run on, at least 1.
int usable_cores();

// The dialogue's handlers: SIGXFSZ ignored (exceeding the file size limit is then a write
// error); on SIGINT, SIGTERM and SIGHUP the temporary files and folders being written are
// removed and the process ends by the same signal.
void install_signal_handlers();

// What `path` is when it exists but is no file the programs read ("a folder", "a character
// device", "a block device", "a socket", and with pipes false "a named pipe"), or nothing: a
// regular file, a pipe when pipes are taken, or a missing path (left to the reader, whose report
// names it).
std::optional<std::string> not_an_input_file(const std::string& path, bool pipes = true);

// Removes every temporary result file and run folder being written (async-signal-safe).
void remove_pending_files() noexcept;

// The batch's way: the termination signals are taken by a thread of their own, so that the
// work under way can end and report. The first signal sets stop(); a second one removes the
// temporary files and ends the process by that signal at once. Make it before any other thread
// starts (they inherit the blocked signals). Without a thread for it (none could start), the
// dialogue's handlers are installed instead.
class termination_watch {
  public:
    termination_watch();
    ~termination_watch();
    termination_watch(const termination_watch&) = delete;
    termination_watch& operator=(const termination_watch&) = delete;

    const std::atomic<bool>& stop() const;
    // The signal received, or 0.
    int signal() const;
    // After the work has ended and reported: when a signal came, ends the process by it (the
    // temporary files removed first); otherwise returns.
    void end_if_signalled();
};

} // namespace sitewave
