// The README's commands for the companion tools, run on the files in
// examples/tools from a copy of the source tree's top: each must stand in the
// README as written and write exactly the file kept in
// examples/tools/expected.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/ToolRun.h"

namespace {

namespace fs = std::filesystem;

class ToolExamplesTest : public tooltest::ToolTest {};

TEST_F(ToolExamplesTest, TheReadmeCommandsWriteTheExpectedFiles) {
  const fs::path source = fs::path(MAPSMITH_TEST_DATA) / "../../examples/tools";
  const std::string readme = tooltest::Read(fs::path(MAPSMITH_TEST_DATA) / "../../README.md");
  fs::create_directories(dir_ / "examples");
  fs::copy(source, dir_ / "examples/tools", fs::copy_options::recursive);

  struct Example {
    std::string command;  // as the README shows it, after "./build/"
    std::string output;   // the file it writes, or "" for standard output
    std::string expected;
  };
  const std::string t = "examples/tools/";
  const std::vector<Example> examples = {
      {"Mapsmith " + t + "colors.params", "random-colors.net", "random-colors.net"},
      {"MapsmithMap --map " + t + "colors.net --data " + t + "colors.dat --out winners.dat", "winners.dat",
       "winners.dat"},
      {"MapsmithMap --map " + t + "colors.net --data " + t + "colors.dat --quality", "", "quality.txt"},
      {"MapsmithLabel --map " + t + "colors.net --data " + t + "colors.dat --out labelled-map.dat", "labelled-map.dat",
       "labelled-map.dat"},
      {"MapsmithLabel --map " + t + "colors.net --data " + t + "colors.dat --rows " + t +
           "new-colors.dat --out labelled-rows.dat",
       "labelled-rows.dat", "labelled-rows.dat"},
  };
  for (const Example& e : examples) {
    EXPECT_NE(readme.find("    ./build/" + e.command + "\n"), std::string::npos) << e.command;
    const std::size_t blank = e.command.find(' ');
    const tooltest::Outcome o = RunBinary(e.command.substr(0, blank), e.command.substr(blank + 1));
    EXPECT_EQ(o.status, 0) << e.command << "\n" << o.err;
    EXPECT_EQ(o.err, "") << e.command;
    const std::string written = e.output.empty() ? o.out : tooltest::Read(dir_ / e.output);
    EXPECT_EQ(written, tooltest::Read(source / "expected" / e.expected)) << e.command;
  }
}

}  // namespace
