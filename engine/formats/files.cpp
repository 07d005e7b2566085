#include "engine/formats/files.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "engine/base/error.h"

namespace vokip {

namespace {

constexpr char kTemporarySuffix[] = ".part";

// The temporary being written, for the termination handler.
char current_temporary[4096];
volatile std::sig_atomic_t writing = 0;
// The temporary of an output written over the whole run.
char held_temporary[4096];
volatile std::sig_atomic_t holding = 0;

// What the handler reports: lock-free atomics, as a handler may read them.
static_assert(std::atomic<long>::is_always_lock_free);
char report_program[64];
bool report_clear_line = false;
volatile std::sig_atomic_t reporting = 0;
std::atomic<long> report_files{0}, report_reduced{0}, report_skipped{0}, report_failed{0};

// Appends to a fixed line, as far as it holds: nothing here may allocate.
struct Line {
  char text[320];
  std::size_t size = 0;
  void add(const char* s) {
    while (*s && size < sizeof text) text[size++] = *s++;
  }
  void add(long n) {
    char digits[24];
    int k = 0;
    unsigned long v = n < 0 ? 0 : static_cast<unsigned long>(n);
    do {
      digits[k++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v > 0);
    while (k > 0 && size < sizeof text) text[size++] = digits[--k];
  }
};

void write_report(int signal_number) {
  Line line;
  if (report_clear_line) line.add("\r\033[K");
  line.add(report_program);
  line.add(signal_number == SIGINT ? ": interrupted after " : ": terminated after ");
  const long reduced = report_reduced, skipped = report_skipped, failed = report_failed;
  line.add(reduced + skipped + failed);
  line.add(" of ");
  line.add(report_files.load());
  line.add(" files (");
  line.add(reduced);
  line.add(" reduced, ");
  line.add(skipped);
  line.add(" skipped, ");
  line.add(failed);
  line.add(" failed); no partial file is left\n");
  const char* at = line.text;
  std::size_t left = line.size;
  while (left > 0) {
    const ssize_t put = ::write(STDERR_FILENO, at, left);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    at += put;
    left -= static_cast<std::size_t>(put);
  }
}

extern "C" void remove_current_temporary(int signal_number) {
  if (writing) ::unlink(current_temporary);
  if (holding) ::unlink(held_temporary);
  if (reporting) write_report(signal_number);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

sigset_t termination_signals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

struct TemporaryInProgress {
  explicit TemporaryInProgress(const std::string& name) {
    if (name.size() >= sizeof current_temporary) return;
    std::memcpy(current_temporary, name.c_str(), name.size() + 1);
    writing = 1;
  }
  ~TemporaryInProgress() { writing = 0; }
};

std::string system_error(const std::string& what) {
  return what + ": " + std::strerror(errno ? errno : EIO);
}

// Writes all of the bytes; false with errno set on failure.
bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

void write_through_temporary(const std::string& path, const char* data, std::size_t size) {
  const std::string temporary = temporary_name(path);
  const TemporaryInProgress in_progress(temporary);
  // The name is fixed per target, so a rerun after a killed one overwrites
  // what that run left.
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw Error(system_error("cannot write " + temporary), Error::Kind::io);
  bool ok = write_all(fd, data, size);
  const int saved = errno;
  ok = (::close(fd) == 0) && ok;
  if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return;
  const std::string message = system_error("cannot write " + path);
  errno = saved;
  std::remove(temporary.c_str());
  throw Error(message, Error::Kind::io);
}

}  // namespace

void read_file(const std::string& path, std::vector<std::uint8_t>* bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error(system_error("cannot open"), Error::Kind::io);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    throw Error("not a regular file", Error::Kind::io);
  }
  bytes->resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < bytes->size()) {
    const ssize_t got = ::read(fd, bytes->data() + done, bytes->size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      const std::string message =
          got == 0 ? std::string("the file shrank while it was read") : system_error("read failed");
      ::close(fd);
      throw Error(message, Error::Kind::io);
    }
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
}

std::vector<std::uint8_t> read_file(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  read_file(path, &bytes);
  return bytes;
}

void remove_temporary_on_termination() {
  std::signal(SIGTERM, remove_current_temporary);
  std::signal(SIGINT, remove_current_temporary);
}

TemporaryHeld::TemporaryHeld(const std::string& temporary) {
  if (holding || temporary.size() >= sizeof held_temporary) return;
  std::memcpy(held_temporary, temporary.c_str(), temporary.size() + 1);
  holding = 1;
  held_ = true;
}

TemporaryHeld::~TemporaryHeld() {
  if (held_) holding = 0;
}

void report_on_termination(const char* program, long files, bool clear_line) {
  std::snprintf(report_program, sizeof report_program, "%s", program);
  report_clear_line = clear_line;
  report_files = files;
  reporting = 1;
}

void set_termination_counts(long reduced, long skipped, long failed) {
  report_reduced = reduced;
  report_skipped = skipped;
  report_failed = failed;
}

TerminationDeferred::TerminationDeferred() {
  const sigset_t signals = termination_signals();
  pthread_sigmask(SIG_BLOCK, &signals, &saved_);
}

TerminationDeferred::~TerminationDeferred() {
  // A signal that came meanwhile is handled here.
  pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

void check_folder_writable(const std::string& folder) {
  const std::string shown = folder.empty() ? "." : folder;
  std::string probe = shown + "/.vokip-write-test-XXXXXX";
  errno = 0;
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) throw Error(system_error("cannot write into the folder " + shown), Error::Kind::io);
  ::close(fd);
  ::unlink(probe.c_str());
}

std::string temporary_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, name_at) + "." + path.substr(name_at) + kTemporarySuffix;
}

bool is_temporary_name(const std::string& file_name) {
  const std::size_t n = std::strlen(kTemporarySuffix);
  return file_name.size() > n + 1 && file_name[0] == '.' &&
         file_name.compare(file_name.size() - n, n, kTemporarySuffix) == 0;
}

void write_file_atomically(const std::string& path, const std::string& bytes) {
  write_through_temporary(path, bytes.data(), bytes.size());
}

void write_file_atomically(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  write_through_temporary(path, reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace vokip
