// The network file writer: the whole text of maps, layered networks with every
// layer kind, fully connected and pruneable sets, and the failures of the file.
#include "FileHandler/NetworkFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "NeuralNets/Random.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/TPrunedConnections.h"
#include "tests/ExpectedMapFile.h"
#include "tests/HostileStreams.h"

namespace {

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Write(TBasicNetwork& network) {
  FileTools tools;
  std::ostringstream out;
  WriteNetwork(tools, out, &network);
  return out.str();
}

// The message that WriteNetwork throws, and what it wrote before.
std::string FailureOf(TBasicNetwork& network, std::string* written = nullptr) {
  FileTools tools;
  std::ostringstream out;
  try {
    WriteNetwork(tools, out, &network);
  } catch (const FileTools::Error& e) {
    if (written != nullptr) *written = out.str();
    return e.message;
  }
  return "no error";
}

std::string Between(const std::string& text, const std::string& from, const std::string& to) {
  const size_t a = text.find(from);
  if (a == std::string::npos) return "(missing " + from + ")";
  const size_t b = text.find(to, a);
  if (b == std::string::npos) return "(missing " + to + ")";
  return text.substr(a, b + to.size() - a);
}

TEST(NetworkFileTest, MapWithEqualLimitsIsTheWorkedExample) {
  const int sizes[] = {2, 2};
  TKohonenNetwork map(2, 2, sizes);
  map.Randomize(0.25, 0.25);
  const std::string text = Write(map);
  EXPECT_EQ(text, Slurp(std::filesystem::path(MAPSMITH_TEST_DATA) / "networkfile/kohonen-2x2-quarter.net"));
  EXPECT_EQ(text, expected::MapFile(2, {2, 2}, std::vector<double>(8, 0.25)));
}

TEST(NetworkFileTest, SeededMapMatchesAnIndependentRunOfTheGenerator) {
  const int sizes[] = {4, 5};
  TKohonenNetwork map(3, 2, sizes);
  SeedRandom(1765180800u);
  map.Randomize(-1.0, 1.0);
  EXPECT_EQ(Write(map), expected::MapFile(3, {4, 5}, expected::Draws(1765180800u, 3, 20, -1.0, 1.0)));

  const int line[] = {7};
  TKohonenNetwork narrow(2, 1, line);
  SeedRandom(42u);
  narrow.Randomize(-0.123456789012345678, 1234.5);
  EXPECT_EQ(Write(narrow),
            expected::MapFile(2, {7}, expected::Draws(42u, 2, 7, -0.123456789012345678, 1234.5)));
}

TEST(NetworkFileTest, MatrixCellsUseGeneralNotationAtAnyMagnitude) {
  const std::vector<double> values = {0.25, -0.123456789012345678, 1e300, -2.2250738585072014e-308,
                                      5e-324, 123456789012345678.0, 1e15, 999999999999999.5,
                                      0.0001, 0.00001, -0.0, 12345678901234.25, 1.0 / 3.0,
                                      100.0, 1e-5 * 3, 0.1 + 0.2, -1.23456789012345e-300};
  const int line[] = {static_cast<int>(values.size())};
  TKohonenNetwork map(1, 1, line);
  map.SetWeights(values.data(), 1);
  EXPECT_EQ(Write(map), expected::MapFile(1, {line[0]}, values));
  // A 22-character text overflows its field instead of being cut.
  EXPECT_NE(Write(map).find(" -1.23456789012345e-300  /* 0 */"), std::string::npos);
}

// Matrix weights take a fast exact path where their text has no exponent;
// every kind of value must still come out as the C library writes it.
TEST(NetworkFileTest, MatrixWeightsMatchTheCLibraryAcrossMagnitudesAndTies) {
  std::mt19937_64 bitsSource(20261208);
  std::vector<double> values;
  for (int i = 0; i < 40000; ++i) {  // any bit pattern but NaN
    const std::uint64_t bits = bitsSource();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isnan(v)) values.push_back(v);
  }
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int p = -7; p <= 17; ++p)
    for (int i = 0; i < 2000; ++i) values.push_back(unit(bitsSource) * std::pow(10.0, p));
  // Around every power of ten, and just below where 15 digits round up to it.
  for (int p = -7; p <= 17; ++p) {
    const double power = std::stod("1e" + std::to_string(p));
    for (const char* mantissa : {"9.99999999999999", "9.999999999999994", "9.999999999999995",
                                 "9.999999999999996", "9.9999999999999949", "9.9999999999999951"}) {
      const double below = std::stod(std::string(mantissa) + "e" + std::to_string(p - 1));
      values.insert(values.end(), {below, -below, std::nextafter(below, 0.0), std::nextafter(below, 1e300)});
    }
    values.insert(values.end(), {power, std::nextafter(power, 0.0), std::nextafter(power, 1e300)});
  }
  // Exact halfway cases: one more decimal than the 15 digits, ending in 5.
  std::uniform_int_distribution<std::int64_t> whole(1000000000000LL, 99999999999999LL);
  for (int i = 0; i < 4000; ++i) {
    const double base = static_cast<double>(whole(bitsSource));
    for (double part : {0.125, 0.25, 0.375, 0.5, 0.625, 0.75, 0.875}) values.push_back(base + part);
  }
  values.insert(values.end(), {0.0, -0.0, 1.0, -1.0, 0.5, 1e-4, 0.00015, 1e-5, 5e-324, 1e300,
                               HUGE_VAL, -HUGE_VAL, 999999999999999.4, 999999999999999.5});
  const int line[] = {static_cast<int>(values.size())};
  TKohonenNetwork map(1, 1, line);
  map.SetWeights(values.data(), 1);
  const std::string text = Write(map);
  const std::string expectedText = expected::MapFile(1, {line[0]}, values);
  const auto [mine, theirs] = std::mismatch(text.begin(), text.end(), expectedText.begin(), expectedText.end());
  if (mine != text.end() || theirs != expectedText.end()) {
    const size_t at = static_cast<size_t>(mine - text.begin());
    const size_t from = at < 30 ? 0 : at - 30;
    ADD_FAILURE() << "written:  ..." << text.substr(from, 60) << "\nexpected: ..."
                  << expectedText.substr(from, 60);
  }
}

TEST(NetworkFileTest, WriterLeavesTheStreamAtPrecisionFifteen) {
  const int sizes[] = {1};
  TKohonenNetwork map(1, 1, sizes);
  FileTools tools;
  std::ostringstream out;
  WriteNetwork(tools, out, &map);
  EXPECT_EQ(out.precision(), 15);
}

// Five layers: a bias neuron, the inputs, gain neurons with different
// functions, gain neurons with different gains, and an empty bias layer.
class LayerBlocks : public ::testing::Test {
 protected:
  void SetUp() override {
    net.SetLayer(0, std::make_unique<TSimpleLayer>(&net, 0, 1));
    net.GetLayer(0)->SetActFunction(ActBias);
    net.SetLayer(1, std::make_unique<TSimpleInputLayer>(&net, 1, 2));
    auto mixed = std::make_unique<TGainLayer>(&net, 2, 3, 1.0);
    mixed->SetActFunction(ActSigmoidGain);
    mixed->nodes[1].SetActFunction(ActTanhGain);
    net.SetLayer(2, std::move(mixed));
    auto gains = std::make_unique<TGainLayer>(&net, 3, 2, 1.0);
    gains->SetActFunction(ActLinearGain);
    gains->nodes[1].gain = 2.5;
    net.SetLayer(3, std::move(gains));
    net.SetLayer(4, std::make_unique<TSimpleLayer>(&net, 4, 0));
    net.GetLayer(4)->SetActFunction(ActBias);
    net.inLayer = 1;
    net.outLayer = 3;
  }
  TBasicNetwork net{5};
};

TEST_F(LayerBlocks, InformationLayersAndNeuronParameters) {
  const std::string text = Write(net);
  EXPECT_EQ(text,
            "[FormatVersion = 1.0]\n\n[NeuralNetwork]\n[NetworkType = Basic]\n\n"
            "[NetworkInformation]\n[NumberOfLayers = 5]\n[InputLayer = 1]\n[OutputLayer = 3]\n"
            "[NumberOfInputs = 2]\n[NumberOfOutputs = 2]\n[BiasLayer = 0]\n[~NetworkInformation]\n"
            "\n[Layer = 0]\n[LayerType = Simple]\n[NumberOfNeurons = 1]\n"
            "[All ActivationFunction=bias ]\n[~Layer]\n"
            "\n[Layer = 1]\n[LayerType = Input]\n[NumberOfNeurons = 2]\n"
            "[All ActivationFunction=linear ]\n[~Layer]\n"
            "\n[Layer = 2]\n[LayerType = Gain]\n[NumberOfNeurons = 3]\n"
            "[All Gain=1.000000000000000 ]\n[Neurons]\n"
            "[Neuron=0 ActivationFunction=sigmoid-gain ]\n"
            "[Neuron=1 ActivationFunction=tanh-gain ]\n"
            "[Neuron=2 ActivationFunction=sigmoid-gain ]\n[~Neurons]\n[~Layer]\n"
            "\n[Layer = 3]\n[LayerType = Gain]\n[NumberOfNeurons = 2]\n"
            "[All ActivationFunction=linear-gain ]\n[Neurons]\n"
            "[Neuron=0 Gain=1.000000000000000 ]\n[Neuron=1 Gain=2.500000000000000 ]\n"
            "[~Neurons]\n[~Layer]\n"
            "\n[Layer = 4]\n[LayerType = Simple]\n[NumberOfNeurons = 0]\n"
            "[All ActivationFunction=bias ]\n[~Layer]\n"
            "\n[~NeuralNetwork]\n");
}

TEST_F(LayerBlocks, GainLayerWithSharedGainAndFunctionsHasNoNeuronList) {
  static_cast<TGainLayer*>(net.GetLayer(3))->SetGains(1.0);
  EXPECT_EQ(Between(Write(net), "[Layer = 3]", "[~Layer]"),
            "[Layer = 3]\n[LayerType = Gain]\n[NumberOfNeurons = 2]\n"
            "[All ActivationFunction=linear-gain ]\n[All Gain=1.000000000000000 ]\n[~Layer]");
  // Functions and gains both differ: each neuron carries both.
  auto* layer = static_cast<TGainLayer*>(net.GetLayer(3));
  layer->nodes[0].SetActFunction(ActTanhGain);
  layer->nodes[1].gain = -0.5;
  EXPECT_EQ(Between(Write(net), "[Layer = 3]", "[~Layer]"),
            "[Layer = 3]\n[LayerType = Gain]\n[NumberOfNeurons = 2]\n[Neurons]\n"
            "[Neuron=0 ActivationFunction=tanh-gain Gain=1.000000000000000 ]\n"
            "[Neuron=1 ActivationFunction=linear-gain Gain=-0.500000000000000 ]\n"
            "[~Neurons]\n[~Layer]");
}

TEST_F(LayerBlocks, BiasLayerWithTwoNeuronsStopsTheWriterInTheInformationBlock) {
  net.SetLayer(4, std::make_unique<TSimpleLayer>(&net, 4, 2));
  net.GetLayer(4)->SetActFunction(ActBias);
  std::string written;
  EXPECT_EQ(FailureOf(net, &written), "Illegal number of bias nodes");
  EXPECT_EQ(written,
            "[FormatVersion = 1.0]\n\n[NeuralNetwork]\n[NetworkType = Basic]\n\n"
            "[NetworkInformation]\n[NumberOfLayers = 5]\n[InputLayer = 1]\n[OutputLayer = 3]\n"
            "[NumberOfInputs = 2]\n[NumberOfOutputs = 2]\n[BiasLayer = 0]\n");
}

// Two from neurons, five to neurons: ten possible weights.
class PruneableSet : public ::testing::Test {
 protected:
  void SetUp() override {
    net.SetLayer(0, std::make_unique<TSimpleInputLayer>(&net, 0, 2));
    net.SetLayer(1, std::make_unique<TSimpleLayer>(&net, 1, 5));
    net.GetLayer(1)->SetActFunction(ActSigmoid);
    net.inLayer = 0;
    net.outLayer = 1;
    net.Connect(0, 1);
    set = static_cast<TPrunedConnections*>(net.GetConnections(0, 1));
    for (int f = 0; f < 2; ++f)
      for (int t = 0; t < 5; ++t) set->Weight(f, t) = 0.5 * f - 0.125 * t;
  }
  std::string Block() { return Between(Write(net), "[ConnectionLayer]", "[~ConnectionLayer]"); }
  TBasicNetwork net{2};
  TPrunedConnections* set = nullptr;
};

TEST_F(PruneableSet, MatrixMarksPrunedFrozenAndTrainableWeights) {
  // Keep four of ten: 3.5 is not greater than 4, so the matrix stays.
  for (auto [f, t] : {std::pair{0, 0}, {0, 2}, {0, 4}, {1, 1}, {1, 2}, {1, 3}}) set->PruneWeight(f, t);
  set->MakeUntrainable(1, 4);
  auto cell = [](const char* weight, const char* marker) {
    char text[64];
    std::snprintf(text, sizeof text, "%20s %s", weight, marker);
    return std::string(text);
  };
  std::string expected =
      "[ConnectionLayer]\n[LayerFrom = 0]\n[LayerTo = 1]\n[ConnectionType = Pruneable]\n"
      "[Attributes Pruneable Freezable ]\n[Matrix Weights TrainableInfo ]\n/* To->";
  char text[64];
  for (int s = 0; s < 5; ++s) {
    std::snprintf(text, sizeof text, s == 0 ? "%15d" : "%23d", s);
    expected += text;
  }
  expected += "  From */\n";
  expected += cell("-", "- ") + cell("-0.125", "T ") + cell("-", "- ") + cell("-0.375", "T ") +
              cell("-", "- ") + " /* 0 */\n";
  expected += cell("0.5", "T ") + cell("-", "- ") + cell("-", "- ") + cell("-", "- ") +
              cell("0", "F ") + " /* 1 */\n";
  expected += "[~Matrix]\n[~ConnectionLayer]";
  EXPECT_EQ(Block(), expected);
}

TEST_F(PruneableSet, FewerThanThirtyFivePercentGiveAWeightList) {
  for (auto [f, t] : {std::pair{0, 0}, {0, 2}, {0, 4}, {1, 1}, {1, 2}, {1, 3}, {0, 1}}) set->PruneWeight(f, t);
  set->MakeUntrainable(1, 4);
  set->Weight(1, 0) = 1234.5;
  EXPECT_EQ(Block(),
            "[ConnectionLayer]\n[LayerFrom = 0]\n[LayerTo = 1]\n[ConnectionType = Pruneable]\n"
            "[Attributes Pruneable Freezable ]\n[WeightList]\n"
            "[From=1 To=0 Weight=1234.500000000000000 Trainable ]\n"
            "[From=0 To=3 Weight=-0.375000000000000 Trainable ]\n"
            "[From=1 To=4 Weight=0.000000000000000 UnTrainable ]\n"
            "[~WeightList]\n[~ConnectionLayer]");
}

// A set of a kind the writer does not know is read through its operations.
class OtherPruneableSet : public TPrunedConnections {
 public:
  using TPrunedConnections::TPrunedConnections;
};

TEST_F(PruneableSet, SetsOfOtherKindsGiveTheSameText) {
  for (auto [f, t] : {std::pair{0, 0}, {1, 3}}) set->PruneWeight(f, t);
  set->MakeUntrainable(1, 4);
  const std::string known = Block();
  auto other = std::make_unique<OtherPruneableSet>(&net, 0, 1);
  for (int f = 0; f < 2; ++f)
    for (int t = 0; t < 5; ++t) {
      other->Weight(f, t) = set->Weight(f, t);
      other->SetWeightFlags(f, t, set->GetWeightFlags(f, t));
    }
  net.SetConnections(std::move(other));
  EXPECT_EQ(Block(), known);
  EXPECT_NE(known.find(" F  /* 1 */"), std::string::npos);
}

TEST(NetworkFileTest, ConnectionBlocksFollowFromThenToLayer) {
  const int sizes[] = {2, 1, 1};
  TConnectedNetwork net(3, sizes);
  for (int L = 0; L < 3; ++L) net.GetLayer(L)->SetActFunction(ActLinear);
  net.outLayer = 2;
  net.Connect(1, 2);
  net.Connect(0, 2);
  net.Connect(2, 0);
  net.Connect(0, 1);
  std::string order;
  const std::string text = Write(net);
  for (size_t at = text.find("[LayerFrom = "); at != std::string::npos;
       at = text.find("[LayerFrom = ", at + 1))
    order += text.substr(at + 13, 1) + text.substr(text.find("[LayerTo = ", at) + 11, 1) + " ";
  EXPECT_EQ(order, "01 02 12 20 ");
  EXPECT_NE(text.find("[NetworkType = Connected]\n\n[NetworkInformation]"), std::string::npos);
  EXPECT_EQ(text.find("[Dimensions"), std::string::npos);
  EXPECT_EQ(Between(text, "[LayerFrom = 2]", "[~Matrix]"),
            "[LayerFrom = 2]\n[LayerTo = 0]\n[ConnectionType = FullyConnected]\n"
            "[Attributes UnPrunable UnFreezable ]\n[Matrix Weights ]\n"
            "/* To->            0                    1  From */\n"
            "                   0                    0  /* 0 */\n[~Matrix]");
}

class LowerCaseMap : public TKohonenNetwork {
 public:
  using TKohonenNetwork::TKohonenNetwork;
  const char* GetNetworkType() override { return "kohonen"; }
};

TEST(NetworkFileTest, DimensionsFollowTheTypeNameInAnyCase) {
  const int sizes[] = {3, 1, 2};
  LowerCaseMap map(1, 3, sizes);
  EXPECT_EQ(Between(Write(map), "[NetworkType", "[~Dimensions]"),
            "[NetworkType = kohonen]\n\n[NetworkInformation]\n[NumberOfLayers = 3]\n"
            "[InputLayer = 1]\n[OutputLayer = 2]\n[NumberOfInputs = 1]\n[NumberOfOutputs = 6]\n"
            "[~NetworkInformation]\n\n[Dimensions = 3]\n[Dimension=0 Size=3 ]\n"
            "[Dimension=1 Size=1 ]\n[Dimension=2 Size=2 ]\n[~Dimensions]");
}

TEST(NetworkFileTest, MessageIsTakenOverAndNothingIsReportedInIt) {
  const int sizes[] = {1};
  TKohonenNetwork map(1, 1, sizes);
  FileTools tools;
  std::ostringstream out;
  auto message = std::make_unique<TKQstructure>("note");
  message->SetString("topic", "ignored");
  WriteNetwork(tools, out, &map, std::move(message));
  EXPECT_EQ(out.str(), expected::MapFile(1, {1}, {0.0}));
}

// ---- files ----

class NetworkFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("mapsmith-networkfile-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Save(TBasicNetwork& network, const std::string& path) {
    FileTools tools;
    try {
      SaveNetworkFile(tools, path.c_str(), &network);
    } catch (const FileTools::Error& e) {
      return e.message;
    }
    return "saved";
  }
  std::filesystem::path dir;
  const int sizes[2] = {2, 3};
  TKohonenNetwork map{2, 2, sizes};
};

TEST_F(NetworkFileOnDisk, SavedFileHoldsWhatWriteNetworkWritesAndReplacesOldContents) {
  const std::string path = (dir / "map.net").string();
  std::ofstream(path) << std::string(100000, 'x');
  SeedRandom(7u);
  map.Randomize(-2.0, 2.0);
  EXPECT_EQ(Save(map, path), "saved");
  EXPECT_EQ(Slurp(path), Write(map));
}

TEST_F(NetworkFileOnDisk, FileThatCannotBeCreatedIsReportedAndNothingIsWritten) {
  const auto path = dir / "missing" / "map.net";
  EXPECT_EQ(Save(map, path.string()), "Error on File Open");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(Save(map, dir.string()), "Error on File Open");
}

TEST_F(NetworkFileOnDisk, FullDeviceIsAWriteError) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(Save(map, "/dev/full"), "Error on File Write");
  // A matrix larger than every buffer fails while the rows are written.
  const int big[] = {300, 300};
  TKohonenNetwork large(10, 2, big);
  EXPECT_EQ(Save(large, "/dev/full"), "Error on File Write");
}

TEST_F(NetworkFileOnDisk, WriterErrorsLeaveTheLinesBeforeThemInTheFile) {
  TBasicNetwork net(1);
  net.inLayer = 0;
  net.SetLayer(0, std::make_unique<TSimpleLayer>(&net, 0, 3));
  net.GetLayer(0)->SetActFunction(ActBias);
  const std::string path = (dir / "bias.net").string();
  EXPECT_EQ(Save(net, path), "Illegal number of bias nodes");
  EXPECT_EQ(Slurp(path),
            "[FormatVersion = 1.0]\n\n[NeuralNetwork]\n[NetworkType = Basic]\n\n"
            "[NetworkInformation]\n[NumberOfLayers = 1]\n[InputLayer = 0]\n[OutputLayer = 0]\n"
            "[NumberOfInputs = 3]\n[NumberOfOutputs = 3]\n");
}

using NetworkFileOnDiskDeathTest = NetworkFileOnDisk;

// The disk fills up while a large map is written over a smaller one: the old
// file stays as it was, with its permission bits, and no temporary file is
// left beside it.
TEST_F(NetworkFileOnDiskDeathTest, AFailedWriteLeavesTheOldFileAsItWas) {
  const std::string path = (dir / "map.net").string();
  ASSERT_EQ(Save(map, path), "saved");
  ::chmod(path.c_str(), 0640);
  const std::string old = Slurp(path);
  const int big[] = {100, 100};
  TKohonenNetwork large(10, 2, big);
  EXPECT_EXIT(
      {
        if (!hostile::LimitFileSize(64 << 10)) std::_Exit(3);
        std::_Exit(Save(large, path) == "Error on File Write" ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(Slurp(path), old);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
}

TEST_F(NetworkFileOnDisk, SavingReplacesTheFileALinkNamesAndKeepsItsMode) {
  const auto real = dir / "real.net";
  std::ofstream(real) << "old";
  ::chmod(real.c_str(), 0600);
  std::filesystem::create_symlink("real.net", dir / "link.net");
  EXPECT_EQ(Save(map, (dir / "link.net").string()), "saved");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.net"));
  EXPECT_EQ(Slurp(real.string()), Write(map));
  struct stat st;
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(Save(map, "/dev/null"), "saved");
}

TEST(NetworkFileTest, FailedCallerStreamIsAWriteError) {
  const int sizes[] = {2};
  TKohonenNetwork map(1, 1, sizes);
  FileTools tools;
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  try {
    WriteNetwork(tools, out, &map);
    FAIL() << "no error";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Error on File Write");
    EXPECT_EQ(e.stream, &out);
    EXPECT_EQ(e.code, 0);
  }
}

}  // namespace
