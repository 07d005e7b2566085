// Whole files in and out. Outputs are written under a temporary name in
// their own folder and renamed into place when complete, so a reader (or a
// rerun that skips existing outputs) never sees a partial file.
#pragma once

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

// The temporary name used for path (for tests).
std::string temporary_name(const std::string& path);

// Whether the name is one of those temporaries.
bool is_temporary_name(const std::string& file_name);

}  // namespace vokip
