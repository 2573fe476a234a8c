// Inputs that misbehave the way real ones do, for the tests of the readers:
// a stream buffer whose reads fail part-way (a file stream's buffer throws
// std::ios_base::failure when the system's read fails), one that cannot seek
// or tell its size (a pipe), and limits for a child process that must meet a
// failing allocation or a failing write.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <ios>
#include <streambuf>
#include <string>
#include <system_error>

namespace hostile {

// Delivers `text`, then fails the next read with an I/O error.
class FailingBuffer : public std::streambuf {
 public:
  explicit FailingBuffer(std::string text) : text_(std::move(text)) {
    setg(text_.data(), text_.data(), text_.data() + text_.size());
  }

 protected:
  int_type underflow() override {
    throw std::ios_base::failure("read error", std::error_code(EIO, std::generic_category()));
  }

 private:
  std::string text_;
};

// Delivers `text` a few characters at a time and cannot seek, like a pipe.
class PipeBuffer : public std::streambuf {
 public:
  explicit PipeBuffer(std::string text) : text_(std::move(text)) { setg(text_.data(), text_.data(), text_.data()); }

 protected:
  int_type underflow() override {
    if (gptr() == text_.data() + text_.size()) return traits_type::eof();
    char* const next = gptr();
    setg(text_.data(), next, next + std::min<std::ptrdiff_t>(7, text_.data() + text_.size() - next));
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::string text_;
};

// Limits the process's address space to what it uses now plus `extra` bytes,
// so that a larger allocation fails. For child processes (death tests) only.
inline bool LimitAddressSpace(long extra) {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  if (!(statm >> pages)) return false;
  const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) +
                       static_cast<rlim_t>(extra);
  const rlimit value{limit, limit};
  return ::setrlimit(RLIMIT_AS, &value) == 0;
}

// Limits the size of files the process may write to `bytes`: a write beyond
// it fails with EFBIG, as on a full disk, instead of raising SIGXFSZ. For
// child processes (death tests) only.
inline bool LimitFileSize(long bytes) {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit value{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
  return ::setrlimit(RLIMIT_FSIZE, &value) == 0;
}

}  // namespace hostile
