#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include "FileHandler/AtomicFile.h"
#include "tests/HostileStreams.h"
#include "tests/TestFiles.h"

namespace fs = std::filesystem;
using mapsmith::AtomicFile;

namespace {

using testfiles::Read;

class AtomicFileTest : public testfiles::TempDirTest {
 protected:
  // Everything in the directory, so a leftover temporary file shows.
  std::size_t Entries() const { return std::distance(fs::directory_iterator(dir_), fs::directory_iterator()); }
};

TEST_F(AtomicFileTest, ReplacesWholeOnCommitAndKeepsTheOldFileUntilThen) {
  const std::string target = Write("out.txt", "old");
  ::chmod(target.c_str(), 0640);
  {
    AtomicFile file;
    ASSERT_TRUE(file.Open(target));
    file.Stream() << "new text";
    EXPECT_EQ(Read(target), "old");  // nothing visible before the commit
    ASSERT_TRUE(file.Commit());
  }
  EXPECT_EQ(Read(target), "new text");
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(AtomicFileTest, AbandonedOrDestroyedWritesLeaveTheTargetAndNoTemporaryFile) {
  const std::string target = Write("out.txt", "old");
  {
    AtomicFile file;
    ASSERT_TRUE(file.Open(target));
    file.Stream() << std::string(3 << 20, 'x');  // more than the buffer holds
  }
  EXPECT_EQ(Read(target), "old");
  EXPECT_EQ(Entries(), 1u);

  AtomicFile file;
  ASSERT_TRUE(file.Open(Path("new.txt")));
  file.Stream() << "x";
  file.Abandon();
  EXPECT_FALSE(fs::exists(Path("new.txt")));
  EXPECT_EQ(Entries(), 1u);
}

// A stream written after Commit must not reach the descriptor it closed, which
// the next open file may be given.
TEST_F(AtomicFileTest, TextWrittenAfterCommitReachesNoOtherFile) {
  auto writeAfterCommit = [&](auto& file, const std::string& name) {
    ASSERT_TRUE(file.Open(Path(name)));
    file.Stream() << "done";
    ASSERT_TRUE(file.Commit());
    const int other = ::open(Path(name + ".other").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(other, 0);
    file.Stream() << std::string(3 << 20, 'x') << std::flush;  // more than the buffer holds
    EXPECT_FALSE(file.Stream()) << name;
    ::close(other);
    EXPECT_EQ(Read(Path(name)), "done") << name;
    EXPECT_EQ(Read(Path(name + ".other")).size(), 0u) << name;
  };
  AtomicFile atomic;
  writeAfterCommit(atomic, "replaced.txt");
  mapsmith::AppendingFile appending;
  writeAfterCommit(appending, "appended.txt");
}

TEST_F(AtomicFileTest, NewFilesGetTheUsualModeAndMissingDirectoriesAreRefused) {
  const mode_t mask = ::umask(022);
  AtomicFile file;
  ASSERT_TRUE(file.Open(Path("fresh.txt")));
  file.Stream() << "a";
  ASSERT_TRUE(file.Commit());
  struct stat st;
  ASSERT_EQ(::stat(Path("fresh.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  ::umask(mask);

  EXPECT_FALSE(file.Open(Path("no/such/dir/out.txt")));
  EXPECT_EQ(file.ErrorText(), "No such file or directory");
  EXPECT_FALSE(file.Open(dir_.string()));
  EXPECT_EQ(file.ErrorText(), "Is a directory");
}

TEST_F(AtomicFileTest, SymbolicLinksAreFollowedAndStay) {
  const std::string real = Write("real.txt", "old");
  fs::create_symlink("real.txt", Path("link.txt"));  // relative to the link's folder
  AtomicFile file;
  ASSERT_TRUE(file.Open(Path("link.txt")));
  file.Stream() << "through the link";
  ASSERT_TRUE(file.Commit());
  EXPECT_TRUE(fs::is_symlink(Path("link.txt")));
  EXPECT_EQ(Read(real), "through the link");

  fs::create_symlink("a", Path("b"));
  fs::create_symlink("b", Path("a"));
  EXPECT_FALSE(file.Open(Path("a")));
  EXPECT_EQ(file.ErrorText(), "Too many levels of symbolic links");
}

TEST_F(AtomicFileTest, SpecialFilesAreWrittenDirectlyAndWriteErrorsAreReported) {
  AtomicFile null;
  ASSERT_TRUE(null.Open("/dev/null"));
  null.Stream() << "discarded";
  EXPECT_TRUE(null.Commit());

  AtomicFile full;
  ASSERT_TRUE(full.Open("/dev/full"));
  full.Stream() << "no room";
  EXPECT_FALSE(full.Commit());
  EXPECT_EQ(full.ErrorText(), "No space left on device");

  const std::string fifo = Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = Read(fifo); });
  AtomicFile pipe;
  ASSERT_TRUE(pipe.Open(fifo));
  // More than the amount after which the write-out to disk is started early,
  // which a pipe refuses without harm.
  const std::string large(20u << 20, 'x');
  pipe.Stream() << "through the pipe" << large;
  EXPECT_TRUE(pipe.Commit());
  reader.join();
  EXPECT_EQ(received, "through the pipe" + large);
  EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(AtomicFileTest, LargeFilesArriveWhole) {
  // Written in pieces smaller and larger than the stream's buffer, past the
  // points where the write-out to disk is started early.
  const std::string target = Write("big.txt", "old");
  std::string expected;
  {
    AtomicFile file;
    ASSERT_TRUE(file.Open(target));
    for (int k = 0; k < 40; ++k) {
      const std::string piece(k % 2 == 0 ? 100000 : 1500000, static_cast<char>('a' + k % 26));
      file.Stream() << piece;
      expected += piece;
    }
    ASSERT_TRUE(file.Commit());
  }
  EXPECT_EQ(Read(target), expected);
  EXPECT_EQ(Entries(), 1u);

  // Abandoned while the file is being synced early: the target stays, the
  // temporary file goes, and the next file written through the same object
  // is whole.
  AtomicFile again;
  ASSERT_TRUE(again.Open(target));
  again.Stream() << std::string(30u << 20, 'y');
  again.Abandon();
  EXPECT_EQ(Read(target), expected);
  EXPECT_EQ(Entries(), 1u);
  ASSERT_TRUE(again.Open(target));
  again.Stream() << std::string(17u << 20, 'z');
  ASSERT_TRUE(again.Commit());
  EXPECT_EQ(Read(target), std::string(17u << 20, 'z'));

  // A device takes no early write-out or sync, and a large write to it
  // succeeds.
  AtomicFile null;
  ASSERT_TRUE(null.Open("/dev/null"));
  null.Stream() << std::string(20u << 20, 'n');
  EXPECT_TRUE(null.Commit());
}

TEST_F(AtomicFileTest, SameFileComparesIdentityNotNames) {
  Write("a.txt", "a");
  fs::create_hard_link(Path("a.txt"), Path("hard.txt"));
  fs::create_symlink(Path("a.txt"), Path("soft.txt"));
  Write("b.txt", "b");
  EXPECT_TRUE(mapsmith::IsSameFile(Path("a.txt").c_str(), Path("hard.txt").c_str()));
  EXPECT_TRUE(mapsmith::IsSameFile(Path("soft.txt").c_str(), Path("a.txt").c_str()));
  EXPECT_TRUE(mapsmith::IsSameFile(Path("a.txt").c_str(), (dir_.string() + "/./a.txt").c_str()));
  EXPECT_FALSE(mapsmith::IsSameFile(Path("a.txt").c_str(), Path("b.txt").c_str()));
  EXPECT_FALSE(mapsmith::IsSameFile(Path("a.txt").c_str(), Path("missing").c_str()));
}

TEST_F(AtomicFileTest, AppendsAddToTheEndAndFailedOnesAreTakenBack) {
  const std::string target = Write("log.txt", "old ");
  mapsmith::AppendingFile file;
  ASSERT_TRUE(file.Open(target));
  file.Stream() << "more";
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(Read(target), "old more");

  ASSERT_TRUE(file.Open(target));
  file.Stream() << std::string(3 << 20, 'x');  // more than the buffer holds
  file.Abandon();
  EXPECT_EQ(Read(target), "old more");

  // A file the append created goes again; a link is followed and stays.
  ASSERT_TRUE(file.Open(Path("new.txt")));
  file.Stream() << "x";
  file.Abandon();
  EXPECT_FALSE(fs::exists(Path("new.txt")));
  fs::create_symlink("log.txt", Path("link.txt"));
  {
    mapsmith::AppendingFile linked;
    ASSERT_TRUE(linked.Open(Path("link.txt")));
    linked.Stream() << "!";
    ASSERT_TRUE(linked.Commit());
  }
  EXPECT_EQ(Read(target), "old more!");
  EXPECT_TRUE(fs::is_symlink(Path("link.txt")));
  EXPECT_EQ(Entries(), 2u);

  EXPECT_FALSE(file.Open(Path("no/such/dir/log.txt")));
  EXPECT_EQ(file.ErrorText(), "No such file or directory");
  mapsmith::AppendingFile full;
  ASSERT_TRUE(full.Open("/dev/full"));
  full.Stream() << "no room";
  EXPECT_FALSE(full.Commit());
  EXPECT_EQ(full.ErrorText(), "No space left on device");
}

using AtomicFileDeathTest = AtomicFileTest;

TEST_F(AtomicFileDeathTest, AnAppendThatMeetsAFullDiskIsTakenBack) {
  const std::string target = Write("log.txt", "old");
  EXPECT_EXIT(
      {
        if (!hostile::LimitFileSize(4096)) std::_Exit(3);
        mapsmith::AppendingFile file;
        if (!file.Open(target)) std::_Exit(2);
        file.Stream() << std::string(10000, 'x');
        std::_Exit(!file.Commit() && file.ErrorText() == "File too large" ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(Read(target), "old");
}

}  // namespace
