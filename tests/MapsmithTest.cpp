// The tool's command line, parameter file grammar and validation, driven
// through the same entry that main() uses.
#include "Kohonen/Create/Mapsmith.h"
#include "tests/ExpectedMapFile.h"

#include "tests/HostileStreams.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  bool ran = false;  // the creation run was reached
  MapParameters params;
};

// Runs the reading and validation on `text`; the creation run only records
// what it was handed.
Outcome RunText(const std::string& text) {
  Outcome o;
  std::istringstream in(text);
  std::ostringstream out, err;
  o.status = RunParameterText(in, out, err,
                              [&](const MapParameters& p, std::ostream&, std::ostream&) {
                                o.ran = true;
                                o.params = p;
                                return 0;
                              });
  o.out = out.str();
  o.err = err.str();
  return o;
}

const std::string kComplete =
    "Inputs = 4\nDimensions = 2\nMapDim = 10 8\nMinWeight = -0.5\nMaxWeight = 0.5\n"
    "FileName = map.net\n";

void ExpectRefused(const std::string& text, const std::string& message) {
  const Outcome o = RunText(text);
  EXPECT_EQ(o.status, 1) << text;
  EXPECT_EQ(o.err, message + "\n") << text;
  EXPECT_EQ(o.out, "") << text;
  EXPECT_FALSE(o.ran) << text;
}

Outcome ExpectAccepted(const std::string& text) {
  Outcome o = RunText(text);
  EXPECT_EQ(o.status, 0) << text;
  EXPECT_EQ(o.err, "") << text;
  EXPECT_TRUE(o.ran) << text;
  return o;
}

TEST(ParameterFileTest, CompleteExampleIsHandedOverWhole) {
  const Outcome o = ExpectAccepted(kComplete);
  EXPECT_EQ(o.params.inputs, 4);
  EXPECT_EQ(o.params.dimensions, 2);
  EXPECT_EQ(o.params.mapSizes, (std::vector<int32_t>{10, 8}));
  EXPECT_EQ(o.params.minWeight, -0.5);
  EXPECT_EQ(o.params.maxWeight, 0.5);
  EXPECT_EQ(o.params.fileName, "map.net");
}

TEST(ParameterFileTest, ValidationOrderAndMessages) {
  ExpectRefused("", "Number of Inputs must be >= 1");
  ExpectRefused("Inputs = 0 Dimensions = 0 FileName = x", "Number of Inputs must be >= 1");
  ExpectRefused("Inputs = 2 FileName = x", "Number of Dimensions must be >= 1");
  ExpectRefused("Inputs = 2 Dimensions = 0 MapDim = 3 FileName = x",
                "Number of Dimensions must be >= 1");
  ExpectRefused("Inputs = 2 Dimensions = -3 MapDim = 3 FileName = x",
                "Number of Dimensions must be >= 1");
  ExpectRefused("Inputs = 2 Dimensions = 2 MapDim = 3 0 FileName = x", "MapDims must be >= 1");
  ExpectRefused("Inputs = 2 Dimensions = 2 MapDim = 3 -1 FileName = x", "MapDims must be >= 1");
  ExpectRefused("Inputs = 2 Dimensions = 2 MapDim = 3 4 MinWeight = 2 MaxWeight = 1",
                "MinWeight must not be greater than MaxWeight");
  ExpectRefused("Inputs = 2 Dimensions = 2 MapDim = 3 4", "Filename not specified");
}

TEST(ParameterFileTest, WeightLimitsDefaultAndMayBeEqual) {
  Outcome o = ExpectAccepted("Inputs = 1 Dimensions = 1 MapDim = 1 FileName = f");
  EXPECT_EQ(o.params.minWeight, -1.0);
  EXPECT_EQ(o.params.maxWeight, 1.0);
  o = ExpectAccepted("Inputs = 1 Dimensions = 1 MapDim = 1 MinWeight = 1 MaxWeight = 1 FileName = f");
  EXPECT_EQ(o.params.minWeight, 1.0);
}

TEST(ParameterFileTest, KeysIgnoreCaseButMustBeWholeTokens) {
  EXPECT_EQ(ExpectAccepted("inputs = 3 DIMENSIONS = 1 mapdim = 2 FILENAME = f").params.inputs, 3);
  // "Inputs=3" is one token and no key.
  ExpectRefused("Inputs=3 Dimensions = 1 MapDim = 2 FileName = f", "Number of Inputs must be >= 1");
  // Any single character separates a key from its value.
  EXPECT_EQ(ExpectAccepted("Inputs : 3 Dimensions # 1 MapDim ~2 FileName =f").params.inputs, 3);
}

TEST(ParameterFileTest, IntegersFollowTheirBasePrefix) {
  const std::string rest = " Dimensions = 1 MapDim = 2 FileName = f";
  EXPECT_EQ(ExpectAccepted("Inputs = 010" + rest).params.inputs, 8);
  EXPECT_EQ(ExpectAccepted("Inputs = 0x10" + rest).params.inputs, 16);
  EXPECT_EQ(ExpectAccepted("Inputs = 0X1f" + rest).params.inputs, 31);
  EXPECT_EQ(ExpectAccepted("Inputs = +7" + rest).params.inputs, 7);
  // The semicolon ends the number and is then skipped as a token.
  EXPECT_EQ(ExpectAccepted("Inputs = 4;" + rest).params.inputs, 4);
  // 08 is 0 followed by the token 8, which is no key.
  ExpectRefused("Inputs = 08" + rest, "Number of Inputs must be >= 1");
  // A stop character may begin the next key.
  EXPECT_EQ(ExpectAccepted("Inputs = 5FileName = g Dimensions = 1 MapDim = 2").params.inputs, 5);
}

TEST(ParameterFileTest, RealsTakeSignFractionAndExponent) {
  const std::string head = "Inputs = 1 Dimensions = 1 MapDim = 1 FileName = f ";
  Outcome o = ExpectAccepted(head + "MinWeight = -2.5e-1 MaxWeight = +.75");
  EXPECT_EQ(o.params.minWeight, -0.25);
  EXPECT_EQ(o.params.maxWeight, 0.75);
  o = ExpectAccepted(head + "MinWeight = 3. MaxWeight = 4E2");
  EXPECT_EQ(o.params.minWeight, 3.0);
  EXPECT_EQ(o.params.maxWeight, 400.0);
}

TEST(ParameterFileTest, UnknownTokensAreSkippedOneByOne) {
  const Outcome o = ExpectAccepted("Comment = hello world\n" + kComplete + "Trailing words ; 12\n");
  EXPECT_EQ(o.params.inputs, 4);
}

TEST(ParameterFileTest, LastValueWinsAndDimensionsDiscardsSizes) {
  Outcome o = ExpectAccepted(kComplete + "Inputs = 9\nFileName = other.net\n");
  EXPECT_EQ(o.params.inputs, 9);
  EXPECT_EQ(o.params.fileName, "other.net");
  // A second Dimensions discards the sizes read before it.
  ExpectRefused("Inputs = 1 Dimensions = 2 MapDim = 3 4 Dimensions = 2 FileName = f",
                "MapDims must be >= 1");
  o = ExpectAccepted("Inputs = 1 Dimensions = 1 MapDim = 3 Dimensions = 3 MapDim = 1 2 3 FileName = f");
  EXPECT_EQ(o.params.mapSizes, (std::vector<int32_t>{1, 2, 3}));
}

TEST(ParameterFileTest, MapDimReadsAsManyValuesAsTheLatestDimensions) {
  // Before any Dimensions it reads nothing; its numbers are skipped as tokens.
  ExpectRefused("Inputs = 1 MapDim = 3 4 Dimensions = 2 FileName = f", "MapDims must be >= 1");
  // Values may continue on the next line.
  const Outcome o = ExpectAccepted("Inputs = 1\nDimensions = 2\nMapDim =\n10\t8\nFileName = f\n");
  EXPECT_EQ(o.params.mapSizes, (std::vector<int32_t>{10, 8}));
  // Sizes that the file never sets count as 0.
  ExpectRefused("Inputs = 1 FileName = f Dimensions = 3 MapDim = 2 2", "MapDims must be >= 1");
}

TEST(ParameterFileTest, KeysAtTheEndOfTheFileKeepTheirValues) {
  ExpectRefused("Inputs = 1 Dimensions = 1 MapDim = 2 FileName", "Filename not specified");
  ExpectRefused("Inputs = 1 Dimensions = 1 MapDim = 2 FileName =", "Filename not specified");
  Outcome o = ExpectAccepted("FileName = f Dimensions = 1 MapDim = 2 Inputs = 3 Inputs =");
  EXPECT_EQ(o.params.inputs, 3);
  o = ExpectAccepted("FileName = f Dimensions = 1 MapDim = 2 Inputs = 3 MinWeight");
  EXPECT_EQ(o.params.minWeight, -1.0);
  o = ExpectAccepted("Inputs = 1 Dimensions = 1 MapDim = 2 FileName = f FileName");
  EXPECT_EQ(o.params.fileName, "f");
}

TEST(ParameterFileTest, LineEndsAndTabsAreWhiteSpace) {
  const Outcome o = ExpectAccepted(
      "Inputs\t=\t4\r\nDimensions = 2\r\nMapDim = 10 8\r\nFileName = map.net\r\n");
  EXPECT_EQ(o.params.mapSizes, (std::vector<int32_t>{10, 8}));
  EXPECT_EQ(o.params.fileName, "map.net");
}

TEST(ParameterFileTest, ValuesThatAreNoNumbersEndTheReading) {
  // The reading loop cannot consume such a value, so it refuses the file.
  ExpectRefused("Inputs = four Dimensions = 1 MapDim = 2 FileName = f",
                "Value of Inputs is not a number");
  ExpectRefused("Inputs = 1 Dimensions = two", "Value of Dimensions is not a number");
  ExpectRefused("Inputs = 1 Dimensions = 2 MapDim = 3 x", "Value of MapDim is not a number");
  ExpectRefused("MinWeight = low", "Value of MinWeight is not a number");
  ExpectRefused("MaxWeight = -", "Value of MaxWeight is not a number");
  ExpectRefused("MaxWeight = 1e", "Value of MaxWeight is not a number");
  ExpectRefused("Inputs = 0x", "Value of Inputs is not a number");
  ExpectRefused("Inputs = -", "Value of Inputs is not a number");
  ExpectRefused("Inputs = 2147483648", "Value of Inputs is out of range");
  ExpectRefused("Dimensions = -2147483649", "Value of Dimensions is out of range");
  ExpectRefused("MinWeight = 1e400", "Value of MinWeight is out of range");
  EXPECT_EQ(ExpectAccepted("Inputs = 1 Dimensions = -2147483648 Dimensions = 1 MapDim = 1 FileName = f")
                .params.dimensions,
            1);
}

TEST(ParameterFileTest, LongTokensAreUsedWholeUpToTheLimit) {
  const std::string name(4096, 'n');
  const std::string comment(4096, 'c');
  const Outcome o =
      ExpectAccepted(comment + " Inputs = 1 Dimensions = 1 MapDim = 1 FileName = " + name);
  EXPECT_EQ(o.params.fileName, name);
  const std::string kLimit = "Parameter file token longer than 4096 characters";
  const std::string digits = std::string(4096, '0') + "1";  // one character too many
  ExpectAccepted("Inputs = " + digits.substr(1) + " Dimensions = 1 MapDim = 1 FileName = f");
  ExpectAccepted("Inputs = 1 Dimensions = 1 MapDim = 1 MinWeight = " + digits.substr(1) + " FileName = f");
  // Longer tokens are refused, whatever their place, before they fill the memory.
  ExpectRefused(std::string(4097, 'c') + " Inputs = 1", kLimit);
  ExpectRefused(std::string(100000000, 'c'), kLimit);
  ExpectRefused("Inputs = 1 Dimensions = 1 MapDim = 1 FileName = " + name + "n", kLimit);
  ExpectRefused("Inputs = " + digits, kLimit);
  ExpectRefused("Dimensions = 1 MapDim = " + digits, kLimit);
  ExpectRefused("MaxWeight = " + digits, kLimit);
  ExpectRefused("MaxWeight = 1." + digits, kLimit);
}

TEST(ParameterFileTest, MapsTooLargeToBuildAreRefusedBeforeAnyAllocation) {
  ExpectRefused("Inputs = 100 Dimensions = 2 MapDim = 50000 50000 FileName = f",
                "Map is too large: more than 2147483647 neurons");
  ExpectRefused("Inputs = 3 Dimensions = 2 MapDim = 40000 20000 FileName = f",
                "Map is too large: 2400000000 weights");
  // The largest buildable map passes.
  ExpectAccepted("Inputs = 1 Dimensions = 1 MapDim = 2147483647 FileName = f");
  // Many dimensions of size 1 cost nothing.
  std::string many = "Inputs = 1 FileName = f Dimensions = 3000 MapDim =";
  for (int i = 0; i < 3000; ++i) many += " 1";
  EXPECT_EQ(ExpectAccepted(many).params.mapSizes.size(), 3000u);
  // A huge dimension count allocates nothing up front.
  ExpectRefused("Inputs = 1 FileName = f Dimensions = 2000000000 MapDim = 1 1",
                "MapDims must be >= 1");
}

TEST(ParameterFileTest, SeedIsAnUnsigned32BitIntegerReadLikeTheOthers) {
  EXPECT_FALSE(ExpectAccepted(kComplete).params.seed.has_value());
  const std::vector<std::pair<std::string, std::uint32_t>> accepted = {
      {"Seed = 0", 0u},          {"seed : 4294967295", 4294967295u}, {"SEED = 0xFFFFFFFF", 4294967295u},
      {"Seed = 010", 8u},        {"Seed = +7", 7u},                  {"Seed = -0", 0u},
      {"Seed = 1 Seed = 2", 2u}, {"Seed = 12;", 12u},
  };
  for (const auto& [text, seed] : accepted) {
    const Outcome o = ExpectAccepted(kComplete + text);
    ASSERT_TRUE(o.params.seed.has_value()) << text;
    EXPECT_EQ(*o.params.seed, seed) << text;
  }
  ExpectRefused(kComplete + "Seed = 4294967296", "Value of Seed is out of range");
  ExpectRefused(kComplete + "Seed = 0x100000000", "Value of Seed is out of range");
  ExpectRefused(kComplete + "Seed = -1", "Value of Seed is out of range");
  ExpectRefused(kComplete + "Seed = clock", "Value of Seed is not a number");
  ExpectRefused(kComplete + "Seed = 0x", "Value of Seed is not a number");
  // As with every integer, reading stops at the first character that is no digit.
  EXPECT_EQ(*ExpectAccepted(kComplete + "Seed = 1.5").params.seed, 1u);
  // A Seed without a value at the end of the file, like the other keys, keeps none.
  EXPECT_FALSE(ExpectAccepted(kComplete + "Seed =").params.seed.has_value());
  EXPECT_FALSE(ExpectAccepted(kComplete + "Seed=5").params.seed.has_value());  // one word, no key
}

// --- the command line -------------------------------------------------------

struct ToolOutcome {
  int status;
  std::string out;
  std::string err;
};

ToolOutcome RunTool(std::initializer_list<const char*> args) {
  std::vector<const char*> argv{"Mapsmith"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::ostringstream out, err;
  const int status = RunMapsmith(static_cast<int>(argv.size()), argv.data(), out, err);
  return {status, out.str(), err.str()};
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("mapsmith-test-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& text) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  std::filesystem::path dir_;
};

using CommandLineTest = TempDir;

TEST_F(CommandLineTest, ExactlyOneArgumentIsAccepted) {
  for (const auto& outcome : {RunTool({}), RunTool({"a", "b"})}) {
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "Usage Mapsmith ParameterFile\n");
    EXPECT_EQ(outcome.out, "");
  }
}

TEST_F(CommandLineTest, HelpAndVersionAreTheOnlyArgumentOrAParameterFile) {
  ToolOutcome o = RunTool({"--help"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  std::ifstream help(std::string(MAPSMITH_TEST_DATA) + "/tools/Mapsmith-help.txt", std::ios::binary);
  EXPECT_EQ(o.out, std::string(std::istreambuf_iterator<char>(help), {}));
  o = RunTool({"--version"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "Mapsmith " MAPSMITH_VERSION "\n");
  EXPECT_EQ(o.err, "");

  // Anything else is handled as before: a parameter file, or the usage refusal.
  for (const char* name : {"--HELP", "-h", "--help=1", "--vers", "-"}) {
    o = RunTool({name});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, std::string("Unable to open parameter file ") + name + "\n");
  }
  for (const auto& outcome :
       {RunTool({"--help", "--version"}), RunTool({"--version", "p"}), RunTool({"p", "--help"})}) {
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "Usage Mapsmith ParameterFile\n");
  }
}

TEST_F(CommandLineTest, UnreadableParameterFilesAreRefusedWithTheirPath) {
  const std::string missing = (dir_ / "missing.params").string();
  ToolOutcome o = RunTool({missing.c_str()});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Unable to open parameter file " + missing + "\n");
  // A directory opens on some systems but cannot be read.
  const std::string directory = dir_.string();
  o = RunTool({directory.c_str()});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Unable to open parameter file " + directory + "\n");
}

TEST_F(CommandLineTest, FilesThatFailWhileBeingReadAreRefusedWithTheirPath) {
  // /dev/zero is one endless token; reading /proc/self/mem fails at once.
  ToolOutcome o = RunTool({"/dev/zero"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Parameter file token longer than 4096 characters\n");
  if (std::filesystem::exists("/proc/self/mem")) {
    o = RunTool({"/proc/self/mem"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Unable to open parameter file /proc/self/mem\n");
  }
}

TEST_F(CommandLineTest, AFileNameThatIsTheParameterFileIsRefusedBeforeWriting) {
  const std::string text = "Inputs = 2 Dimensions = 1 MapDim = 3 FileName = ";
  const std::string path = Write("p.params", text + (dir_ / "p.params").string());
  std::filesystem::create_symlink(path, dir_ / "link.params");
  std::filesystem::create_hard_link(path, dir_ / "hard.params");
  const std::string contents = text + (dir_ / "p.params").string();
  for (const std::filesystem::path& run : {dir_ / "p.params", dir_ / "link.params", dir_ / "hard.params",
                                           dir_ / "." / "p.params"}) {
    const std::string name = run.string();
    const ToolOutcome o = RunTool({name.c_str()});
    EXPECT_EQ(o.status, 1) << name;
    EXPECT_EQ(o.err, "FileName names the parameter file itself\n") << name;
    EXPECT_EQ(o.out, "") << name;
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), contents) << name;
  }
  // A FileName naming the parameter file through a link is the same file too.
  const std::string viaLink = Write("q.params", text + (dir_ / "link.q").string());
  std::filesystem::create_symlink(viaLink, dir_ / "link.q");
  EXPECT_EQ(RunTool({viaLink.c_str()}).err, "FileName names the parameter file itself\n");
  // Another file is written as usual.
  const std::string other = Write("r.params", text + (dir_ / "r.net").string());
  EXPECT_EQ(RunTool({other.c_str()}).status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "r.net"));
}

using CommandLineDeathTest = TempDir;

TEST_F(CommandLineDeathTest, RunningOutOfMemoryWhileReadingEndsWithOneLine) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
  // Eight million map sizes need more than the 16 MiB the process may add.
  std::string sizes;
  for (int i = 0; i < 8000000; ++i) sizes += "1 ";
  const std::string path = Write("big.params", "Inputs = 1 Dimensions = 2000000000 MapDim = " + sizes);
  EXPECT_EXIT(
      {
        if (!hostile::LimitAddressSpace(16 << 20)) std::_Exit(3);
        const ToolOutcome o = RunTool({path.c_str()});
        std::_Exit(o.status == 1 && o.err == "Not enough memory to read the parameter file\n" ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(CommandLineTest, RefusalsFromAFileWriteNothing) {
  const std::string path = Write("p.params", "Inputs = 2 Dimensions = 1 MapDim = 0 FileName = out.net");
  const ToolOutcome o = RunTool({path.c_str()});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "MapDims must be >= 1\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.net"));
}

// --- the real binary ------------------------------------------------------

ToolOutcome RunBinary(const std::string& args, const std::filesystem::path& dir) {
  const auto outFile = dir / "stdout.txt";
  const auto errFile = dir / "stderr.txt";
  const std::string command = std::string("'") + MAPSMITH_BINARY + "' " + args + " >'" +
                              outFile.string() + "' 2>'" + errFile.string() + "'";
  const int raw = std::system(command.c_str());
  auto slurp = [](const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(outFile), slurp(errFile)};
}

using BinaryTest = TempDir;

TEST_F(BinaryTest, NoArgumentPrintsUsageAndExitsOne) {
  const ToolOutcome o = RunBinary("", dir_);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Usage Mapsmith ParameterFile\n");
  EXPECT_EQ(o.out, "");
}

TEST_F(BinaryTest, HelpAndVersionGoToStandardOutput) {
  ToolOutcome o = RunBinary("--version", dir_);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "Mapsmith " MAPSMITH_VERSION "\n");
  EXPECT_EQ(o.err, "");
  o = RunBinary("--help", dir_);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out.rfind("Usage: Mapsmith ParameterFile\n", 0), 0u);
  EXPECT_EQ(o.err, "");
}

TEST_F(BinaryTest, TheSameSeedMakesTheSameMapByteForByte) {
  // 3 inputs on a 4 x 5 map: the file must hold the generator's draws from
  // the seed, whenever it runs; another seed gives other weights.
  auto make = [&](const std::string& name, const std::string& seed) {
    const std::string params = Write(name + ".params", "Inputs = 3 Dimensions = 2 MapDim = 4 5 Seed = " + seed +
                                                           " FileName = " + (dir_ / (name + ".net")).string());
    const ToolOutcome o = RunBinary("'" + params + "'", dir_);
    EXPECT_EQ(o.status, 0) << o.err;
    std::ifstream in(dir_ / (name + ".net"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string first = make("first", "4000000000");
  EXPECT_EQ(first, expected::MapFile(3, {4, 5}, expected::Draws(4000000000u, 3, 20, -1.0, 1.0)));
  EXPECT_EQ(make("second", "4000000000"), first);
  EXPECT_NE(make("third", "4000000001"), first);
}

TEST_F(BinaryTest, RefusalGoesToStandardErrorWithStatusOne) {
  const std::string path = Write("empty.params", "");
  const ToolOutcome o = RunBinary("'" + path + "'", dir_);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Number of Inputs must be >= 1\n");
  EXPECT_EQ(o.out, "");
}

}  // namespace
