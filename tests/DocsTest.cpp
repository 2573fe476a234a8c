// The documentation holds when tried: its example files and the snippets
// quoted from them are real, the behaviour it describes is the tool's and the
// library's, and its example programs print what it shows.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Create/Mapsmith.h"
#include "NeuralNets/MapQuality.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "tests/HostileStreams.h"
#include "tests/ToolRun.h"

namespace {

namespace fs = std::filesystem;

const fs::path kDocs = fs::path(MAPSMITH_TEST_DATA) / ".." / ".." / "docs";
const fs::path kRoot = kDocs / "..";
const fs::path kDocData = fs::path(MAPSMITH_TEST_DATA) / "docs";

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.is_open()) << path;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The text of a document with its markup loosened: man page escapes and font
// changes removed, every run of white space one blank, so that a quote found
// here reads the same in the rendered page or the Markdown.
std::string Loosened(const std::string& doc) {
  std::string text;
  for (size_t i = 0; i < doc.size(); ++i) {
    if (doc[i] == '\\' && i + 1 < doc.size()) {
      if (doc[i + 1] == 'f' && i + 2 < doc.size()) {  // \fB, \fI, \fR, \fP
        i += 2;
        continue;
      }
      if (doc[i + 1] == '-') {
        text.push_back('-');
        ++i;
        continue;
      }
    }
    const bool blank = doc[i] == ' ' || doc[i] == '\n' || doc[i] == '\t';
    if (blank && (text.empty() || text.back() == ' ')) continue;
    text.push_back(blank ? ' ' : doc[i]);
  }
  return text;
}

// The comment text of a header: what follows "//" on each line, loosened,
// so that a phrase broken over two comment lines is found whole.
std::string CommentText(const std::string& header) {
  std::string text;
  std::istringstream in(header);
  for (std::string line; std::getline(in, line);) {
    const size_t at = line.find("//");
    if (at != std::string::npos) text.append(line, at + 2).push_back('\n');
  }
  return Loosened(text);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// `text` as Markdown quotes code.
std::string Ticked(const std::string& text) {
  std::string ticked(1, '`');
  ticked.append(text).push_back('`');
  return ticked;
}

// `text` with `from` replaced by `to`; `from` must stand in it.
std::string Edited(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
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

// The neuron numbers of a grid, as the description lists them: "(0 0), (0 1), ...".
std::string NeuronPlaces(TKohonenNetwork& map) {
  std::string places;
  std::vector<int> coords(map.GridSizes().size());
  for (int n = 0; n < map.NumMapNeurons(); ++n) {
    map.IndexToCoords(coords.data(), n);
    places += n ? ", (" : "(";
    for (size_t k = 0; k < coords.size(); ++k) {
      if (k) places += ' ';
      places += std::to_string(coords[k]);
    }
    places += ')';
    EXPECT_EQ(map.CoordsToIndex(coords.data()), n);
  }
  return places;
}

TEST(DocsTest, MapNeuronNumbersRunRowMajorAsDescribed) {
  const std::string doc = Loosened(Slurp(kDocs / "network-file.md"));
  const int sizes[] = {3, 2};
  TKohonenNetwork map(2, 2, sizes);
  EXPECT_EQ(NeuronPlaces(map), "(0 0), (0 1), (1 0), (1 1), (2 0), (2 1)");
  EXPECT_NE(doc.find("In a 3 x 2 map the neurons 0 to 5 stand at " + NeuronPlaces(map) + "."), std::string::npos);

  // Column s of the example's matrix is neuron s.
  FileTools tools;
  const std::unique_ptr<TKohonenNetwork> example =
      LoadKohonenNetwork(tools, (kDocs / "examples" / "kohonen-2x2.net").c_str());
  int coords[2];
  example->IndexToCoords(coords, 2);
  EXPECT_EQ(coords[0], 1);
  EXPECT_EQ(coords[1], 0);
  EXPECT_NE(doc.find("column 2 is the neuron at (1 0)"), std::string::npos);
}

// A connected network of one input and two outputs whose set is given by
// `connection` (the lines between LayerTo and the block's end).
std::unique_ptr<TBasicNetwork> OneSet(const std::string& connection) {
  const std::string text =
      "[NeuralNetwork]\n[NetworkType = Connected]\n[NetworkInformation]\n[NumberOfLayers = 2]\n"
      "[InputLayer = 0]\n[~NetworkInformation]\n"
      "[Layer = 0]\n[LayerType = Input]\n[NumberOfNeurons = 1]\n[All ActivationFunction=linear ]\n[~Layer]\n"
      "[Layer = 1]\n[LayerType = Simple]\n[NumberOfNeurons = 2]\n[All ActivationFunction=linear ]\n[~Layer]\n"
      "[ConnectionLayer]\n[LayerFrom = 0]\n[LayerTo = 1]\n" +
      connection + "[~ConnectionLayer]\n[~NeuralNetwork]\n";
  FileTools tools;
  std::istringstream in(text);
  return ReadNetwork(tools, in);
}

TEST(DocsTest, AttributesAndMatrixColumnsReadAsDescribed) {
  const std::string doc = Loosened(Slurp(kDocs / "network-file.md"));
  // The flag after the weight is kept; before it, the restored weight is trainable again.
  auto flags = [](const std::string& matrix) {
    std::unique_ptr<TBasicNetwork> net = OneSet("[ConnectionType = Pruneable]\n" + matrix);
    TBasicConnections* set = net->GetConnections(0, 1);
    EXPECT_EQ(set->Weight(0, 0), 0.5);
    return std::string{set->IsTrainable(0, 0) ? 'T' : 'F', set->IsTrainable(0, 1) ? 'T' : 'F'};
  };
  EXPECT_EQ(flags("[Matrix Weights TrainableInfo ]\n0.5 F 0.25 T\n[~Matrix]\n"), "FT");
  EXPECT_EQ(flags("[Matrix TrainableInfo Weights ]\nF 0.5 T 0.25\n[~Matrix]\n"), "TT");
  EXPECT_EQ(flags("[Matrix Weights ]\n0.5 0.25\n[~Matrix]\n"), "TT");
  EXPECT_NE(doc.find("`[Matrix TrainableInfo Weights ]` reads each cell's flag before its weight"),
            std::string::npos);

  // The attribute words are not read: the connection type decides.
  for (const char* attributes : {"", "[Attributes Pruneable Freezable ]\n"}) {
    std::unique_ptr<TBasicNetwork> net =
        OneSet(std::string("[ConnectionType = FullyConnected]\n") + attributes +
               "[Matrix Weights ]\n0.5 0.25\n[~Matrix]\n");
    EXPECT_STREQ(net->GetConnections(0, 1)->GetConnectionsNType(), "FullyConnected");
  }
  EXPECT_NE(doc.find("The library's reader skips the tag with all its words"), std::string::npos);
}

TEST(DocsTest, ALayerWithoutFunctionsReadsButMayNotRunAsDescribed) {
  const std::string doc = Loosened(Slurp(kDocs / "network-file.md"));
  EXPECT_NE(doc.find("A neuron that is given no function holds `error`"), std::string::npos);
  EXPECT_NE(doc.find("must not be run through `Propagate`; `CanPropagate` (`NeuralNets/TBasicNetwork.h`) tells"),
            std::string::npos);
  // OneSet's layer 1 names its function; without it the file still reads.
  std::unique_ptr<TBasicNetwork> named = OneSet("[ConnectionType = FullyConnected]\n[Matrix Weights ]\n0.5 0.25\n[~Matrix]\n");
  EXPECT_TRUE(CanPropagate(*named));
  const std::string text = "[NeuralNetwork]\n[NetworkType = Basic]\n[NetworkInformation]\n[NumberOfLayers = 2]\n"
                           "[InputLayer = 0]\n[OutputLayer = 1]\n[~NetworkInformation]\n"
                           "[Layer = 0]\n[LayerType = Input]\n[NumberOfNeurons = 1]\n[~Layer]\n"
                           "[Layer = 1]\n[LayerType = Simple]\n[NumberOfNeurons = 2]\n[~Layer]\n[~NeuralNetwork]\n";
  FileTools tools;
  std::istringstream in(text);
  std::unique_ptr<TBasicNetwork> unnamed = ReadNetwork(tools, in);
  ASSERT_NE(unnamed, nullptr);
  EXPECT_FALSE(CanPropagate(*unnamed));
}

// What reading `text` as a network file throws, or "" when it reads.
std::string NetworkFault(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  try {
    ReadNetwork(tools, in);
  } catch (const FileTools::Error& e) {
    return e.message;
  }
  return "";
}

// The Kohonen example `map` with `neurons` neurons in its map layer.
std::string MapLayerOf(const std::string& map, const std::string& neurons) {
  return Edited(Edited(map, "[NumberOfOutputs = 4]", "[NumberOfOutputs = " + neurons + "]"),
                "[NumberOfNeurons = 4]", "[NumberOfNeurons = " + neurons + "]");
}

// The cases of the network file's refusals, each a small file made from the
// Kohonen example.
struct NetworkRefusal {
  std::string text;
  std::string message;     // as the reader gives it
  std::string documented;  // as the description's table writes it
};

TEST(DocsTest, NetworkFileRefusalsAreTheOnesTheFormatDescriptionNames) {
  const std::string doc = Slurp(kDocs / "network-file.md");
  const std::string map = Slurp(kDocs / "examples" / "kohonen-2x2.net");
  const std::string grid = "[Dimensions = 2]\n[Dimension=0 Size=2 ]\n[Dimension=1 Size=2 ]\n";
  const std::string set = map.substr(map.find("[ConnectionLayer]"),
                                     map.find("[~NeuralNetwork]") - map.find("[ConnectionLayer]"));
  const std::string mapLayer = "[LayerType = Simple]\n[NumberOfNeurons = 4]\n[All ActivationFunction=linear ]";
  const std::vector<NetworkRefusal> cases = {
      {Edited(map, grid, "[Dimensions = 0]\n"), "Number of dimensions out of range",
       "Number of dimensions out of range"},
      {Edited(map, "[Dimension=1 Size=2 ]", "[Dimension=1 Size=0 ]"), "Dimension 1 size out of range",
       "Dimension J size out of range"},
      {Edited(MapLayerOf(Edited(map, set, ""), "0"), grid, "[Dimensions = 1]\n[Dimension=0 Size=1 ]\n"),
       "Map layer has no neurons", "Map layer has no neurons"},
      {Edited(map, "[Dimension=0 Size=2 ]", "[Dimension=0 Size=3 ]"), "Dimensions give 6 neurons, the map layer has 4",
       "Dimensions give P neurons, the map layer has N"},
      {Edited(map, set, ""), "Kohonen map lacks connections from layer 1 to layer 2",
       "Kohonen map lacks connections from layer 1 to layer 2"},
      {Edited(map, mapLayer, Edited(mapLayer, "=linear", "=sigmoid-gain")),
       "Activation function sigmoid-gain needs a Gain layer", "Activation function NAME needs a Gain layer"},
      {MapLayerOf(map, "300000000"), "Network larger than the file",
       "Network larger than the file"},
      {map.substr(0, map.find("0.25")) + "-", "Unexpected end of file", "Unexpected end of file"},
  };
  for (const NetworkRefusal& c : cases) {
    EXPECT_EQ(NetworkFault(c.text), c.message) << c.text;
    EXPECT_NE(doc.find(Ticked(c.documented)), std::string::npos) << c.documented;
  }
  EXPECT_EQ(NetworkFault(map), "");

  // Files that cannot be read.
  FileTools tools;
  const fs::path missing = fs::temp_directory_path() / "mapsmith-docs-no-such-file.net";
  try {
    LoadNetworkFile(tools, missing.c_str());
    ADD_FAILURE() << "read " << missing;
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Error on File Open");
  }
  hostile::FailingBuffer failing(map.substr(0, map.size() / 2));
  std::istream in(&failing);
  try {
    ReadNetwork(tools, in);
    ADD_FAILURE() << "read a failing stream";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Error on File Read");
  }
  for (const char* message : {"Error on File Open", "Error on File Read", "Not enough memory for the network"})
    EXPECT_NE(doc.find(std::string("| `") + message + "` |"), std::string::npos) << message;
}

TEST(DocsDeathTest, MemoryTheNetworkCannotHaveIsRefusedAsTheFormatDescriptionSays) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
  // A map layer of a million neurons: within what the file may ask for, but
  // more than the 16 MiB the process may add.
  const std::string text = MapLayerOf(Slurp(kDocs / "examples" / "kohonen-2x2.net"), "1000000");
  EXPECT_EXIT(
      {
        if (!hostile::LimitAddressSpace(16 << 20)) std::_Exit(3);
        std::_Exit(NetworkFault(text) == "Not enough memory for the network" ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------- the parameter file

struct ParameterRun {
  int status = -1;
  std::string out, err;
  bool ran = false;
  MapParameters params;
};

ParameterRun RunParameters(const std::string& text) {
  ParameterRun r;
  std::istringstream in(text);
  std::ostringstream out, err;
  r.status = RunParameterText(in, out, err, [&](const MapParameters& p, std::ostream&, std::ostream&) {
    r.ran = true;
    r.params = p;
    return 0;
  });
  r.out = out.str();
  r.err = err.str();
  return r;
}

// The distinct matrix cells of the network file that the tool writes for
// `params` (written to a file of its own).
std::set<std::string> WrittenCells(MapParameters params) {
  const fs::path path = fs::temp_directory_path() / ("mapsmith-docs-" + std::to_string(::getpid()) + "-cells.net");
  params.fileName = path.string();
  std::ostringstream out, err;
  EXPECT_EQ(CreateMap(params, out, err), 0) << out.str() << err.str();
  const std::string text = Slurp(path);
  fs::remove(path);
  std::set<std::string> cells;
  const std::string matrix = "[Matrix Weights ]\n";
  const size_t start = text.find(matrix), end = text.find("[~Matrix]");
  if (start == std::string::npos || end == std::string::npos) return cells;
  for (const std::string& line : Lines(text.substr(start + matrix.size(), end - start - matrix.size()))) {
    std::istringstream words(line.substr(0, line.find("/*")));
    for (std::string word; words >> word;) cells.insert(word);
  }
  return cells;
}

// Each pitfall the README and the man page describe: the words they quote,
// a parameter file that shows it, and what the tool then does.
struct DocumentedCase {
  std::vector<std::string> quotes;  // stand in both documents
  std::string text;
  std::function<void(const ParameterRun&)> check;
};

void Refused(const ParameterRun& r, const std::string& message) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, message + "\n");
  EXPECT_FALSE(r.ran);
}

TEST(DocsTest, ParameterFilePitfallsBehaveAsTheReadmeAndManPageSay) {
  const std::string readme = Loosened(Slurp(kDocs / ".." / "README.md"));
  const std::string man = Loosened(Slurp(kDocs / "Mapsmith.1"));
  const std::string rest = "Dimensions = 2\nMapDim = 10 8\nFileName = map.net\n";
  const std::vector<DocumentedCase> cases = {
      {{"# four inputs", "Value of Inputs is not a number"},
       Slurp(kDocData / "comment-with-key.params"),
       [](const ParameterRun& r) { Refused(r, "Value of Inputs is not a number"); }},
      {{"# the filename given here", "iven"},
       "Inputs = 4\nDimensions = 2\nMapDim = 10 8\nFileName = map.net # the filename given here\n",
       [](const ParameterRun& r) {
         EXPECT_TRUE(r.ran);
         EXPECT_EQ(r.params.fileName, "iven");
       }},
      {{"# 4 values per row", "#four-inputs"},
       "# 4 values per row\n#four-inputs\nInputs = 4\n" + rest,
       [](const ParameterRun& r) {
         EXPECT_TRUE(r.ran);
         EXPECT_EQ(r.params.inputs, 4);
       }},
      {{"MapDim = 10 8 7", "10 x 8 map"},
       "Inputs = 4\nDimensions = 2\nMapDim = 10 8 7\nFileName = map.net\n",
       [](const ParameterRun& r) {
         EXPECT_TRUE(r.ran);
         EXPECT_EQ(r.params.mapSizes, (std::vector<int32_t>{10, 8}));
       }},
      {{"Value of MapDim is not a number"},
       "Inputs = 4\nDimensions = 2\nMapDim = 10\nFileName = map.net\n",
       [](const ParameterRun& r) { Refused(r, "Value of MapDim is not a number"); }},
      {{"Inputs = 4.5"}, "Inputs = 4.5\n" + rest,
       [](const ParameterRun& r) { EXPECT_EQ(r.params.inputs, 4); }},
      {{"Inputs = 4x"}, "Inputs = 4x\n" + rest,
       [](const ParameterRun& r) { EXPECT_EQ(r.params.inputs, 4); }},
      {{"MapDim = 4.5 3"}, "Inputs = 4\nDimensions = 2\nMapDim = 4.5 3\nFileName = map.net\n",
       [](const ParameterRun& r) { Refused(r, "Value of MapDim is not a number"); }},
      {{"Inputs = 010"}, "Inputs = 010\n" + rest,
       [](const ParameterRun& r) { EXPECT_EQ(r.params.inputs, 8); }},
      {{"Inputs = 0x10"}, "Inputs = 0x10\n" + rest,
       [](const ParameterRun& r) { EXPECT_EQ(r.params.inputs, 16); }},
      {{"Inputs = 08", "Number of Inputs must be >= 1"}, "Inputs = 08\n" + rest,
       [](const ParameterRun& r) { Refused(r, "Number of Inputs must be >= 1"); }},
      {{"MinWeight = -0,5", "MaxWeight = 0,5", "all 0, written as -0"},
       "Inputs = 4\n" + rest + "MinWeight = -0,5\nMaxWeight = 0,5\n",
       [](const ParameterRun& r) {
         // Equal limits: every weight becomes the lower limit, a zero.
         EXPECT_TRUE(r.ran);
         EXPECT_EQ(r.params.minWeight, 0.0);
         EXPECT_TRUE(std::signbit(r.params.minWeight));
         EXPECT_EQ(r.params.maxWeight, 0.0);
         EXPECT_EQ(WrittenCells(r.params), std::set<std::string>{"-0"});
       }},
      {{"the very end of the file", "MapDim = 10", "MapDims must be >= 1"},
       "Inputs = 4\nFileName = map.net\nDimensions = 2\nMapDim = 10",
       [](const ParameterRun& r) { Refused(r, "MapDims must be >= 1"); }},
      {{"at most 2,147,483,647 neurons", "at most 2,147,483,647 weights"},
       "Inputs = 1\nDimensions = 2\nMapDim = 65536 32768\nFileName = map.net\n",
       [](const ParameterRun& r) { Refused(r, "Map is too large: more than 2147483647 neurons"); }},
      {{"at most 2,147,483,647 weights"},
       "Inputs = 2\nDimensions = 2\nMapDim = 46341 23171\nFileName = map.net\n",
       [](const ParameterRun& r) { Refused(r, "Map is too large: 2147534622 weights"); }},
  };
  for (const DocumentedCase& c : cases) {
    SCOPED_TRACE(c.text);
    for (const std::string& quote : c.quotes) {
      EXPECT_NE(readme.find(quote), std::string::npos) << "README.md lacks: " << quote;
      EXPECT_NE(man.find(quote), std::string::npos) << "Mapsmith.1 lacks: " << quote;
    }
    c.check(RunParameters(c.text));
  }
  // The largest map of one input is accepted.
  const ParameterRun largest =
      RunParameters("Inputs = 1\nDimensions = 2\nMapDim = 65537 32767\nFileName = map.net\n");
  EXPECT_TRUE(largest.ran) << largest.err;
}

TEST(DocsTest, FileErrorsGoToStandardOutputAsDocumented) {
  const std::string man = Loosened(Slurp(kDocs / "Mapsmith.1"));
  EXPECT_NE(man.find("These two go to standard output: .TP .B \"Error on File Open\""), std::string::npos);
  const fs::path missing = fs::temp_directory_path() / "mapsmith-docs-no-such-directory" / "map.net";
  const std::string params = "Inputs = 2\nDimensions = 1\nMapDim = 2\nFileName = " + missing.string() + "\n";
  std::istringstream in(params);
  std::ostringstream out, err;
  EXPECT_EQ(RunParameterText(in, out, err), 1);
  EXPECT_EQ(out.str(), "Error on File Open\n");
  EXPECT_EQ(err.str(), "");
}

// The tool run in-process on parameter files written to a directory of the
// test's own.
class DocsToolTest : public tooltest::ToolTest {
 protected:
  tooltest::Outcome RunMapsmithOn(const std::string& params) {
    const std::string path = Write("map.params", params);
    const char* argv[] = {"Mapsmith", path.c_str()};
    std::ostringstream out, err;
    tooltest::Outcome o;
    o.status = RunMapsmith(2, argv, out, err);
    o.out = out.str();
    o.err = err.str();
    return o;
  }
};

TEST_F(DocsToolTest, ManPageRefusalsAreTheToolsMessages) {
  const std::string man = Loosened(Slurp(kDocs / "Mapsmith.1"));
  // A token beyond the limit.
  const tooltest::Outcome longToken = RunMapsmithOn("Inputs = " + std::string(5000, '1') + "\n");
  EXPECT_EQ(longToken.status, 1);
  EXPECT_EQ(longToken.err, "Parameter file token longer than 4096 characters\n");
  // A FileName that is the parameter file itself, named through a link.
  std::filesystem::create_symlink(dir_ / "map.params", dir_ / "link.params");
  const std::string itself = "Inputs = 2 Dimensions = 1 MapDim = 3 FileName = " + Path("link.params") + "\n";
  const tooltest::Outcome same = RunMapsmithOn(itself);
  EXPECT_EQ(same.status, 1);
  EXPECT_EQ(same.err, "FileName names the parameter file itself\n");
  EXPECT_EQ(Slurp(dir_ / "map.params"), itself);
  for (const char* entry : {".B \"Parameter file token longer than 4096 characters\" a key, value or other word",
                            ".B \"FileName names the parameter file itself\" the network file would replace",
                            ".B \"Not enough memory to read the parameter file\" the parameter file's values",
                            ".B \"Not enough memory to create the map\" the map does not fit"})
    EXPECT_NE(man.find(entry), std::string::npos) << "Mapsmith.1 lacks: " << entry;
}

using DocsToolDeathTest = DocsToolTest;

TEST_F(DocsToolDeathTest, RunningOutOfMemoryGivesTheManPagesMessages) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
  // Eight million map sizes to read, and a map of 250 million weights to
  // make: both more than the 16 MiB the process may add.
  std::string sizes;
  for (int i = 0; i < 8000000; ++i) sizes += "1 ";
  const std::pair<std::string, std::string> cases[] = {
      {"Inputs = 1 Dimensions = 2000000000 MapDim = " + sizes, "Not enough memory to read the parameter file\n"},
      {"Inputs = 250 Dimensions = 2 MapDim = 1000 1000 FileName = " + Path("big.net"),
       "Not enough memory to create the map\n"},
  };
  for (const auto& [params, message] : cases) {
    EXPECT_EXIT(
        {
          if (!hostile::LimitAddressSpace(16 << 20)) std::_Exit(3);
          const tooltest::Outcome o = RunMapsmithOn(params);
          std::_Exit(o.status == 1 && o.err == message ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
  }
  EXPECT_FALSE(fs::exists(dir_ / "big.net"));
}

TEST_F(DocsToolTest, AnExistingNetworkFileIsReplacedNotRewrittenAsTheReadmeSays) {
  const std::string readme = Loosened(Slurp(kRoot / "README.md"));
  for (const char* words : {"renamed over it once complete", "never rewritten in place",
                            "(another hard link to it keeps the old map)", "a failed write leaves it as it was"})
    EXPECT_NE(readme.find(words), std::string::npos) << "README.md lacks: " << words;
  EXPECT_EQ(readme.find("emptied when it exists"), std::string::npos);

  Write("map.net", "the old map\n");
  fs::create_hard_link(dir_ / "map.net", dir_ / "old.net");
  const tooltest::Outcome o =
      RunMapsmithOn("Inputs = 2 Dimensions = 1 MapDim = 3 Seed = 1 FileName = " + Path("map.net") + "\n");
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_EQ(Slurp(dir_ / "old.net"), "the old map\n");
  EXPECT_EQ(Slurp(dir_ / "map.net").rfind("[FormatVersion = 1.0]\n", 0), 0u);
}

// ---------------------------------------------------------------- the data set file


// What ReadDataSetFile throws for `text`, or "" when it reads.
std::string DataSetFault(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  std::unique_ptr<Data> examples, results;
  try {
    ReadDataSetFile(tools, in, examples, results);
  } catch (const FileTools::Error& e) {
    return e.message;
  }
  return "";
}

TEST(DocsTest, DataSetFileRefusalsAreTheOnesTheFormatDescriptionNames) {
  const std::string doc = Loosened(Slurp(kDocs / "data-set-file.md"));
  const std::string two = "[Data]\n1 2\n3 4\n[~Data]\n[~DataSet]\n";
  // Each case: a fault the description names, shown by a file, and the
  // message that must be quoted in the description.
  const std::pair<std::string, std::string> cases[] = {
      {"[DataSet]\n[Inputs = 2]\n" + two, "[Rows = <integer>] expected"},
      {"[DataSet]\n[Rows = -1]\n[Inputs = 2]\n" + two, "No labels in inputs"},
      {"[DataSet]\n[Rows = 3]\n[Inputs = 2]\n" + two, "Token (number) expected"},
      {"[DataSet]\n[Rows = 3]\n[Inputs = 0]\n[ExpectedOutputs = Labels]\n[Data]\n[a]\n[b]\n[~Data]\n[~DataSet]\n",
       "Unexpected End Tag"},
      {"[DataSet]\n[Rows = 1]\n[Inputs = 2]\n" + two, "End Tag expected"},
      {"[DataSet]\n[Rows = 100000000]\n[Inputs = 2]\n" + two, "Data set larger than the file"},
      {"[DataSet]\n[Rows = 2]\n[Inputs = 2]\n[Colour = 2]\n" + two, "[DATA] expected"},
      {"[DataSet]\n[Rows = 2]\n[Error = 0]\n[Inputs = 2]\n" + two, "[DATA] expected"},
      {"[DataSet]\n[Rows = 2]\n[Inputs = 2 x]\n" + two, "[DATA] expected"},
      {"[DataSet]\n[Rows = 2]\n[Inputs = 2]\n[Colour = red]\n" + two, "integer-expected"},
      {"[DataSet]\n[Rows = 2]\n[Inputs = Labels]\n" + two, "No labels in inputs"},
      {"[DataSet]\n[Rows = 2]\n[Inputs = 2]\n[Error = -1]\n" + two, "No labels in inputs"},
      {"[DataSet]\n[Rows = 2]\n[Inputs = 2]\n[Data]\n1 2\n3\n[~Data]\n[~DataSet]\n", "Token (number) expected"},
  };
  for (const auto& [text, message] : cases) {
    EXPECT_EQ(DataSetFault(text), message) << text;
    EXPECT_NE(doc.find(Ticked(message)), std::string::npos) << message;
  }
  for (const char* shown : {"`[Colour = 2]`", "`[Error = 0]` before `[Inputs = 2]`", "`[Inputs = 2 x]`",
                            "`[Colour = red]`"})
    EXPECT_NE(doc.find(shown), std::string::npos) << shown;
  EXPECT_EQ(DataSetFault("[DataSet]\n[Rows = 2]\n[Inputs = 2]\n" + two), "");

  // A network file is probed as a block of another name, as described.
  FileTools tools;
  std::ostringstream reply;
  ProbeFile(tools, (kDocs / "examples" / "kohonen-2x2.net").string())->Print(reply);
  EXPECT_EQ(reply.str(), "(error :type unknown-header :header NeuralNetwork)");
  EXPECT_NE(doc.find(Ticked(reply.str())), std::string::npos);
}

TEST(DocsTest, WritersRefusalsWithErrFormatAreListedWhereTheCodeIsDescribed) {
  FileTools tools;
  const double value = 1.0;
  // A label name the format cannot carry, and labels beside the columns they
  // stand in for: ERR_FORMAT, nothing written.
  Data named(1, 1, 0, true);
  const TLabelList twoWords("two words", 1.0);
  named.AddRow(&value, nullptr, &twoWords);
  Data both(1, 1, 1, true);
  const TLabelList plain("red", 1.0);
  both.AddRow(&value, &value, &plain);
  for (const Data* set : {&named, &both}) {
    std::ostringstream out;
    EXPECT_EQ(WriteDataSetFile(tools, out, set, nullptr), ERR_FORMAT);
    EXPECT_EQ(out.str(), "");
  }
  const std::string doc = Loosened(Slurp(kDocs / "data-set-file.md"));
  const std::string header = CommentText(Slurp(kRoot / "FileHandler" / "Filer.h"));
  for (const char* cause : {"a label name the format cannot carry",
                            "a set with labels that also has the columns the labels stand in for"}) {
    EXPECT_NE(doc.find(cause), std::string::npos) << "data-set-file.md lacks: " << cause;
    EXPECT_NE(header.find(cause), std::string::npos) << "Filer.h lacks: " << cause;
  }
}

// ---------------------------------------------------------------- the library guide's claims

TEST(DocsTest, MeasureErrorIsTheComponentRmsTheGuideDescribes) {
  const int sizes[] = {3, 2};
  TKohonenNetwork map(2, 2, sizes);
  SeedRandom(7);
  map.Randomize(-1.0, 1.0);
  Data rows(4, 2, 0, false);
  const double points[4][2] = {{-0.9, -0.8}, {0.9, 0.7}, {-0.7, 0.9}, {0.8, -0.9}};
  double squares = 0.0, distances = 0.0;
  for (const auto& point : points) {
    rows.AddRow(point, nullptr, nullptr);
    double winner[2];
    map.FindWinner(point, winner);
    const double square = (point[0] - winner[0]) * (point[0] - winner[0]) +
                          (point[1] - winner[1]) * (point[1] - winner[1]);
    squares += square;
    distances += std::sqrt(square);
  }
  // The root of the squared differences over inputs x rows, not the mean distance.
  TErrorRMSObj error(map.NumInputs());
  const double rms = map.MeasureError(&rows, &error);
  EXPECT_DOUBLE_EQ(rms, std::sqrt(squares / (2 * 4)));
  EXPECT_DOUBLE_EQ(rms * std::sqrt(2.0), std::sqrt(squares / 4));
  EXPECT_DOUBLE_EQ(MeasureMapQuality(map, rows).quantizationError, distances / 4);
  // Not reset: a second run adds its rows to the first's.
  map.MeasureError(&rows, &error);
  EXPECT_EQ(error.count, 8);
  const std::string guide = Loosened(Slurp(kDocs / "library.md"));
  EXPECT_NE(guide.find("`MeasureError` does not reset it, so a second call adds to the first"), std::string::npos);
  EXPECT_NE(guide.find("The quantization error itself comes from `MeasureMapQuality(map, rows)`"), std::string::npos);
}

// ---------------------------------------------------------------- code blocks and programs

// The indented code blocks of a Markdown text, each without its first four
// blanks; blank lines inside a block are kept.
std::vector<std::vector<std::string>> CodeBlocks(const std::string& markdown) {
  std::vector<std::vector<std::string>> blocks;
  std::vector<std::string> block;
  size_t blanks = 0;  // blank lines seen since the block's last line
  std::istringstream in(markdown);
  for (std::string line; std::getline(in, line);) {
    if (line.find_first_not_of(' ') == std::string::npos) {
      if (!block.empty()) ++blanks;
      continue;
    }
    if (line.compare(0, 4, "    ") == 0) {
      block.insert(block.end(), blanks, std::string());
      block.push_back(line.substr(4));
    } else if (!block.empty()) {
      blocks.push_back(block);
      block.clear();
    }
    blanks = 0;
  }
  if (!block.empty()) blocks.push_back(block);
  return blocks;
}


// Whether `block` stands in `lines` as consecutive whole lines, each shifted
// by the same indentation (a quote may drop the indentation of its context).
bool StandsIn(const std::vector<std::string>& block, const std::vector<std::string>& lines) {
  for (size_t at = 0; at + block.size() <= lines.size(); ++at) {
    const size_t shift = lines[at].size() - block[0].size();
    if (lines[at].size() < block[0].size()) continue;
    const std::string indent = lines[at].substr(0, shift);
    if (indent.find_first_not_of(' ') != std::string::npos) continue;
    bool all = true;
    for (size_t k = 0; k < block.size() && all; ++k)
      all = block[k].empty() ? lines[at + k].empty() : lines[at + k] == indent + block[k];
    if (all) return true;
  }
  return false;
}

// Commands that are run as the documents write them: by .ci/run, or (a
// companion tool's commands) by that tool's tests.
bool IsCommand(const std::string& line) {
  for (const char* start : {"cmake ", "ctest ", "g++ ", "./", "MapsmithConvert ", "mpirun "})
    if (line.rfind(start, 0) == 0) return true;
  return false;
}

TEST(DocsTest, EveryCodeBlockOfTheReadmeAndLibraryGuideIsRunOrStandsInAnExampleFile) {
  // The files a quote may come from: the example programs, parameter and data
  // files, and the outputs the example programs print.
  std::vector<std::pair<fs::path, std::vector<std::string>>> sources;
  for (const fs::path& dir : {kDocs / "examples", kRoot / "examples", kRoot / "examples" / "label_map",
                              kRoot / "examples" / "convert", kRoot / "examples" / "train", kDocData})
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.is_regular_file()) sources.emplace_back(entry.path(), Lines(Slurp(entry.path())));
  for (const fs::path& doc : {kRoot / "README.md", kDocs / "library.md"}) {
    int quotes = 0, commands = 0;
    for (const std::vector<std::string>& block : CodeBlocks(Slurp(doc))) {
      bool allCommands = true;
      for (const std::string& line : block) allCommands = allCommands && IsCommand(line);
      if (allCommands) {
        ++commands;
        continue;
      }
      bool found = false;
      for (const auto& [path, lines] : sources) found = found || StandsIn(block, lines);
      EXPECT_TRUE(found) << doc << ": no example file holds the block starting " << block[0];
      ++quotes;
    }
    EXPECT_GE(quotes, 3) << doc;
    EXPECT_GE(commands, 1) << doc;
  }
}

// The lines of the Layout block of the format description, without their
// notes, stand in the complete example file in that order ("..." stands for
// rows left out).
TEST(DocsTest, DataSetLayoutStandsInTheExampleFile) {
  const std::string doc = Slurp(kDocs / "data-set-file.md");
  const size_t start = doc.find("## Layout\n");
  ASSERT_NE(start, std::string::npos);
  std::vector<std::string> file;
  for (std::string line : Lines(Slurp(kDocs / "examples" / "labelled.dat"))) {
    line.erase(line.find_last_not_of(' ') + 1);
    file.push_back(line);
  }
  size_t at = 0;  // the file line after the last one found
  int quoted = 0;
  std::istringstream in(doc.substr(start, doc.find("\n- ", start) - start));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("    ", 0) != 0) continue;
    std::string body = line.substr(4);
    if (body == "...") continue;
    // A tag's note follows it after blanks.
    if (body[0] == '[' && body.find("]  ") != std::string::npos) body.erase(body.find("]  ") + 1);
    body.erase(body.find_last_not_of(' ') + 1);
    const auto found = std::find(file.begin() + static_cast<std::ptrdiff_t>(at), file.end(), body);
    EXPECT_NE(found, file.end()) << "labelled.dat lacks, in this order: " << body;
    if (found != file.end()) at = static_cast<size_t>(found - file.begin()) + 1;
    ++quoted;
  }
  EXPECT_GE(quoted, 11);
}

struct ProgramRun {
  int status = -1;
  std::string out, err;
};

// Runs `command` with the shell in `dir`.
ProgramRun RunIn(const fs::path& dir, const std::string& command) {
  const std::string line = "cd '" + dir.string() + "' && " + command + " >stdout.txt 2>stderr.txt";
  const int raw = std::system(line.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir / "stdout.txt"), Slurp(dir / "stderr.txt")};
}

class LibraryGuideProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("mapsmith-docs-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  // Paths quoted for the shell.
  static std::string Quoted(const fs::path& path) {
    std::string quoted(1, '\'');
    quoted.append(path.string()).push_back('\'');
    return quoted;
  }
  static std::string Program(const char* name) { return Quoted(fs::path(MAPSMITH_DOC_EXAMPLES) / name); }
  static std::string Doc(const char* name) { return Quoted(kDocs / "examples" / name); }
  fs::path dir;
};

TEST_F(LibraryGuideProgramTest, ProgramsPrintWhatTheGuideShows) {
  const ProgramRun made = RunIn(dir, Program("doc_map_in_code") + " map.net");
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(made.out, Slurp(kDocData / "map_in_code.txt"));
  FileTools tools;
  const std::unique_ptr<TKohonenNetwork> map = LoadKohonenNetwork(tools, (dir / "map.net").c_str());
  EXPECT_EQ(map->NumInputs(), 2);
  EXPECT_EQ(map->GridSizes(), (std::vector<int>{3, 2}));

  const ProgramRun read = RunIn(dir, Program("doc_first_program") + " map.net " + Doc("labelled.dat"));
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out, Slurp(kDocData / "first_program.txt"));
}

TEST_F(LibraryGuideProgramTest, FirstProgramReportsEveryFileFaultAndFails) {
  ASSERT_EQ(RunIn(dir, Program("doc_map_in_code") + " map.net").status, 0);
  const std::string program = Program("doc_first_program");
  const std::string pruned = (kDocs / "examples" / "basic-gain-pruned.net").string();
  const std::string network = (kDocs / "examples" / "kohonen-2x2.net").string();
  const std::pair<std::string, std::string> cases[] = {
      {"map.net missing.dat", "missing.dat: cannot be opened\n"},
      {"missing.net missing.dat", "missing.net: Error on File Open\n"},
      {Quoted(pruned) + " missing.dat", pruned + ": Not a Kohonen network\n"},
      {"map.net " + Quoted(network), network + ": [DATASET] expected\n"},
  };
  for (const auto& [args, message] : cases) {
    const ProgramRun run = RunIn(dir, program + " " + args);
    EXPECT_EQ(run.status, 1) << args;
    EXPECT_EQ(run.err, message) << args;
    EXPECT_EQ(run.out, "") << args;
  }
  // The guide names the new refusal of LoadKohonenNetwork.
  EXPECT_NE(Slurp(kDocs / "library.md").find("`Not a Kohonen network`"), std::string::npos);
}

// ---------------------------------------------------------------- the man pages' examples

// A man page line as the reader sees it: escapes and font changes taken out.
std::string Unescaped(const std::string& line) {
  std::string text;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\' || i + 1 == line.size()) {
      text.push_back(line[i]);
      continue;
    }
    const char next = line[++i];
    if (next == '-') text.push_back('-');
    else if (next == 'e') text.push_back('\\');
    else if (next == 'f') ++i;  // \fB, \fI, \fR, \fP
    else if (next != '&') text.append({'\\', next});
  }
  return text;
}

// The no-fill blocks (.nf to .fi) of a man page's EXAMPLE or EXAMPLES
// section, unescaped, requests left out and lines ending in '\' joined with
// the next.
std::vector<std::vector<std::string>> ExampleBlocks(const std::string& page) {
  std::vector<std::vector<std::string>> blocks;
  bool inSection = false, inBlock = false;
  for (const std::string& line : Lines(page)) {
    if (line.rfind(".SH ", 0) == 0) inSection = line == ".SH EXAMPLE" || line == ".SH EXAMPLES";
    if (!inSection) continue;
    if (line == ".nf") {
      inBlock = true;
      blocks.emplace_back();
    } else if (line == ".fi") {
      inBlock = false;
    } else if (inBlock && line.rfind('.', 0) != 0) {
      std::vector<std::string>& block = blocks.back();
      std::string text = Unescaped(line);
      if (!block.empty() && !block.back().empty() && block.back().back() == '\\') {
        block.back().pop_back();
        block.back() += text.substr(text.find_first_not_of(' '));
      } else {
        block.push_back(text);
      }
    }
  }
  return blocks;
}

// The program a command line runs: its first word without the folder.
// Whether `word` names one of the tools ("Mapsmith", "build/MapsmithMap").
bool IsTool(const std::string& word) {
  const std::string name = word.substr(word.rfind('/') + 1);
  return name.rfind("Mapsmith", 0) == 0 &&
         std::all_of(name.begin(), name.end(), [](char c) { return std::isalpha(c) != 0; });
}

// The program a command line runs, without its folder: its first word, or
// for a process launcher (mpirun, mpiexec) the tool it launches.
std::string ProgramOf(const std::string& command) {
  std::istringstream words(command);
  std::string first, word;
  words >> first;
  if (first == "mpirun" || first == "mpiexec")
    while (words >> word)
      if (IsTool(word)) return word.substr(word.rfind('/') + 1);
  return first.substr(first.rfind('/') + 1);
}

// Whether a line of an example is a command: it runs one of the tools
// (also through a launcher) or a program of the folder ("./...").
bool IsToolCommand(const std::string& line) {
  return line.rfind("./", 0) == 0 || IsTool(ProgramOf(line));
}

class ManPageExamplesTest : public tooltest::ToolTest {};

// Every command of the examples of every man page, run as written from a
// copy of the example folder the page names (with the copy of examples/ at
// the top of a folder whose build/ holds the tools, which are on the PATH
// too). What a command prints on standard error the page shows, whole: a
// warning (status 0) or a refusal (status 1); a command that prints none
// ends with status 0. Every other text block of the examples is what a
// command printed on standard output, whole, or a file of the folder, whole.
TEST_F(ManPageExamplesTest, EveryCommandRunsAsThePageShows) {
  struct Page {
    const char* folder;  // where the commands run, in the copy
    const char* named;   // how the page names that folder
  };
  const std::map<std::string, Page> pages = {
      {"Mapsmith.1", {"examples", "examples/map.params"}},
      {"MapsmithConvert.1", {"examples/convert", "examples/convert"}},
      {"MapsmithLabel.1", {"examples/tools", "examples/tools"}},
      {"MapsmithMap.1", {"examples/tools", "examples/tools"}},
      {"MapsmithTrain.1", {".", "From the top folder of the source tree"}},
      {"MapsmithTrainMPI.1", {".", "From the top folder of the source tree"}},
      {"MapsmithView.1", {"examples/colours", "examples/colours"}},
  };
  const fs::path tools = MAPSMITH_TOOL_DIR;
  int pagesRun = 0;
  for (const auto& entry : fs::directory_iterator(kDocs)) {
    if (entry.path().extension() != ".1") continue;
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    const auto page = pages.find(name);
    if (page == pages.end()) {
      ADD_FAILURE() << "no example folder is known for " << name;
      continue;
    }
    const std::string text = Slurp(entry.path());
    EXPECT_NE(Loosened(text).find(page->second.named), std::string::npos) << page->second.named;

    // A fresh copy for each page.
    const fs::path top = dir_ / name;
    fs::create_directories(top);
    fs::copy(kRoot / "examples", top / "examples", fs::copy_options::recursive);
    fs::create_directory_symlink(tools, top / "build");
    const fs::path folder = top / page->second.folder;
    std::vector<std::pair<fs::path, std::string>> files;  // the folder's files, as shipped
    for (const auto& file : fs::directory_iterator(folder))
      if (file.is_regular_file()) files.emplace_back(file.path(), Slurp(file.path()));

    struct Run {
      std::string command;
      tooltest::Outcome outcome;
    };
    std::vector<Run> runs;
    std::vector<std::string> shown;
    for (const std::vector<std::string>& block : ExampleBlocks(text)) {
      if (!std::all_of(block.begin(), block.end(), IsToolCommand)) {
        std::string whole;
        for (const std::string& line : block) whole += line + "\n";
        shown.push_back(whole);
        continue;
      }
      for (const std::string& command : block) {
        const std::string program = ProgramOf(command);
        if (IsTool(program) && !fs::exists(tools / program)) {
          std::cout << name << ": " << program << " is not built, skipped: " << command << "\n";
          continue;
        }
        const std::string line = "cd '" + folder.string() + "' && PATH='" + tools.string() + "':\"$PATH\" " + command +
                                 " >'" + (dir_ / "stdout.txt").string() + "' 2>'" + (dir_ / "stderr.txt").string() +
                                 "'";
        const int raw = std::system(line.c_str());
        runs.push_back({command,
                        {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir_ / "stdout.txt"), Slurp(dir_ / "stderr.txt")}});
      }
    }
    EXPECT_FALSE(runs.empty());
    for (const Run& run : runs) {
      // A refusal or a warning: one line naming the tool and the file.
      const std::string& err = run.outcome.err;
      if (!err.empty()) {
        EXPECT_NE(std::find(shown.begin(), shown.end(), err), shown.end()) << run.command << "\n" << err;
      }
      const bool refused = !err.empty() && err.find(": warning: ") == std::string::npos;
      EXPECT_EQ(run.outcome.status, refused ? 1 : 0) << run.command << "\n" << err;
    }
    for (const std::string& block : shown) {
      const bool printed = std::any_of(runs.begin(), runs.end(), [&](const Run& run) {
        return run.outcome.out == block || run.outcome.err == block;
      });
      const bool file = std::any_of(files.begin(), files.end(), [&](const auto& f) { return f.second == block; });
      EXPECT_TRUE(printed || file) << "neither printed nor a file of " << page->second.folder << ":\n" << block;
    }
    ++pagesRun;
  }
  EXPECT_EQ(pagesRun, static_cast<int>(pages.size()));

  // The tool's page shows the example parameter file whole.
  const std::vector<std::vector<std::string>> blocks = ExampleBlocks(Slurp(kDocs / "Mapsmith.1"));
  ASSERT_FALSE(blocks.empty());
  std::string params;
  for (const std::string& line : blocks[0]) params += line + "\n";
  EXPECT_EQ(params, Slurp(kRoot / "examples" / "map.params"));
}

}  // namespace
