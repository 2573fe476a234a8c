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
class FdStreamBuf : public std::streambuf {
 public:
  static constexpr std::size_t kBufferSize = std::size_t{1} << 20;

  FdStreamBuf();
  // Starts writing to `fd` (-1: none) with an empty buffer and no error.
  void Attach(int fd);
  // The errno of the first failed write, or 0.
  int Error() const { return error_; }

 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  bool WriteAll(const char* p, std::size_t n);
  bool Drain();

  int fd_ = -1;
  int error_ = 0;
  std::unique_ptr<char[]> buffer_;
};

// One file being written. Not copyable; the destructor abandons a file that
// was opened and not committed.
class AtomicFile {
 public:
  AtomicFile();
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Starts writing `target`. Returns false when the temporary file (or a
  // direct target) cannot be created; ErrorText() says why, and nothing was
  // created. An existing target that the process may not write is refused
  // (EACCES) although a rename could replace it.
  bool Open(const std::string& target);

  // The stream to write to. Precondition: Open returned true.
  std::ostream& Stream() { return stream_; }

  // Flushes, syncs and closes the file and renames it over the target.
  // Returns false when any write or one of these steps failed; the temporary
  // file is then removed and the target is as it was before Open.
  bool Commit();

  // Removes the temporary file (a direct target keeps what was written).
  void Abandon();

  // The errno of the failure that made Open or Commit return false.
  int ErrorNumber() const { return error_; }
  // Its text, as strerror gives it ("No space left on device").
  std::string ErrorText() const;

 private:
  void Fail(int error);

  std::string target_;  // the file that is replaced (symbolic links followed)
  std::string temp_;    // the temporary file; empty when writing directly
  int fd_ = -1;
  int error_ = 0;
  FdStreamBuf buf_;
  std::ostream stream_;
};

// Appending to a file so that a failed append leaves it as it was: the text
// goes to the end of the file (created when missing; symbolic links are
// followed), and when a write or the final sync fails, a regular file is cut
// back to its former length (one this object created is removed). Targets
// that are not regular files are appended to directly. Not copyable; the
// destructor abandons an append that was not committed.
class AppendingFile {
 public:
  AppendingFile();
  ~AppendingFile();
  AppendingFile(const AppendingFile&) = delete;
  AppendingFile& operator=(const AppendingFile&) = delete;

  // Starts appending to `target`. Returns false when it cannot be opened for
  // writing (ErrorText() says why); nothing was changed then.
  bool Open(const std::string& target);
  // The stream to write to. Precondition: Open returned true.
  std::ostream& Stream() { return stream_; }
  // Flushes, syncs and closes. Returns false when any write or one of these
  // steps failed; the file is then as it was before Open.
  bool Commit();
  // Undoes what was appended since Open.
  void Abandon();

  int ErrorNumber() const { return error_; }
  std::string ErrorText() const;

 private:
  void Fail(int error);

  std::string target_;
  int fd_ = -1;
  int error_ = 0;
  long long size_ = -1;  // length before Open of a regular file, else -1
  bool created_ = false;  // Open created the file
  FdStreamBuf buf_;
  std::ostream stream_;
};

// Whether the two paths name the same existing file (same device and inode,
// symbolic links followed). False when either does not exist.
bool IsSameFile(const char* a, const char* b);

}  // namespace mapsmith
