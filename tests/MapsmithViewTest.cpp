#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Label/MapsmithLabel.h"
#include "Kohonen/View/MapsmithView.h"
#include "Kohonen/View/SvgPage.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "SvgChecks.h"
#include "tests/ToolRun.h"

namespace fs = std::filesystem;
using namespace svgchecks;

namespace {

using tooltest::Outcome;
using tooltest::Read;

class ViewToolTest : public tooltest::ToolTest {
 protected:
  // A map of `inputs` inputs on `sizes` whose neuron i has the weights
  // weight(i, j), saved as a network file.
  template <class Weight>
  std::string SaveMap(const std::string& name, int inputs, std::vector<int> sizes, Weight weight) {
    TKohonenNetwork map(inputs, static_cast<int>(sizes.size()), sizes.data());
    for (int i = 0; i < map.layers[2]->numNeurons; ++i)
      for (int j = 0; j < inputs; ++j) map.GetConnections(1, 2)->Weight(j, i) = weight(i, j);
    FileTools tools;
    SaveNetworkFile(tools, Path(name).c_str(), &map);
    return Path(name);
  }

  // The 2 x 2 map of 3 inputs used by most cases: neuron i weighs (i, 10i, -i).
  std::string ColourMap() {
    return SaveMap("map.net", 3, {2, 2}, [](int i, int j) { return j == 0 ? i : j == 1 ? 10.0 * i : -i; });
  }

  // Rows (k, 10k, -k) for each k, labelled with labels[k] when given.
  std::string SaveRows(const std::string& name, const std::vector<double>& ks,
                       const std::vector<std::string>& labels = {}) {
    ::Data data(static_cast<int>(ks.size()), 3, 0, !labels.empty());
    for (std::size_t r = 0; r < ks.size(); ++r) {
      const double x[] = {ks[r], 10 * ks[r], -ks[r]};
      TLabelList list;
      if (!labels.empty()) list.Add(labels[r], 1.0);
      data.AddRow(x, nullptr, labels.empty() ? nullptr : &list);
    }
    FileTools tools;
    fs::create_directories(fs::path(Path(name)).parent_path());
    EXPECT_EQ(WriteDataSetFile(tools, Path(name), &data, nullptr), 0);
    return Path(name);
  }

  static Outcome View(const std::vector<std::string>& args) { return Run(RunMapsmithView, "MapsmithView", args); }
};

std::string Usage(const std::string& line) { return "MapsmithView: " + line + "\nTry 'MapsmithView --help'.\n"; }

TEST_F(ViewToolTest, HelpAndVersion) {
  Outcome help = View({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: MapsmithView --map MAP --out PAGE.svg [OPTION]...\n", 0), 0u);
  for (const char* option : {"--data=DATA", "--labels=LABELLED", "--show=LIST", "--names=A,B,...",
                             "--names-from=FILE.csv", "--slice=K=V,...", "--torus", "--title=TEXT", "--from=FORMAT"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  EXPECT_EQ(tooltest::OptionsWithoutDefault(help.out), std::set<std::string>{});
  EXPECT_NE(help.out.find("the map: a network file or a SOM_PAK codebook"), std::string::npos);
  const std::string manual = Read(std::string(MAPSMITH_TEST_DATA) + "/../../docs/MapsmithView.1");
  EXPECT_NE(manual.find("writes it, or a SOM_PAK codebook, recognised by its content (required)."), std::string::npos);
  // As it says: a codebook draws the page its network file draws.
  const std::string map = ColourMap();
  const std::string codebook = Write("map.cod", "3 rect 2 2 gaussian\n0 0 0\n1 10 -1\n2 20 -2\n3 30 -3\n");
  ASSERT_EQ(View({"--map", map, "--out", Path("net.svg"), "--title", "t"}).status, 0);
  Outcome fromCodebook = View({"--map", codebook, "--out", Path("cod.svg"), "--title", "t"});
  ASSERT_EQ(fromCodebook.status, 0) << fromCodebook.err;
  std::string page = Read(Path("cod.svg"));
  const std::size_t name = page.find("map.cod");
  ASSERT_NE(name, std::string::npos);
  EXPECT_EQ(page.replace(name, 7, "map.net"), Read(Path("net.svg")));
  Outcome version = View({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("MapsmithView ", 0), 0u);
}

TEST_F(ViewToolTest, UsageErrorsNameTheOption) {
  const std::string map = ColourMap();
  const std::string out = Path("page.svg");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--out", out}, "option --map is required"},
      {{"--map", map}, "option --out is required"},
      {{"--map", map, "--out", out, "--show", "umatrix,pie"},
       "option --show expects umatrix, planes, hits, labels or colours, not 'pie'"},
      {{"--map", map, "--out", out, "--show", ""}, "option --show expects umatrix, planes, hits, labels or colours, not ''"},
      {{"--map", map, "--out", out, "--show", "hits"}, "option --show: hits need --data"},
      {{"--map", map, "--out", out, "--show", "planes,labels"}, "option --show: labels need --labels"},
      {{"--map", map, "--out", out, "--names", "a", "--names-from", map}, "options --names and --names-from exclude each other"},
      {{"--map", map, "--out", out, "--slice", "3"}, "option --slice expects DIMENSION=COORDINATE, not '3'"},
      {{"--map", map, "--out", out, "--slice", "3=1x"}, "option --slice expects DIMENSION=COORDINATE, not '3=1x'"},
      {{"--map", map, "--out", out, "--slice", "2=0"},
       "option --slice: dimensions 1 and 2 are drawn whole; '2=0' names dimension 2"},
      {{"--map", map, "--out", out, "--slice", "3=-1"}, "option --slice: coordinates start at 0, not '3=-1'"},
      {{"--map", map, "--out", out, "--slice", "3=1,4=0,3=2"}, "option --slice names dimension 3 twice"},
      {{"--map", map, "--out", map}, "option --out '" + map + "' is also an input"},
      {{"--map", map, "--out", out, "--data", out, "--show", "hits"}, "option --out '" + out + "' is also an input"},
      {{"--map", map, "--out", out, "--from", "xml"},
       "option --from expects one of dataset, network, csv, sompak, codebook, not 'xml'"},
      {{"--map", map, "--out", out, "extra"}, "extra operand 'extra'"},
  };
  for (const auto& [args, message] : cases) {
    Outcome r = View(args);
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_EQ(r.err, Usage(message));
    EXPECT_FALSE(fs::exists(out)) << message;
  }
}

TEST_F(ViewToolTest, RunTimeFailuresNameTheFileAndKeepAnOldPage) {
  const std::string map = ColourMap();
  const std::string map3d = SaveMap("cube.net", 1, {2, 3, 2}, [](int i, int) { return i; });
  const std::string out = Write("page.svg", "old page");
  const std::string rows = SaveRows("rows.dat", {0, 1, 2});
  const std::string twoColumns = Write("two.dat",
                                       "[FormatVersion = 1.0]\n[DataSet]\n[Rows = 1]\n[Inputs = 2]\n"
                                       "[Data]\n1 2\n[~Data]\n[~DataSet]\n");
  const std::string nan = Write("nan.dat",
                                "[FormatVersion = 1.0]\n[DataSet]\n[Rows = 2]\n[Inputs = 3]\n"
                                "[Data]\n1 2 3\n1 nan 3\n[~Data]\n[~DataSet]\n");
  const std::string fourColumns = Write("four.dat",
                                        "[FormatVersion = 1.0]\n[DataSet]\n[Rows = 1]\n[Inputs = 4]\n"
                                        "[Data]\n1 2 3 4\n[~Data]\n[~DataSet]\n");
  // A map whose sizes do not multiply to its neurons, as a file may hold it.
  std::string text = Read(map);
  text.replace(text.find("Size=2"), 6, "Size=3");
  const std::string broken = Write("broken.net", text);

  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--map", Path("missing.net")}, Path("missing.net") + ": cannot open: No such file or directory"},
      {{"--map", rows},
       rows + ": not a map (a network file or SOM_PAK codebook); its content reads as a data set file"},
      {{"--map", broken}, broken + ": Dimensions give 6 neurons, the map layer has 4"},
      {{"--map", map3d, "--show", "colours"}, map3d + ": colours need a map of 3 inputs, this map has 1"},
      {{"--map", map3d, "--slice", "4=0"}, map3d + ": --slice 4=0: the map has 3 dimensions"},
      {{"--map", map3d, "--slice", "3=2"}, map3d + ": --slice 3=2: dimension 3 has size 2"},
      {{"--map", map, "--slice", "3=0"}, map + ": --slice 3=0: the map has 2 dimensions"},
      {{"--map", map, "--names", "r,g"}, map + ": the map has 3 inputs, --names gives 2 names"},
      {{"--map", map, "--data", twoColumns}, twoColumns + ": 2 input columns, fewer than the map's 3 inputs"},
      {{"--map", map, "--data", nan}, nan + ": row 2, column 2: not a finite number"},
      {{"--map", map, "--data", fourColumns},
       fourColumns + ": 4 input columns, more than the map's 3 inputs (--inputs 3 uses the first 3)"},
      {{"--map", map, "--data", fourColumns, "--inputs", "2"}, map + ": the map has 3 inputs, not 2 as --inputs says"},
      {{"--map", map, "--labels", rows}, rows + ": the rows carry no labels"},
      {{"--map", map, "--out", Path("no/such/dir/page.svg")},
       Path("no/such/dir/page.svg") + ": cannot create: No such file or directory"},
  };
  for (auto [args, message] : cases) {
    if (std::find(args.begin(), args.end(), "--out") == args.end()) args.insert(args.end(), {"--out", out});
    Outcome r = View(args);
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_EQ(r.err, "MapsmithView: " + message + "\n");
    EXPECT_EQ(Read(out), "old page") << message;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 8);  // no temporary left
  // --inputs 3 uses the first three of four columns.
  Outcome r = View({"--map", map, "--out", out, "--data", fourColumns, "--inputs", "3"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Read(out).find("Data four.dat: 1 row,"), std::string::npos);
}

TEST_F(ViewToolTest, PageIsWellFormedXml) {
  if (!HaveXmlChecker()) GTEST_SKIP() << kNoXmlChecker;
  const std::string map = ColourMap();
  const std::string rows = SaveRows("rows.dat", {0, 1, 1, 3}, {"a", "b", "b", "c"});
  Outcome r = View({"--map", map, "--out", Path("page.svg"), "--data", rows, "--labels", rows, "--show",
                    "colours,umatrix,planes,hits,labels", "--names", "<r>,g&g,\"b\"", "--title", "A & B"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(XmlError(Read(Path("page.svg"))), "");
}

// Every panel has one cell per neuron; hits add up to the rows; the U-matrix
// values and planes follow the weights.
TEST_F(ViewToolTest, PanelsHitsAndCaption) {
  const std::string map = ColourMap();
  const std::string rows = SaveRows("rows.dat", {0, 0.2, 1, 2.9, 3, 3});
  Outcome r = View({"--map", map, "--out", Path("page.svg"), "--data", rows, "--show", "colours,umatrix,planes,hits",
                    "--names", "red,green,blue", "--torus"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const std::string svg = Read(Path("page.svg"));
  const std::vector<std::string> groups = CellGroups(svg);
  ASSERT_EQ(groups.size(), 5u);  // colours, U-matrix and three planes
  for (const std::string& cells : groups) EXPECT_EQ(Count(cells, "<rect "), 4);
  EXPECT_NE(svg.find("<title>2 hits</title>"), std::string::npos);  // neuron 0
  EXPECT_NE(svg.find("<title>1 hit</title>"), std::string::npos);   // neuron 1
  EXPECT_NE(svg.find("<title>3 hits</title>"), std::string::npos);  // neuron 3
  EXPECT_EQ(Count(svg, "<circle "), 3);
  // Colours: each input over the range of all the map's weights, -3 to 30.
  EXPECT_EQ(Fills(groups[0]).front(), "#171717");  // (0, 0, 0): round(255 * 3/33) = 23
  // The U-matrix of neurons 0, 1, 2, 3 weighing (i, 10i, -i): neighbour pairs
  // (0,1) (2,3) at sqrt(102), (0,2) (1,3) at 2 sqrt(102): all means equal.
  EXPECT_EQ(Fills(groups[1]), std::vector<std::string>(4, mapsmith::HexColour(mapsmith::Viridis(0.5))));
  // The first plane runs 0, 1, 2, 3: thirds of the scale.
  EXPECT_EQ(Fills(groups[2]), (std::vector<std::string>{"#440154", mapsmith::HexColour(mapsmith::Viridis(1 / 3.0)),
                                                         mapsmith::HexColour(mapsmith::Viridis(2 / 3.0)), "#fde725"}));
  for (const char* text : {">red</text>", ">green</text>", ">blue</text>", ">U-matrix and hits</text>",
                           "Map map.net: 2 x 2 neurons, 3 inputs, torus",
                           "Data rows.dat: 6 rows, quantization error 0.504975, topographic error 0"})
    EXPECT_NE(svg.find(text), std::string::npos) << text;
}

// --torus reaches the U-matrix: on a 1 x 3 map weighing (0,0) (3,4) (0,8)
// the means are 5, 5, 5 without it; with it the ends are neighbours too, 8
// apart, so the means are 6.5, 5, 6.5.
TEST_F(ViewToolTest, TheTorusReachesTheUMatrix) {
  const double weights[3][2] = {{0, 0}, {3, 4}, {0, 8}};
  const std::string map = SaveMap("row.net", 2, {1, 3}, [&](int i, int j) { return weights[i][j]; });
  Outcome r = View({"--map", map, "--out", Path("flat.svg"), "--show", "umatrix"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> groups = CellGroups(Read(Path("flat.svg")));
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(Fills(groups[0]), std::vector<std::string>(3, mapsmith::HexColour(mapsmith::Viridis(0.5))));
  r = View({"--map", map, "--out", Path("torus.svg"), "--show", "umatrix", "--torus"});
  ASSERT_EQ(r.status, 0) << r.err;
  groups = CellGroups(Read(Path("torus.svg")));
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(Fills(groups[0]), (std::vector<std::string>{"#fde725", "#440154", "#fde725"}));
}

// A 2 x 3 x 2 map draws the slice through the first two dimensions; a 1-D map
// draws one row.
TEST_F(ViewToolTest, SlicesAndOneDimensionalMaps) {
  // Neuron i weighs i, so the plane shows the neuron numbers of the slice.
  const std::string cube = SaveMap("cube.net", 1, {2, 3, 2}, [](int i, int) { return i; });
  Outcome r = View({"--map", cube, "--out", Path("cube.svg"), "--slice", "3=1", "--show", "planes"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string svg = Read(Path("cube.svg"));
  std::vector<std::string> groups = CellGroups(svg);
  ASSERT_EQ(groups.size(), 1u);
  std::vector<std::string> expected;
  for (int neuron : {1, 3, 5, 7, 9, 11})  // (r, c, 1) is neuron 6r + 2c + 1; the scale runs 0 to 11
    expected.push_back(mapsmith::HexColour(mapsmith::Viridis(std::lround(neuron / 11.0 * 255) / 255.0)));
  EXPECT_EQ(Fills(groups[0]), expected);
  EXPECT_NE(svg.find("Slice through dimensions 1 and 2 at dimension 3 = 1"), std::string::npos);
  EXPECT_NE(svg.find(">Input 1</text>"), std::string::npos);

  const std::string line = SaveMap("line.net", 2, {5}, [](int i, int j) { return i * (j + 1); });
  r = View({"--map", line, "--out", Path("line.svg")});
  ASSERT_EQ(r.status, 0) << r.err;
  svg = Read(Path("line.svg"));
  groups = CellGroups(svg);
  ASSERT_EQ(groups.size(), 3u);  // U-matrix and two planes
  for (const std::string& cells : groups) {
    EXPECT_EQ(Count(cells, "<rect "), 5);
    EXPECT_EQ(Count(cells, " y=\"0\" "), 5);
  }
  EXPECT_EQ(svg.find("Slice"), std::string::npos);
}

// --labels takes a labelled data set (mapped here) or the labelled map made
// from it; both draw the same page.
TEST_F(ViewToolTest, LabelsFromRowsOrFromTheLabelledMap) {
  const std::string map = ColourMap();
  const std::vector<double> ks = {0, 0.1, 0.2, 1, 3, 3};
  const std::vector<std::string> names = {"x", "y", "y", "z", "w", "v"};
  const std::string rows = SaveRows("rows/labels.dat", ks, names);
  {
    std::unique_ptr<TKohonenNetwork> net;
    FileTools tools;
    net = LoadKohonenNetwork(tools, map.c_str());
    std::unique_ptr<::Data> data, none;
    ASSERT_EQ(ReadDataSetFile(tools, rows, data, none), 0);
    std::unique_ptr<::Data> labelled = net->LabelMap(data.get());
    fs::create_directories(dir_ / "labelled");
    ASSERT_EQ(WriteDataSetFile(tools, Path("labelled/labels.dat"), labelled.get(), nullptr), 0);
  }
  Outcome a = View({"--map", map, "--out", Path("a.svg"), "--labels", rows});
  Outcome b = View({"--map", map, "--out", Path("b.svg"), "--labels", Path("labelled/labels.dat")});
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  const std::string svg = Read(Path("a.svg"));
  EXPECT_EQ(svg, Read(Path("b.svg")));
  const std::vector<std::string> groups = CellGroups(svg);
  ASSERT_EQ(groups.size(), 5u);  // U-matrix, labels, three planes
  EXPECT_NE(groups[1].find("<title>y 2, x 1</title>"), std::string::npos);
  EXPECT_NE(groups[1].find("<title>z 1</title>"), std::string::npos);
  EXPECT_NE(groups[1].find("<title>w 1, v 1</title>"), std::string::npos);
  EXPECT_EQ(Count(groups[1], "<title>"), 3);  // neuron 2 wins nothing
  EXPECT_NE(svg.find("Labels from labels.dat"), std::string::npos);
}

// The labelled map that MapsmithLabel writes, in each format it writes,
// draws the same label in each neuron's cell: a data set file holds every
// label and its weight, CSV the heaviest label, SOM_PAK every label,
// heaviest first.
TEST_F(ViewToolTest, EveryFormatOfMapsmithLabelsLabelledMapNamesTheSameLabels) {
  const std::string map = ColourMap();
  // Neuron 0 wins x, y, y (y the heavier, x first in the list); neuron 1 z;
  // neuron 2 nothing; neuron 3 w and v (equal: w, the first).
  const std::string rows = SaveRows("rows.dat", {0, 0.1, 0.2, 1, 3, 3}, {"x", "y", "y", "z", "w", "v"});
  std::vector<std::string> pages;
  const std::vector<std::vector<std::string>> outputs = {
      {"-o", Path("map.dat")}, {"-o", Path("map.csv")}, {"-o", Path("map.txt"), "--to", "sompak"}};
  for (const std::vector<std::string>& out : outputs) {
    std::vector<std::string> args = {"-m", map, "-d", rows};
    args.insert(args.end(), out.begin(), out.end());
    const Outcome label = Run(RunMapsmithLabel, "MapsmithLabel", args);
    ASSERT_EQ(label.status, 0) << label.err;
    const std::string page = Path(out[1] + ".svg");
    const Outcome view = View({"--map", map, "--out", page, "--labels", out[1]});
    ASSERT_EQ(view.status, 0) << out[1] << ": " << view.err;
    EXPECT_EQ(view.err, "") << out[1];
    std::size_t from = 0;
    pages.emplace_back(Between(Read(page), "<g class=\"labels\"", "</g>", from));
  }
  EXPECT_EQ(Read(Path("map.csv")), "coord1,coord2,label\n0,0,y\n0,1,z\n1,0,\n1,1,w\n");
  EXPECT_EQ(Read(Path("map.txt")), "2\n#n coord1 coord2\n0 0 y x\n0 1 z\n1 0\n1 1 w v\n");
  EXPECT_EQ(Count(pages[0], "</text>"), 3);
  for (const char* name : {">y</text>", ">z</text>", ">w</text>"}) EXPECT_NE(pages[0].find(name), std::string::npos);
  EXPECT_EQ(pages[1], pages[0]);
  EXPECT_EQ(pages[2], pages[0]);

  // What the manual page says each format carries.
  const std::string manual = Read(std::string(MAPSMITH_TEST_DATA) + "/../../docs/MapsmithView.1");
  for (const char* words : {"every label with its weight", "one label per neuron, the heaviest, of weight 1",
                            "every label of weight 1, heaviest first"})
    EXPECT_NE(manual.find(words), std::string::npos) << words;
}

}  // namespace

namespace {

// Names from a CSV header and labels from a CSV label column reach the page
// escaped and intact, whatever markup characters and UTF-8 they hold.
TEST_F(ViewToolTest, NamesAndLabelsFromCsvComeOutEscapedAndIntact) {
  const std::string map = ColourMap();
  const std::string csv = Write("names.csv",
                                "\"a<b\",\"c&d\",\"say \"\"hi\"\"\",kind\n"
                                "0,0,0,日本 & <co>\n"
                                "3,30,-3,\"grün \"\"x\"\"\"\n");
  Outcome r =
      View({"--map", map, "--out", Path("page.svg"), "--names-from", csv, "--labels", csv, "--label-column", "kind"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string svg = Read(Path("page.svg"));
  for (const char* text : {">a&lt;b</text>", ">c&amp;d</text>", ">say &quot;hi&quot;</text>",
                           "<title>日本 &amp; &lt;co&gt; 1</title>", "<title>grün &quot;x&quot; 1</title>"})
    EXPECT_NE(svg.find(text), std::string::npos) << text;
  EXPECT_EQ(XmlError(svg), "");

  const std::string dataSet = SaveRows("rows.dat", {1});
  r = View({"--map", map, "--out", Path("page.svg"), "--names-from", dataSet});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "MapsmithView: " + dataSet + ": has no header row of column names\n");
  const std::string four = Write("four.csv", "a,b,c,d\n1,2,3,4\n");
  r = View({"--map", map, "--out", Path("page.svg"), "--names-from", four});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "MapsmithView: " + four + ": names 4 columns, the map has 3 inputs\n");
}

}  // namespace

namespace {

// The picture in the README (docs/images/colours.svg) is what
// examples/colours/make-page.sh makes: same seeds, same bytes. Mapsmith must
// read the Seed key for that; a Mapsmith without it seeds from the clock and
// answers --help as a parameter file, and the comparison is skipped.
TEST_F(ViewToolTest, CommittedColoursPictureIsWhatTheExampleMakes) {
  const std::string tools = MAPSMITH_TOOL_DIR;
  const std::string root = std::string(MAPSMITH_TEST_DATA) + "/../..";
  if (std::system(("'" + tools + "/Mapsmith' --help > /dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "this Mapsmith does not read Seed, so the example's map changes with the clock";
  const std::string command = "bash '" + root + "/examples/colours/make-page.sh' '" + tools + "' '" +
                              Path("colours") + "' > '" + Path("log") + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << Read(Path("log"));
  EXPECT_TRUE(Read(Path("colours/colours.svg")) == Read(root + "/docs/images/colours.svg"))
      << "docs/images/colours.svg is not what examples/colours/make-page.sh makes; regenerate it with\n"
         "  examples/colours/make-page.sh build /tmp/colours && cp /tmp/colours/colours.svg docs/images/";
}

}  // namespace
