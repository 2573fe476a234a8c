#include "FileHandler/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/aio_abi.h>
#include <sys/syscall.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace mapsmith {

// ---------------------------------------------------------------- FdStreamBuf

FdStreamBuf::FdStreamBuf() : buffer_(new char[kBufferSize]) {
  setp(buffer_.get(), buffer_.get() + kBufferSize);
}

FdStreamBuf::~FdStreamBuf() {
  FinishSyncs();
#ifdef __linux__
  if (aio_ != 0) ::syscall(SYS_io_destroy, static_cast<aio_context_t>(aio_));
#endif
}

void FdStreamBuf::StartWriteOut() {
#ifdef __linux__
  // Only a hint: a pipe or device refuses it, which changes nothing, and is
  // then not synced early either (a device may refuse a sync, which only a
  // direct target's final sync may forgive).
  if (::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE) != 0) return;
  // Writing out is not syncing: a sync at the end still waits for the disk
  // to store what the file holds. Syncing in the kernel now, one sync at a
  // time, leaves the final sync only what was written since the last one.
  if (aioRefused_) return;
  if (syncRunning_) {
    io_event done{};
    timespec now{0, 0};
    if (::syscall(SYS_io_getevents, static_cast<aio_context_t>(aio_), 0L, 1L, &done, &now) != 1) return;
    syncRunning_ = false;
    if (done.res < 0 && syncError_ == 0) syncError_ = static_cast<int>(-done.res);
  }
  if (aio_ == 0) {
    aio_context_t context = 0;
    if (::syscall(SYS_io_setup, 1L, &context) != 0) {
      aioRefused_ = true;  // not offered here (or the system's limit is reached)
      return;
    }
    aio_ = context;
  }
  iocb sync{};
  sync.aio_fildes = static_cast<std::uint32_t>(fd_);
  sync.aio_lio_opcode = IOCB_CMD_FDSYNC;
  iocb* syncs[1] = {&sync};
  syncRunning_ = ::syscall(SYS_io_submit, static_cast<aio_context_t>(aio_), 1L, syncs) == 1;
#endif
}

int FdStreamBuf::FinishSyncs() {
#ifdef __linux__
  while (syncRunning_) {
    io_event done{};
    const long got = ::syscall(SYS_io_getevents, static_cast<aio_context_t>(aio_), 1L, 1L, &done, nullptr);
    if (got < 0 && errno == EINTR) continue;
    syncRunning_ = false;
    if (got == 1 && done.res < 0 && syncError_ == 0) syncError_ = static_cast<int>(-done.res);
  }
#endif
  return syncError_;
}

bool FdStreamBuf::WriteAll(const char* p, std::size_t n) {
  if (error_ != 0) return false;
  while (n > 0) {
    ssize_t written = ::write(fd_, p, n);
    if (written < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return false;
    }
    p += written;
    n -= static_cast<std::size_t>(written);
    unflushed_ += static_cast<std::size_t>(written);
  }
  // A large file is synced at the end (before it is renamed into place);
  // starting the write-out of what is written so far as the file grows lets
  // the disk work while the rest is made, so less is left to wait for then.
  if (unflushed_ >= kWriteOutEvery) {
    StartWriteOut();
    unflushed_ = 0;
  }
  return true;
}

bool FdStreamBuf::Drain() {
  bool ok = WriteAll(pbase(), static_cast<std::size_t>(pptr() - pbase()));
  setp(buffer_.get(), buffer_.get() + kBufferSize);
  return ok;
}

FdStreamBuf::int_type FdStreamBuf::overflow(int_type ch) {
  if (!Drain()) return traits_type::eof();
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  *pptr() = traits_type::to_char_type(ch);
  pbump(1);
  return ch;
}

std::streamsize FdStreamBuf::xsputn(const char* s, std::streamsize n) {
  const auto room = epptr() - pptr();
  if (n <= room) {
    std::memcpy(pptr(), s, static_cast<std::size_t>(n));
    pbump(static_cast<int>(n));
    return n;
  }
  // Larger pieces bypass the buffer once what it holds is out.
  if (!Drain() || !WriteAll(s, static_cast<std::size_t>(n))) return 0;
  return n;
}

int FdStreamBuf::sync() { return Drain() ? 0 : -1; }

void FdStreamBuf::Attach(int fd) {
  FinishSyncs();
  syncError_ = 0;
  fd_ = fd;
  error_ = 0;
  unflushed_ = 0;
  setp(buffer_.get(), buffer_.get() + kBufferSize);
}

// ------------------------------------------------------------------- FdWriter

FdWriter::FdWriter() : stream_(&buf_) {}

FdWriter::~FdWriter() { Close(); }

void FdWriter::Restart() {
  error_ = 0;
  stream_.clear();
}

void FdWriter::StartWriting() { buf_.Attach(fd_); }

bool FdWriter::Finish(bool direct) {
  stream_.flush();
  if (!stream_) {
    error_ = buf_.Error() != 0 ? buf_.Error() : EIO;
    return false;
  }
  // A sync that ran while the file was written may have met the write-back
  // error that the final one would no longer report.
  const int early = buf_.FinishSyncs();
  const int synced = early != 0 ? early : ::fsync(fd_) != 0 ? errno : 0;
  if (synced != 0 && !(direct && (synced == EINVAL || synced == EROFS || synced == ENOTSUP))) {
    error_ = synced;
    return false;
  }
  const int fd = fd_;
  fd_ = -1;
  buf_.Attach(-1);
  if (::close(fd) != 0) {
    error_ = errno;
    return false;
  }
  return true;
}

void FdWriter::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  buf_.Attach(-1);
}

std::string FdWriter::ErrorText() const { return std::strerror(error_); }

// ----------------------------------------------------------------- AtomicFile

namespace {

constexpr int kMaxLinks = 40;

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The kernel's own files: their links (/dev/stdout -> /proc/self/fd/1 ->
// "pipe:[...]") name no file that could be replaced.
bool IsSystemPath(std::string_view path) {
  return path.starts_with("/dev/") || path.starts_with("/proc/");
}

// Follows symbolic links from `path` to the file they name (which need not
// exist). Sets `system` when the chain passes through the kernel's files.
// Returns false with errno set for a loop or an unreadable link.
bool FollowLinks(std::string& path, bool& system) {
  system = IsSystemPath(path);
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    std::vector<char> link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) >= link.size()) {  // grew meanwhile
      errno = ENAMETOOLONG;
      return false;
    }
    std::string next(link.data(), static_cast<std::size_t>(n));
    path = next.starts_with('/') ? next : DirectoryOf(path) + "/" + next;
    system = system || IsSystemPath(path);
  }
  errno = ELOOP;
  return false;
}

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

AtomicFile::~AtomicFile() { Abandon(); }

void AtomicFile::Fail(int error) {
  error_ = error != 0 ? error : EIO;
  Abandon();
}

bool AtomicFile::Open(const std::string& target) {
  Abandon();
  Restart();
  target_ = target;
  bool system = false;
  if (!FollowLinks(target_, system)) {
    error_ = errno;
    return false;
  }

  struct stat st;
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    error_ = EISDIR;
    return false;
  }
  if (system || (exists && !S_ISREG(st.st_mode))) {
    // Written in place: the original name, so the kernel resolves it.
    fd_ = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd_ < 0) {
      error_ = errno;
      return false;
    }
    StartWriting();
    return true;
  }

  mode_t mode = NewFileMode();
  if (exists) {
    // A rename would replace a file the process may not write; refuse as
    // opening it for writing would.
    if (::access(target_.c_str(), W_OK) != 0) {
      error_ = errno;
      return false;
    }
    mode = st.st_mode & 07777;
  }
  std::string base = BaseOf(target_);
  if (base.size() > 200) base.resize(200);
  std::string temp = DirectoryOf(target_) + "/." + base + ".XXXXXX";
  fd_ = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd_ < 0) {
    error_ = errno;
    return false;
  }
  temp_ = temp;
  if (::fchmod(fd_, mode) != 0) {
    Fail(errno);
    return false;
  }
  StartWriting();
  return true;
}

bool AtomicFile::Commit() {
  if (fd_ < 0) return false;
  if (!Finish(temp_.empty())) {
    Abandon();
    return false;
  }
  if (!temp_.empty()) {
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
      Fail(errno);
      return false;
    }
    temp_.clear();
    // Make the rename itself durable; a directory that cannot be synced
    // still holds the complete file.
    int dir = ::open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
  }
  return true;
}

void AtomicFile::Abandon() {
  Close();
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

// -------------------------------------------------------------- AppendingFile

AppendingFile::~AppendingFile() { Abandon(); }

bool AppendingFile::Open(const std::string& target) {
  Abandon();
  Restart();
  target_ = target;
  struct stat st;
  created_ = ::stat(target.c_str(), &st) != 0 && errno == ENOENT;
  fd_ = ::open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd_ < 0) {
    error_ = errno;
    created_ = false;
    return false;
  }
  size_ = -1;
  if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<long long>(st.st_size);
  StartWriting();
  return true;
}

bool AppendingFile::Commit() {
  if (fd_ < 0) return false;
  if (Finish(size_ < 0)) return true;
  if (fd_ >= 0) {
    Abandon();
    return false;
  }
  // The close failed: the text may or may not have reached the file, so it
  // is cut back by name.
  if (created_) {
    ::unlink(target_.c_str());
  } else if (size_ >= 0) {
    ::truncate(target_.c_str(), static_cast<off_t>(size_));
  }
  return false;
}

void AppendingFile::Abandon() {
  if (fd_ >= 0) {
    if (created_) {
      ::unlink(target_.c_str());
    } else if (size_ >= 0) {
      ::ftruncate(fd_, static_cast<off_t>(size_));
    }
  }
  Close();
}

bool IsSameFile(const char* a, const char* b) {
  struct stat sa, sb;
  if (::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace mapsmith
