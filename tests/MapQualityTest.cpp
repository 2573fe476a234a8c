#include "NeuralNets/MapQuality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/TException.h"

namespace {

// A map of one input whose neuron i has the weight w[i].
TKohonenNetwork OneInputMap(std::vector<int> dims, const std::vector<double>& w) {
  TKohonenNetwork net(1, static_cast<int>(dims.size()), dims.data());
  for (std::size_t i = 0; i < w.size(); ++i) net.GetConnections(1, 2)->Weight(0, static_cast<int>(i)) = w[i];
  return net;
}

TMapQuality Measure(TKohonenNetwork& net, const std::vector<double>& values, bool torus = false) {
  Data data(static_cast<std::int32_t>(values.size()), 1, 0, false);
  for (double v : values) data.AddRow(&v, nullptr, nullptr);
  return MeasureMapQuality(net, data, torus);
}

std::string Refusal(TKohonenNetwork& net, Data& data) {
  try {
    MeasureMapQuality(net, data);
  } catch (const TException& e) {
    EXPECT_EQ(e.kind, "Bad Parameter");
    EXPECT_EQ(e.origin, "MeasureMapQuality");
    return e.message;
  }
  return "no refusal";
}

TEST(MapQualityTest, LineMapByHand) {
  // Neurons 0..3 at 0, 3, 1, 2: 0.4 is won by neuron 0 with neuron 2 second
  // (not a neighbour); 2.9 by neuron 1 with neuron 3 second (no neighbour
  // either); 0.6 by neuron 2 with neuron 0 second (no); 1.75 by neuron 3
  // with neuron 2 second (a neighbour).
  TKohonenNetwork net = OneInputMap({4}, {0, 3, 1, 2});
  const TMapQuality q = Measure(net, {0.4, 2.9, 0.6, 1.75});
  EXPECT_EQ(q.rows, 4);
  EXPECT_DOUBLE_EQ(q.quantizationError, (0.4 + 0.1 + 0.4 + 0.25) / 4);
  EXPECT_DOUBLE_EQ(q.topographicError, 0.75);
}

TEST(MapQualityTest, TiesGoToTheLowerNeuronForBothPlaces) {
  // Row 1 lies at distance 1 from neurons 0, 2 and 3: neuron 0 wins and
  // neuron 2 (not a neighbour) is second, not neuron 3.
  TKohonenNetwork a = OneInputMap({4}, {0, 9, 2, 2});
  EXPECT_DOUBLE_EQ(Measure(a, {1}).topographicError, 1.0);
  // Distance 1 from neurons 0, 1 and 3: neuron 1, a neighbour, is second.
  TKohonenNetwork b = OneInputMap({4}, {2, 0, 9, 2});
  EXPECT_DOUBLE_EQ(Measure(b, {1}).topographicError, 0.0);
  // Weights 3, 2, 0 lie at distances 2, 1, 1 from row 1: neuron 1 displaces
  // neuron 0, and neuron 2, tying with the winner, becomes second.
  TKohonenNetwork c = OneInputMap({1, 3}, {3, 2, 0});
  const TMapQuality q = Measure(c, {1});
  EXPECT_DOUBLE_EQ(q.quantizationError, 1.0);
  EXPECT_DOUBLE_EQ(q.topographicError, 0.0);
  // All neurons equal: 0 and 1 are the best two, neighbours.
  TKohonenNetwork d = OneInputMap({5}, {7, 7, 7, 7, 7});
  EXPECT_DOUBLE_EQ(Measure(d, {7, -1}).topographicError, 0.0);
}

// A 3 x 3 x 3 map (one input) where row 0.25 is won by neuron `best` (weight
// 0) and neuron `second` (weight 1) comes second; every other weight is 100.
double CubeTopographicError(int best, int second, bool torus) {
  std::vector<double> w(27, 100.0);
  w[best] = 0.0;
  w[second] = 1.0;
  TKohonenNetwork net = OneInputMap({3, 3, 3}, w);
  const TMapQuality q = Measure(net, {0.25}, torus);
  EXPECT_DOUBLE_EQ(q.quantizationError, 0.25);
  return q.topographicError;
}

TEST(MapQualityTest, ThreeDimensionalGridsAndTheTorus) {
  // Neuron 13 is the centre (1, 1, 1): every other neuron is its neighbour.
  for (int other = 0; other < 27; ++other)
    if (other != 13) {
      EXPECT_EQ(CubeTopographicError(13, other, false), 0.0) << other;
    }
  // Corner (0, 0, 0) and (2, 2, 2), (0, 0, 2), (0, 2, 1): neighbours only on
  // the torus, where a difference of 2 in a dimension of 3 wraps to 1.
  for (int other : {26, 2, 7}) {
    EXPECT_EQ(CubeTopographicError(0, other, false), 1.0) << other;
    EXPECT_EQ(CubeTopographicError(0, other, true), 0.0) << other;
  }
  // (0, 0, 0) and (1, 1, 1) are neighbours either way.
  EXPECT_EQ(CubeTopographicError(0, 13, true), 0.0);

  // A 1 x 6 torus: neurons 0 and 5 are neighbours, 0 and 3 are not.
  TKohonenNetwork ring = OneInputMap({1, 6}, {0, 100, 100, 1, 100, 1});
  EXPECT_DOUBLE_EQ(Measure(ring, {0.25}, false).topographicError, 1.0);  // second is 3
  TKohonenNetwork ring2 = OneInputMap({1, 6}, {0, 100, 100, 100, 100, 1});
  EXPECT_DOUBLE_EQ(Measure(ring2, {0.25}, false).topographicError, 1.0);
  EXPECT_DOUBLE_EQ(Measure(ring2, {0.25}, true).topographicError, 0.0);
}

TEST(MapQualityTest, OneNeuronHasNoSecondBest) {
  TKohonenNetwork net = OneInputMap({1}, {2});
  const TMapQuality q = Measure(net, {5, -2});
  EXPECT_EQ(q.rows, 2);
  EXPECT_DOUBLE_EQ(q.quantizationError, 3.5);
  EXPECT_EQ(q.topographicError, 0.0);

  Data none(0, 1, 0, false);
  const TMapQuality empty = MeasureMapQuality(net, none);
  EXPECT_EQ(empty.rows, 0);
  EXPECT_EQ(empty.quantizationError, 0.0);
  EXPECT_EQ(empty.topographicError, 0.0);
}

// The measures by the plain definition: FindWinner's winner, the nearest
// other neuron found by a separate loop, and the coordinates compared.
TMapQuality Plain(TKohonenNetwork& net, const std::vector<std::vector<double>>& rows) {
  const int u = net.layers[2]->numNeurons, n = net.layers[1]->numNeurons;
  TBasicConnections* c = net.GetConnections(1, 2);
  std::vector<double> y(n);
  double sum = 0.0;
  long long errors = 0;
  for (const auto& x : rows) {
    const int best = net.FindWinner(x.data(), y.data());
    double d = 0.0;
    for (int j = 0; j < n; ++j) d += (x[j] - y[j]) * (x[j] - y[j]);
    sum += std::sqrt(d);
    int second = -1;
    double secondDistance = 0.0;
    for (int i = 0; i < u; ++i) {
      if (i == best) continue;
      double e = 0.0;
      for (int j = 0; j < n; ++j) e += (x[j] - c->Weight(j, i)) * (x[j] - c->Weight(j, i));
      if (second < 0 || e < secondDistance) second = i, secondDistance = e;
    }
    int a[2], b[2];
    net.IndexToCoords(a, best);
    net.IndexToCoords(b, second);
    if (std::abs(a[0] - b[0]) > 1 || std::abs(a[1] - b[1]) > 1) ++errors;
  }
  TMapQuality q;
  q.rows = static_cast<long long>(rows.size());
  q.quantizationError = sum / q.rows;
  q.topographicError = static_cast<double>(errors) / q.rows;
  return q;
}

TEST(MapQualityTest, RandomMapsMatchThePlainDefinitionInEveryForm) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> uni(-1, 1);
  const int dims[] = {5, 7};
  TKohonenNetwork net(3, 2, dims);
  for (int i = 0; i < 35; ++i)
    for (int j = 0; j < 3; ++j) net.GetConnections(1, 2)->Weight(j, i) = uni(rng);
  std::vector<std::vector<double>> rows(700, std::vector<double>(3));
  for (auto& r : rows)
    for (double& v : r) v = uni(rng);
  const TMapQuality plain = Plain(net, rows);
  ASSERT_GT(plain.topographicError, 0.0);

  // In place; copied through a column selection (two extra columns first);
  // and from a contiguous array.
  Data direct(700, 3, 1, false), selected(700, 5, 0, false);
  std::vector<double> flat;
  for (const auto& r : rows) {
    direct.AddRow(r.data(), r.data(), nullptr);
    const double wide[] = {9, 9, r[0], r[1], r[2]};
    selected.AddRow(wide, nullptr, nullptr);
    flat.insert(flat.end(), r.begin(), r.end());
  }
  const int columns[] = {2, 3, 4};
  selected.SetInputSelection(3, columns);
  for (const TMapQuality& q : {MeasureMapQuality(net, direct), MeasureMapQuality(net, selected),
                               MeasureMapQuality(net, flat.data(), 700)}) {
    EXPECT_EQ(q.rows, 700);
    EXPECT_EQ(q.quantizationError, plain.quantizationError);  // one block: the same sum
    EXPECT_EQ(q.topographicError, plain.topographicError);
  }

  // A set of capacity 1400 holding 700 rows is walked twice over.
  Data twice(1400, 3, 0, false);
  for (const auto& r : rows) twice.AddRow(r.data(), nullptr, nullptr);
  const TMapQuality q2 = MeasureMapQuality(net, twice);
  EXPECT_EQ(q2.rows, 1400);
  EXPECT_NEAR(q2.quantizationError, plain.quantizationError, 1e-12);
  EXPECT_EQ(q2.topographicError, plain.topographicError);
}

TEST(MapQualityTest, RefusesDataAndMapsItCannotMeasure) {
  const int dims[] = {2, 2};
  TKohonenNetwork net(3, 2, dims);
  Data narrow(2, 2, 0, false);
  EXPECT_EQ(Refusal(net, narrow), "The data set has 2 input columns, the map has 3 inputs");
  Data selection(2, 4, 0, false);
  const int two[] = {0, 3};
  selection.SetInputSelection(2, two);
  EXPECT_EQ(Refusal(net, selection), "The data set has 2 input columns, the map has 3 inputs");

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  Data bad(3, 3, 0, false);
  const double ok[] = {1, 2, 3}, withNan[] = {1, nan, 3}, withInf[] = {-inf, 0, 0};
  bad.AddRow(ok, nullptr, nullptr);
  bad.AddRow(withNan, nullptr, nullptr);
  EXPECT_EQ(Refusal(net, bad), "Row 2 of the data set holds NaN or infinity");
  bad.SetRow(1, ok, nullptr, nullptr);
  bad.AddRow(withInf, nullptr, nullptr);
  EXPECT_EQ(Refusal(net, bad), "Row 3 of the data set holds NaN or infinity");
  // A column beyond the map's inputs is not read.
  Data extra(1, 4, 0, false);
  const double four[] = {1, 2, 3, nan};
  extra.AddRow(four, nullptr, nullptr);
  EXPECT_EQ(MeasureMapQuality(net, extra).rows, 1);
  EXPECT_THROW(MeasureMapQuality(net, withInf, 1), TException);

  Data good(1, 3, 0, false);
  good.AddRow(ok, nullptr, nullptr);
  TKohonenNetwork flat(3, 0, nullptr);
  EXPECT_EQ(Refusal(flat, good), "The map has no grid dimensions");
  TKohonenNetwork wrong(3, 2, dims);
  const int other[] = {3, 2};
  wrong.SetDimensions(2, other);
  EXPECT_EQ(Refusal(wrong, good), "The map's grid sizes 3 x 2 do not multiply to its 4 neurons");
  const int zero[] = {0};
  TKohonenNetwork none(3, 1, zero);
  EXPECT_EQ(Refusal(none, good), "The map has no neurons");
  TKohonenNetwork unconnected(3, 2, dims);
  unconnected.Disconnect(1, 2);
  EXPECT_EQ(Refusal(unconnected, good), "The map has no weights from its inputs to its neurons");
}

}  // namespace
