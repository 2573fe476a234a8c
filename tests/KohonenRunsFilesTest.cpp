// A map made by the tool's creation run, saved and read back, labelled from a
// data set file and used to label rows: the library's pieces working together
// on files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "Kohonen/Create/Mapsmith.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace {

std::vector<std::string> Names(const TLabelList* list) {
  std::vector<std::string> names;
  for (const TLabel& l : list->labels) names.push_back(l.name + "=" + std::to_string(l.value));
  return names;
}

TEST(KohonenRunsFilesTest, ACreatedMapLabelsRowsFromADataSetFile) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("mapsmith-runs-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string netPath = (dir / "map.net").string();
  const std::string paramsPath = (dir / "map.params").string();
  std::ofstream(paramsPath) << "Inputs = 3\nDimensions = 2\nMapDim = 3 4\nMinWeight = 0\n"
                               "MaxWeight = 1\nFileName = "
                            << netPath << "\n";
  const char* argv[] = {"Mapsmith", paramsPath.c_str()};
  std::ostringstream out, err;
  ASSERT_EQ(RunMapsmith(2, argv, out, err), 0) << err.str();

  FileTools tools;
  std::unique_ptr<TBasicNetwork> read = LoadNetworkFile(tools, netPath.c_str());
  auto* net = dynamic_cast<TKohonenNetwork*>(read.get());
  ASSERT_NE(net, nullptr);
  ASSERT_EQ(net->numDimensions, 2);
  EXPECT_EQ(net->dimensions[0], 3);
  EXPECT_EQ(net->dimensions[1], 4);

  std::unique_ptr<Data> examples, results;
  ASSERT_EQ(ReadDataSetFile(tools, MAPSMITH_TEST_DATA "/runs/labelled.dat", examples, results), SUCCESS);
  ASSERT_NE(examples, nullptr);
  EXPECT_EQ(results, nullptr);
  ASSERT_EQ(examples->MbrNdxRows, 10);

  std::unique_ptr<Data> map = net->LabelMap(examples.get());
  ASSERT_EQ(map->MbrNdxRows, 12);
  int sizes[2] = {0, 0};
  GetMapSizes(map.get(), sizes);
  EXPECT_EQ(sizes[0], 3);
  EXPECT_EQ(sizes[1], 4);

  // The labelled map goes through a data set file and comes back the same.
  const std::string mapPath = (dir / "labelled-map.dat").string();
  ASSERT_EQ(WriteDataSetFile(tools, mapPath, map.get(), nullptr), SUCCESS);
  std::unique_ptr<Data> mapBack, none;
  ASSERT_EQ(ReadDataSetFile(tools, mapPath, mapBack, none), SUCCESS);
  ASSERT_NE(mapBack, nullptr);

  std::unique_ptr<Data> coords = net->WinnerCoordinates(examples.get());
  std::unique_ptr<Data> labelled = LabelRows(coords.get(), mapBack.get());
  ASSERT_EQ(labelled->MbrNdxRows, 10);
  std::vector<double> x(3), y(3);
  double total = 0.0;
  for (int r = 0; r < 10; ++r) {
    examples->GetInputRow(r, x.data());
    const int winner = net->FindWinner(x.data(), y.data());
    // Each row gets the labels of its winner, which include its own first label.
    EXPECT_EQ(Names(labelled->GetLabels(r)), Names(map->GetLabels(winner))) << r;
    const TLabelList* own = examples->GetLabels(r);
    if (own->count() == 0) continue;
    bool found = false;
    for (const TLabel& l : labelled->GetLabels(r)->labels) found = found || l.name == own->labels[0].name;
    EXPECT_TRUE(found) << r;
  }
  // Every first label of the file lands on exactly one neuron.
  for (int k = 0; k < 12; ++k)
    for (const TLabel& l : map->GetLabels(k)->labels) total += l.value;
  EXPECT_DOUBLE_EQ(total, 1 + 1 + 1 + 2 + 1 + 1 + 0.25 + 3 + 0.5);
  std::filesystem::remove_all(dir);
}

}  // namespace
