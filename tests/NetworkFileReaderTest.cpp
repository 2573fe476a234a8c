#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/NetworkFile.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/TPrunedConnections.h"
#include "tests/HostileStreams.h"

namespace {

const std::string kDir = std::string(MAPSMITH_TEST_DATA) + "/networkfile/";

std::unique_ptr<TBasicNetwork> Load(const std::string& name) {
  FileTools tools;
  return LoadNetworkFile(tools, (kDir + name).c_str());
}

std::unique_ptr<TBasicNetwork> Parse(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  return ReadNetwork(tools, in);
}

// The message a text fails with, or "" when it reads.
std::string ParseError(const std::string& text) {
  try {
    Parse(text);
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.code, 0);
    return e.message;
  }
  return "";
}

std::string FunctionName(TBasicNetwork& net, TActFunction fn) {
  return net.registry->GetFunctionName(fn);
}

double Gain(TBasicNetwork& net, int layer, int neuron) {
  double gain = 0.0;
  net.GetLayer(layer)->GetNeuron(neuron)->GetParams(&gain);
  return gain;
}

TEST(NetworkFileReaderTest, ReadsTheKohonenExample) {
  auto net = Load("good/kohonen_example.net");
  auto* map = dynamic_cast<TKohonenNetwork*>(net.get());
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->numLayers, 3);
  EXPECT_EQ(map->inLayer, 1);
  EXPECT_EQ(map->outLayer, 2);
  ASSERT_EQ(map->numDimensions, 2);
  EXPECT_EQ(map->dimensions[0], 2);
  EXPECT_EQ(map->dimensions[1], 2);

  const char* types[] = {"Simple", "Input", "Simple"};
  const int counts[] = {0, 2, 4};
  const char* functions[] = {"error", "linear", "linear"};
  for (int l = 0; l < 3; ++l) {
    TBasicLayer* layer = map->GetLayer(l);
    EXPECT_STREQ(layer->GetLayerType(), types[l]);
    EXPECT_EQ(layer->numNeurons, counts[l]);
    for (int i = 0; i < layer->numNeurons; ++i)
      EXPECT_EQ(FunctionName(*map, layer->GetNeuron(i)->actFunction), functions[l]);
  }
  for (int from = 0; from < 3; ++from)
    for (int to = 0; to < 3; ++to)
      EXPECT_EQ(map->GetConnections(from, to)->IsConnected(), from == 1 && to == 2);

  auto* conns = dynamic_cast<TConnectedConnections*>(map->GetConnections(1, 2));
  ASSERT_NE(conns, nullptr);
  const double expected[2][4] = {{0.25, -0.123456789012346, -0.5, 1.5e-07},
                                 {1, 0, 0.0999999999999999, -12}};
  for (int r = 0; r < 2; ++r)
    for (int s = 0; s < 4; ++s) EXPECT_EQ(conns->Weight(r, s), expected[r][s]) << r << "," << s;
}

TEST(NetworkFileReaderTest, ReadsWhatTheWriterNeverWrites) {
  // Mixed case, All-wrapped keywords, layers and neurons out of order,
  // headers in odd places, both weight forms and several weight blocks.
  auto net = Load("good/basic_mixed.net");
  EXPECT_STREQ(net->GetNetworkType(), "Basic");
  EXPECT_EQ(net->numLayers, 4);
  EXPECT_EQ(net->inLayer, 1);
  EXPECT_EQ(net->outLayer, 3);
  EXPECT_EQ(FunctionName(*net, net->GetLayer(0)->GetActFunction()), "bias");
  EXPECT_STREQ(net->GetLayer(1)->GetLayerType(), "Input");

  // The layer-level Gain reaches every neuron when there is no neuron list.
  TBasicLayer* gains = net->GetLayer(2);
  EXPECT_STREQ(gains->GetLayerType(), "Gain");
  EXPECT_EQ(Gain(*net, 2, 0), 1.25);
  EXPECT_EQ(Gain(*net, 2, 1), 1.25);
  EXPECT_EQ(FunctionName(*net, gains->GetActFunction()), "sigmoid-gain");

  // A neuron that names no Gain keeps the value stored last: neuron 2 (read
  // first) the All value, neuron 1 (read last) neuron 0's.
  TBasicLayer* listed = net->GetLayer(3);
  EXPECT_EQ(Gain(*net, 3, 0), 2.0);
  EXPECT_EQ(Gain(*net, 3, 1), 2.0);
  EXPECT_EQ(Gain(*net, 3, 2), 0.5);
  EXPECT_EQ(FunctionName(*net, listed->GetNeuron(0)->actFunction), "sigmoid-gain");
  EXPECT_EQ(FunctionName(*net, listed->GetNeuron(1)->actFunction), "linear-gain");
  EXPECT_EQ(FunctionName(*net, listed->GetNeuron(2)->actFunction), "tanh-gain");
  EXPECT_EQ(listed->GetActFunction(), nullptr);

  // Weight list in a pruneable set: exactly the listed weights exist.
  auto* list = dynamic_cast<TPrunedConnections*>(net->GetConnections(1, 2));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->GetNumWeights(1), 2);
  EXPECT_TRUE(list->WeightExists(0, 1));
  EXPECT_FALSE(list->IsTrainable(0, 1));
  EXPECT_EQ(list->Weight(0, 1), -1.5);
  EXPECT_TRUE(list->WeightExists(1, 0));
  EXPECT_TRUE(list->IsTrainable(1, 0));
  EXPECT_EQ(list->Weight(1, 0), 0.0);

  // Two matrices and a list on one set: later blocks overwrite earlier ones.
  auto* blocks = dynamic_cast<TPrunedConnections*>(net->GetConnections(0, 3));
  ASSERT_NE(blocks, nullptr);
  EXPECT_EQ(blocks->GetNumWeights(1), 2);
  EXPECT_EQ(blocks->Weight(0, 0), 0.75);
  EXPECT_TRUE(blocks->IsTrainable(0, 0));
  EXPECT_EQ(blocks->Weight(0, 1), 7.0);
  EXPECT_FALSE(blocks->IsTrainable(0, 1));
  EXPECT_FALSE(blocks->WeightExists(0, 2));

  auto* full = dynamic_cast<TConnectedConnections*>(net->GetConnections(2, 3));
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->Weight(0, 0), 1.0);
  EXPECT_EQ(full->Weight(0, 2), 3.0);
  EXPECT_EQ(full->Weight(1, 0), 4.0);
  EXPECT_EQ(full->Weight(1, 2), 6.0);
  EXPECT_EQ(net->GetNumWeights(1), 10);
}

// A two-layer network around the given layer and connection text.
std::string TwoLayers(const std::string& info, const std::string& layer1, const std::string& rest) {
  return "[NeuralNetwork]\n[NetworkType = Connected]\n[NetworkInformation]\n[NumberOfLayers = 2]\n" + info +
         "[~NetworkInformation]\n[Layer = 0]\n[LayerType = Input]\n[NumberOfNeurons = 2]\n"
         "[All ActivationFunction=linear ]\n[~Layer]\n[Layer = 1]\n" +
         layer1 + "[~Layer]\n" + rest + "[~NeuralNetwork]\n";
}

TEST(NetworkFileReaderTest, InformationDefaults) {
  // No InputLayer: layer 1; no OutputLayer: the last layer.
  auto net = Parse(TwoLayers("", "[LayerType = Simple]\n[NumberOfNeurons = 1]\n", ""));
  EXPECT_STREQ(net->GetNetworkType(), "Connected");
  EXPECT_EQ(net->inLayer, 1);
  EXPECT_EQ(net->outLayer, 1);
  net = Parse(TwoLayers("[InputLayer = 0]\n[OutputLayer = 0]\n[NumberOfInputs = 2]\n",
                        "[LayerType = Simple]\n[NumberOfNeurons = 1]\n", ""));
  EXPECT_EQ(net->inLayer, 0);
  EXPECT_EQ(net->outLayer, 0);
}

TEST(NetworkFileReaderTest, NetworkTypeInAnyCase) {
  std::string text = TwoLayers("", "[LayerType = Simple]\n[NumberOfNeurons = 0]\n", "");
  text.replace(text.find("Connected"), 9, "coNNected");
  EXPECT_STREQ(Parse(text)->GetNetworkType(), "Connected");
}

TEST(NetworkFileReaderTest, EmptyNeuronListForLayerWithoutNeurons) {
  auto net = Parse(TwoLayers("", "[LayerType = Simple]\n[NumberOfNeurons = 0]\n[Neurons]\n[~Neurons]\n", ""));
  EXPECT_EQ(net->GetLayer(1)->numNeurons, 0);
}

TEST(NetworkFileReaderTest, LayerFunctionWinsOverNeuronFunction) {
  auto net = Parse(TwoLayers("",
                             "[LayerType = Simple]\n[NumberOfNeurons = 2]\n[All ActivationFunction=tanh ]\n"
                             "[Neurons]\n[Neuron=0 ActivationFunction=sigmoid ]\n[Neuron=1]\n[~Neurons]\n",
                             ""));
  EXPECT_EQ(FunctionName(*net, net->GetLayer(1)->GetNeuron(0)->actFunction), "tanh");
  EXPECT_EQ(FunctionName(*net, net->GetLayer(1)->GetActFunction()), "tanh");
}

TEST(NetworkFileReaderTest, MatrixWithTrainableColumn) {
  auto net = Parse(TwoLayers("", "[LayerType = Simple]\n[NumberOfNeurons = 2]\n",
                             "[ConnectionLayer]\n[LayerFrom = 0]\n[LayerTo = 1]\n[ConnectionType = Pruneable]\n"
                             "[Matrix Weights TrainableInfo ]\n0.5 T - - /* row */ 0.25 F -0 t\n[~Matrix]\n"
                             "[~ConnectionLayer]\n"));
  auto* conns = dynamic_cast<TPrunedConnections*>(net->GetConnections(0, 1));
  ASSERT_NE(conns, nullptr);
  EXPECT_EQ(conns->GetWeightFlags(0, 0), FMaskAll);
  EXPECT_EQ(conns->Weight(0, 0), 0.5);
  EXPECT_EQ(conns->GetWeightFlags(0, 1), 0);
  EXPECT_EQ(conns->GetWeightFlags(1, 0), FMaskExists);
  EXPECT_EQ(conns->Weight(1, 0), 0.25);
  EXPECT_EQ(conns->GetWeightFlags(1, 1), FMaskAll);
  EXPECT_TRUE(std::signbit(conns->Weight(1, 1)));
}

TEST(NetworkFileReaderTest, HeaderAfterTheEndIsSkipped) {
  const std::string text = TwoLayers("", "[LayerType = Simple]\n[NumberOfNeurons = 0]\n", "");
  EXPECT_EQ(ParseError(text + "[FormatVersion = 1.0]\n/* done */\n"), "");
  EXPECT_EQ(ParseError(text + "0"), "End Tag expected");
}

TEST(NetworkFileReaderTest, KohonenAlwaysHasThreeLayers) {
  std::ifstream file(kDir + "good/kohonen_example.net");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  text.replace(text.find("[NumberOfLayers = 3]"), 20, "[NumberOfLayers = 5]");
  EXPECT_EQ(Parse(text)->numLayers, 3);
}

TEST(NetworkFileReaderTest, UnknownWeightListFlagIsPrinted) {
  testing::internal::CaptureStdout();
  EXPECT_THROW(Load("bad/list_unknown_flag.net"), FileTools::Error);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Frozen\n");
}

TEST(NetworkFileReaderTest, MissingFile) {
  FileTools tools;
  try {
    LoadNetworkFile(tools, (kDir + "no-such-file.net").c_str());
    FAIL() << "no error";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Error on File Open");
  }
}

TEST(NetworkFileReaderTest, TakesOverTheMessage) {
  FileTools tools;
  std::istringstream in(TwoLayers("", "[LayerType = Simple]\n[NumberOfNeurons = 0]\n", ""));
  EXPECT_NE(ReadNetwork(tools, in, std::make_unique<TKQstructure>("ask")), nullptr);
}

// ---------------------------------------------------------------- hostile files

// A Kohonen file with 2 inputs, the given Dimensions block, a map layer of
// `neurons` neurons and the given connection blocks.
std::string KohonenFile(const std::string& dimensions, int neurons, const std::string& connections) {
  return "[NeuralNetwork]\n[NetworkType = Kohonen]\n[NetworkInformation]\n[NumberOfLayers = 3]\n"
         "[~NetworkInformation]\n" +
         dimensions +
         "[Layer = 0]\n[LayerType = Simple]\n[NumberOfNeurons = 0]\n[All ActivationFunction=error ]\n[~Layer]\n"
         "[Layer = 1]\n[LayerType = Input]\n[NumberOfNeurons = 2]\n[All ActivationFunction=linear ]\n[~Layer]\n"
         "[Layer = 2]\n[LayerType = Simple]\n[NumberOfNeurons = " +
         std::to_string(neurons) + "]\n[All ActivationFunction=linear ]\n[~Layer]\n" + connections +
         "[~NeuralNetwork]\n";
}

std::string Grid(const std::vector<int>& sizes) {
  std::string text = "[Dimensions = " + std::to_string(sizes.size()) + "]\n";
  for (size_t j = 0; j < sizes.size(); ++j)
    text += "[Dimension=" + std::to_string(j) + " Size=" + std::to_string(sizes[j]) + " ]\n";
  return text + "[~Dimensions]\n";
}

// A fully connected set between two layers, every weight 0.5.
std::string FullSet(int from, int to, int cells) {
  std::string text = "[ConnectionLayer]\n[LayerFrom = " + std::to_string(from) + "]\n[LayerTo = " +
                     std::to_string(to) + "]\n[ConnectionType = FullyConnected]\n[Matrix Weights ]\n";
  for (int i = 0; i < cells; ++i) text += "0.5 ";
  return text + "\n[~Matrix]\n[~ConnectionLayer]\n";
}

// Reads a Kohonen file and runs the map over a few labelled rows: every
// operation that turns neuron numbers into grid coordinates or back, and the
// winner search. Returns the reader's message, or "" when all of it ran.
std::string ReadAndRun(const std::string& text) {
  std::unique_ptr<TBasicNetwork> net;
  try {
    net = Parse(text);
  } catch (const FileTools::Error& e) {
    return e.message;
  }
  auto& map = dynamic_cast<TKohonenNetwork&>(*net);
  Data rows(3, 2, 0, true);
  const double x[3][2] = {{0.5, 0.5}, {1, 2}, {-3, 0}};
  for (int r = 0; r < 3; ++r) {
    const TLabelList labels("row" + std::to_string(r), 1.0);
    rows.AddRow(x[r], nullptr, &labels);
  }
  double out[2];
  map.FindWinner(x[1], out);
  auto coords = map.WinnerCoordinates(&rows);
  auto labelled = map.LabelMap(&rows);
  map.ReconstructData(&rows);
  LabelRows(coords.get(), labelled.get());
  return "";
}

TEST(NetworkFileHostileTest, KohonenFilesTheMapCannotUseAreRefused) {
  // Maps the runs can use.
  EXPECT_EQ(ReadAndRun(KohonenFile(Grid({2, 2}), 4, FullSet(1, 2, 8))), "");
  EXPECT_EQ(ReadAndRun(KohonenFile(Grid({4}), 4, FullSet(1, 2, 8))), "");
  EXPECT_EQ(ReadAndRun(KohonenFile(Grid({1, 3, 1}), 3, FullSet(1, 2, 6))), "");

  // Each used to end in an assertion, a division by zero or labels lost.
  EXPECT_EQ(ReadAndRun(KohonenFile("[Dimensions = 0]\n[~Dimensions]\n", 4, FullSet(1, 2, 8))),
            "Number of dimensions out of range");
  EXPECT_EQ(ReadAndRun(KohonenFile(Grid({2, 0}), 4, FullSet(1, 2, 8))), "Dimension 1 size out of range");
  EXPECT_EQ(ReadAndRun(KohonenFile(Grid({-2, -2}), 4, FullSet(1, 2, 8))), "Dimension 0 size out of range");
  EXPECT_EQ(ReadAndRun(KohonenFile(Grid({2, 1000}), 4, FullSet(1, 2, 8))),
            "Dimensions give 2000 neurons, the map layer has 4");
  EXPECT_EQ(ReadAndRun(KohonenFile(Grid({65536, 65536}), 4, FullSet(1, 2, 8))),
            "Dimensions give 2147483648 neurons, the map layer has 4");
  EXPECT_EQ(ReadAndRun(KohonenFile(Grid({1}), 0, "")), "Map layer has no neurons");
  EXPECT_EQ(ReadAndRun(KohonenFile(Grid({2, 2}), 4, "")), "Kohonen map lacks connections from layer 1 to layer 2");
  EXPECT_EQ(ReadAndRun(KohonenFile(Grid({2, 2}), 4, FullSet(2, 1, 8))),
            "Kohonen map lacks connections from layer 1 to layer 2");
}

// One Basic layer of `neurons` neurons, then `rest` before the end tag.
std::string BigLayer(const std::string& neurons, const std::string& rest = "") {
  return "[NeuralNetwork]\n[NetworkType = Basic]\n[NetworkInformation]\n[NumberOfLayers = 2]\n[InputLayer = 0]\n"
         "[~NetworkInformation]\n[Layer = 0]\n[LayerType = Simple]\n[NumberOfNeurons = " +
         neurons +
         "]\n[All ActivationFunction=linear ]\n[~Layer]\n[Layer = 1]\n[LayerType = Simple]\n[NumberOfNeurons = " +
         neurons + "]\n[All ActivationFunction=linear ]\n[~Layer]\n" + rest;
}

TEST(NetworkFileHostileTest, SizesTheInputCannotHoldAreRefusedBeforeAllocating) {
  // A few hundred bytes asking for gigabytes.
  EXPECT_EQ(ParseError(BigLayer("300000000", "[~NeuralNetwork]\n")), "Network larger than the file");
  EXPECT_EQ(ParseError(BigLayer("46000",
                                "[ConnectionLayer]\n[LayerFrom = 0]\n[LayerTo = 1]\n"
                                "[ConnectionType = FullyConnected]\n[Matrix Weights ]\n0.5 0.25\n")),
            "Network larger than the file");
  EXPECT_EQ(ParseError(BigLayer("20000",
                                "[ConnectionLayer]\n[LayerFrom = 0]\n[LayerTo = 1]\n"
                                "[ConnectionType = Pruneable]\n[Matrix Weights ]\n0.5")),
            "Network larger than the file");
  // Storage up to 64 MiB needs no text to back it: two layers of 500,000
  // neurons and an empty pruneable set of 4,000,000 weights.
  auto net = Parse(BigLayer("500000", "[~NeuralNetwork]\n"));
  EXPECT_EQ(net->GetLayer(1)->numNeurons, 500000);
  net = Parse(BigLayer("2000",
                       "[ConnectionLayer]\n[LayerFrom = 0]\n[LayerTo = 1]\n[ConnectionType = Pruneable]\n"
                       "[WeightList]\n[~WeightList]\n[~ConnectionLayer]\n[~NeuralNetwork]\n"));
  EXPECT_EQ(net->GetNumWeights(1), 0);
  // Beyond that, the input must hold the network: a cut-off matrix of
  // 3,000 x 3,000 cells is refused when only its start is there.
  std::string matrix = BigLayer("3000",
                                "[ConnectionLayer]\n[LayerFrom = 0]\n[LayerTo = 1]\n"
                                "[ConnectionType = FullyConnected]\n[Matrix Weights ]\n");
  EXPECT_EQ(ParseError(matrix + std::string(100000, '1')), "Network larger than the file");
  // A stream that cannot tell its size (a pipe) still reads what fits.
  hostile::PipeBuffer pipe(KohonenFile(Grid({2, 2}), 4, FullSet(1, 2, 8)));
  std::istream piped(&pipe);
  FileTools tools;
  EXPECT_EQ(ReadNetwork(tools, piped)->GetLayer(2)->numNeurons, 4);
}

TEST(NetworkFileHostileDeathTest, AllocationFailureIsAFileError) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
  // Within what the file may ask for, but more than the process may take.
  const std::string text = BigLayer("1000000", "[~NeuralNetwork]\n");
  EXPECT_EXIT(
      {
        if (!hostile::LimitAddressSpace(16 << 20)) std::_Exit(3);
        try {
          Parse(text);
        } catch (const FileTools::Error& e) {
          std::_Exit(e.message == "Not enough memory for the network" ? 0 : 1);
        }
        std::_Exit(2);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(NetworkFileHostileTest, ReadErrorsAreFileErrors) {
  const std::string text = KohonenFile(Grid({2, 2}), 4, FullSet(1, 2, 8));
  hostile::FailingBuffer failing(text.substr(0, text.size() / 2));
  std::istream in(&failing);
  FileTools tools;
  try {
    ReadNetwork(tools, in);
    ADD_FAILURE() << "read";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Error on File Read");
  }
  auto messageOf = [&](const std::string& path) -> std::string {
    try {
      LoadNetworkFile(tools, path.c_str());
    } catch (const FileTools::Error& e) {
      return e.message;
    }
    return "";
  };
  EXPECT_EQ(messageOf(kDir + "bad"), "Error on File Open");
  // Reading this file fails with an I/O error at once.
  if (std::filesystem::exists("/proc/self/mem")) {
    EXPECT_EQ(messageOf("/proc/self/mem"), "Error on File Read");
  }
}

TEST(NetworkFileHostileTest, InputEndingInsideAMatrixCellIsAnEndOfFile) {
  const std::string start = BigLayer("2",
                                     "[ConnectionLayer]\n[LayerFrom = 0]\n[LayerTo = 1]\n"
                                     "[ConnectionType = FullyConnected]\n[Matrix Weights ]\n0.5 ");
  EXPECT_EQ(ParseError(start + "-"), "Unexpected end of file");
  EXPECT_EQ(ParseError(start + "- "), "FullyConnected weights cannot be pruned");
  std::string flags = start;
  flags.replace(flags.find("Weights ]"), 9, "Weights TrainableInfo ]");
  EXPECT_EQ(ParseError(flags + "T 0.5 F"), "Unexpected end of file");
  EXPECT_EQ(ParseError(flags + "T 0.5 x"), "Unexpected end of file");
  EXPECT_EQ(ParseError(flags + "T 0.5 x 1"), "Trainable flag T or F expected");
}

// ---------------------------------------------------------------- round trips

std::string Write(TBasicNetwork& net) {
  FileTools tools;
  std::ostringstream out;
  WriteNetwork(tools, out, &net);
  return out.str();
}

// The double that a weight's written text stands for: the general notation
// with 15 significant digits, as the matrix holds it.
double AsWritten(double w) {
  char buffer[FileTools::GeneralNumberSize];
  std::istringstream none;
  return FileTools::ParseNumber(none, FileTools::FormatGeneral(w, buffer));
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Writes, reads and writes again: both texts must be the same bytes.
std::unique_ptr<TBasicNetwork> RoundTrip(TBasicNetwork& net) {
  const std::string first = Write(net);
  auto read = Parse(first);
  EXPECT_EQ(Write(*read), first);
  EXPECT_STREQ(read->GetNetworkType(), net.GetNetworkType());
  EXPECT_EQ(read->numLayers, net.numLayers);
  EXPECT_EQ(read->inLayer, net.inLayer);
  EXPECT_EQ(read->outLayer, net.outLayer);
  for (int l = 0; l < net.numLayers; ++l) {
    EXPECT_STREQ(read->GetLayer(l)->GetLayerType(), net.GetLayer(l)->GetLayerType());
    EXPECT_EQ(read->GetLayer(l)->numNeurons, net.GetLayer(l)->numNeurons);
  }
  return read;
}

TEST(NetworkFileRoundTripTest, RandomKohonenMap) {
  const int sizes[] = {3, 4};
  TKohonenNetwork map(5, 2, sizes);
  SeedRandom(12345);
  map.Randomize(-1.0, 1.0);
  auto read = RoundTrip(map);
  auto& copy = dynamic_cast<TKohonenNetwork&>(*read);
  ASSERT_EQ(copy.numDimensions, 2);
  EXPECT_EQ(copy.dimensions[0], 3);
  EXPECT_EQ(copy.dimensions[1], 4);
  TBasicConnections* a = map.GetConnections(1, 2);
  TBasicConnections* b = copy.GetConnections(1, 2);
  for (int f = 0; f < 5; ++f)
    for (int t = 0; t < 12; ++t) EXPECT_TRUE(SameBits(b->Weight(f, t), AsWritten(a->Weight(f, t))));
}

TEST(NetworkFileRoundTripTest, EqualLimitsReadBackBitForBit) {
  const int sizes[] = {2, 2};
  for (double limit : {0.1, -2.5e-300, 123456.789012345, 1.0 / 3.0}) {
    TKohonenNetwork map(3, 2, sizes);
    map.Randomize(limit, limit);
    auto read = RoundTrip(map);
    TBasicConnections* a = map.GetConnections(1, 2);
    TBasicConnections* b = read->GetConnections(1, 2);
    for (int f = 0; f < 3; ++f)
      for (int t = 0; t < 4; ++t) EXPECT_TRUE(SameBits(b->Weight(f, t), AsWritten(a->Weight(f, t)))) << limit;
  }
}

TEST(NetworkFileRoundTripTest, ConnectedNetwork) {
  const int sizes[] = {2, 3, 4, 2};
  TConnectedNetwork net(4, sizes);
  net.Connect(1, 2);
  net.Connect(2, 3);
  net.Connect(1, 3);
  net.GetLayer(2)->SetActFunction(net.registry->GetFunction("sigmoid"));
  net.GetLayer(3)->SetActFunction(net.registry->GetFunction("tanh"));
  SeedRandom(99);
  net.Randomize(-5.0, 5.0);
  auto read = RoundTrip(net);
  EXPECT_EQ(read->GetNumWeights(1), 3 * 4 + 4 * 2 + 3 * 2);
  EXPECT_EQ(FunctionName(*read, read->GetLayer(2)->GetActFunction()), "sigmoid");
}

// A basic network with every feature the format carries: a bias layer, Gain
// layers with shared and individual gains, per-neuron functions, a fully
// connected set and pruneable sets written as matrix and as weight list,
// with pruned and frozen weights.
TEST(NetworkFileRoundTripTest, BasicNetworkWithEveryFeature) {
  TBasicNetwork net(5);
  net.SetLayer(0, std::make_unique<TSimpleLayer>(&net, 0, 1));
  net.SetLayer(1, std::make_unique<TSimpleInputLayer>(&net, 1, 3));
  net.SetLayer(2, std::make_unique<TGainLayer>(&net, 2, 4, 0.75));
  net.SetLayer(3, std::make_unique<TGainLayer>(&net, 3, 3, 1.0));
  net.SetLayer(4, std::make_unique<TSimpleLayer>(&net, 4, 2));
  const TFnRegistry& fns = *net.registry;
  net.GetLayer(0)->SetActFunction(fns.GetFunction("bias"));
  net.GetLayer(1)->SetActFunction(fns.GetFunction("linear"));
  net.GetLayer(2)->SetActFunction(fns.GetFunction("sigmoid-gain"));
  const double gains[] = {0.5, 2.0, -1.25};
  const char* functions[] = {"linear-gain", "tanh-gain", "sigmoid-gain"};
  for (int i = 0; i < 3; ++i) {
    net.GetLayer(3)->GetNeuron(i)->SetParams(&gains[i]);
    net.GetLayer(3)->GetNeuron(i)->SetActFunction(fns.GetFunction(functions[i]));
  }
  net.GetLayer(4)->GetNeuron(0)->SetActFunction(fns.GetFunction("saturated-linear"));
  net.GetLayer(4)->GetNeuron(1)->SetActFunction(fns.GetFunction("null"));

  net.SetConnections(std::make_unique<TConnectedConnections>(&net, 1, 2));
  net.Connect(0, 2);  // pruneable, kept whole: matrix form
  net.Connect(2, 3);  // pruneable, most weights pruned: weight list
  net.Connect(3, 4);  // pruneable, some pruned and frozen: matrix form
  int k = 0;
  for (auto [from, to] : {std::pair{1, 2}, {0, 2}, {2, 3}, {3, 4}}) {
    TBasicConnections* c = net.GetConnections(from, to);
    for (int f = 0; f < net.GetLayer(from)->numNeurons; ++f)
      for (int t = 0; t < net.GetLayer(to)->numNeurons; ++t) c->Weight(f, t) = (k++ % 23 - 11) / 64.0;
  }
  TBasicConnections* list = net.GetConnections(2, 3);
  for (int f = 0; f < 4; ++f)
    for (int t = 0; t < 3; ++t)
      if (f != t) list->PruneWeight(f, t);
  list->MakeUntrainable(1, 1);
  TBasicConnections* matrix = net.GetConnections(3, 4);
  matrix->PruneWeight(0, 1);
  matrix->MakeUntrainable(2, 0);

  const std::string text = Write(net);
  EXPECT_NE(text.find("[BiasLayer = 0]"), std::string::npos);
  EXPECT_NE(text.find("[WeightList]"), std::string::npos);
  EXPECT_NE(text.find("[Matrix Weights TrainableInfo ]"), std::string::npos);
  auto read = RoundTrip(net);

  for (auto [from, to] : {std::pair{1, 2}, {0, 2}, {2, 3}, {3, 4}}) {
    TBasicConnections* a = net.GetConnections(from, to);
    TBasicConnections* b = read->GetConnections(from, to);
    EXPECT_STREQ(b->GetConnectionsNType(), a->GetConnectionsNType());
    for (int f = 0; f < net.GetLayer(from)->numNeurons; ++f) {
      for (int t = 0; t < net.GetLayer(to)->numNeurons; ++t) {
        EXPECT_EQ(b->GetWeightFlags(f, t), a->GetWeightFlags(f, t)) << from << to << f << t;
        EXPECT_TRUE(SameBits(b->Weight(f, t), a->Weight(f, t))) << from << to << f << t;
      }
    }
  }
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Gain(*read, 2, i), 0.75);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Gain(*read, 3, i), gains[i]);
    EXPECT_EQ(FunctionName(*read, read->GetLayer(3)->GetNeuron(i)->actFunction), functions[i]);
  }
  EXPECT_EQ(FunctionName(*read, read->GetLayer(4)->GetNeuron(1)->actFunction), "null");
}

TEST(NetworkFileRoundTripTest, SavedFileLoadsBack) {
  const int sizes[] = {2, 2};
  TKohonenNetwork map(2, 2, sizes);
  map.Randomize(0.25, 0.25);
  const std::string path = testing::TempDir() + "reader_round_trip.net";
  FileTools tools;
  SaveNetworkFile(tools, path.c_str(), &map);
  auto read = LoadNetworkFile(tools, path.c_str());
  EXPECT_EQ(read->GetConnections(1, 2)->Weight(1, 3), 0.25);
  std::remove(path.c_str());
}

// Each malformed file and the whole message it must fail with.
const std::pair<const char*, const char*> kBadFiles[] = {
    {"all_closed", "[ALL] is incomplete statment"},
    {"all_no_value", "Required syntax is [ALL <keyword>=<val>]"},
    {"conn_bad_type", "Insufficient information to construct layer"},
    {"conn_keyword_open", "Too complicated statement"},
    {"conn_layer_range", "Layer number out of range"},
    {"conn_no_end", "End Tag expected"},
    {"conn_no_from", "Insufficient information to construct layer"},
    {"conn_no_type", "Insufficient information to construct layer"},
    {"conn_twice", "Connections already defined"},
    {"conn_unknown_keyword", "Unknown keyword in connections"},
    {"dimension_count", "Number of dimensions out of range"},
    {"dimension_name", "invalid dimension tag"},
    {"dimension_range", "Dimension number out of range"},
    {"dimension_size", "'Size' tag required for dimension data"},
    {"dimension_size_open", "'Size' tag required for dimension data"},
    {"dimension_unsized", "Dimension 0 has no size"},
    {"dimension_unsized_last", "Dimension 2 has no size"},
    {"dimensions_no_end", "End Tag expected"},
    {"element_after_end", "End Tag expected"},
    {"empty", "[NEURALNETWORK] expected"},
    {"end_tag_mismatch", "Unexpected End Tag"},
    {"eof_in_network", "Unexpected end of file"},
    {"format_version", "Illegal Format Version"},
    {"gain_function_neuron", "Activation function tanh-gain needs a Gain layer"},
    {"gain_function_simple_layer", "Activation function sigmoid-gain needs a Gain layer"},
    {"gain_incomplete", "Incomplete Layer information"},
    {"info_no_end", "End Tag expected"},
    {"info_not_integer", "integer-expected"},
    {"info_open", "Too complicated statement"},
    {"info_unknown", "Unknown keyword"},
    {"input_layer_range", "Input layer out of range"},
    {"kohonen_four_layers", "Output layer out of range"},
    {"kohonen_layer_range", "Layer number out of range"},
    {"kohonen_no_dimensions", "Missing dimensions in Kohonen"},
    {"layer_incomplete", "Layer 0 lacks LayerType or NumberOfNeurons"},
    {"layer_keyword_open", "Too complicated statement"},
    {"layer_missing", "Layer 1 is not defined"},
    {"layer_negative", "Layer number out of range"},
    {"layer_negative_count", "Layer 0 lacks LayerType or NumberOfNeurons"},
    {"layer_no_end", "End Tag expected"},
    {"layer_range", "Layer number out of range"},
    {"list_eof_in_entry", "Unexpected end of file"},
    {"list_from_range", "Weight index out of range"},
    {"list_full_untrainable", "FullyConnected weights cannot be frozen"},
    {"list_no_end", "End Tag expected"},
    {"list_no_to", "Insufficient information in weights list"},
    {"list_to_negative", "Weight index out of range"},
    {"list_unknown_flag", "Unknown keyword in weights list"},
    {"list_unknown_value", "Unknown keyword in weights list"},
    {"matrix_bad_flag", "Trainable flag T or F expected"},
    {"matrix_cell_tag", "Token Expected"},
    {"matrix_cell_text", "number-expected"},
    {"matrix_full_dash_flag", "Trainable flag T or F expected"},
    {"matrix_full_frozen", "FullyConnected weights cannot be frozen"},
    {"matrix_full_pruned", "FullyConnected weights cannot be pruned"},
    {"matrix_keyword", "Keyword expected in matrix parameter"},
    {"matrix_long", "End Tag expected"},
    {"matrix_short", "Token Expected"},
    {"matrix_too_many_attributes", "Too many matrix attributes"},
    {"matrix_unknown_attribute", "Unknown matrix attribute"},
    {"neuron_missing", "Neuron not defined"},
    {"neuron_negative", "Neuron number out of range"},
    {"neuron_no_equals", "Equals clause expected in neuron parameter"},
    {"neuron_no_function", "No activation function defined"},
    {"neuron_param_unknown", "Unknown neuron parameter Bias"},
    {"neuron_range", "Neuron number out of range"},
    {"neuron_repeated", "repeated neuron"},
    {"neurons_no_end", "End Tag expected"},
    {"no_information", "[NETWORKINFORMATION] expected"},
    {"no_layer_count", "Must specify number of layers"},
    {"no_network_block", "[NEURALNETWORK] expected"},
    {"no_network_end", "End Tag expected"},
    {"no_network_type", "[NETWORKTYPE = <string>] expectedType"},
    {"output_layer_range", "Output layer out of range"},
    {"param_before_layer", "Neuron parameter Gain before the layer is built"},
    {"param_not_number", "number-expected"},
    {"param_simple_layer", "Unknown neuron parameter Gain"},
    {"param_unknown", "Unknown neuron parameter Slope"},
    {"too_many_layers", "Too many layers"},
    {"too_many_weights", "Too many weights"},
    {"unknown_function", "Unknown activation function lineal"},
    {"unknown_layer_type", "Unknown layer type"},
    {"unknown_neuron_function", "Unknown activation function step"},
    {"unknown_type", "Unknown network type"},
    {"wrong_inputs", "wrong number inputs in header"},
    {"wrong_outputs", "wrong number outputs in header"},
};

class BadNetworkFile : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(BadNetworkFile, FailsWithItsMessage) {
  const auto& [name, message] = GetParam();
  FileTools tools;
  try {
    LoadNetworkFile(tools, (kDir + "bad/" + name + ".net").c_str());
    ADD_FAILURE() << name << " was read";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, message) << name;
    EXPECT_EQ(e.code, 0);
  }
}

TEST(NetworkFileReaderTest, EveryBadFileHasItsMessage) {
  std::set<std::string> listed;
  for (const auto& entry : kBadFiles) listed.insert(entry.first);
  for (const auto& file : std::filesystem::directory_iterator(kDir + "bad"))
    EXPECT_EQ(listed.count(file.path().stem().string()), 1u) << file.path();
}

INSTANTIATE_TEST_SUITE_P(Table, BadNetworkFile, ::testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return std::string(info.param.first); });

}  // namespace

TEST(LoadKohonenNetworkTest, HandsOverTheMapOrRefusesOtherNetworkTypes) {
  FileTools tools;
  std::unique_ptr<TKohonenNetwork> map =
      LoadKohonenNetwork(tools, (kDir + "good/kohonen_example.net").c_str());
  ASSERT_NE(map, nullptr);
  EXPECT_STREQ(map->GetNetworkType(), "Kohonen");

  try {
    LoadKohonenNetwork(tools, (kDir + "good/basic_mixed.net").c_str());
    FAIL() << "a Basic network was accepted";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Not a Kohonen network");
  }
}
