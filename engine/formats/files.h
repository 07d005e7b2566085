// Whole files in and out. Outputs are written under a temporary name in
// their own folder and renamed into place when complete, so a reader (or a
// rerun that skips existing outputs) never sees a partial file.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace vokip {

// The whole file. Throws Error (io) when it cannot be read, or is not a
// regular file.
std::vector<std::uint8_t> read_file(const std::string& path);
// The same into a buffer that keeps its capacity from file to file.
void read_file(const std::string& path, std::vector<std::uint8_t>* bytes);

// Writes the bytes to path through a temporary file beside it; removes any
// temporary left there for the same path by an earlier, killed run. Throws
// Error (io) on failure, leaving no temporary behind.
void write_file_atomically(const std::string& path, const std::string& bytes);
void write_file_atomically(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Makes SIGTERM and SIGINT remove the temporary being written before the
// process ends, as a killed batch job must leave no partial file. For
// programs that write from one thread.
void remove_temporary_on_termination();

// While it lives, SIGTERM and SIGINT also remove this temporary: for an
// output written over a whole run (a run file, row by row) beside the files
// written whole. One at a time.
class TemporaryHeld {
 public:
  explicit TemporaryHeld(const std::string& temporary);
  ~TemporaryHeld();
  TemporaryHeld(const TemporaryHeld&) = delete;
  TemporaryHeld& operator=(const TemporaryHeld&) = delete;

 private:
  bool held_ = false;
};

// Makes the end by SIGTERM or SIGINT also say on standard error how far a
// run of `files` files had come, with the counts last set:
// "PROGRAM: interrupted after D of N files (R reduced, S skipped, F failed);
// no partial file is left". clear_line: first clear the terminal's line (a
// progress line stands there).
void report_on_termination(const char* program, long files, bool clear_line);
void set_termination_counts(long reduced, long skipped, long failed);

// Holds SIGINT and SIGTERM back on the calling thread while it lives, so that
// what it guards (a file's last output and its count) is done whole first.
class TerminationDeferred {
 public:
  TerminationDeferred();
  ~TerminationDeferred();
  TerminationDeferred(const TerminationDeferred&) = delete;
  TerminationDeferred& operator=(const TerminationDeferred&) = delete;

 private:
  sigset_t saved_;  // the thread's signal mask before
};

// Throws Error (io) unless a file can be made in the folder ("" for the
// current one): tried with a file made and removed at once.
void check_folder_writable(const std::string& folder);

// The temporary name used for path (for tests).
std::string temporary_name(const std::string& path);

// Whether the name is one of those temporaries.
bool is_temporary_name(const std::string& file_name);

}  // namespace vokip
