// Writing a file so that it is replaced whole or not at all: the text goes to
// a temporary file beside the target, which is synced and renamed over the
// target only when everything was written. A failed or abandoned write removes
// the temporary file and leaves an existing target exactly as it was.
//
// Targets that are not regular files (/dev/stdout, /dev/null, a FIFO, a
// terminal) cannot be replaced by a rename; they are opened and written
// directly. A symbolic link is followed, so the file it names is replaced and
// the link stays. A replaced file keeps its permission bits; a new one gets
// the mode 0666 less the process's umask, as a plainly created file would.
#pragma once

#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

namespace mapsmith {

// A stream buffer over a POSIX file descriptor that it does not own. A failed
// write makes the stream bad and keeps the errno for the caller.
//
// As a large regular file grows, the buffer starts writing it out to disk
// (and, on Linux, syncing it asynchronously in the kernel, with no thread of
// its own), so that the caller's final sync finds little left to wait for.
class FdStreamBuf : public std::streambuf {
 public:
  static constexpr std::size_t kBufferSize = std::size_t{1} << 20;

  FdStreamBuf();
  ~FdStreamBuf();  // waits for a sync still running
  FdStreamBuf(const FdStreamBuf&) = delete;
  FdStreamBuf& operator=(const FdStreamBuf&) = delete;

  // Starts writing to `fd` (-1: none) with an empty buffer and no error; a
  // sync of the previous descriptor still running is waited for first.
  void Attach(int fd);
  // The errno of the first failed write, or 0.
  int Error() const { return error_; }
  // Waits for the asynchronous sync still running, if any, and returns the
  // errno it failed with (0: none or it succeeded). Call it before the final
  // fsync: a write-back error reported here is not reported again there.
  int FinishSyncs();

 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  bool WriteAll(const char* p, std::size_t n);
  bool Drain();

  void StartWriteOut();

  static constexpr std::size_t kWriteOutEvery = std::size_t{8} << 20;

  int fd_ = -1;
  int error_ = 0;
  std::size_t unflushed_ = 0;  // bytes written since the last write-out was started
  std::unique_ptr<char[]> buffer_;
  // The kernel's asynchronous I/O context for the syncs (0: none yet, or
  // none to be had), whether a sync is running, and the first sync failure.
  unsigned long aio_ = 0;
  bool aioRefused_ = false;
  bool syncRunning_ = false;
  int syncError_ = 0;
};

// What AtomicFile and AppendingFile share: the descriptor being written, the
// stream over it and the errno of the failure that ended the write. Not
// copyable.
class FdWriter {
 public:
  FdWriter(const FdWriter&) = delete;
  FdWriter& operator=(const FdWriter&) = delete;

  // The stream to write to. Precondition: Open returned true.
  std::ostream& Stream() { return stream_; }

  // The errno of the failure that made Open or Commit return false.
  int ErrorNumber() const { return error_; }
  // Its text, as strerror gives it ("No space left on device").
  std::string ErrorText() const;

 protected:
  FdWriter();
  ~FdWriter();  // closes a descriptor still open

  // Clears the error and the stream's state, for a new Open.
  void Restart();
  // The stream writes to fd_ from now on.
  void StartWriting();
  // Flushes the stream, syncs and closes fd_. `direct`: the target is not a
  // regular file, which may refuse a sync (EINVAL, EROFS, ENOTSUP are then no
  // failure). Returns false with error_ set at the first step that fails;
  // fd_ is still open unless the close itself failed.
  bool Finish(bool direct);
  // Closes fd_ if it is open and detaches the stream (what it holds is lost).
  void Close();

  int fd_ = -1;
  int error_ = 0;

 private:
  FdStreamBuf buf_;
  std::ostream stream_;
};

// One file being written (Stream, ErrorNumber and ErrorText as FdWriter has
// them). Not copyable; the destructor abandons a file that was opened and not
// committed.
class AtomicFile : public FdWriter {
 public:
  AtomicFile() = default;
  ~AtomicFile();

  // Starts writing `target`. Returns false when the temporary file (or a
  // direct target) cannot be created; ErrorText() says why, and nothing was
  // created. An existing target that the process may not write is refused
  // (EACCES) although a rename could replace it.
  bool Open(const std::string& target);

  // Flushes, syncs and closes the file and renames it over the target.
  // Returns false when any write or one of these steps failed; the temporary
  // file is then removed and the target is as it was before Open.
  bool Commit();

  // Removes the temporary file (a direct target keeps what was written).
  void Abandon();

 private:
  void Fail(int error);

  std::string target_;  // the file that is replaced (symbolic links followed)
  std::string temp_;    // the temporary file; empty when writing directly
};

// Appending to a file so that a failed append leaves it as it was: the text
// goes to the end of the file (created when missing; symbolic links are
// followed), and when a write or the final sync fails, a regular file is cut
// back to its former length (one this object created is removed). Targets
// that are not regular files are appended to directly. Stream, ErrorNumber
// and ErrorText as FdWriter has them. Not copyable; the destructor abandons an
// append that was not committed.
class AppendingFile : public FdWriter {
 public:
  AppendingFile() = default;
  ~AppendingFile();

  // Starts appending to `target`. Returns false when it cannot be opened for
  // writing (ErrorText() says why); nothing was changed then.
  bool Open(const std::string& target);
  // Flushes, syncs and closes. Returns false when any write or one of these
  // steps failed; the file is then as it was before Open.
  bool Commit();
  // Undoes what was appended since Open.
  void Abandon();

 private:
  std::string target_;
  long long size_ = -1;  // length before Open of a regular file, else -1
  bool created_ = false;  // Open created the file
};

// Whether the two paths name the same existing file (same device and inode,
// symbolic links followed). False when either does not exist.
bool IsSameFile(const char* a, const char* b);

}  // namespace mapsmith
