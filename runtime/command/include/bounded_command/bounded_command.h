// Runs a program to completion with a bound on time and on captured output.
//
// The child gets the argument list, standard input from the null device and
// its own process group; standard output and standard error are read through
// poll. The time-out and the output limit kill the whole group, and run()
// never waits past the deadline, also when the child ignores SIGTERM or a
// grandchild keeps the pipes open after the child has ended (what is left of
// the group is killed when the child ends).
//
// Threads: run() may be called from any thread, by several threads at once.
// It blocks the calling thread until the child ends or is stopped.
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace bounded_command {

enum class ErrorKind {
    Spawn,        // the program could not be started (not found, no pipes ...)
    Io,           // reading its output failed
    TimedOut,     // stopped at the time-out
    OutputLimit,  // stopped when its output passed the limit
    Signaled,     // ended by a signal it was not sent by us
};

struct Error {
    ErrorKind kind = ErrorKind::Spawn;
    std::string message;  // display text, e.g. "yt-dlp timed out after 3 s"

    // True when the program never ran as asked (Spawn, Io); the other kinds
    // are failures the run itself reports.
    bool not_performed() const { return kind == ErrorKind::Spawn || kind == ErrorKind::Io; }
};

struct Output {
    int exit_status = 0;
    std::string stdout_bytes;
    std::string stderr_bytes;
};

// `program` is looked up on PATH unless it holds a slash. `output_limit`
// caps each of the two streams; one byte more stops the run.
std::expected<Output, Error> run(std::string_view program, std::span<const std::string> args,
                                 std::size_t output_limit, std::chrono::milliseconds timeout);

}  // namespace bounded_command
