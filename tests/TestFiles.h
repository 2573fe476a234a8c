// Files for the tests: a file read whole, and a fixture that gives each test
// a directory of its own, made empty before the test and removed after it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testfiles {

// The bytes of the file at `path` ("" when it cannot be opened).
inline std::string Read(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The directory is "mapsmith-<pid>-<test>" in the system's temporary
// directory (a parameterised test's '/' made '-').
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(test.begin(), test.end(), '/', '-');
    dir_ = std::filesystem::temp_directory_path() / ("mapsmith-" + std::to_string(::getpid()) + "-" + test);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // The path of `name` in the directory.
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  // Writes `text` to `name` in the directory, making the folders on the way;
  // returns its path.
  std::string Write(const std::string& name, const std::string& text) const {
    const std::filesystem::path path = dir_ / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  std::filesystem::path dir_;
};

}  // namespace testfiles
