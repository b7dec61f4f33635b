// The process-wide list of temporary result files not yet renamed into place, for the signal
// handlers: a fixed table of pointers, registered and released with atomic operations, read by
// remove_pending() without locks or allocation (async-signal-safe).
#pragma once

namespace sitewave::textio {

// Around the creation and registration of a temporary file, on a thread that blocks the
// termination signals meanwhile: a handler running on another thread waits for it to end. False
// (nothing to end) when a termination signal is being handled: the process is ending, and no
// file is to be created.
bool begin_creating() noexcept;
void end_creating() noexcept;

// Adds a temporary file; `path` must stay valid until it is released. False when the table is
// full (the file is then only removed by its writer).
bool register_pending(const char* path) noexcept;
void release_pending(const char* path) noexcept;

// A temporary folder (a batch run being written): removed with the files in it.
bool register_pending_dir(const char* path) noexcept;
void release_pending_dir(const char* path) noexcept;

// Unlinks every registered file and folder; async-signal-safe.
void remove_pending() noexcept;

// Ends the process by `sig` as the handlers do: waits for files being created, removes the
// pending ones, then raises the signal with its default action (unblocked on this thread).
[[noreturn]] void terminate_by(int sig) noexcept;

// Installs the handlers of the dialogue and batch programs: SIGXFSZ ignored (exceeding the file
// size limit is then a write error), and on SIGINT, SIGTERM and SIGHUP the pending temporary
// files removed before the process ends by the same signal.
void install_signal_handlers();

} // namespace sitewave::textio
