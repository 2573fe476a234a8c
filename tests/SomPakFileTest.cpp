#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/NetworkFile.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/SomPakFile.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/Random.h"

using namespace mapsmith;

namespace {

DataTable ReadData(const std::string& text) {
  std::istringstream in(text);
  return ReadSomPakData(in);
}

template <class Read>
std::string Refusal(Read read) {
  try {
    read();
  } catch (const FileTools::Error& e) {
    return e.message;
  }
  return "(read)";
}

std::string DataRefusal(const std::string& text) {
  return Refusal([&] { ReadData(text); });
}

std::unique_ptr<TKohonenNetwork> ReadMap(const std::string& text, std::vector<std::string>* warnings = nullptr) {
  std::istringstream in(text);
  return ReadCodebook(in, warnings);
}

std::string CodebookRefusal(const std::string& text) {
  return Refusal([&] { ReadMap(text); });
}

std::string WriteMap(TKohonenNetwork& map, std::vector<std::string>* warnings = nullptr) {
  std::ostringstream out;
  WriteCodebook(out, map, warnings);
  return out.str();
}

std::string NetworkText(TKohonenNetwork& map) {
  FileTools tools;
  std::ostringstream out;
  WriteNetwork(tools, out, &map);
  return out.str();
}

std::vector<double> Row(const Data& data, int r) {
  return std::vector<double>(data.MbrDyaRtpInputs[r], data.MbrDyaRtpInputs[r] + data.MbrNdxInputs);
}

std::vector<std::string> Labels(const Data& data, int r) {
  std::vector<std::string> names;
  for (const TLabel& l : data.MbrDyaLabels[static_cast<std::size_t>(r)].labels) names.push_back(l.name);
  return names;
}

TEST(SomPakDataTest, RowsLabelsCommentsQualifiersAndNames) {
  const std::string text =
      "# made by hand\n"
      "3 ignored items\n"
      "#n height width depth\n"
      "1 2 3 small\n"
      "\n"
      "  # an indented comment\n"
      "4.5 -5 6e2\r\n"
      "7 8 9 big red weight=2 fixed=1,2\n"
      "1 1 1 fixed=0,0\n";
  DataTable t = ReadData(text);
  ASSERT_EQ(t.data->MbrNdxRows, 4);
  EXPECT_EQ(t.data->MbrNdxInputs, 3);
  EXPECT_EQ(t.data->MbrNdxOutputs, 0);
  EXPECT_EQ(Row(*t.data, 1), (std::vector<double>{4.5, -5, 600}));
  EXPECT_EQ(Labels(*t.data, 0), (std::vector<std::string>{"small"}));
  EXPECT_TRUE(Labels(*t.data, 1).empty());
  EXPECT_EQ(Labels(*t.data, 2), (std::vector<std::string>{"big", "red"}));
  EXPECT_TRUE(Labels(*t.data, 3).empty());
  EXPECT_EQ(t.columnNames, (std::vector<std::string>{"height", "width", "depth"}));
  EXPECT_EQ(t.warnings, (std::vector<std::string>{"2 rows carry weight= or fixed= qualifiers, which are ignored"}));

  // Without labels the set has none; a #n line of the wrong length is ignored.
  t = ReadData("2\n#n a\n1 2\n");
  EXPECT_FALSE(t.data->MbrHasLabels);
  EXPECT_TRUE(t.columnNames.empty());
  EXPECT_EQ(t.warnings, (std::vector<std::string>{"the #n line names 1 columns, the data has 2; the names are ignored"}));
  EXPECT_EQ(ReadData("2\n").data->MbrNdxRows, 0);
}

TEST(SomPakDataTest, RefusalsNameLineAndColumn) {
  EXPECT_EQ(DataRefusal("3\n1 2 3\n1 x 3\n"), "line 3, column 2: missing value 'x'; missing values are not supported");
  EXPECT_EQ(DataRefusal("3\n1 2\n"), "line 2: 2 values where the file declares 3");
  EXPECT_EQ(DataRefusal("3\n1 2 red\n"), "line 2, column 3: 'red' is not a number");
  EXPECT_EQ(DataRefusal("2\n1 nan\n"), "line 2, column 2: 'nan' is not a finite number");
  EXPECT_EQ(DataRefusal("2\n1 1e400\n"), "line 2, column 2: '1e400' is out of range");
  EXPECT_EQ(DataRefusal("# only\n\n"), "the file is empty: its first line must give the number of columns");
  EXPECT_EQ(DataRefusal("# c\nthree\n"), "line 2: the first line must give the number of columns, not 'three'");
  EXPECT_EQ(DataRefusal("0\n"), "line 1: the first line must give the number of columns, not '0'");
  EXPECT_EQ(DataRefusal("99999999999\n"), "line 1: the first line must give the number of columns, not '99999999999'");
  // A huge declared width costs nothing until rows hold that many values.
  EXPECT_EQ(DataRefusal("2000000000\n1 2\n"), "line 2: 2 values where the file declares 2000000000");
}

TEST(SomPakDataTest, WritingGivesWhatReadsBack) {
  DataTable t = ReadData("2\n#n a b\n0.1 -2 one\n1e-300 4 two three\n5 6\n");
  std::vector<std::string> warnings;
  std::ostringstream out;
  WriteSomPakData(out, t, &warnings);
  EXPECT_EQ(out.str(), "2\n#n a b\n0.1 -2 one\n1e-300 4 two three\n5 6\n");
  EXPECT_TRUE(warnings.empty());

  // A label read twice weighs 2 and is written first, once: weights are not
  // written, so the first label read back is the heaviest.
  DataTable w = ReadData("1\n1 a b b c\n");
  std::ostringstream heaviest;
  WriteSomPakData(heaviest, w);
  EXPECT_EQ(heaviest.str(), "1\n1 b a c\n");

  // Outputs become columns; names with blanks are left out; labels that would
  // not read back are refused.
  DataTable o;
  o.data = std::make_unique<Data>(1, 1, 1, false);
  const double in[] = {1}, outv[] = {2};
  o.data->AddRow(in, outv, nullptr);
  o.columnNames = {"a b"};
  std::ostringstream out2;
  WriteSomPakData(out2, o, &warnings);
  EXPECT_EQ(out2.str(), "2\n1 2\n");
  EXPECT_EQ(warnings, (std::vector<std::string>{
                          "the column names are left out: a #n line cannot hold names with blanks",
                          "the 1 expected output are written as ordinary columns after the inputs"}));

  for (const char* bad : {"dark red", "weight=3", "fixed=1,1"}) {
    DataTable l;
    l.data = std::make_unique<Data>(2, 1, 0, true);
    const TLabelList fine("ok", 1.0), label(bad, 1.0);
    l.data->AddRow(in, nullptr, &fine);
    l.data->AddRow(in, nullptr, &label);
    std::ostringstream sink;
    EXPECT_EQ(Refusal([&] { WriteSomPakData(sink, l); }),
              "row 2: the label '" + std::string(bad) +
                  "' cannot be written to a SOM_PAK file (a label is one word, not weight= or fixed=)");
  }
  DataTable none;
  none.data = std::make_unique<Data>(1, 0, 0, true);
  std::ostringstream sink;
  EXPECT_EQ(Refusal([&] { WriteSomPakData(sink, none); }),
            "a SOM_PAK data file needs at least one column of numbers; this data set has none");
}

TEST(CodebookTest, UnitsKeepTheirGridPlacesAndTheMapIsTheOneMapsmithWrites) {
  // 2 inputs, xdim 3, ydim 2: unit (x, y) on line y*3 + x, our neuron (y, x).
  const std::string text =
      "# comment\n"
      "2 rect 3 2 bubble\n"
      "0 0\n1 0\n2 0 lab\n"
      "\n"
      "0 1\n1 1\n2 1\n";
  std::vector<std::string> warnings;
  std::unique_ptr<TKohonenNetwork> map = ReadMap(text, &warnings);
  EXPECT_EQ(warnings, (std::vector<std::string>{"1 unit carries labels, which are ignored"}));
  ASSERT_EQ(map->numDimensions, 2);
  EXPECT_EQ(map->dimensions[0], 2);
  EXPECT_EQ(map->dimensions[1], 3);
  const int coords[] = {1, 2};  // y = 1, x = 2
  const int neuron = map->CoordsToIndex(coords);
  EXPECT_EQ(neuron, 5);
  EXPECT_EQ(map->priv_conns_index[2][1]->Weight(0, neuron), 2.0);
  EXPECT_EQ(map->priv_conns_index[2][1]->Weight(1, neuron), 1.0);

  // Exactly the network file the creation path writes for that grid and
  // those weights.
  const int sizes[] = {2, 3};
  TKohonenNetwork expected(2, 2, sizes);
  const double weights[] = {0, 0, 1, 0, 2, 0, 0, 1, 1, 1, 2, 1};
  auto* set = dynamic_cast<TConnectedConnections*>(expected.priv_conns_index[2][1].get());
  std::memcpy(set->array_weights.data(), weights, sizeof weights);
  EXPECT_EQ(NetworkText(*map), NetworkText(expected));

  EXPECT_EQ(WriteMap(*map), "2 rect 3 2 gaussian\n0 0\n1 0\n2 0\n0 1\n1 1\n2 1\n");

  // ydim 1: a one-dimensional map, written back the same way.
  map = ReadMap("1 rect 4 1 gaussian\n0.5\n-1\n2\n3\n");
  ASSERT_EQ(map->numDimensions, 1);
  EXPECT_EQ(map->dimensions[0], 4);
  warnings.clear();
  EXPECT_EQ(WriteMap(*map, &warnings), "1 rect 4 1 gaussian\n0.5\n-1\n2\n3\n");
  EXPECT_EQ(warnings, std::vector<std::string>{});
  // xdim 1 stays two-dimensional (4 x 1).
  map = ReadMap("1 rect 1 4\n0\n1\n2\n3\n");
  ASSERT_EQ(map->numDimensions, 2);
  EXPECT_EQ(map->dimensions[0], 4);
  EXPECT_EQ(map->dimensions[1], 1);
  EXPECT_EQ(WriteMap(*map, &warnings), "1 rect 1 4 gaussian\n0\n1\n2\n3\n");
  EXPECT_EQ(warnings, std::vector<std::string>{});
  // A two-dimensional 1 x 4 map is written as ydim 1 too, and reads back
  // one-dimensional: said.
  const int row[] = {1, 4};
  TKohonenNetwork flat(1, 2, row);
  EXPECT_EQ(WriteMap(flat, &warnings), WriteMap(*ReadMap(WriteMap(flat))));
  EXPECT_EQ(warnings, std::vector<std::string>{
                          "the 1 x 4 map is written as xdim 4, ydim 1, which reads back as a one-dimensional map of "
                          "4 neurons"});
}

TEST(CodebookTest, RefusalsOfFilesAndMaps) {
  EXPECT_EQ(CodebookRefusal("2 hexa 3 2 gaussian\n"),
            "line 1: hexagonal (hexa) codebooks are not supported; maps here are rectangular grids");
  EXPECT_EQ(CodebookRefusal("2 rect 3\n"),
            "line 1: a codebook begins with '<dim> rect <xdim> <ydim> <neighbourhood>', not '2 rect 3'");
  EXPECT_EQ(CodebookRefusal("2 rect 0 2 gaussian\n"), "line 1: the dimension and both sizes must be at least 1");
  EXPECT_EQ(CodebookRefusal("100 rect 50000 50000 gaussian\n"),
            "line 1: the map is too large: more than 2147483647 weights");
  EXPECT_EQ(CodebookRefusal("2 rect 2 1 gaussian\n1 2\n"), "the file ends after 1 unit; the 2 x 1 grid has 2");
  EXPECT_EQ(CodebookRefusal("1 rect 1 1 gaussian\n1\n2\n"), "line 3: more units than the 1 x 1 grid holds");
  EXPECT_EQ(CodebookRefusal("2 rect 1 1 gaussian\n1 x\n"),
            "line 2, column 2: missing value 'x'; missing values are not supported");
  EXPECT_EQ(CodebookRefusal(""), "the file is empty: a codebook begins with '<dim> rect <xdim> <ydim> <neighbourhood>'");

  const int three[] = {2, 2, 2};
  TKohonenNetwork cube(1, 3, three);
  EXPECT_EQ(Refusal([&] { WriteMap(cube); }),
            "a SOM_PAK codebook holds maps of one or two dimensions; this map has 3");
  const int four[] = {4};
  TKohonenNetwork noInputs(0, 1, four);
  EXPECT_EQ(Refusal([&] { WriteMap(noInputs); }), "a map without inputs cannot be written as a codebook");
  TKohonenNetwork wrongGrid(1, 1, four);
  const int five[] = {5};
  wrongGrid.SetDimensions(1, five);
  EXPECT_EQ(Refusal([&] { WriteMap(wrongGrid); }), "the map's grid does not match its 4 neurons");
  TKohonenNetwork unconnected(1, 1, four);
  unconnected.Disconnect(1, 2);
  EXPECT_EQ(Refusal([&] { WriteMap(unconnected); }), "the map has no weights from its inputs to its neurons");
}

TEST(CodebookTest, NetworkFileToCodebookAndBackKeepsFifteenDigits) {
  const int sizes[] = {3, 4};
  TKohonenNetwork map(5, 2, sizes);
  SeedRandom(12345);
  map.Randomize(-1000.0, 1000.0);
  // Round the weights to what a network file holds, then go through a codebook.
  std::istringstream netText(NetworkText(map));
  FileTools tools;
  std::unique_ptr<TBasicNetwork> read = ReadNetwork(tools, netText);
  auto& fromFile = dynamic_cast<TKohonenNetwork&>(*read);
  std::unique_ptr<TKohonenNetwork> back = ReadMap(WriteMap(fromFile));
  EXPECT_EQ(NetworkText(*back), NetworkText(fromFile));
}

}  // namespace
