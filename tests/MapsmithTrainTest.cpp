#include "Kohonen/Train/MapsmithTrain.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "Kohonen/Create/Mapsmith.h"
#include "Kohonen/Train/ProgressLine.h"
#include "NeuralNets/Training.h"
#include "tests/ToolRun.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class MapsmithTrainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("train-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    // A 4 x 5 map of 3 inputs with weights in [0, 1], and 200 rows of 3
    // inputs in [0, 1].
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> uni(0, 1);
    const int dims[] = {4, 5};
    TKohonenNetwork net(3, 2, dims);
    for (int i = 0; i < 20; ++i)
      for (int j = 0; j < 3; ++j) net.GetConnections(1, 2)->Weight(j, i) = uni(rng);
    map_ = Path("in.net");
    FileTools tools;
    SaveNetworkFile(tools, map_.c_str(), &net);
    Data rows(200, 3, 0, false);
    for (int r = 0; r < 200; ++r) {
      const double x[] = {uni(rng), uni(rng), uni(rng)};
      rows.AddRow(x, nullptr, nullptr);
    }
    data_ = Path("rows.dat");
    ASSERT_EQ(WriteDataSetFile(tools, data_, &rows, nullptr), SUCCESS);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Make(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
    return Path(name);
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  Outcome Train(std::vector<std::string> args, const mapsmith::TrainEnvironment& env = {}) const {
    std::vector<const char*> argv = {"MapsmithTrain"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int status = RunMapsmithTrain(static_cast<int>(argv.size()), argv.data(), out, err, env);
    return {status, out.str(), err.str()};
  }
  // The three required options, then `more`.
  Outcome TrainTo(const std::string& out, std::vector<std::string> more = {}) const {
    std::vector<std::string> args = {"--map", map_, "--data", data_, "--out", out};
    args.insert(args.end(), more.begin(), more.end());
    return Train(args);
  }

  // What the library gives for the same files and options: the map file's
  // text and the two lines the tool prints.
  std::pair<std::string, std::string> Library(const TTrainingOptions& options) const {
    FileTools tools;
    auto net = LoadKohonenNetwork(tools, map_.c_str());
    std::unique_ptr<Data> rows, results;
    ReadDataSetFile(tools, data_, rows, results);
    const TTrainingReport report = TrainMap(*net, *rows, options);
    std::ostringstream text;
    WriteNetwork(tools, text, net.get());
    char a[FileTools::GeneralNumberSize], b[FileTools::GeneralNumberSize];
    const std::string lines = "quantization-error " +
                              std::string(FileTools::FormatGeneral(report.quality.quantizationError, a)) +
                              "\ntopographic-error " +
                              std::string(FileTools::FormatGeneral(report.quality.topographicError, b)) + "\n";
    return {text.str(), lines};
  }

  fs::path dir_;
  std::string map_, data_;
};

TEST_F(MapsmithTrainTest, WritesWhatTheLibraryTrainsAndPrintsItsQuality) {
  // Defaults: batch, 20 epochs, gaussian, radius 2.5 down to 1, keep.
  const Outcome run = TrainTo(Path("out.net"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const auto [text, lines] = Library(TTrainingOptions{});
  EXPECT_EQ(Read(Path("out.net")), text);
  EXPECT_EQ(run.out, lines);

  // Every training option, against the same options given to the library.
  const Outcome all = TrainTo(Path("all.net"), {"--mode", "online", "--steps", "333", "--rate=0.3",
                                            "--rate-schedule", "inverse", "--radius", "2", "--final-radius",
                                            "0.5", "--neighbourhood", "bubble", "--torus", "--init", "sample",
                                            "--seed", "9", "--threads", "2", "-q"});
  ASSERT_EQ(all.status, 0) << all.err;
  TTrainingOptions o;
  o.mode = TTrainingMode::Online;
  o.steps = 333;
  o.rate = 0.3;
  o.rateSchedule = TRateSchedule::Inverse;
  o.radius = 2.0;
  o.finalRadius = 0.5;
  o.neighbourhood = TNeighbourhood::Bubble;
  o.torus = true;
  o.init = TInitialisation::Sample;
  o.seed = 9;
  const auto [allText, allLines] = Library(o);
  EXPECT_EQ(Read(Path("all.net")), allText);
  EXPECT_EQ(all.out, allLines);

  // A start radius below 1 alone: the final radius follows it down.
  ASSERT_EQ(TrainTo(Path("small.net"), {"--radius", "0.5"}).status, 0);
  TTrainingOptions small;
  small.radius = 0.5;
  small.finalRadius = 0.5;
  EXPECT_EQ(Read(Path("small.net")), Library(small).first);

  // Epochs, linear initialisation.
  ASSERT_EQ(TrainTo(Path("linear.net"), {"--epochs", "3", "--init", "linear"}).status, 0);
  TTrainingOptions linear;
  linear.epochs = 3;
  linear.init = TInitialisation::Linear;
  EXPECT_EQ(Read(Path("linear.net")), Library(linear).first);
}

TEST_F(MapsmithTrainTest, SameSeedSameBytesOnAnyThreadCount) {
  const std::vector<std::string> online = {"--mode", "online", "--epochs", "4", "--init", "sample", "--seed", "42"};
  auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), online.begin(), online.end());
    return more;
  };
  ASSERT_EQ(TrainTo(Path("a.net"), with({})).status, 0);
  ASSERT_EQ(TrainTo(Path("b.net"), with({})).status, 0);
  ASSERT_EQ(TrainTo(Path("c.net"), with({"--threads", "2"})).status, 0);
  ASSERT_EQ(TrainTo(Path("d.net"), with({"--threads", "3"})).status, 0);
  ASSERT_EQ(TrainTo(Path("e.net"), with({"--seed", "43"})).status, 0);
  const std::string a = Read(Path("a.net"));
  EXPECT_EQ(Read(Path("b.net")), a);
  EXPECT_EQ(Read(Path("c.net")), a);
  EXPECT_EQ(Read(Path("d.net")), a);
  EXPECT_NE(Read(Path("e.net")), a);
}

TEST_F(MapsmithTrainTest, UsageErrorsExitTwoAndLeaveTheOutputAlone) {
  const std::string out = Make("old.net", "old contents");
  const auto usage = [](const std::string& line) {
    return "MapsmithTrain: " + line + "\nTry 'MapsmithTrain --help'.\n";
  };
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--steps", "10"}, "option --steps is for online training; batch training counts --epochs"},
      {{"--mode", "online", "--steps", "10", "--epochs", "2"}, "options --steps and --epochs exclude each other"},
      {{"--mode", "sideways"}, "option --mode expects one of batch, online, not 'sideways'"},
      {{"--epochs", "0"}, "option --epochs must be between 1 and 9223372036854775807, not '0'"},
      {{"--mode", "online", "--steps", "4x"}, "option --steps expects a whole number, not '4x'"},
      {{"--rate", "0"}, "option --rate must be above 0 and at most 1, not '0'"},
      {{"--rate", "1.5"}, "option --rate must be above 0 and at most 1, not '1.5'"},
      {{"--rate", "nan"}, "option --rate expects a number, not 'nan'"},
      {{"--rate-schedule", "exp"}, "option --rate-schedule expects one of linear, inverse, not 'exp'"},
      {{"--radius", "-1"}, "option --radius must be at least 0, not '-1'"},
      {{"--final-radius", "inf"}, "option --final-radius expects a number, not 'inf'"},
      {{"--radius", "2", "--final-radius", "3"}, "option --final-radius 3 is larger than --radius 2"},
      {{"--neighbourhood", "square"}, "option --neighbourhood expects one of gaussian, bubble, not 'square'"},
      {{"--init", "random"}, "option --init expects one of keep, sample, linear, not 'random'"},
      {{"--seed", "-1"}, "option --seed must be between 0 and 9223372036854775807, not '-1'"},
      {{"--threads", "0"}, "option --threads must be between 1 and 256, not '0'"},
      {{"--threads", "257"}, "option --threads must be between 1 and 256, not '257'"},
      {{"--from", "xml"}, "option --from expects one of dataset, network, csv, sompak, codebook, not 'xml'"},
      {{"--torus=yes"}, "option --torus takes no value"},
  };
  for (const auto& [more, message] : cases) {
    const Outcome run = TrainTo(out, more);
    EXPECT_EQ(run.status, 2) << message;
    EXPECT_EQ(run.err, usage(message));
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(Train({"--map", map_, "--out", out}).err, usage("option --data is required"));
  EXPECT_EQ(Train({"--map", map_, "--data", data_, "--out", map_}).err,
            usage("--out '" + map_ + "' is also an input"));
  EXPECT_EQ(Read(out), "old contents");
  EXPECT_EQ(Train({"--version"}).out, "MapsmithTrain " MAPSMITH_VERSION "\n");
  // Every option of --help has its default there, and the manual page names
  // the same options.
  const std::string help = Train({"--help"}).out;
  EXPECT_NE(help.find("--final-radius=R"), std::string::npos);
  EXPECT_EQ(tooltest::OptionsWithoutDefault(help), std::set<std::string>{});
  EXPECT_EQ(tooltest::LongOptions(Read(MAPSMITH_TEST_DATA "/../../docs/MapsmithTrain.1")),
            tooltest::LongOptions(help));
}

TEST_F(MapsmithTrainTest, AOneByNMapWrittenAsACodebookIsSaidToReadBackOneDimensional) {
  const int dims[] = {1, 4};
  TKohonenNetwork net(3, 2, dims);
  FileTools tools;
  const std::string line = Path("line.net");
  SaveNetworkFile(tools, line.c_str(), &net);
  const Outcome run = Train({"-m", line, "-d", data_, "-o", Path("line.cod"), "--init", "sample", "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("MapsmithTrain: " + Path("line.cod") + ": warning: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("one-dimensional"), std::string::npos) << run.err;
}

TEST_F(MapsmithTrainTest, RunFailuresNameTheFileExitOneAndLeaveTheOutputAlone) {
  const std::string out = Make("old.net", "old contents");
  const auto fails = [&](const std::string& map, const std::string& data, const std::string& message) {
    const Outcome run = Train({"-m", map, "-d", data, "-o", out});
    EXPECT_EQ(run.status, 1) << message;
    EXPECT_EQ(run.err, "MapsmithTrain: " + message + "\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Read(out), "old contents");
  };
  fails(Path("none.net"), data_, Path("none.net") + ": cannot open: No such file or directory");
  const std::string basic = MAPSMITH_TEST_DATA "/networkfile/good/basic_mixed.net";
  fails(basic, data_, basic + ": Not a Kohonen network");
  // A data set file in the map's place: refused naming it (the message is the
  // shared file reading's).
  fails(data_, data_,
        data_ + ": not a map (a network file or SOM_PAK codebook); its content reads as a data set file");
  fails(map_, map_, map_ + ": is a map, not a data set");
  fails(map_, Path("none.dat"), Path("none.dat") + ": cannot open: No such file or directory");

  std::string text = Read(map_);
  text.replace(text.find("[Dimension=1 Size=5 ]"), 21, "[Dimension=1 Size=6 ]");
  fails(Make("sizes.net", text), data_, Path("sizes.net") + ": Dimensions give 24 neurons, the map layer has 20");

  const std::string header =
      "[FormatVersion = 1.0]\n[DataSet]\n[Rows = 2]\n[Inputs = COLUMNS]\n[ExpectedOutputs = 0]\n"
      "[GeneratedOutputs = 0]\n[Error = 0]\n[Data]\n";
  auto dataFile = [&](const std::string& name, const std::string& columns, const std::string& rows) {
    std::string h = header;
    h.replace(h.find("COLUMNS"), 7, columns);
    return Make(name, h + rows + "[~Data]\n[~DataSet]\n");
  };
  fails(map_, dataFile("narrow.dat", "2", "1 2\n3 4\n"),
        Path("narrow.dat") + ": The data set has 2 input columns, the map has 3 inputs");
  fails(map_, dataFile("nan.dat", "3", "1 2 3\n4 nan 6\n"),
        Path("nan.dat") + ": Row 2 of the data set holds NaN or infinity");
  fails(map_, Make("empty.dat", "[FormatVersion = 1.0]\n[DataSet]\n[Rows = 0]\n[Inputs = 3]\n[ExpectedOutputs = 0]\n"
                                "[GeneratedOutputs = 0]\n[Error = 0]\n[Data]\n[~Data]\n[~DataSet]\n"),
        Path("empty.dat") + ": The data set has no rows");

  // A weight that is not finite: refused when training starts from the
  // map's weights, not when it draws them from the rows.
  text = Read(map_);
  const std::size_t first = text.find_first_of("0123456789", text.find("From */") + 7);
  text.replace(first, text.find(' ', first) - first, "nan");
  const std::string nanMap = Make("nan.net", text);
  fails(nanMap, data_, nanMap + ": The map's weight from input 0 to neuron 0 is not finite");
  EXPECT_EQ(Train({"-m", nanMap, "-d", data_, "-o", Path("sampled.net"), "--init", "sample"}).status, 0);

  // An output that cannot be written: the run fails after training.
  const Outcome run = Train({"-m", map_, "-d", data_, "-o", Path("no/such/dir/out.net")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "MapsmithTrain: " + Path("no/such/dir/out.net") + ": cannot create: No such file or directory\n");
  EXPECT_EQ(run.out, "");
}

TEST_F(MapsmithTrainTest, WhatTheReadersNoticePrintsAsWarnings) {
  // A CSV label column with an empty cell: the row is trained on, and the
  // reader's warning is printed as the other tools print it.
  std::string csv = "a,b,c,name\n";
  for (int r = 0; r < 20; ++r) csv += std::to_string(r % 3) + ",0.5,0.25," + (r == 4 ? "" : "x") + "\n";
  const std::string rows = Make("rows.csv", csv);
  const Outcome run = Train({"-m", map_, "-d", rows, "-o", Path("out.net"), "--label-column", "name"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "MapsmithTrain: " + rows + ": warning: 1 row has an empty label cell and no label\n");
}

TEST_F(MapsmithTrainTest, AnInterruptedRunLeavesTheOutputAsItWas) {
  const std::string out = Make("old.net", "old contents");
  const std::string binary = std::string(MAPSMITH_TOOL_DIR) + "/MapsmithTrain";
  const std::vector<std::string> args = {binary, "--quiet", "-m", map_, "-d", data_, "-o", out,
                                         "--mode", "online", "--steps", "2000000000"};
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  ::usleep(300000);  // well into training
  ASSERT_EQ(::kill(child, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was interrupted";
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(Read(out), "old contents");
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename().string().find(".old.net"), std::string::npos) << entry.path();
}

TEST_F(MapsmithTrainTest, ProgressLineOnATerminalOnly) {
  double now = 0.0;
  mapsmith::TrainEnvironment terminal{true, [&] { return now += 0.03; }};
  const std::vector<std::string> args = {"-m", map_, "-d", data_, "-o", Path("p.net"), "--mode", "online", "--epochs", "20"};
  const Outcome drawn = Train(args, terminal);
  ASSERT_EQ(drawn.status, 0);
  // 4000 steps: the callback comes every 256 steps and at the end (16 calls,
  // the clock moving 0.03 s per reading); a line is drawn at most every
  // 0.1 s, and for the last step.
  const auto redraws = std::count(drawn.err.begin(), drawn.err.end(), '\r');
  EXPECT_GE(redraws, 4);
  EXPECT_LE(redraws, 8);
  EXPECT_EQ(drawn.err.rfind("\rTraining   6%  ", 0), 0u) << drawn.err;
  EXPECT_NE(drawn.err.find("\rTraining 100%  "), std::string::npos);
  EXPECT_EQ(drawn.err.back(), '\n');

  std::vector<std::string> quiet = args;
  quiet.push_back("--quiet");
  EXPECT_EQ(Train(quiet, terminal).err, "");
  EXPECT_EQ(Train(args, mapsmith::TrainEnvironment{false, [&] { return now += 0.03; }}).err, "");
}

// The example of the README and the manual page, on the files in examples/,
// prints what they say (and examples/colors-trained.txt holds).
TEST_F(MapsmithTrainTest, TheDocumentedExampleWorks) {
  const fs::path top = fs::path(MAPSMITH_TEST_DATA) / ".." / "..";
  const fs::path before = fs::current_path();
  fs::current_path(dir_);  // the parameter file names its map relative to here
  const std::string params = (top / "examples" / "colors-map.params").string();
  const char* create[] = {"Mapsmith", params.c_str()};
  std::ostringstream out, err;
  const int created = RunMapsmith(2, create, out, err);
  fs::current_path(before);
  ASSERT_EQ(created, 0) << err.str();
  const std::string colors = (top / "examples" / "colors.dat").string();
  const Outcome run = Train({"--map", Path("colors-map.net"), "--data", colors, "--out", Path("colors-trained.net"),
                             "--init", "linear"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, Read((top / "examples" / "colors-trained.txt").string()));
  for (const char* doc : {"README.md", "docs/MapsmithTrain.1"}) {
    const std::string text = Read((top / doc).string());
    EXPECT_NE(text.find("quantization-error 0.0497686068418195\n"), std::string::npos) << doc;
    EXPECT_NE(text.find("topographic-error 0.00833333333333333\n"), std::string::npos) << doc;
  }
  const Outcome ring = Train({"-m", Path("colors-map.net"), "-d", colors, "-o", Path("ring.net"), "--mode", "online",
                              "--epochs", "50", "--torus", "--init", "sample", "--seed", "7", "--threads", "2"});
  EXPECT_EQ(ring.status, 0) << ring.err;
}

TEST(ProgressTextTest, PercentSpeedAndTimeLeft) {
  using mapsmith::ProgressText;
  EXPECT_EQ(ProgressText(45, 100, 9.0, "steps"), "Training  45%  5 steps/s  0:11 left");
  EXPECT_EQ(ProgressText(0, 100, 0.0, "epochs"), "Training   0%  -- epochs/s  -- left");
  EXPECT_EQ(ProgressText(3, 20, 4.0, "epochs"), "Training  15%  0.75 epochs/s  0:23 left");
  EXPECT_EQ(ProgressText(1, 10000, 1.0, "epochs"), "Training   0%  1 epochs/s  2:46:39 left");
  EXPECT_EQ(ProgressText(123456, 123456, 2.0, "steps"), "Training 100%  61728 steps/s  0:00 left");
}

}  // namespace
