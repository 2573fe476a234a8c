#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace {

// Map neuron i's weight vector becomes (i, 10 i): an input (k, 10 k) is won
// by neuron k.
void NumberNeurons(TKohonenNetwork& net) {
  TBasicConnections* c = net.GetConnections(1, 2);
  for (int i = 0; i < net.layers[2]->numNeurons; ++i) {
    c->Weight(0, i) = i;
    c->Weight(1, i) = 10.0 * i;
  }
}

void AddPoint(Data& data, double k, const TLabelList* labels = nullptr) {
  const double x[] = {k, 10.0 * k};
  data.AddRow(x, nullptr, labels);
}

std::vector<double> Inputs(const Data& data, int row) {
  std::vector<double> v(data.MbrNdxInputs);
  data.GetInputRow(row, v.data());
  return v;
}

std::vector<double> Outputs(const Data& data, int row) {
  std::vector<double> v(data.MbrNdxOutputs);
  data.GetOutputRow(row, v.data());
  return v;
}

std::string LabelText(const TLabelList* list) {
  std::string s;
  for (const TLabel& l : list->labels) s += l.name + "=" + std::to_string(l.value) + " ";
  return s;
}

// The sizes GetMapSizes reads back from the labelled map of a grid.
std::vector<int> RoundTrip(std::vector<int> dims) {
  TKohonenNetwork net(1, static_cast<int>(dims.size()), dims.data());
  Data empty(0, 1, 0, true);
  auto map = net.LabelMap(&empty);
  std::vector<int> sizes(dims.size(), -1);
  GetMapSizes(map.get(), sizes.data());
  return sizes;
}

void ExpectRefused(const std::function<void()>& run, const char* message, const char* origin) {
  try {
    run();
    ADD_FAILURE() << "not refused";
  } catch (const TException& e) {
    EXPECT_EQ(e.message, message);
    EXPECT_EQ(e.kind, "Bad Parameter");
    EXPECT_EQ(e.origin, origin);
  }
}

TEST(KohonenRunsTest, LabelledMapListsNeuronsInGridOrderWithTheirLabels) {
  const int dims[] = {2, 3};
  TKohonenNetwork net(2, 2, dims);
  NumberNeurons(net);
  Data in(5, 2, 0, true);
  TLabelList a1("A", 1), b("B", 1);
  TLabelList a2("A", 2);
  a2.Add("second", 7);  // only a row's first label counts
  AddPoint(in, 4, &a1);
  AddPoint(in, 4.1, &a2);
  AddPoint(in, 0, &b);
  AddPoint(in, 0.2, nullptr);  // no label: mapped, adds nothing
  AddPoint(in, 5, &b);

  auto message = std::make_unique<TKQstructure>("ignored");
  auto map = net.LabelMap(&in, std::move(message));
  ASSERT_EQ(map->MbrNdxRows, 6);
  EXPECT_EQ(map->MbrNdxInputs, 2);
  EXPECT_EQ(map->MbrNdxOutputs, 0);
  EXPECT_TRUE(map->MbrHasLabels);
  const std::vector<std::vector<double>> grid = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(Inputs(*map, k), grid[k]) << k;
  EXPECT_EQ(LabelText(map->GetLabels(0)), "B=1.000000 ");
  EXPECT_EQ(LabelText(map->GetLabels(4)), "A=3.000000 ");
  EXPECT_EQ(LabelText(map->GetLabels(5)), "B=1.000000 ");
  for (int k : {1, 2, 3}) EXPECT_EQ(map->GetLabels(k)->count(), 0) << k;

  int sizes[2] = {0, 0};
  GetMapSizes(map.get(), sizes);
  EXPECT_EQ(sizes[0], 2);
  EXPECT_EQ(sizes[1], 3);
}

TEST(KohonenRunsTest, MapSizesAreReadBackForEveryGridShape) {
  EXPECT_EQ(RoundTrip({5}), (std::vector<int>{5}));
  EXPECT_EQ(RoundTrip({2, 3, 4}), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(RoundTrip({4, 1}), (std::vector<int>{4, 1}));
  // Dimensions of size 1 before the last one: the scan of their coordinate
  // column meets no non-zero value before the end of the map.
  EXPECT_EQ(RoundTrip({1, 5}), (std::vector<int>{1, 5}));
  EXPECT_EQ(RoundTrip({3, 1, 4}), (std::vector<int>{3, 1, 4}));
  EXPECT_EQ(RoundTrip({1, 1, 5}), (std::vector<int>{1, 1, 5}));
  EXPECT_EQ(RoundTrip({1, 3, 1}), (std::vector<int>{1, 3, 1}));
  EXPECT_EQ(RoundTrip({2, 1, 1, 3}), (std::vector<int>{2, 1, 1, 3}));
  EXPECT_EQ(RoundTrip({1, 1}), (std::vector<int>{1, 1}));
}

TEST(KohonenRunsTest, WinnerCoordinatesOfAOneDimensionalMapAreNeuronNumbers) {
  const int dims[] = {5};
  TKohonenNetwork net(2, 1, dims);
  NumberNeurons(net);
  Data in(4, 2, 0, false);
  for (double k : {3.0, 0.4, 4.9, 1.6}) AddPoint(in, k);
  auto out = net.WinnerCoordinates(&in);
  ASSERT_EQ(out->MbrNdxRows, 4);
  EXPECT_EQ(out->MbrNdxInputs, 2);
  EXPECT_EQ(out->MbrNdxOutputs, 1);
  EXPECT_FALSE(out->MbrHasLabels);
  const double expected[] = {3, 0, 4, 2};
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(Outputs(*out, r), std::vector<double>{expected[r]}) << r;
    EXPECT_EQ(Inputs(*out, r), Inputs(in, r));
  }
}

TEST(KohonenRunsTest, WinnerCoordinatesAreGridCoordinates) {
  const int dims[] = {3, 4};
  TKohonenNetwork net(2, 2, dims);
  NumberNeurons(net);
  Data in(2, 2, 0, false);
  AddPoint(in, 9);
  AddPoint(in, 6);
  auto out = net.WinnerCoordinates(&in);
  EXPECT_EQ(Outputs(*out, 0), (std::vector<double>{2, 1}));
  EXPECT_EQ(Outputs(*out, 1), (std::vector<double>{1, 2}));
}

TEST(KohonenRunsTest, ReconstructionPairsEachRowWithItsWinnersWeights) {
  const int dims[] = {2, 2};
  TKohonenNetwork net(2, 2, dims);
  NumberNeurons(net);
  Data in(3, 2, 0, false);
  AddPoint(in, 2.2);
  AddPoint(in, -1);
  AddPoint(in, 7);
  auto out = net.ReconstructData(&in);
  ASSERT_EQ(out->MbrNdxRows, 3);
  EXPECT_EQ(out->MbrNdxOutputs, 2);
  EXPECT_EQ(Inputs(*out, 0), (std::vector<double>{2.2, 22}));
  EXPECT_EQ(Outputs(*out, 0), (std::vector<double>{2, 20}));
  EXPECT_EQ(Outputs(*out, 1), (std::vector<double>{0, 0}));
  EXPECT_EQ(Outputs(*out, 2), (std::vector<double>{3, 30}));
}

TEST(KohonenRunsTest, ASetHoldingFewerRowsThanItsCapacityIsWalkedToItsCapacity) {
  const int dims[] = {4};
  TKohonenNetwork net(2, 1, dims);
  NumberNeurons(net);
  Data in(4, 2, 0, true);
  TLabelList a("A", 1), b("B", 0.5);
  AddPoint(in, 1, &a);
  AddPoint(in, 3, &b);

  auto rec = net.ReconstructData(&in);
  ASSERT_EQ(rec->MbrNdxRows, 4);
  EXPECT_EQ(rec->MbrNdxDataRows, 4);
  const double firsts[] = {1, 3, 1, 3};
  for (int r = 0; r < 4; ++r) EXPECT_EQ(Inputs(*rec, r)[0], firsts[r]) << r;

  auto coords = net.WinnerCoordinates(&in);
  for (int r = 0; r < 4; ++r) EXPECT_EQ(Outputs(*coords, r)[0], firsts[r]) << r;

  auto map = net.LabelMap(&in);
  EXPECT_EQ(LabelText(map->GetLabels(1)), "A=2.000000 ");
  EXPECT_EQ(LabelText(map->GetLabels(3)), "B=1.000000 ");

  TErrorRMSObj err(2);
  net.MeasureError(&in, &err);
  EXPECT_EQ(err.count, 4);
}

TEST(KohonenRunsTest, MeasureErrorAddsToWhatTheMeasureHolds) {
  const int dims[] = {2};
  TKohonenNetwork net(2, 1, dims);
  NumberNeurons(net);
  Data in(2, 2, 0, false);
  const double x0[] = {0, 1}, x1[] = {1, 12};  // squared errors 1 and 4
  in.AddRow(x0, nullptr, nullptr);
  in.AddRow(x1, nullptr, nullptr);

  TErrorRMSObj err(2);
  EXPECT_DOUBLE_EQ(net.MeasureError(&in, &err), std::sqrt(5.0 / 2 / 2));
  EXPECT_DOUBLE_EQ(net.MeasureError(&in, &err), std::sqrt(10.0 / 2 / 4));
  EXPECT_EQ(err.count, 4);

  TErrorCrossEntropyObj held(1);
  held.sum = 2.5;
  held.count = 1;
  Data none(0, 2, 0, false);
  EXPECT_EQ(net.MeasureError(&none, &held), 2.5);
}

TEST(KohonenRunsTest, LabelRowsTruncatesCoordinatesAndRefusesThoseOffTheMap) {
  const int dims[] = {2, 3};
  TKohonenNetwork net(2, 2, dims);
  NumberNeurons(net);
  Data in(6, 2, 0, true);
  for (int k = 0; k < 6; ++k) {
    TLabelList l(std::string(1, static_cast<char>('a' + k)), k + 1.0);
    AddPoint(in, k, &l);
  }
  auto map = net.LabelMap(&in);

  Data rows(3, 1, 2, false);
  const double x[] = {42};
  const double c0[] = {1.9, 0}, c1[] = {0.5, 2.99}, c2[] = {-0.5, 1};
  rows.AddRow(x, c0, nullptr);
  rows.AddRow(x, c1, nullptr);
  rows.AddRow(x, c2, nullptr);
  auto labelled = LabelRows(&rows, map.get());
  ASSERT_EQ(labelled->MbrNdxRows, 3);
  EXPECT_EQ(labelled->MbrNdxInputs, 0);
  EXPECT_EQ(labelled->MbrNdxOutputs, 0);
  EXPECT_EQ(LabelText(labelled->GetLabels(0)), "d=4.000000 ");
  EXPECT_EQ(LabelText(labelled->GetLabels(1)), "c=3.000000 ");
  EXPECT_EQ(LabelText(labelled->GetLabels(2)), "b=2.000000 ");

  // The labelled rows from coordinates made by the map itself.
  auto coords = net.WinnerCoordinates(&in);
  auto back = LabelRows(coords.get(), map.get());
  for (int k = 0; k < 6; ++k) EXPECT_EQ(LabelText(back->GetLabels(k)), LabelText(map->GetLabels(k)));

  for (const std::vector<double>& bad :
       {std::vector<double>{2, 0}, {-1, 2}, {1e300, 0}, {std::nan(""), 0}, {5e8, 5e8}, {1e9, 1e9}}) {
    Data off(1, 1, 2, false);
    off.AddRow(x, bad.data(), nullptr);
    ExpectRefused([&] { LabelRows(&off, map.get()); }, "Invalid Data Row", "Data::GetLabels");
  }
}

TEST(KohonenRunsTest, RunsIgnoreInputColumnsBeyondTheMapsInputs) {
  const int dims[] = {3};
  TKohonenNetwork net(2, 1, dims);
  NumberNeurons(net);
  Data wide(2, 5, 7, true);
  const double r0[] = {2, 20, 99, 99, 99}, r1[] = {1, 10, -5, -5, -5};
  const double out[] = {1, 2, 3, 4, 5, 6, 7};
  TLabelList l("x", 1);
  wide.AddRow(r0, out, &l);
  wide.AddRow(r1, out, &l);
  auto coords = net.WinnerCoordinates(&wide);
  EXPECT_EQ(Outputs(*coords, 0)[0], 2);
  EXPECT_EQ(Outputs(*coords, 1)[0], 1);
  EXPECT_EQ(Inputs(*coords, 1), (std::vector<double>{1, 10}));
  auto map = net.LabelMap(&wide);
  EXPECT_EQ(LabelText(map->GetLabels(2)), "x=1.000000 ");

  // A selection names the columns to use, in its order.
  const int select[] = {4, 3, 2, 1, 0};
  wide.SetInputSelection(5, select);
  auto rec = net.ReconstructData(&wide);
  EXPECT_EQ(Inputs(*rec, 0), (std::vector<double>{99, 99}));
  EXPECT_EQ(Outputs(*rec, 0), (std::vector<double>{2, 20}));
}

// A data set whose third sequential read fails.
class FailingData : public Data {
 public:
  using Data::Data;
  void GetNextRow(double* inputs, double* outputs, const TLabelList** labels) override {
    if (++reads == 3) throw TException("Broken Row", "Bad Parameter", "FailingData::GetNextRow", nullptr);
    Data::GetNextRow(inputs, outputs, labels);
  }
  int reads = 0;
};

TEST(KohonenRunsTest, ARefusalFromTheDataSetPassesThroughEveryRun) {
  const int dims[] = {2, 2};
  TKohonenNetwork net(2, 2, dims);
  NumberNeurons(net);
  FailingData in(6, 2, 0, true);
  TLabelList l("x", 1);
  for (int k = 0; k < 6; ++k) AddPoint(in, k % 4, &l);
  TErrorRMSObj err(2);
  const std::vector<std::function<void()>> runs = {
      [&] { net.ReconstructData(&in); },
      [&] { net.MeasureError(&in, &err); },
      [&] { net.LabelMap(&in, std::make_unique<TKQstructure>("m")); },
      [&] { net.WinnerCoordinates(&in, std::make_unique<TKQstructure>("m")); }};
  for (const auto& run : runs) {
    in.reads = 0;
    ExpectRefused(run, "Broken Row", "FailingData::GetNextRow");
  }
  EXPECT_EQ(err.count, 0);

  in.reads = -100;
  auto map = net.LabelMap(&in);
  FailingData rows(4, 1, 2, false);
  const double x[] = {0}, c[] = {1, 1};
  rows.AddRow(x, c, nullptr);
  ExpectRefused([&] { LabelRows(&rows, map.get()); }, "Broken Row", "FailingData::GetNextRow");
}

}  // namespace

namespace {

// Every run names, for each row, the neuron FindWinner names: on ties and
// near ties, rows far from the map, values whose squares overflow, NaN and
// infinity.
TEST(KohonenRunsTest, RunsFindTheWinnersFindWinnerFinds) {
  std::mt19937_64 rng(9);
  std::uniform_real_distribution<double> uni(0.0, 1.0);
  struct Case {
    const char* what;
    double low, high;  // weights
  };
  // "close": half the neurons a few single-precision steps apart, far from
  // the others, so that rounding to single precision reorders them and only
  // exact distances tell them apart.
  for (const Case& c : {Case{"unit", 0.0, 1.0}, Case{"close", 0.9, 0.9 + 2e-7}, Case{"far", 1e6, 1e6 + 1},
                        Case{"huge", -1e200, 1e200}}) {
    SCOPED_TRACE(c.what);
    const int dims[] = {6, 7};
    TKohonenNetwork net(3, 2, dims);
    TBasicConnections* w = net.GetConnections(1, 2);
    for (int i = 0; i < 42; ++i)
      for (int j = 0; j < 3; ++j) w->Weight(j, i) = i % 2 == 1 && c.high - c.low < 1 ? uni(rng) : c.low + (c.high - c.low) * uni(rng);
    for (int j = 0; j < 3; ++j) {
      w->Weight(j, 30) = w->Weight(j, 5);                            // a tie
      w->Weight(j, 31) = std::nextafter(w->Weight(j, 6), INFINITY);  // a tie below single precision
    }
    std::vector<std::vector<double>> rows;
    const auto any = [&] { return c.low + (c.high - c.low) * uni(rng); };
    for (int r = 0; r < 40; ++r) rows.push_back({any(), any(), any()});
    for (int r = 0; r < 10; ++r) rows.push_back({any(), uni(rng), c.high * uni(rng)});
    for (int i : {5, 6, 30, 31}) rows.push_back({w->Weight(0, i), w->Weight(1, i), w->Weight(2, i)});
    const double nan = std::numeric_limits<double>::quiet_NaN();
    rows.push_back({nan, 0.5, 0.5});
    rows.push_back({INFINITY, 0.5, 0.5});
    rows.push_back({-INFINITY, INFINITY, 0.0});
    rows.push_back({1e300, -1e300, 1e300});

    Data data(static_cast<int>(rows.size()), 3, 0, false);
    for (const auto& x : rows) data.AddRow(x.data(), nullptr, nullptr);
    const auto coords = net.WinnerCoordinates(&data);
    const auto rebuilt = net.ReconstructData(&data);
    for (std::size_t r = 0; r < rows.size(); ++r) {
      double out[42];
      const int winner = net.FindWinner(rows[r].data(), out);
      int at[2];
      net.IndexToCoords(at, winner);
      EXPECT_EQ(Outputs(*coords, static_cast<int>(r)), (std::vector<double>{double(at[0]), double(at[1])}))
          << "row " << r;
      const std::vector<double> weights = Outputs(*rebuilt, static_cast<int>(r));
      for (int j = 0; j < 3; ++j) EXPECT_EQ(weights[j], w->Weight(j, winner)) << "row " << r;
    }
  }
}

}  // namespace
