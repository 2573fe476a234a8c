// The README's commands for the companion tools, run on the files in
// examples/tools from a copy of the source tree's top: each must stand in the
// README as written and write exactly the file kept in
// examples/tools/expected. And its commands that draw the colour map.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/SvgChecks.h"
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

// The README's commands for MapsmithView, as written there, run with their
// paths mapped: the build folder to the tools', /tmp/colours to a scratch
// folder; the second command runs in the test's directory. The page must be
// well-formed and show the 20 x 20 map.
TEST_F(ToolExamplesTest, TheReadmePictureCommandsDrawTheColourMap) {
  const std::string root = std::string(MAPSMITH_TEST_DATA) + "/../..";
  const std::string readme = tooltest::Read(root + "/README.md");
  const std::vector<std::string> commands = {
      "./examples/colours/make-page.sh build /tmp/colours",
      "./build/MapsmithView --map /tmp/colours/colours.net --data /tmp/colours/colours.dat --out colours.svg",
  };
  auto replaceAll = [](std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
    return text;
  };
  const std::string tools = MAPSMITH_TOOL_DIR;
  for (const std::string& command : commands) {
    ASSERT_NE(readme.find("    " + command + "\n"), std::string::npos) << command;
    std::string mapped = replaceAll(command, "/tmp/colours", Path("colours"));
    mapped = replaceAll(mapped, "./examples/", "bash '" + root + "/examples/");
    mapped = replaceAll(mapped, ".sh build ", ".sh' '" + tools + "' ");
    mapped = replaceAll(mapped, "./build/", "'" + tools + "/");
    mapped = replaceAll(mapped, "MapsmithView ", "MapsmithView' ");
    const std::string run = "cd '" + dir_.string() + "' && " + mapped + " > log.txt 2>&1";
    ASSERT_EQ(std::system(run.c_str()), 0) << run << "\n" << tooltest::Read(dir_ / "log.txt");
  }
  EXPECT_EQ(tooltest::Read(dir_ / "log.txt"), "");  // MapsmithView says nothing
  const std::string page = tooltest::Read(dir_ / "colours.svg");
  EXPECT_EQ(svgchecks::XmlError(page), "");
  EXPECT_NE(page.find("Map colours.net: 20 x 20 neurons, 3 inputs"), std::string::npos);
  EXPECT_NE(page.find("Data colours.dat: 3000 rows"), std::string::npos);
}

}  // namespace
