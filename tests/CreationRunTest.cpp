// The creation run: the map built from validated values, seeded from the
// clock, written to its file; its failures in-process and through the binary.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Kohonen/Create/Mapsmith.h"
#include "tests/ExpectedMapFile.h"

namespace {

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class CreationRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("mapsmith-creation-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  MapParameters Params(int inputs, std::vector<int32_t> sizes, double min, double max,
                       const std::filesystem::path& file) {
    MapParameters p;
    p.inputs = inputs;
    p.dimensions = static_cast<int32_t>(sizes.size());
    p.mapSizes = std::move(sizes);
    p.minWeight = min;
    p.maxWeight = max;
    p.fileName = file.string();
    return p;
  }
  int Run(const MapParameters& p) {
    std::ostringstream outStream, errStream;
    const int status = CreateMap(p, outStream, errStream);
    out = outStream.str();
    err = errStream.str();
    return status;
  }

  std::filesystem::path dir;
  std::string out, err;
};

TEST_F(CreationRunTest, EqualLimitsWriteTheWorkedExampleSilently) {
  const auto file = dir / "map.net";
  EXPECT_EQ(Run(Params(2, {2, 2}, 0.25, 0.25, file)), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
  EXPECT_EQ(Slurp(file), Slurp(std::filesystem::path(MAPSMITH_TEST_DATA) / "networkfile/kohonen-2x2-quarter.net"));
}

TEST_F(CreationRunTest, WeightsAreDrawnFromTheClockSeed) {
  const auto file = dir / "map.net";
  const auto before = static_cast<std::uint32_t>(std::time(nullptr));
  EXPECT_EQ(Run(Params(3, {4, 5}, -1.0, 1.0, file)), 0);
  const auto after = static_cast<std::uint32_t>(std::time(nullptr));
  const std::string text = Slurp(file);
  bool matched = false;
  for (std::uint32_t seed = before; seed <= after && !matched; ++seed)
    matched = text == expected::MapFile(3, {4, 5}, expected::Draws(seed, 3, 20, -1.0, 1.0));
  EXPECT_TRUE(matched) << text;
}

TEST_F(CreationRunTest, AGivenSeedReplacesTheClock) {
  const auto file = dir / "map.net";
  MapParameters p = Params(3, {4, 5}, -0.5, 2.0, file);
  for (const std::uint32_t seed : {0u, 1u, 4294967295u}) {
    p.seed = seed;
    EXPECT_EQ(Run(p), 0);
    EXPECT_EQ(Slurp(file), expected::MapFile(3, {4, 5}, expected::Draws(seed, 3, 20, -0.5, 2.0))) << seed;
  }
}

TEST_F(CreationRunTest, FileThatCannotBeCreatedEndsWithStatusOne) {
  const auto file = dir / "missing" / "map.net";
  EXPECT_EQ(Run(Params(2, {2, 2}, -1.0, 1.0, file)), 1);
  EXPECT_EQ(out, "Error on File Open\n");
  EXPECT_EQ(err, "");
  EXPECT_FALSE(std::filesystem::exists(file));
}

// ---- the real binary ----

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class BinaryRunTest : public CreationRunTest {
 protected:
  Outcome RunBinary(const std::string& params, const std::string& prefix = "") {
    const auto paramFile = dir / "map.params";
    std::ofstream(paramFile) << params;
    const auto outFile = dir / "stdout.txt";
    const auto errFile = dir / "stderr.txt";
    const std::string command = prefix + "'" + MAPSMITH_BINARY + "' '" + paramFile.string() +
                                "' >'" + outFile.string() + "' 2>'" + errFile.string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(outFile), Slurp(errFile)};
  }
};

TEST_F(BinaryRunTest, SuccessPrintsNothingAndWritesTheFile) {
  const auto file = dir / "map.net";
  const Outcome o = RunBinary("Inputs = 2 Dimensions = 2 MapDim = 2 2 MinWeight = 0.25 "
                              "MaxWeight = 0.25 FileName = " + file.string());
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(Slurp(file), Slurp(std::filesystem::path(MAPSMITH_TEST_DATA) / "networkfile/kohonen-2x2-quarter.net"));
}

TEST_F(BinaryRunTest, OutputFileFailuresExitOneWithTheMessageOnStandardOutput) {
  const auto missing = dir / "missing" / "map.net";
  Outcome o = RunBinary("Inputs = 2 Dimensions = 1 MapDim = 3 FileName = " + missing.string());
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "Error on File Open\n");
  EXPECT_EQ(o.err, "");
  EXPECT_FALSE(std::filesystem::exists(missing));

  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  o = RunBinary("Inputs = 2 Dimensions = 1 MapDim = 3 FileName = /dev/full");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "Error on File Write\n");
  EXPECT_EQ(o.err, "");
}

TEST_F(BinaryRunTest, AFullDiskLeavesTheOldMapAsItWas) {
  const auto file = dir / "map.net";
  const std::string params = "Inputs = 10 Dimensions = 2 MapDim = 100 100 FileName = " + file.string();
  const Outcome small = RunBinary("Inputs = 2 Dimensions = 1 MapDim = 3 FileName = " + file.string());
  ASSERT_EQ(small.status, 0);
  const std::string old = Slurp(file);
  // Files may grow to 32 KiB only; the map needs 2 MB. The shell ignores the
  // signal that the limit raises, so the write fails as on a full disk.
  const Outcome o = RunBinary(params, "trap '' XFSZ; ulimit -f 64; ");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "Error on File Write\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(Slurp(file), old);
  // Only the parameter file, the map and the two captured streams remain.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 4);
}

TEST_F(BinaryRunTest, MemoryExhaustionEndsWithOneLineAndStatusOne) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
  // About 17 GB for the map layer alone, under a 1 GB address space limit.
  const auto file = dir / "huge.net";
  const Outcome o = RunBinary("Inputs = 1 Dimensions = 1 MapDim = 2147483647 FileName = " +
                                  file.string(),
                              "ulimit -v 1000000; ");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "Not enough memory to create the map\n");
  EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
