#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Kohonen/Common/CommandLine.h"

using namespace mapsmith;

namespace {

const ToolDescription kTool{
    "MapsmithToy",
    "--map MAP [OPTION]... [FILE]",
    "A tool for testing the shared option handling.",
    {
        {"map", 'm', "MAP", "the map", nullptr, true},
        {"steps", 's', "N", "number of steps", "100"},
        {"rate", 0, "A", "learning rate", "0.5"},
        {"mode", 0, "MODE", "online or batch", "batch"},
        {"quiet", 'q', nullptr, "print nothing"},
        {"quality", 0, nullptr, "print the quality"},
    },
    0,
    1,
};

struct Result {
  int status;
  std::string out;
  std::string err;
  ParsedOptions options;
};

Result RunToy(std::vector<const char*> args) {
  args.insert(args.begin(), "MapsmithToy");
  std::ostringstream out, err;
  Result result{0, "", "", {}};
  result.status = RunTool(kTool, static_cast<int>(args.size()), args.data(), out, err,
                          [&](const ParsedOptions& options, std::ostream&, std::ostream&) {
                            result.options = options;
                            // Conversions run here, as a tool's body would.
                            options.Integer("steps", 100, 1, 1000);
                            options.Real("rate", 0.5, 0.0, 1.0);
                            options.Choice("mode", {"online", "batch"}, "batch");
                            return 0;
                          });
  result.out = out.str();
  result.err = err.str();
  return result;
}

std::string Usage(const std::string& line) { return "MapsmithToy: " + line + "\nTry 'MapsmithToy --help'.\n"; }

TEST(ToolOptionsTest, OptionsInAnyFormAndOrder) {
  Result r = RunToy({"in.dat", "--steps=20", "-m", "a.net", "--rate", "0.25", "-q", "--mode=online"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.options.Text("map"), "a.net");
  EXPECT_EQ(r.options.Integer("steps", 100, 1, 1000), 20);
  EXPECT_EQ(r.options.Real("rate", 0.5, 0.0, 1.0), 0.25);
  EXPECT_TRUE(r.options.Has("quiet"));
  EXPECT_FALSE(r.options.Has("quality"));
  EXPECT_EQ(r.options.Operands(), std::vector<std::string>{"in.dat"});

  // Unique prefixes, attached short values, the last repetition wins, "--" ends options.
  r = RunToy({"--ma=b.net", "-s7", "-s", "+8", "--", "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.options.Text("map"), "b.net");
  EXPECT_EQ(r.options.Integer("steps", 100, 1, 1000), 8);
  EXPECT_FALSE(r.options.Has("quiet"));
  EXPECT_EQ(r.options.Operands(), std::vector<std::string>{"--quiet"});
  EXPECT_EQ(r.options.Text("mode", "batch"), "batch");
}

TEST(ToolOptionsTest, ThreadsParseTheirOwnCommandLinesAtOnce) {
  // getopt_long's state is global: parses on several threads must not mix.
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &wrong] {
      const std::string steps = std::to_string(t + 1);
      for (int round = 0; round < 300; ++round) {
        const Result r = t % 2 == 0 ? RunToy({"-m", "a.net", "--steps", steps.c_str(), "x.dat"})
                                    : RunToy({"--rate", "0.5", "--steps", steps.c_str(), "-m", "b.net", "--quality"});
        if (r.status != 0 || r.options.Integer("steps", 100, 1, 1000) != t + 1) ++wrong[t];
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(ToolOptionsTest, UsageErrorsNameTheOptionAndExitTwo) {
  const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
      {{"-m", "a", "--frobnicate"}, "unknown option '--frobnicate'"},
      {{"-m", "a", "-x"}, "unknown option '-x'"},
      {{"-m", "a", "--qu"}, "ambiguous option '--qu'"},
      {{"-m", "a", "--quiet=yes"}, "option --quiet takes no value"},
      {{"-m", "a", "--steps"}, "option --steps needs a value"},
      {{"-m", "a", "-s"}, "option -s needs a value"},
      {{"-m"}, "option -m needs a value"},
      {{"--steps=3"}, "option --map is required"},
      {{"-m", "a", "x", "y"}, "extra operand 'y'"},
      {{"-m", "a", "--steps=4x"}, "option --steps expects a whole number, not '4x'"},
      {{"-m", "a", "--steps=4.5"}, "option --steps expects a whole number, not '4.5'"},
      {{"-m", "a", "--steps="}, "option --steps expects a whole number, not ''"},
      {{"-m", "a", "--steps=0"}, "option --steps must be between 1 and 1000, not '0'"},
      {{"-m", "a", "--steps=99999999999999999999"},
       "option --steps must be between 1 and 1000, not '99999999999999999999'"},
      {{"-m", "a", "--rate=nan"}, "option --rate expects a number, not 'nan'"},
      {{"-m", "a", "--rate=inf"}, "option --rate expects a number, not 'inf'"},
      {{"-m", "a", "--rate=0.5x"}, "option --rate expects a number, not '0.5x'"},
      {{"-m", "a", "--rate=2"}, "option --rate must be between 0 and 1, not '2'"},
      {{"-m", "a", "--mode=fast"}, "option --mode expects one of online, batch, not 'fast'"},
  };
  for (const auto& [args, message] : cases) {
    Result r = RunToy(args);
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_EQ(r.err, Usage(message));
    EXPECT_EQ(r.out, "");
  }
}

TEST(ToolOptionsTest, HelpAndVersionGoToStandardOutputAndWinOverMissingOptions) {
  Result r = RunToy({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind("Usage: MapsmithToy --map MAP [OPTION]... [FILE]\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("  -m, --map=MAP               the map (required)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  -s, --steps=N               number of steps (default: 100)\n"), std::string::npos);
  EXPECT_NE(r.out.find("      --quality               print the quality\n"), std::string::npos);
  EXPECT_NE(r.out.find("      --version               show the version and exit\n"), std::string::npos);

  r = RunToy({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "MapsmithToy " MAPSMITH_VERSION "\n");
}

TEST(ToolOptionsTest, RunErrorsNameTheFileAndExitOne) {
  const char* args[] = {"MapsmithToy", "-m", "a"};
  std::ostringstream out, err;
  int status = RunTool(kTool, 3, args, out, err, [](const ParsedOptions&, std::ostream&, std::ostream&) -> int {
    throw RunError{"data.csv", "row 3, column 2: 'NA' is not a number"};
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err.str(), "MapsmithToy: data.csv: row 3, column 2: 'NA' is not a number\n");

  std::ostringstream err2;
  status = RunTool(kTool, 3, args, out, err2, [](const ParsedOptions&, std::ostream&, std::ostream&) -> int {
    throw std::bad_alloc();
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err2.str(), "MapsmithToy: not enough memory\n");
}

TEST(ToolOptionsTest, AnOutputMayNotBeAnInput) {
  EXPECT_NO_THROW(CheckOutputIsNoInput("--out", "/tmp/x-out", {"/tmp/x-in"}));
  try {
    CheckOutputIsNoInput("--out", "a.dat", {"b.net", "a.dat"});
    FAIL();
  } catch (const UsageError& e) {
    EXPECT_EQ(e.message, "--out 'a.dat' is also an input");
  }
  // The same file under another name.
  EXPECT_THROW(CheckOutputIsNoInput("--out", "/dev/../dev/null", {"/dev/null"}), UsageError);
}

}  // namespace
