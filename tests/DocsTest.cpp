// The documentation's example files and the snippets quoted from them are
// real: the library reads and writes them exactly as shown.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "FileHandler/NetworkFile.h"
#include "FileHandler/ParseTools.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace {

namespace fs = std::filesystem;

const fs::path kDocs = fs::path(MAPSMITH_TEST_DATA) / ".." / ".." / "docs";

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.is_open()) << path;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(DocsTest, KohonenExampleIsWhatTheToolWritesForEqualLimits) {
  const int sizes[2] = {2, 2};
  TKohonenNetwork map(2, 2, sizes);
  map.Randomize(0.25, 0.25);
  FileTools tools;
  std::ostringstream out;
  WriteNetwork(tools, out, &map, nullptr);
  EXPECT_EQ(out.str(), Slurp(kDocs / "examples" / "kohonen-2x2.net"));
}

TEST(DocsTest, EveryExampleNetworkReadsAndWritesBackUnchanged) {
  int files = 0;
  for (const auto& entry : fs::directory_iterator(kDocs / "examples")) {
    if (entry.path().extension() != ".net") continue;
    ++files;
    const std::string text = Slurp(entry.path());
    FileTools tools;
    std::istringstream in(text);
    std::unique_ptr<TBasicNetwork> network = ReadNetwork(tools, in, nullptr);
    std::ostringstream out;
    WriteNetwork(tools, out, network.get(), nullptr);
    EXPECT_EQ(out.str(), text) << entry.path();
  }
  EXPECT_GE(files, 2);
}

TEST(DocsTest, QuotedFileLinesStandInTheExampleFiles) {
  // Indented lines of the format description that quote neuron lists, weight
  // lists and matrix lines must be lines of one of the example files.
  std::string examples;
  for (const auto& entry : fs::directory_iterator(kDocs / "examples"))
    if (entry.path().extension() == ".net") examples.append("\n").append(Slurp(entry.path())).append("\n");
  std::istringstream doc(Slurp(kDocs / "network-file.md"));
  int quoted = 0;
  for (std::string line; std::getline(doc, line);) {
    const size_t start = line.find_first_not_of(' ');
    if (start < 4 || start == std::string::npos) continue;
    const std::string body = line.substr(start);
    const bool fileLine = body.rfind("[Neuron=", 0) == 0 || body.rfind("[From=", 0) == 0 ||
                          body.rfind("/* To->", 0) == 0 ||
                          (body.size() > 2 && body.compare(body.size() - 2, 2, "*/") == 0);
    if (!fileLine) continue;
    ++quoted;
    // Tags are quoted without their indentation; matrix lines keep their
    // leading blanks (the cells are right-aligned) beyond the block's four.
    const std::string exact = body[0] == '[' ? body : line.substr(4);
    std::string needle(1, '\n');
    needle.append(exact).push_back('\n');
    EXPECT_NE(examples.find(needle), std::string::npos) << line;
  }
  EXPECT_GE(quoted, 7);
}

}  // namespace
